// The decode driver without sound hardware: its texts, what Initialize builds,
// how a captured block is split and handed on, and the run up to the capture
// loop with every stream switched off.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/CTavikReportCallback.h"
#include "app/CTavikReportImplementation.h"
#include "app/DecodeAudio.h"
#include "app/HostInterface.h"
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

DecodeAudio MakeDriver(CTavikReportCallback* report) {
    return DecodeAudio(false, std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                       std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>(),
                       report);
}

// Loads the defaults as execute does, with `process` as the decoder mask.
void LoadConfiguration(DecodeAudio& driver, int32_t process) {
    AudioSDKOptions(false).GetCommandLineOptions(0, nullptr, &driver.configuration());
    driver.configuration().asdk_process = process;
}

// A six-channel block whose sample f of channel c is 100 * c + f % 100 + 1.
std::vector<int16_t> SixChannelBlock() {
    std::vector<int16_t> block(kCaptureFrames * kCaptureChannels);
    for (unsigned f = 0; f < kCaptureFrames; ++f) {
        for (unsigned c = 0; c < kCaptureChannels; ++c) {
            block[f * kCaptureChannels + c] = static_cast<int16_t>(100 * c + f % 100 + 1);
        }
    }
    return block;
}

std::vector<std::string> Diagnostics() {
    std::vector<std::string> out;
    char text[kDiagTextSize];
    while (hostGetDiagMessage(text, sizeof text) == 1) {
        out.push_back(text);
    }
    return out;
}

int Find(const std::vector<std::string>& diags, const std::string& text, int from = 0) {
    for (int i = from; i < static_cast<int>(diags.size()); ++i) {
        if (diags[i].find(text) != std::string::npos) {
            return i;
        }
    }
    return -1;
}

TEST(DecodeDriver, TextsAndConsoleSinks) {
    RecordingReport report;
    DecodeAudio driver = MakeDriver(&report);
    EXPECT_EQ(driver.versionText(), "Kelvane Audio SDK, version 6.0.16\n");
    EXPECT_EQ(driver.getAudioConsumerVersion(), "Audio Consumer Manager version: 6.0.16\n");
    EXPECT_FALSE(driver.patentNotice().empty());
    EXPECT_NE(dynamic_cast<SystemConsoleStrategy*>(DecodeAudio::consoleFactory(true).get()),
              nullptr);
    EXPECT_NE(dynamic_cast<NullConsoleStrategy*>(DecodeAudio::consoleFactory(false).get()),
              nullptr);
}

TEST(DecodeDriver, InitializeBuildsTheMeterAndTheSharedConfiguration) {
    RecordingReport report;
    DecodeAudio driver = MakeDriver(&report);
    LoadConfiguration(driver, kDefaultAsdkProcess);
    driver.Initialize();
    ASSERT_NE(driver.meter(), nullptr);

    const AudioSdkWithSigsConfig& own = driver.configuration();
    EXPECT_STREQ(own.appConfig.infile, "tavik3.wav");
    EXPECT_STREQ(own.appConfig.baseFileName, "tavik3.wav");
    EXPECT_EQ(own.appConfig.reportCallback, nullptr);
    EXPECT_TRUE(own.appConfig.displayDateTimeString);
    EXPECT_TRUE(own.audio_attributes.audio_is_raw);
    EXPECT_EQ(own.audio_attributes.channel_count, 6);
    EXPECT_EQ(own.audio_attributes.sample_rate, 48000);
    EXPECT_EQ(own.audio_attributes.sample_size, 16);

    const SampleAppConfigurationData* shared = driver.sharedConfiguration();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->configValid, 1);
    EXPECT_EQ(shared->reportCallback, &report);
    EXPECT_FALSE(shared->outputToConsole);
    EXPECT_FALSE(shared->displayDateTimeString);
    EXPECT_FALSE(shared->downmixSfpInputAudio);
    EXPECT_EQ(shared->reportMode, kReportModeJson);
    for (const char* name :
         {shared->infile, shared->baseFileName, shared->outdir, shared->logdir}) {
        EXPECT_STREQ(name, "");
    }
}

TEST(DecodeDriver, InitializeRefusesBadSettings) {
    RecordingReport report;
    {
        DecodeAudio driver = MakeDriver(&report);
        LoadConfiguration(driver, kDefaultAsdkProcess);
        driver.configuration().channel_selection = 17;
        try {
            driver.Initialize();
            FAIL() << "channel selection 17 accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Invalid channel selection. Maximum is 16.");
        }
    }
    {
        // A mask with a signature generator: no consumer exists for it.
        DecodeAudio driver = MakeDriver(&report);
        LoadConfiguration(driver, ASDK_PAS);
        EXPECT_ANY_THROW(driver.Initialize());
        EXPECT_EQ(driver.meter(), nullptr);
    }
    {
        DecodeAudio driver = MakeDriver(&report);
        LoadConfiguration(driver, 0);
        driver.Initialize();
        EXPECT_EQ(driver.meter(), nullptr);  // nothing to decode
    }
}

TEST(DecodeDriver, BlocksAreSplitPerChannelUpToTheHostChannelCount) {
    audioChannelConfiguration.channels = 6;
    audioChannelConfiguration.sampleRate = 48000;
    RecordingReport report;
    DecodeAudio driver = MakeDriver(&report);
    LoadConfiguration(driver, 0);
    driver.Initialize();
    std::vector<int16_t> block = SixChannelBlock();
    auto* bytes = reinterpret_cast<unsigned char*>(block.data());

    uiConfiguration_t config;
    config.channelCount = 2;
    EXPECT_EQ(driver.decodeAudioBuffer(bytes, 0, &config), 0);
    EXPECT_TRUE(report.calls.empty());
    EXPECT_EQ(driver.decodeAudioBuffer(bytes, kCaptureBlockBytes, &config), 1);
    ASSERT_EQ(report.calls.size(), 2u);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(report.calls[c].channel, c);
        ASSERT_EQ(report.calls[c].samples.size(), kCaptureFrames);
        for (unsigned f = 0; f < kCaptureFrames; ++f) {
            ASSERT_EQ(report.calls[c].samples[f], 100 * c + f % 100 + 1) << c << " " << f;
        }
    }

    // More channels than a block carries: the six there are.
    report.calls.clear();
    config.channelCount = 8;
    driver.decodeAudioBuffer(bytes, kCaptureBlockBytes, &config);
    ASSERT_EQ(report.calls.size(), 6u);
    EXPECT_EQ(report.calls[5].channel, 5);
    EXPECT_EQ(report.calls[5].samples[0], 501);
}

TEST(DecodeDriver, BlocksReachTheMeterOfEveryFamily) {
    audioChannelConfiguration.channels = 6;
    audioChannelConfiguration.sampleRate = 48000;
    RecordingReport report;
    DecodeAudio driver = MakeDriver(&report);
    LoadConfiguration(driver, kDefaultAsdkProcess);
    driver.Initialize();
    std::vector<int16_t> block = SixChannelBlock();
    uiConfiguration_t config;
    config.channelCount = 6;
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(driver.decodeAudioBuffer(reinterpret_cast<unsigned char*>(block.data()),
                                           kCaptureBlockBytes, &config),
                  1);
    }
    EXPECT_EQ(report.calls.size(), 300u);
}

// Generated audio through the driver's block step with the host's report
// object: each channel's code reaches that channel's ring, and how long after
// the end of a message in the audio (counted in audio time, on top of the
// capture ring's 40 ms) its report can be taken.
TEST(DecodeDriver, CodesReachTheirChannelsSoonAfterTheMessageEnds) {
    using namespace Kelvane::Generators;
    constexpr double kSeconds = 16.0;
    audioChannelConfiguration.channels = 6;
    audioChannelConfiguration.sampleRate = 48000;
    for (auto& ring : reportedChannel) {
        ring.reset();
    }
    ReportT2 = true;
    ReportTw = true;
    ReportZelt = true;
    bT2RawOutput = false;
    bTwRawOutput = false;
    bZeltRawOutput = false;

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
    std::vector<int16_t> pcm[2];
    const std::vector<float> wm[2] = {t6.Synthesize(kSeconds), t2.Synthesize(kSeconds)};
    for (int ch = 0; ch < 2; ++ch) {
        const std::vector<float> host =
            SignalMix::MakeHost(HostKind::PinkNoise, frames, 0.1, 5 + ch);
        pcm[ch] = SignalMix::ToInt16(SignalMix::Mix(wm[ch], host, -15.0));
    }

    CTavikReportImplementation report;
    DecodeAudio driver = MakeDriver(&report);
    LoadConfiguration(driver, kDefaultAsdkProcess);
    driver.Initialize();
    uiConfiguration_t config;
    config.channelCount = 2;
    std::vector<int16_t> block(kCaptureFrames * kCaptureChannels, 0);
    std::vector<double> arrivals[2];
    char text[4096];
    for (size_t at = 0; at + kCaptureFrames <= frames; at += kCaptureFrames) {
        for (unsigned f = 0; f < kCaptureFrames; ++f) {
            block[f * kCaptureChannels] = pcm[0][at + f];
            block[f * kCaptureChannels + 1] = pcm[1][at + f];
        }
        driver.decodeAudioBuffer(reinterpret_cast<unsigned char*>(block.data()), kCaptureBlockBytes,
                                 &config);
        const double audioTime = static_cast<double>(at + kCaptureFrames) / 48000.0;
        for (unsigned c = 0; c < kReportChannels; ++c) {
            while (hostGetAudioCodes(c, text, sizeof text) == 1) {
                const std::string code(text);
                if (c == 0 && code.find("\"TESK6\"") != std::string::npos &&
                    code.find("\"sid\":4660") != std::string::npos) {
                    arrivals[0].push_back(audioTime);
                } else if (c == 1 && code.find("\"TESK2\"") != std::string::npos &&
                           code.find("\"sid\":23100") != std::string::npos) {
                    arrivals[1].push_back(audioTime);
                } else {
                    ADD_FAILURE() << "channel " << c << ": " << code;
                }
            }
        }
    }
    ASSERT_FALSE(arrivals[0].empty()) << "no TESK 6 code on channel 0";
    ASSERT_FALSE(arrivals[1].empty()) << "no TESK 2 code on channel 1";
    // Latency of the first report: from the end of the latest message that
    // ended before it.
    auto latency = [](double arrival, auto schedule) {
        double end = -1;
        for (const auto& e : schedule) {
            if (e.endSeconds <= arrival) {
                end = e.endSeconds;
            }
        }
        return arrival - end;
    };
    const char* names[2] = {"tesk6", "tesk2"};
    for (int ch = 0; ch < 2; ++ch) {
        std::string list;
        for (double arrival : arrivals[ch]) {
            const double l = ch == 0 ? latency(arrival, t6.Schedule(kSeconds))
                                     : latency(arrival, t2.Schedule(kSeconds));
            EXPECT_GE(l, 0.0);
            EXPECT_LT(l, 4.0) << names[ch] << " report at " << arrival << " s";
            list += std::to_string(static_cast<int>(l * 1000)) + " ";
        }
        RecordProperty(std::string(names[ch]) + "_latency_ms", list);
    }
}

// The run with every stream switched off: the driver waits for the host's
// configuration, picks it up within a fraction of a second, posts its start-up
// diagnostics in order and then waits for audio that never comes.
TEST(DecodeDriver, RunStartsPromptlyOnceTheHostConfigures) {
    Diagnostics();
    uiConfiguration.configured = 0;
    DecodeAudio::ClearStop();
    RecordingReport report;
    auto driver = std::make_unique<DecodeAudio>(
        false, std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
        std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>(), &report);
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

    // Configure only once the driver is waiting.
    std::vector<std::string> diags;
    for (int i = 0; i < 300 && Find(diags, "Begin DecodeAudio") < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (const std::string& d : Diagnostics()) {
            diags.push_back(d);
        }
    }
    ASSERT_GE(Find(diags, "Begin DecodeAudio"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well into its wait
    hostSetConfiguration("0,2,-99,-99,-99");
    const auto configured = std::chrono::steady_clock::now();
    int opened = -1;
    while (opened < 0 && std::chrono::steady_clock::now() - configured < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const std::string& d : Diagnostics()) {
            diags.push_back(d);
        }
        opened = Find(diags, "Attempting to open sound card.");
    }
    const auto reaction = std::chrono::steady_clock::now() - configured;
    for (int i = 0; i < 100 && Find(diags, "Start detecting audio codes.") < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (const std::string& d : Diagnostics()) {
            diags.push_back(d);
        }
    }
    DecodeAudio::RequestStop();
    run.join();
    DecodeAudio::ClearStop();
    EXPECT_EQ(failure.get_future().get(), "");

    ASSERT_GE(opened, 0);
    // PortAudio's start-up takes its time on a busy machine; the driver's own
    // share is the 100 ms look at the configured flag.
    EXPECT_LT(reaction, std::chrono::seconds(5));
    int at = 0;
    for (const char* text :
         {"Begin DecodeAudio", "Tavik3 line in decoder build version 0.1.0.6.",
          "Request to update to 0,2,-99,-99,-99 configuration", "Kelvane Audio SDK, version 6.0.16",
          "Audio Consumer Manager version: 6.0.16", "Attempting to open sound card.",
          "PortAudio version number = ", "Built on Kelvane Audio SDK, version 6.0.16",
          "Begin sampling audio", "Start detecting audio codes."}) {
        const int found = Find(diags, text, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << text;
        at = found + 1;
    }
    // No stream was asked for: either there is nothing to open, or nothing failed.
    EXPECT_TRUE(Find(diags, "Sound card successfully opened.") >= 0 ||
                Find(diags, "No audio devices found.") >= 0);
    EXPECT_EQ(Find(diags, "not able to start stream"), -1);
    EXPECT_EQ(Find(diags, "Selected input is"), -1);
}

}  // namespace
