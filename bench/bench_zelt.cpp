// ZELT decoding speed. The "x_realtime" counter is seconds of audio decoded
// per second of processing time: the multiple of real time.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "audiocore/CAudioBlock.h"
#include "decoders/zelt/CZeltEngine.h"
#include "decoders/zelt/ZELTDecoderAdapter.h"
#include "generators/ZeltGenerator.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::ZeltGenerator;

namespace {

std::vector<int16_t> Audio(int rate, double seconds) {
    ZeltGenerator gen(rate);
    gen.AddProgram(1, 0x1235, 1000);
    gen.AddCommercial(0x5A3C96E1Full);
    return gen.RenderMixed(seconds, HostKind::PinkNoise, -20.0, 3);
}

struct NullReporter : CBaseOutputReporter {
    void DataCallback(void*, float, int) override {}
};

// Engine at 8000 Hz: window, FFT and one core frame per 100 ms block.
void BM_ZeltEngine8k(benchmark::State& state) {
    const auto pcm = Audio(8000, 20.0);
    NullReporter rep;
    CZeltEngine engine(&rep);
    size_t off = 0;
    for (auto _ : state) {
        if (off + 800 > pcm.size()) off = 0;
        benchmark::DoNotOptimize(
            engine.ProcessAudioBuffer(reinterpret_cast<const uint8_t*>(pcm.data() + off), 1600));
        off += 800;
    }
    state.counters["x_realtime"] =
        benchmark::Counter(0.1 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ZeltEngine8k);

// The core alone on a fixed spectrum (bin SNR, scores, searches, RS cycle).
void BM_ZeltCoreFrame(benchmark::State& state) {
    std::vector<float> spectrum(1100);
    for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = 1.0f + float((i * 7919) % 13);
    ZeltDecoderState st;
    ZELT_Init(nullptr, nullptr, &st);
    for (auto _ : state) {
        ZELT_Decode(spectrum.data(), &st);
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(0.1 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ZeltCoreFrame);

// The whole adapter from 48 kHz input in 10 ms blocks (resampling, buffering,
// engine, JSON for every detection).
void BM_ZeltAdapter48k(benchmark::State& state) {
    const auto pcm = Audio(48000, 20.0);
    Kelvane::ZELT::ZELTDecoderAdapter adapter(48000);
    adapter.init("");
    size_t off = 0;
    for (auto _ : state) {
        if (off + 480 > pcm.size()) off = 0;
        Kelvane::AudioCore::CAudioBlock block(pcm.data() + off, 960, 1, 48000, 16,
                                              Kelvane::AudioCore::PACKING_MODE_NOT_USED, 0);
        benchmark::DoNotOptimize(adapter.ProcessAudioBlock(block));
        off += 480;
    }
    state.counters["x_realtime"] =
        benchmark::Counter(0.01 * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ZeltAdapter48k);

}  // namespace

BENCHMARK_MAIN();
