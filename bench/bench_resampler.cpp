// Throughput of the resampler on the live path (10 ms blocks of 480 samples at 48000 Hz) and on
// the file paths of the three decoder rates.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audiocore/CAudioResampler.h"
#include "audiocore/IBufferManager.h"

namespace {

using Kelvane::AudioCore::CAudioResampler;

// Counts the bytes it receives and keeps nothing, so only the conversion is measured.
class NullSink : public Kelvane::AudioCore::IBufferManager {
public:
    int PutData(const unsigned char*, unsigned int length, unsigned int*) override {
        bytes += length;
        return static_cast<int>(length);
    }
    int GetData(unsigned char**) override { return 0; }
    int GetData(unsigned char*, unsigned int) override { return 0; }
    void ReleaseData() override {}
    void WaitForData() override {}
    void CancelWait() override {}
    void Reset() override {}
    bool GetError() const override { return false; }
    size_t bytes = 0;
};

void BM_Resample(benchmark::State& state) {
    const int inRate = static_cast<int>(state.range(0));
    const int outRate = static_cast<int>(state.range(1));
    CAudioResampler r(1, inRate, 16, 1, outRate, 16, 512, 100, 0);
    const size_t block = static_cast<size_t>(inRate / 100);  // 10 ms
    std::vector<int16_t> in(block);
    for (size_t i = 0; i < block; ++i)
        in[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 4000.0 * i / inRate));
    NullSink sink;
    for (auto _ : state) {
        benchmark::DoNotOptimize(r.Resample_Int(reinterpret_cast<unsigned char*>(in.data()),
                                                static_cast<unsigned int>(block * 2), sink));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * block));
}

BENCHMARK(BM_Resample)
    ->Args({48000, 16000})
    ->Args({48000, 24000})
    ->Args({48000, 8000})
    ->Args({44100, 16000})
    ->Args({44100, 24000})
    ->Args({22050, 24000})
    ->Args({192000, 8000});

}  // namespace

BENCHMARK_MAIN();
