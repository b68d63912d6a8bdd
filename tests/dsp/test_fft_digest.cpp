// Every complex size of both FFT families and the three engine spectra, pinned to the exact
// bits they produce for a fixed input: a change in the arithmetic (a vectorised stage, a
// reordered sum) shows up as a changed digest. When a deliberate change lands, the failure
// message lists the new digests.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dsp/Fft.h"
#include "dsp/FftInternal.h"

namespace {

uint64_t Fnv(const void* data, size_t n, uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// Integer-valued samples (exact in every build) from an LCG, loud enough to use the range.
std::vector<float> Input(size_t n) {
    std::vector<float> v(n);
    uint32_t lcg = 777;
    for (float& x : v) {
        lcg = lcg * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int32_t>(lcg >> 16) - 32768);
    }
    return v;
}

uint64_t Digests() {
    const std::vector<float> in = Input(8192);
    std::vector<float> work(8192);
    uint64_t h = Fnv(nullptr, 0);
    for (int base : {3, 6, 4, 8}) {
        for (int n = base; n <= 2048; n *= 4) {
            std::fill(work.begin(), work.end(), 0.0f);
            if (base == 3 || base == 6)
                FFT_Flt_3KR4_ComplexIn_ComplexOut_FF(n, in.data(), work.data());
            else
                FFT_Flt_4KR4_ComplexIn_ComplexOut_FF(n, in.data(), work.data());
            h = Fnv(work.data(), sizeof(float) * 2 * n, h);
        }
    }
    std::vector<int16_t> in16(2048);
    for (size_t i = 0; i < in16.size(); ++i) in16[i] = static_cast<int16_t>(in[i]);
    std::fill(work.begin(), work.end(), 0.0f);
    FFT_Flt_3KR4_RealIn_PowerOut_FF(3072, in.data(), work.data(), 534);
    h = Fnv(work.data() + 534, sizeof(float) * (1536 - 2 * 534 + 1), h);
    std::fill(work.begin(), work.end(), 0.0f);
    FFT_Flt_4KR4_RealIn_PowerOut_Win_IF(2048, in16.data(), FFT_FLT_HAMMING_2048, work.data(), 252);
    h = Fnv(work.data() + 252, sizeof(float) * (1024 - 2 * 252 + 1), h);
    std::fill(work.begin(), work.end(), 0.0f);
    FFT_Flt_4KR4_RealIn_PowerOut_Win_FF(256, in.data(), FFT_FLT_HANN_256, work.data(), 46);
    h = Fnv(work.data() + 46, sizeof(float) * (128 - 2 * 46 + 1), h);
    return h;
}

TEST(FftDigest, EveryTransformKeepsItsExactOutput) {
    const uint64_t expected = 0xc65379fa674d0bacull;
    const uint64_t got = Digests();
    EXPECT_EQ(got, expected) << "digest now: 0x" << std::hex << got;
}

// The split transform runs eight butterflies per vector step on processors with AVX and four
// elsewhere; whichever this machine takes must give the four-lane path's bits, for every size,
// 16-bit and float input, with and without a window.
TEST(FftDigest, WideAndFourLaneSplitTransformsAgreeBitForBit) {
    const std::vector<float> in = Input(8192);
    std::vector<int16_t> in16(in.size());
    for (size_t i = 0; i < in.size(); ++i) in16[i] = static_cast<int16_t>(in[i]);
    std::vector<float> window(8192);
    for (size_t i = 0; i < window.size(); ++i) window[i] = 0.25f + 0.5f * float(i % 97) / 97.0f;
    std::vector<float> a(8192), b(8192);
    int compared = 0;
    for (auto family : {fft_internal::Family::k3KR4, fft_internal::Family::k4KR4}) {
        for (int n = 3; n <= 2048; ++n) {
            fft_internal::Plan plan;
            if (!fft_internal::MakePlan(family, n, &plan)) continue;
            const float* const windows[] = {nullptr, window.data()};
            for (const float* w : windows) {
                std::fill(a.begin(), a.end(), -1.0f);
                std::fill(b.begin(), b.end(), -1.0f);
                fft_internal::SplitFft(plan, in.data(), w, a.data());
                fft_internal::SplitFftPortable(plan, in.data(), w, b.data());
                EXPECT_EQ(0, std::memcmp(a.data(), b.data(), sizeof(float) * a.size()))
                    << "float input, " << n << " points, window " << (w != nullptr);
                fft_internal::SplitFft(plan, in16.data(), w, a.data());
                fft_internal::SplitFftPortable(plan, in16.data(), w, b.data());
                EXPECT_EQ(0, std::memcmp(a.data(), b.data(), sizeof(float) * a.size()))
                    << "16-bit input, " << n << " points, window " << (w != nullptr);
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 2 * 20);  // ten sizes in each family, plain and windowed
}

}  // namespace
