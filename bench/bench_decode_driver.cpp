// Cost of live decoding: the decode driver's block step (split one 10 ms
// six-channel block, level meter, all three filtered decoders on every
// channel) over generated watermarked audio. "core_percent" is the share of
// one core that live decoding of that many channels takes.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "app/CTavikReportImplementation.h"
#include "app/DecodeAudio.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"

using namespace Kelvane::Generators;

namespace {

constexpr double kSeconds = 20.0;

// Six channels of pink noise, each with a TESK 6, a TESK 2 and a ZELT message
// of its own at -15 dB, interleaved.
const std::vector<int16_t>& SixChannelAudio() {
    static const std::vector<int16_t> audio = [] {
        std::vector<std::vector<int16_t>> channels;
        const size_t frames = static_cast<size_t>(kSeconds * 48000);
        for (int c = 0; c < 6; ++c) {
            Tesk6Generator t6(48000);
            Tesk6Message m6;
            m6.sid = static_cast<uint16_t>(0x1000 + c);
            m6.timestamp = 400000000u;
            t6.Add(m6);
            Tesk2Generator t2(48000);
            Tesk2Message m2;
            m2.sid = static_cast<uint16_t>(0x2000 + c);
            m2.timestamp = 900000000u;
            t2.Add(m2);
            ZeltGenerator zelt(48000);
            zelt.AddProgram(1 + c % 2, static_cast<uint16_t>(0x1235 + 0x10 * c), 1000);
            std::vector<float> wm = t6.Synthesize(kSeconds);
            const std::vector<float> w2 = t2.Synthesize(kSeconds);
            const std::vector<float> wz = zelt.Render(kSeconds, 0.05);
            wm.resize(frames, 0.0f);
            for (size_t i = 0; i < frames; ++i) {
                wm[i] += (i < w2.size() ? w2[i] : 0.0f) + (i < wz.size() ? wz[i] : 0.0f);
            }
            const std::vector<float> host =
                SignalMix::MakeHost(HostKind::PinkNoise, frames, 0.1, 3 + c);
            channels.push_back(SignalMix::ToInt16(SignalMix::Mix(wm, host, -15.0)));
        }
        return SignalMix::Interleave(channels);
    }();
    return audio;
}

void BM_LiveDecodeBlock(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    static CTavikReportImplementation report;
    audioChannelConfiguration.channels = 6;
    audioChannelConfiguration.sampleRate = 48000;
    audioChannelConfiguration.bitsPerSample = 16;
    DecodeAudio driver(false, std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                       std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>(),
                       &report);
    AudioSDKOptions(false).GetCommandLineOptions(0, nullptr, &driver.configuration());
    driver.Initialize();
    uiConfiguration_t config;
    config.channelCount = static_cast<uint16_t>(channels);

    const std::vector<int16_t>& audio = SixChannelAudio();
    const size_t blockSamples = kCaptureFrames * kCaptureChannels;
    const size_t blocks = audio.size() / blockSamples;
    std::vector<int16_t> block(blockSamples);
    size_t next = 0;
    for (auto _ : state) {
        std::copy(audio.begin() + static_cast<std::ptrdiff_t>(next * blockSamples),
                  audio.begin() + static_cast<std::ptrdiff_t>((next + 1) * blockSamples),
                  block.begin());
        driver.decodeAudioBuffer(reinterpret_cast<unsigned char*>(block.data()), kCaptureBlockBytes,
                                 &config);
        next = (next + 1) % blocks;
    }
    // 10 ms of audio per iteration: the share of one core that keeps up with it.
    state.counters["core_percent"] =
        benchmark::Counter(0.01 / 100.0 * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    // Empty the host rings so they do not overflow across runs.
    char text[4096];
    for (unsigned c = 0; c < kReportChannels; ++c) {
        while (hostGetAudioCodes(c, text, sizeof text) == 1) {
        }
    }
}

}  // namespace

// Enough iterations to cover several message periods of every family.
BENCHMARK(BM_LiveDecodeBlock)->Arg(2)->Arg(6)->Iterations(2000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
