// The decode driver without sound hardware: what Initialize builds, how a
// captured block is split and handed on, codes from generated audio, and the
// run up to the capture loop with every stream switched off.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "HostTestState.h"
#include "app/CTavikReportCallback.h"
#include "app/CTavikReportImplementation.h"
#include "app/DecodeAudio.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/CMeter.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "timebase/TeskTime.h"

// PortAudio's ALSA and JACK back ends keep process-wide caches after
// Pa_Terminate, some in plug-in modules they have unloaded by then; they are
// not ours to free, so the leak check ignores what the thread that runs the
// capture allocates.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define IGNORE_LEAKS_OF_THIS_THREAD() __lsan_disable()
#else
#define IGNORE_LEAKS_OF_THIS_THREAD() ((void)0)
#endif

namespace {

// Records what the driver feeds the level meter.
class RecordingReport : public CTavikReportCallback {
public:
    void setAudioCodes(unsigned int, std::string*) override {}
    void LogCallbackMessage(int, char*) override {}
    void calculateMeterLevel(void* samples, int count, int channel) override {
        const int16_t* s = static_cast<const int16_t*>(samples);
        calls.push_back({channel, std::vector<int16_t>(s, s + count)});
    }
    struct Call {
        int channel;
        std::vector<int16_t> samples;
    };
    std::vector<Call> calls;
};

// A driver with the defaults loaded as execute loads them, `process` as the
// decoder mask; six-channel 48 kHz blocks.
std::unique_ptr<DecodeAudio> MakeDriver(CTavikReportCallback* report, int32_t process) {
    audioChannelConfiguration.channels = 6;
    audioChannelConfiguration.sampleRate = 48000;
    auto driver = std::make_unique<DecodeAudio>(
        false, std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
        std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>(), report);
    AudioSDKOptions(false).GetCommandLineOptions(0, nullptr, &driver->configuration());
    driver->configuration().asdk_process = process;
    return driver;
}

TEST(DecodeDriver, InitializeBuildsTheMeterAndTheSharedConfiguration) {
    EXPECT_NE(dynamic_cast<SystemConsoleStrategy*>(DecodeAudio::consoleFactory(true).get()),
              nullptr);
    EXPECT_NE(dynamic_cast<NullConsoleStrategy*>(DecodeAudio::consoleFactory(false).get()),
              nullptr);
    RecordingReport report;
    auto driver = MakeDriver(&report, kDefaultAsdkProcess);
    driver->Initialize();
    ASSERT_NE(driver->meter(), nullptr);

    const AudioSdkWithSigsConfig& own = driver->configuration();
    EXPECT_TRUE(own.audio_attributes.audio_is_raw);
    EXPECT_EQ(own.audio_attributes.channel_count, 6);
    EXPECT_EQ(own.audio_attributes.sample_rate, 48000);
    EXPECT_EQ(own.audio_attributes.sample_size, 16);

    const SampleAppConfigurationData* shared = driver->sharedConfiguration();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->configValid, 1);
    EXPECT_EQ(shared->reportCallback, &report);
    EXPECT_FALSE(shared->outputToConsole || shared->displayDateTimeString ||
                 shared->downmixSfpInputAudio);
    EXPECT_EQ(shared->reportMode, kReportModeJson);
    for (const char* name :
         {shared->infile, shared->baseFileName, shared->outdir, shared->logdir}) {
        EXPECT_STREQ(name, "");
    }
}

TEST(DecodeDriver, InitializeRefusesBadSettings) {
    RecordingReport report;
    auto driver = MakeDriver(&report, kDefaultAsdkProcess);
    driver->configuration().channel_selection = 17;
    try {
        driver->Initialize();
        FAIL() << "channel selection 17 accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Invalid channel selection. Maximum is 16.");
    }
    // A mask with a signature generator: no consumer exists for it.
    driver = MakeDriver(&report, ASDK_PAS);
    EXPECT_ANY_THROW(driver->Initialize());
    EXPECT_EQ(driver->meter(), nullptr);
    driver = MakeDriver(&report, 0);
    driver->Initialize();
    EXPECT_EQ(driver->meter(), nullptr);  // nothing to decode
}

TEST(DecodeDriver, BlocksAreSplitPerChannelUpToTheHostChannelCount) {
    RecordingReport report;
    auto driver = MakeDriver(&report, kDefaultAsdkProcess);
    driver->Initialize();
    // Sample f of channel c is 100 * c + f % 100 + 1.
    std::vector<int16_t> block(kCaptureFrames * kCaptureChannels);
    for (unsigned i = 0; i < block.size(); ++i) {
        block[i] =
            static_cast<int16_t>(100 * (i % kCaptureChannels) + i / kCaptureChannels % 100 + 1);
    }
    auto* bytes = reinterpret_cast<unsigned char*>(block.data());

    uiConfiguration_t config;
    config.channelCount = 2;
    EXPECT_EQ(driver->decodeAudioBuffer(bytes, 0, &config), 0);
    EXPECT_TRUE(report.calls.empty());
    EXPECT_EQ(driver->decodeAudioBuffer(bytes, kCaptureBlockBytes, &config), 1);
    ASSERT_EQ(report.calls.size(), 2u);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(report.calls[c].channel, c);
        ASSERT_EQ(report.calls[c].samples.size(), kCaptureFrames);
        for (unsigned f = 0; f < kCaptureFrames; ++f) {
            ASSERT_EQ(report.calls[c].samples[f], 100 * c + f % 100 + 1) << c << " " << f;
        }
    }

    // More channels than a block carries: the six there are, each through the
    // meter of every family.
    report.calls.clear();
    config.channelCount = 8;
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(driver->decodeAudioBuffer(bytes, kCaptureBlockBytes, &config), 1);
    }
    ASSERT_EQ(report.calls.size(), 300u);
    EXPECT_EQ(report.calls[5].channel, 5);
    EXPECT_EQ(report.calls[5].samples[0], 501);
}

// Generated audio through the driver's block step with the host's report
// object: each channel's code reaches that channel's ring, and how long after
// the end of a message in the audio (counted in audio time, on top of the
// capture ring's 40 ms) its report can be taken.
TEST(DecodeDriver, CodesReachTheirChannelsSoonAfterTheMessageEnds) {
    using namespace Kelvane::Generators;
    constexpr double kSeconds = 16.0;
    resetHostState();
    bT2RawOutput = bTwRawOutput = bZeltRawOutput = false;

    const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
    Tesk6Generator t6(48000);
    Tesk6Message m6;
    m6.sid = 0x1234;
    uint8_t dst = 0;
    m6.timestamp = PosixToTesk6(now, &dst);
    m6.dst = dst != 0;
    t6.Add(m6);
    Tesk2Generator t2(48000);
    Tesk2Message m2;
    m2.sid = 0x5A3C;
    m2.timestamp = PosixToTesk2(now);
    t2.Add(m2);
    const size_t frames = static_cast<size_t>(kSeconds * 48000);
    const std::vector<float> wm[2] = {t6.Synthesize(kSeconds), t2.Synthesize(kSeconds)};
    std::vector<int16_t> pcm[2];
    for (int ch = 0; ch < 2; ++ch) {
        pcm[ch] = SignalMix::ToInt16(SignalMix::Mix(
            wm[ch], SignalMix::MakeHost(HostKind::PinkNoise, frames, 0.1, 5 + ch), -15.0));
    }
    // End of the latest message that ended by `arrival`, per channel.
    std::vector<double> ends[2];
    for (const auto& e : t6.Schedule(kSeconds)) ends[0].push_back(e.endSeconds);
    for (const auto& e : t2.Schedule(kSeconds)) ends[1].push_back(e.endSeconds);
    const char* expected[2][2] = {{"\"TESK6\"", "\"sid\":4660"}, {"\"TESK2\"", "\"sid\":23100"}};

    CTavikReportImplementation report;
    auto driver = MakeDriver(&report, kDefaultAsdkProcess);
    driver->Initialize();
    uiConfiguration_t config;
    config.channelCount = 2;
    std::vector<int16_t> block(kCaptureFrames * kCaptureChannels, 0);
    std::string latencies[2];
    int arrivals[2] = {0, 0};
    char text[4096];
    for (size_t at = 0; at + kCaptureFrames <= frames; at += kCaptureFrames) {
        for (unsigned f = 0; f < kCaptureFrames; ++f) {
            block[f * kCaptureChannels] = pcm[0][at + f];
            block[f * kCaptureChannels + 1] = pcm[1][at + f];
        }
        driver->decodeAudioBuffer(reinterpret_cast<unsigned char*>(block.data()),
                                  kCaptureBlockBytes, &config);
        const double audioTime = static_cast<double>(at + kCaptureFrames) / 48000.0;
        for (unsigned c = 0; c < kReportChannels; ++c) {
            while (hostGetAudioCodes(c, text, sizeof text) == 1) {
                const std::string code(text);
                if (c > 1 || code.find(expected[c][0]) == std::string::npos ||
                    code.find(expected[c][1]) == std::string::npos) {
                    ADD_FAILURE() << "channel " << c << ": " << code;
                    continue;
                }
                double end = -1;
                for (double e : ends[c]) end = e <= audioTime ? e : end;
                const double latency = audioTime - end;
                EXPECT_GE(end, 0.0) << "channel " << c << " report before any message ended";
                EXPECT_LT(latency, 4.0) << "channel " << c << " report at " << audioTime << " s";
                latencies[c] += std::to_string(static_cast<int>(latency * 1000)) + " ";
                ++arrivals[c];
            }
        }
    }
    EXPECT_GT(arrivals[0], 0) << "no TESK 6 code on channel 0";
    EXPECT_GT(arrivals[1], 0) << "no TESK 2 code on channel 1";
    RecordProperty("tesk6_latency_ms", latencies[0]);
    RecordProperty("tesk2_latency_ms", latencies[1]);
    resetHostState();
}

// The run with every stream switched off: the driver waits for the host's
// configuration, picks it up within a fraction of a second, posts its start-up
// diagnostics in order and then waits for audio that never comes.
TEST(DecodeDriver, RunStartsPromptlyOnceTheHostConfigures) {
    takeDiagnostics();
    uiConfiguration.configured = 0;
    DecodeAudio::ClearStop();
    RecordingReport report;
    auto driver = MakeDriver(&report, kDefaultAsdkProcess);
    std::promise<std::string> failure;
    std::thread run([&] {
        IGNORE_LEAKS_OF_THIS_THREAD();
        try {
            driver->execute(0, nullptr);
            failure.set_value("");
        } catch (const std::exception& e) {
            failure.set_value(e.what());
        }
    });
    // Polls the diagnostics every `ms` until `text` shows or `timeout` passes.
    std::vector<std::string> diags;
    auto waitFor = [&](const char* text, std::chrono::milliseconds timeout, int ms) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (findText(diags, text) < 0 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            for (const std::string& d : takeDiagnostics()) diags.push_back(d);
        }
        return findText(diags, text);
    };

    // Configure only once the driver is waiting, well into its wait.
    ASSERT_GE(waitFor("Begin DecodeAudio", std::chrono::seconds(6), 20), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    hostSetConfiguration("0,2,-99,-99,-99");
    const auto configured = std::chrono::steady_clock::now();
    const int opened = waitFor("Attempting to open sound card.", std::chrono::seconds(20), 10);
    const auto reaction = std::chrono::steady_clock::now() - configured;
    waitFor("Start detecting audio codes.", std::chrono::seconds(2), 20);
    DecodeAudio::RequestStop();
    run.join();
    DecodeAudio::ClearStop();
    EXPECT_EQ(failure.get_future().get(), "");

    ASSERT_GE(opened, 0);
    // PortAudio's start-up takes its time on a busy machine; the driver's own
    // share is the 100 ms look at the configured flag.
    EXPECT_LT(reaction, std::chrono::seconds(5));
    expectInOrder(
        diags,
        {"Begin DecodeAudio", "Tavik3 line in decoder build version 0.1.0.6.",
         "Request to update to 0,2,-99,-99,-99 configuration", "Kelvane Audio SDK, version 6.0.16",
         "Audio Consumer Manager version: 6.0.16", "Attempting to open sound card.",
         "PortAudio version number = ", "Built on Kelvane Audio SDK, version 6.0.16",
         "Begin sampling audio", "Start detecting audio codes."});
    // No stream was asked for: either there is nothing to open, or nothing failed.
    EXPECT_TRUE(findText(diags, "Sound card successfully opened.") >= 0 ||
                findText(diags, "No audio devices found.") >= 0);
    EXPECT_EQ(findText(diags, "not able to start stream"), -1);
    EXPECT_EQ(findText(diags, "Selected input is"), -1);
    resetHostState();
}

}  // namespace
