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

TEST(ResamplerTables, NyquistFiltersReproduceTheReferenceTaps) {
    const float* third = NyquistThird + 35;
    const struct {
        int offset;
        double tap;
    } thirdRef[] = {{0, 0.333328247},  {1, 0.274887085},  {2, 0.136276245},
                    {4, -0.065856934}, {5, -0.051345825}, {35, -0.000045776}};
    for (const auto& r : thirdRef) EXPECT_NEAR(third[r.offset], r.tap, 1e-9) << r.offset;

    // The half-band design lands within two steps of 2^-16 of the reference taps.
    const float* half = NyquistHalf + 23;
    const struct {
        int offset;
        double tap;
    } halfRef[] = {{0, 0.5},         {1, 0.31628418},   {3, -0.100158691},
                   {5, 0.054199219}, {7, -0.033081055}, {23, -0.000091553}};
    for (const auto& r : halfRef) EXPECT_NEAR(half[r.offset], r.tap, 2.0 / 65536) << r.offset;

    for (int j = 1; j <= 23; ++j) {
        EXPECT_EQ(half[j], half[-j]);
        if (j % 2 == 0) {
            EXPECT_EQ(half[j], 0.0f);
        }
    }
    for (int j = 1; j <= 35; ++j) {
        EXPECT_EQ(third[j], third[-j]);
        if (j % 3 == 0) {
            EXPECT_EQ(third[j], 0.0f);
        }
    }
}

TEST(ResamplerTables, NyquistFiltersPassAndStopTheirBands) {
    // Half-band: flat to 0.2 of the sample rate, stopped from 0.3125 (what folds onto the
    // 1-3 kHz band of 16000 -> 8000).
    for (double f = 0; f <= 0.2; f += 0.001) EXPECT_NEAR(FirDb(NyquistHalf, 47, f), 0.0, 0.01) << f;
    for (double f = 0.3125; f <= 0.5; f += 0.001) EXPECT_LT(FirDb(NyquistHalf, 47, f), -80.0) << f;
    // Third-band: flat to 0.12, stopped from 0.215 (folds onto 0..0.12 after 3:1).
    for (double f = 0; f <= 0.12; f += 0.001)
        EXPECT_NEAR(FirDb(NyquistThird, 71, f), 0.0, 0.01) << f;
    for (double f = 0.215; f <= 0.5; f += 0.001) EXPECT_LT(FirDb(NyquistThird, 71, f), -79.0) << f;
}

struct SosCase {
    const char* name;
    const float* sos;
    double fin, fout;
};

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

TEST(ResamplerTables, IirSectionsReproduceTheReferenceSection) {
    const double ref[5] = {1.033840656, -0.556607366, 0.188726723, 0.036490209, 0.188726723};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(sos_22k_8k[i], ref[i], 1e-6) << i;
}

TEST(ResamplerTables, IirLowPassesMeetTheirDesign) {
    const SosCase cases[] = {{"sos_44k_8k", sos_44k_8k, 44100, 8000},
                             {"sos_22k_8k", sos_22k_8k, 22050, 8000},
                             {"sos_22k_16k", sos_22k_16k, 22050, 16000},
                             {"sos_44k_24k", sos_44k_24k, 44100, 24000}};
    for (const SosCase& c : cases) {
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

struct SplineCase {
    const char* name;
    const int32_t* steps;
    const float (*coef)[6];
    int in, out, length;
};

TEST(ResamplerTables, SplinePairsInterpolateTheirRatio) {
    const SplineCase cases[] = {
        {"RSS9622", RSS9622_table, RSC9622_table, 640, 147, 320},
        {"RSS4822", RSS4822_table, RSC4822_table, 320, 147, 320},
        {"RSS3222", RSS3222_table, RSC3222_table, 640, 441, 640},
        {"RSS2422", RSS2422_table, RSC2422_table, 160, 147, 320},
        {"RSS1622", RSS1622_table, RSC1622_table, 320, 441, 640},
        {"DSS", DSS_table, DSC_table, 441, 160, 160},
        {"USS", USS_table, USC_table, 147, 160, 160},
        {"ZSS", ZSS_table, ZSC_table, 441, 320, 320},
    };
    for (const SplineCase& c : cases) {
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

TEST(ResamplerTables, SplineCoefficientsReproduceTheReferenceEntries) {
    const double rsc4822[6] = {0.009893, -0.079143, 0.923742, 0.178169, -0.037327, 0.004666};
    const double dsc[6] = {0.006593, -0.052741, 0.258407, 0.870628, -0.094728, 0.011841};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(RSC4822_table[1][i], rsc4822[i], 1e-6) << i;
        EXPECT_NEAR(DSC_table[1][i], dsc[i], 1e-6) << i;
    }
}

}  // namespace
