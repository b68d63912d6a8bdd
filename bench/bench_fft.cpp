// Timing of the three engine spectra (TESK 6: 3072-point float real power from bin 534; ZELT:
// 2048-point 16-bit Hamming real power from bin 252; TESK 2: 256-point float Hann real power
// from bin 46), and for comparison the same spectra through FFTW (single precision, real to
// complex, measured plans) including the windowing, conversion and power steps.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/Fft.h"

#ifdef TAVIK_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

std::vector<float> FloatSignal(int n) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> d(-8000.0f, 8000.0f);
    std::vector<float> v(n);
    for (float& x : v) x = d(rng);
    return v;
}

std::vector<int16_t> IntSignal(int n) {
    std::mt19937 rng(43);
    std::uniform_int_distribution<int> d(-8000, 8000);
    std::vector<int16_t> v(n);
    for (int16_t& x : v) x = static_cast<int16_t>(d(rng));
    return v;
}

void BM_Tesk6_3072_Power(benchmark::State& state) {
    const auto in = FloatSignal(3072);
    std::vector<float> work(3072);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            FFT_Flt_3KR4_RealIn_PowerOut_FF(3072, in.data(), work.data(), 534));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Tesk6_3072_Power);

void BM_Zelt_2048_HammingPower16(benchmark::State& state) {
    const auto in = IntSignal(2048);
    std::vector<float> work(2048);
    for (auto _ : state) {
        benchmark::DoNotOptimize(FFT_Flt_4KR4_RealIn_PowerOut_Win_IF(
            2048, in.data(), FFT_FLT_HAMMING_2048, work.data(), 252));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Zelt_2048_HammingPower16);

void BM_Tesk2_256_HannPower(benchmark::State& state) {
    const auto in = FloatSignal(256);
    std::vector<float> work(256);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            FFT_Flt_4KR4_RealIn_PowerOut_Win_FF(256, in.data(), FFT_FLT_HANN_256, work.data(), 46));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Tesk2_256_HannPower);

#ifdef TAVIK_HAVE_FFTW

// FFTW doing the same job: optional window / conversion into its input array, the r2c
// transform, and |X[k]|^2 for the same bins.
class FftwPower {
public:
    explicit FftwPower(int n) : n_(n) {
        in_ = fftwf_alloc_real(n);
        out_ = fftwf_alloc_complex(n / 2 + 1);
        plan_ = fftwf_plan_dft_r2c_1d(n, in_, out_, FFTW_MEASURE);
    }
    ~FftwPower() {
        fftwf_destroy_plan(plan_);
        fftwf_free(in_);
        fftwf_free(out_);
    }
    FftwPower(const FftwPower&) = delete;
    FftwPower& operator=(const FftwPower&) = delete;

    template <typename In>
    void Run(const In* input, const float* window, float* power, int firstBin) {
        if (window != nullptr) {
            for (int i = 0; i < n_; ++i) in_[i] = static_cast<float>(input[i]) * window[i];
        } else {
            for (int i = 0; i < n_; ++i) in_[i] = static_cast<float>(input[i]);
        }
        fftwf_execute(plan_);
        for (int k = firstBin; k <= n_ / 2 - firstBin; ++k)
            power[k] = out_[k][0] * out_[k][0] + out_[k][1] * out_[k][1];
    }
    void ExecuteOnly() { fftwf_execute(plan_); }

private:
    int n_;
    float* in_;
    fftwf_complex* out_;
    fftwf_plan plan_;
};

void BM_Fftw_3072_Power(benchmark::State& state) {
    const auto in = FloatSignal(3072);
    std::vector<float> power(3072);
    FftwPower f(3072);
    for (auto _ : state) {
        f.Run(in.data(), nullptr, power.data(), 534);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Fftw_3072_Power);

void BM_Fftw_2048_HammingPower16(benchmark::State& state) {
    const auto in = IntSignal(2048);
    std::vector<float> power(2048);
    FftwPower f(2048);
    for (auto _ : state) {
        f.Run(in.data(), FFT_FLT_HAMMING_2048, power.data(), 252);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Fftw_2048_HammingPower16);

void BM_Fftw_256_HannPower(benchmark::State& state) {
    const auto in = FloatSignal(256);
    std::vector<float> power(256);
    FftwPower f(256);
    for (auto _ : state) {
        f.Run(in.data(), FFT_FLT_HANN_256, power.data(), 46);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Fftw_256_HannPower);

// The bare FFTW transforms, for reference.
void BM_Fftw_R2C_Only(benchmark::State& state) {
    FftwPower f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        f.ExecuteOnly();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Fftw_R2C_Only)->Arg(3072)->Arg(2048)->Arg(256);

#endif  // TAVIK_HAVE_FFTW

}  // namespace

BENCHMARK_MAIN();
