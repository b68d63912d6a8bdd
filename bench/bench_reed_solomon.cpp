// Reed-Solomon decoding speed for the three codes: clean words, one error, and full capacity.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "dsp/ReedSolomon.h"

namespace {

RsCodeParams Params(int code) {
    RsCodeParams p{};
    switch (code) {
        case 0:
            RS_Init(15, 9, 4, RS_15_9_TABLES_CODEGENPOLY, RS_15_9_TABLES_LOOKUPGF,
                    RS_15_9_TABLES_LOOKUPGFINV, RS_15_9_TABLES_LOOKUPGFREV, &p);
            break;
        case 1:
            RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
                    RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &p);
            break;
        default:
            RS_Init(7, 5, 7, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF,
                    RS_7_5_TABLES_LOOKUPGFINV, RS_7_5_TABLES_LOOKUPGFREV, &p);
            break;
    }
    return p;
}

// range(0): code (0 = (15, 9), 1 = (11, 7), 2 = (7, 5)); range(1): symbol errors per word.
void BM_RsDecode(benchmark::State& state) {
    const RsCodeParams p = Params(static_cast<int>(state.range(0)));
    const uint32_t errors = static_cast<uint32_t>(state.range(1));
    std::mt19937 rng(1);
    constexpr int kWords = 256;
    std::vector<uint32_t> words(kWords * p.n);
    for (int w = 0; w < kWords; ++w) {
        uint8_t bytes[16];
        for (uint32_t i = 0; i < p.k; ++i) bytes[i] = static_cast<uint8_t>(rng() % p.q);
        RS_Encode(bytes, static_cast<int32_t>(p.k), bytes + p.k, &p);
        for (uint32_t i = 0; i < p.n; ++i) words[w * p.n + i] = bytes[i];
        for (uint32_t e = 0; e < errors; ++e) words[w * p.n + (e * 3) % p.n] ^= 1 + rng() % p.N;
    }
    int w = 0;
    for (auto _ : state) {
        RsDecodeResult r = RS_Decode(&words[w * p.n], nullptr, 0, &p);
        benchmark::DoNotOptimize(r);
        w = (w + 1) % kWords;
    }
}
BENCHMARK(BM_RsDecode)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({0, 3})
    ->Args({1, 0})
    ->Args({1, 2})
    ->Args({2, 0})
    ->Args({2, 1});

}  // namespace

BENCHMARK_MAIN();
