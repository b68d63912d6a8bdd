// Decoding speed of one TESK 6 channel. The counter "x_realtime" is seconds of
// audio decoded per second of run time, i.e. the multiple of real time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audiocore/CAudioBlock.h"
#include "audiocore/IAudioConsumerCallback.h"
#include "decoders/tesk6/CTesk6Decoder.h"
#include "decoders/tesk6/CTesk6Engine.h"
#include "generators/SignalMix.h"
#include "generators/Tesk6Generator.h"

using namespace Kelvane::Generators;

namespace {

class Discard : public Kelvane::AudioCore::IAudioConsumerCallback {
public:
    void init(void*, int, int, int, char*) override {}
    void ResultCallback(std::string) override { ++count; }
    void LogCallback(int, const char*) override {}
    void Shutdown() override {}
    int count = 0;
};

std::vector<int16_t> Audio(int rate, double seconds) {
    Tesk6Generator g(rate);
    Tesk6Message m;
    m.kind = Tesk6Kind::ProgramStandard;
    m.sid = 4321;
    m.timestamp = 1000000;
    g.Add(m);
    Tesk6Message c;
    c.kind = Tesk6Kind::CommercialRs;
    c.commId = 0x123456789ull;
    g.Add(c);
    const auto wm = g.Synthesize(seconds);
    return SignalMix::ToInt16(
        SignalMix::Mix(wm, SignalMix::MakeHost(HostKind::PinkNoise, wm.size(), 0.1, 1), -20.0));
}

// The decoder adapter as the meter drives it: 48 kHz 16-bit input in 10 ms
// blocks, resampled to 16 kHz, engine, JSON texts.
void BM_Tesk6Decoder48k(benchmark::State& state) {
    const double seconds = 30.0;
    const auto audio = Audio(48000, seconds);
    for (auto _ : state) {
        Kelvane::TESKVI::CTesk6Decoder d(48000);
        d.init("");
        Discard cb;
        d.RegisterResultCallback(cb);
        for (size_t pos = 0; pos + 480 <= audio.size(); pos += 480) {
            Kelvane::AudioCore::CAudioBlock b(audio.data() + pos, 960, 1, 48000, 16,
                                              Kelvane::AudioCore::PACKING_MODE_NOT_USED, 0);
            d.ProcessAudioBlock(b);
        }
        benchmark::DoNotOptimize(cb.count);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Tesk6Decoder48k)->Unit(benchmark::kMillisecond);

// The engine alone on 16 kHz blocks of 512 samples (FFT and decoding core).
void BM_Tesk6Engine16k(benchmark::State& state) {
    const double seconds = 30.0;
    const auto audio = Audio(16000, seconds);
    for (auto _ : state) {
        static CTesk6Engine e(nullptr);
        e.Initialize();
        for (size_t pos = 0; pos + 512 <= audio.size(); pos += 512)
            e.ProcessAudioBuffer(reinterpret_cast<signed char*>(const_cast<int16_t*>(&audio[pos])),
                                 1024);
        benchmark::DoNotOptimize(e.FrameCounter());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Tesk6Engine16k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
