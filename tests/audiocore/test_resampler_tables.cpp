// The generated filter and interpolation tables against their defining rules and against the
// reference values they were designed to reproduce.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>

#include "audiocore/decimate_tables.h"

namespace {

double FirDb(const float* h, int taps, double f) {
    std::complex<double> s = 0;
    for (int n = 0; n < taps; ++n)
        s += static_cast<double>(h[n]) * std::polar(1.0, -2 * M_PI * f * n);
    return 20 * std::log10(std::abs(s));
}

TEST(ResamplerTables, NyquistFiltersMatchTheReferenceTapsAndTheirBands) {
    // The third-band design reproduces the reference taps; the half-band design lands within
    // two steps of 2^-16 of them.
    const int thirdAt[] = {0, 1, 2, 4, 5, 35}, halfAt[] = {0, 1, 3, 5, 7, 23};
    const double thirdTap[] = {0.333328247,  0.274887085,  0.136276245,
                               -0.065856934, -0.051345825, -0.000045776};
    const double halfTap[] = {0.5,         0.31628418,   -0.100158691,
                              0.054199219, -0.033081055, -0.000091553};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(NyquistThird[35 + thirdAt[i]], thirdTap[i], 1e-9) << thirdAt[i];
        EXPECT_NEAR(NyquistHalf[23 + halfAt[i]], halfTap[i], 2.0 / 65536) << halfAt[i];
    }

    // Symmetric, and zero at every multiple of the band divisor.
    for (int j = 1; j <= 35; ++j) {
        EXPECT_EQ(NyquistThird[35 + j], NyquistThird[35 - j]);
        EXPECT_TRUE(j % 3 != 0 || NyquistThird[35 + j] == 0.0f) << j;
        if (j > 23) continue;
        EXPECT_EQ(NyquistHalf[23 + j], NyquistHalf[23 - j]);
        EXPECT_TRUE(j % 2 != 0 || NyquistHalf[23 + j] == 0.0f) << j;
    }

    // Half-band: flat to 0.2 of the sample rate, stopped from 0.3125 (what folds onto the
    // 1-3 kHz band of 16000 -> 8000). Third-band: flat to 0.12, stopped from 0.215 (folds onto
    // 0..0.12 after 3:1).
    for (double f = 0; f <= 0.2; f += 0.001) EXPECT_NEAR(FirDb(NyquistHalf, 47, f), 0.0, 0.01) << f;
    for (double f = 0.3125; f <= 0.5; f += 0.001) EXPECT_LT(FirDb(NyquistHalf, 47, f), -80.0) << f;
    for (double f = 0; f <= 0.12; f += 0.001)
        EXPECT_NEAR(FirDb(NyquistThird, 71, f), 0.0, 0.01) << f;
    for (double f = 0.215; f <= 0.5; f += 0.001) EXPECT_LT(FirDb(NyquistThird, 71, f), -79.0) << f;
}

std::complex<double> SosResponse(const float* sos, int sections, double f) {
    std::complex<double> z1 = std::polar(1.0, -2 * M_PI * f), h = 1.0;
    for (int s = 0; s < sections; ++s) {
        const float* c = sos + 5 * s;
        h *= (static_cast<double>(c[2]) + static_cast<double>(c[3]) * z1 +
              static_cast<double>(c[4]) * z1 * z1) /
             (1.0 - static_cast<double>(c[0]) * z1 - static_cast<double>(c[1]) * z1 * z1);
    }
    return h;
}

TEST(ResamplerTables, IirLowPassesMeetTheirDesign) {
    const struct {
        const char* name;
        const float* sos;
        double fin, fout;
    } cases[] = {{"sos_44k_8k", sos_44k_8k, 44100, 8000},
                 {"sos_22k_8k", sos_22k_8k, 22050, 8000},
                 {"sos_22k_16k", sos_22k_16k, 22050, 16000},
                 {"sos_44k_24k", sos_44k_24k, 44100, 24000}};
    const double ref[5] = {1.033840656, -0.556607366, 0.188726723, 0.036490209, 0.188726723};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(sos_22k_8k[i], ref[i], 1e-6) << i;  // reference
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const double nyq = c.fout / 2 / c.fin;  // target Nyquist, cycles per input sample
        for (int s = 0; s < 4; ++s) {
            const float* q = c.sos + 5 * s;
            EXPECT_GT(q[1], -1.0f);                   // |pole| < 1
            EXPECT_LT(std::fabs(q[0]), 1.0f - q[1]);  // inside the stability triangle
            EXPECT_EQ(q[2], q[4]);                    // zeros on the unit circle
            double peak = 0;                          // cumulative response peaks at 1
            for (double f = 0; f <= 0.5; f += 0.0002)
                peak = std::max(peak, std::abs(SosResponse(c.sos, s + 1, f)));
            EXPECT_NEAR(peak, 1.0, 2e-3) << "after section " << s + 1;
        }
        for (double f = 0; f <= 0.908 * nyq; f += nyq / 500) {
            double db = 20 * std::log10(std::abs(SosResponse(c.sos, 4, f)));
            EXPECT_LE(db, 0.01) << f * c.fin;
            EXPECT_GE(db, -0.06) << f * c.fin;
        }
        for (double f = 1.13 * nyq; f <= 0.5; f += 0.001)
            EXPECT_LT(20 * std::log10(std::abs(SosResponse(c.sos, 4, f))), -64.0) << f * c.fin;
    }
}

TEST(ResamplerTables, SplinePairsInterpolateTheirRatio) {
    const struct {
        const char* name;
        const int32_t* steps;
        const float (*coef)[6];
        int in, out, length;
    } cases[] = {
        {"RSS9622", RSS9622_table, RSC9622_table, 640, 147, 320},
        {"RSS4822", RSS4822_table, RSC4822_table, 320, 147, 320},
        {"RSS3222", RSS3222_table, RSC3222_table, 640, 441, 640},
        {"RSS2422", RSS2422_table, RSC2422_table, 160, 147, 320},
        {"RSS1622", RSS1622_table, RSC1622_table, 320, 441, 640},
        {"DSS", DSS_table, DSC_table, 441, 160, 160},
        {"USS", USS_table, USC_table, 147, 160, 160},
        {"ZSS", ZSS_table, ZSC_table, 441, 320, 320},
    };
    const double rsc4822[6] = {0.009893, -0.079143, 0.923742, 0.178169, -0.037327, 0.004666};
    const double dsc[6] = {0.006593, -0.052741, 0.258407, 0.870628, -0.094728, 0.011841};
    for (int i = 0; i < 6; ++i) {  // reference entries
        EXPECT_NEAR(RSC4822_table[1][i], rsc4822[i], 1e-6) << i;
        EXPECT_NEAR(DSC_table[1][i], dsc[i], 1e-6) << i;
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int lo = c.in / c.out, hi = lo + 1;
        int sum = 0;
        for (int m = 0; m < c.length; ++m) {
            if (m >= c.out) {  // padding
                EXPECT_EQ(c.steps[m], 0);
                for (int i = 0; i < 6; ++i) EXPECT_EQ(c.coef[m][i], 0.0f);
                continue;
            }
            EXPECT_TRUE(c.steps[m] == lo || c.steps[m] == hi) << m;
            sum += c.steps[m];
            double w = 0;
            for (int i = 0; i < 6; ++i) w += c.coef[m][i];
            EXPECT_NEAR(w, 1.0, 1e-6) << m;
        }
        EXPECT_EQ(sum, c.in);
        const float first[6] = {0, 0, 1, 0, 0, 0};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(c.coef[0][i], first[i]);

        // Interpolating a slow sine: output m lies at input position m * in / out (with the
        // three-sample lag of the six-tap window starting five samples back).
        const double f = 0.02;
        auto x = [f](double t) { return std::sin(2 * M_PI * f * t + 0.3); };
        int pos = -5;
        double worst = 0;
        for (int m = 0; m < c.out; ++m) {
            double y = 0;
            for (int i = 0; i < 6; ++i) y += c.coef[m][i] * x(pos + i);
            worst = std::max(worst, std::fabs(y - x(static_cast<double>(m) * c.in / c.out - 3)));
            pos += c.steps[m];
        }
        EXPECT_LT(worst, 2e-4);
    }
}

}  // namespace
