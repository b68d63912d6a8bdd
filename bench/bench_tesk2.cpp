// TESK 2 decoding speed as a multiple of real time ("x_realtime" = seconds of
// audio decoded per second): the engine alone at 24 kHz, the hybrid decoder
// adapter fed 48 kHz blocks (resampling included), and a whole one-channel
// meter with the filtered callback and host ring.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "app/CTavikReportImplementation.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/CAudioBlock.h"
#include "audiocore/CMeter.h"
#include "decoders/tesk2/CTesk2Engine.h"
#include "decoders/tesk2/CTesk2HybridDecoder.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"

using namespace Kelvane::Generators;

namespace {

constexpr double kSeconds = 10.0;

std::vector<int16_t> Audio(int rate) {
    Tesk2Generator g(rate);
    Tesk2Message m;
    m.sid = 4321;
    m.timestamp = 946000000;
    g.Add(m);
    Tesk2Message rs;
    rs.kind = Tesk2Kind::CommercialRs;
    rs.commId = 0x2B5C3D1E7ull;
    g.Add(rs);
    const auto wm = g.Synthesize(kSeconds);
    const auto host = SignalMix::MakeHost(HostKind::PinkNoise, wm.size(), 0.1, 3);
    return SignalMix::ToInt16(SignalMix::Mix(wm, host, -20.0));
}

class NullReporter : public CBaseOutputReporter {
public:
    void DataCallback(void*, float, int) override {}
};

void SetRate(benchmark::State& state) {
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Tesk2Engine24k(benchmark::State& state) {
    const auto pcm = Audio(24000);
    NullReporter rep;
    auto engine = std::make_unique<CTesk2Engine>(&rep);
    for (auto _ : state) {
        for (size_t i = 0; i + 64 <= pcm.size(); i += 64) {
            engine->ProcessAudioBuffer(
                reinterpret_cast<signed char*>(const_cast<int16_t*>(pcm.data() + i)), 128);
        }
    }
    SetRate(state);
}
BENCHMARK(BM_Tesk2Engine24k)->Unit(benchmark::kMillisecond);

void BM_Tesk2HybridDecoder48k(benchmark::State& state) {
    const auto pcm = Audio(48000);
    Kelvane::TESKII::CTesk2HybridDecoder dec(48000);
    dec.init("");
    for (auto _ : state) {
        for (size_t i = 0; i + 480 <= pcm.size(); i += 480) {
            Kelvane::AudioCore::CAudioBlock block(pcm.data() + i, 960, 1, 48000, 16,
                                                  Kelvane::AudioCore::PACKING_MODE_NOT_USED, 0);
            dec.ProcessAudioBlock(block);
        }
    }
    SetRate(state);
}
BENCHMARK(BM_Tesk2HybridDecoder48k)->Unit(benchmark::kMillisecond);

void BM_Tesk2FilteredMeter48k(benchmark::State& state) {
    const auto pcm = Audio(48000);
    static CTavikReportImplementation report;
    SampleAppConfigurationData cfg{};
    cfg.reportCallback = &report;
    cfg.reportMode = 1;
    ReportT2 = true;
    bT2RawOutput = false;
    Kelvane::AudioCore::AudioChannelConfiguration acc;
    acc.channels = 1;
    acc.sampleRate = 48000;
    acc.bitsPerSample = 16;
    CMeter meter(&cfg, nullptr, &acc, "{\"Parameters\":[{\"TESK2Filtered\":{}}]}",
                 std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                 std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
    char buf[1024];
    for (auto _ : state) {
        for (size_t i = 0; i + 480 <= pcm.size(); i += 480) {
            meter.ProcessAudioBuffer(const_cast<int16_t*>(pcm.data() + i), 960, 0, 0);
            while (hostGetAudioCodes(0, buf, sizeof buf) == 1) {
            }
        }
    }
    SetRate(state);
}
BENCHMARK(BM_Tesk2FilteredMeter48k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
