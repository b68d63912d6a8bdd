// FFT tables against their defining formulas and quoted values, and the spectra the engines
// rely on (tone position and height, window leakage, returned counts, bounds).
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "dsp/Fft.h"
#include "dsp/FftInternal.h"

namespace {

// Tables are single precision: within one rounding of the double formula.
constexpr double kTableTol = 6e-8;

// Entry k of a twiddle table holds W^k, W^2k, W^3k as (cos, -sin) pairs, W = e^(-j 2 pi / base);
// a split stage of length L holds the cosines of p*m/(4L) for p = 1..3, then the minus sines.
TEST(FftTables, TwiddlesFollowTheirDefinition) {
    for (auto [t, entries, base] : {std::tuple{FFT_FLT_3KR4_TWIDDLE, 384, 1536},
                                    std::tuple{FFT_FLT_4KR4_TWIDDLE, 512, 2048}}) {
        for (int k = 0; k < entries; ++k) {
            for (int p = 1; p <= 3; ++p) {
                const double a = 2.0 * M_PI * p * k / base;
                EXPECT_NEAR(t[6 * k + 2 * p - 2], std::cos(a), kTableTol) << k << " " << p;
                EXPECT_NEAR(t[6 * k + 2 * p - 1], -std::sin(a), kTableTol) << k << " " << p;
            }
        }
    }
    const double quoted[6] = {0.9999917, -0.0040906, 0.9999666, -0.0081811, 0.9999247, -0.0122715};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(FFT_FLT_3KR4_TWIDDLE[6 + i], quoted[i], 5e-8);

    for (int L : {3, 12, 48, 192, 6, 24, 96, 384, 4, 16, 64, 256, 8, 32, 128, 512}) {
        const float* t = fft_internal::SplitTwiddles(L);
        ASSERT_NE(t, nullptr) << L;
        for (int p = 1; p <= 3; ++p) {
            for (int m = 0; m < L; ++m) {
                const double a = 2.0 * M_PI * p * m / (4.0 * L);
                EXPECT_NEAR(t[(2 * p - 2) * L + m], std::cos(a), kTableTol) << L;
                EXPECT_NEAR(t[(2 * p - 1) * L + m], -std::sin(a), kTableTol) << L;
            }
        }
    }
    EXPECT_EQ(fft_internal::SplitTwiddles(5), nullptr);
}

// Quarter-wave cosine tables and the periodic Hamming and Hann windows.
TEST(FftTables, CosineAndWindowTables) {
    const struct {
        const float* t;
        int len;
        double a, b, period;
    } tables[] = {{FFT_FLT_COS_3072, 768, 0, -1, 3072},
                  {FFT_FLT_COS_4096, 1024, 0, -1, 4096},
                  {FFT_FLT_HAMMING_2048, 2048, 25.0 / 46, 21.0 / 46, 2048},
                  {FFT_FLT_HANN_256, 256, 0.5, 0.5, 256}};
    for (const auto& tb : tables) {
        for (int n = 0; n < tb.len; ++n)
            EXPECT_NEAR(tb.t[n], tb.a - tb.b * std::cos(2.0 * M_PI * n / tb.period), kTableTol)
                << tb.period << " " << n;
    }
    EXPECT_NEAR(FFT_FLT_HAMMING_2048[0], 0.0869565, 1e-7);
    EXPECT_EQ(FFT_FLT_HAMMING_2048[1024], 1.0f);
    EXPECT_EQ(FFT_FLT_HANN_256[0], 0.0f);
    EXPECT_EQ(FFT_FLT_HANN_256[128], 1.0f);
}

// Entry i of the 2^b-entry table is 2 * bitreverse_b(i). The 16-entry table is quoted in full.
// The sequence 0, 512, 256, 768, ... opens the 512-entry table (float offsets of complex elements
// 0, 256, 128, 384, ...); the 256-entry table, whose offsets must stay inside a 256-butterfly
// first stage, opens 0, 256, 128, 384.
TEST(FftTables, BitReversalTables) {
    const uint16_t* tables[] = {FFT_R2_BIT_REV_N1,  FFT_R2_BIT_REV_N2,   FFT_R2_BIT_REV_N4,
                                FFT_R2_BIT_REV_N8,  FFT_R2_BIT_REV_N16,  FFT_R2_BIT_REV_N32,
                                FFT_R2_BIT_REV_N64, FFT_R2_BIT_REV_N128, FFT_R2_BIT_REV_N256,
                                FFT_R2_BIT_REV_N512};
    for (int b = 0; b < 10; ++b) {
        for (int i = 0; i < (1 << b); ++i) {
            int r = 0;
            for (int j = 0; j < b; ++j) r |= ((i >> j) & 1) << (b - 1 - j);
            EXPECT_EQ(tables[b][i], 2 * r) << "table " << (1 << b) << " entry " << i;
        }
    }
    const std::vector<uint16_t> q16 = {0, 16, 8, 24, 4, 20, 12, 28, 2, 18, 10, 26, 6, 22, 14, 30};
    const std::vector<uint16_t> q512 = {0, 512, 256, 768, 128, 640, 384, 896};
    const std::vector<uint16_t> q256 = {0, 256, 128, 384, 64, 320, 192, 448};
    EXPECT_EQ(std::vector<uint16_t>(FFT_R2_BIT_REV_N16, FFT_R2_BIT_REV_N16 + 16), q16);
    EXPECT_EQ(std::vector<uint16_t>(FFT_R2_BIT_REV_N512, FFT_R2_BIT_REV_N512 + 8), q512);
    EXPECT_EQ(std::vector<uint16_t>(FFT_R2_BIT_REV_N256, FFT_R2_BIT_REV_N256 + 8), q256);
}

// A bin-centred sine of amplitude A gives power (A N / 2)^2 at its bin and nothing elsewhere; DC
// through the Hamming window leaves nothing from bin 252 up; a Hann-windowed bin-centred cosine
// gives (N/4)^2 at its bin, (N/8)^2 at its neighbours and nothing beyond.
TEST(FftSpectra, EngineUsesGiveAnalyticSpectra) {
    std::vector<float> in(3072), work(3072);
    for (int n = 0; n < 3072; ++n)
        in[n] = static_cast<float>(1000.0 * std::sin(2.0 * M_PI * 600 * n / 3072.0));
    EXPECT_EQ(FFT_Flt_3KR4_RealIn_PowerOut_FF(3072, in.data(), work.data(), 534), 1536);
    const double full = std::pow(1000.0 * 3072 / 2, 2);
    for (int k = 534; k <= 1002; ++k)
        EXPECT_NEAR(work[k] / full, k == 600 ? 1.0 : 0.0, k == 600 ? 1e-5 : 1e-6) << k;

    const std::vector<int16_t> dc(2048, 1000);
    EXPECT_EQ(FFT_Flt_4KR4_RealIn_PowerOut_Win_IF(2048, dc.data(), FFT_FLT_HAMMING_2048,
                                                  work.data(), 252),
              1024);
    const double dcPower = std::pow(1000.0 * 2048 * 25.0 / 46.0, 2);
    for (int k = 252; k <= 1024 - 252; ++k) EXPECT_LT(work[k], 1e-9 * dcPower) << k;

    for (int n = 0; n < 256; ++n) in[n] = static_cast<float>(std::cos(2.0 * M_PI * 60 * n / 256));
    EXPECT_EQ(
        FFT_Flt_4KR4_RealIn_PowerOut_Win_FF(256, in.data(), FFT_FLT_HANN_256, work.data(), 46),
        128);
    for (int k = 46; k <= 82; ++k) {
        const double expected = k == 60 ? 64.0 * 64.0 : (k == 59 || k == 61) ? 32.0 * 32.0 : 0;
        EXPECT_NEAR(work[k], expected, expected > 0 ? 1e-2 : 1e-6) << k;
    }
}

// Bin 0 would pair with Z[N/2], one element beyond the transform: a first bin below 1 is taken
// as 1. Unsupported sizes leave the buffer alone. No member writes past its work buffer.
TEST(FftSpectra, FirstBinBelowOneAndUnsupportedSizesStayInBounds) {
    std::vector<float> in(4096 + 64, 3.0f);
    for (size_t i = 0; i < in.size(); i += 3) in[i] = -5.0f;
    std::vector<float> work(256 + 8, 99.0f), ref(256 + 8, 99.0f);
    EXPECT_EQ(FFT_Flt_4KR4_RealIn_PowerOut_FF(256, in.data(), work.data(), 0), 128);
    FFT_Flt_4KR4_RealIn_PowerOut_FF(256, in.data(), ref.data(), 1);
    for (int k = 1; k <= 127; ++k) EXPECT_EQ(work[k], ref[k]);
    for (int i = 256; i < 264; ++i) EXPECT_EQ(work[i], 99.0f);

    std::vector<float> untouched(4096, 42.0f);
    EXPECT_EQ(FFT_Flt_4KR4_RealIn_PowerOut_FF(1000, in.data(), untouched.data(), 10), 0);
    EXPECT_EQ(FFT_Flt_3KR4_RealIn_PowerOut_FF(4096, in.data(), untouched.data(), 10), 0);
    EXPECT_EQ(FFT_Flt_3KR4_RealIn_PowerOut_FF(3073, in.data(), untouched.data(), 10), 0);
    FFT_Flt_4KR4_ComplexIn_ComplexOut_FF(4096, in.data(), untouched.data());
    FFT_Flt_3KR4_ComplexIn_ComplexOut_FF(2048, in.data(), untouched.data());
    FFT_Flt_4KR4_RealIn_MagOut_Win_Scale_FF(12, in.data(), in.data(), untouched.data(), 1, 1.0f);
    for (float v : untouched) ASSERT_EQ(v, 42.0f);
}

}  // namespace
