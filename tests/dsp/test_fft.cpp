// Every FFT member against a direct double-precision DFT of the same input (random, sine and
// impulse), for every supported size. Errors are measured relative to the largest reference
// output; the largest error seen per family and output form is printed at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dsp/Fft.h"

namespace {

using cd = std::complex<double>;

// Single precision over up to 6 radix passes: complex bins within 1e-6 of the largest bin;
// power (a square) within 2e-6 of the largest power, magnitude within 1e-6.
constexpr double kTolComplex = 1e-6;
constexpr double kTolPower = 2e-6;
constexpr double kTolMag = 1e-6;
constexpr float kGuard = 12345.0f;
constexpr int kGuardLen = 16;

std::map<std::string, double>& WorstErrors() {
    static std::map<std::string, double> worst;
    return worst;
}

void Note(const std::string& key, double err) {
    double& w = WorstErrors()[key];
    w = std::max(w, err);
}

class Reporter : public ::testing::Environment {
public:
    void TearDown() override {
        for (const auto& [key, err] : WorstErrors())
            std::printf("largest relative error %-28s %.3g\n", key.c_str(), err);
    }
};
const auto* const kReporter = ::testing::AddGlobalTestEnvironment(new Reporter);

enum class Kind { kRandom, kSine, kImpulse };
const Kind kKinds[] = {Kind::kRandom, Kind::kSine, Kind::kImpulse};

// Integer-valued samples, so the 16-bit and float members see exactly the same input.
std::vector<int16_t> MakeSamples(Kind kind, int len, unsigned seed) {
    std::vector<int16_t> s(len, 0);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-20000, 20000);
    for (int n = 0; n < len; ++n) {
        switch (kind) {
            case Kind::kRandom:
                s[n] = static_cast<int16_t>(dist(rng));
                break;
            case Kind::kSine:
                s[n] = static_cast<int16_t>(
                    std::lround(12000.0 * std::sin(2.0 * M_PI * 0.173 * n + 0.3)));
                break;
            case Kind::kImpulse:
                s[n] = n == std::min(3, len - 1) ? 16000 : 0;
                break;
        }
    }
    return s;
}

std::vector<float> ToFloat(const std::vector<int16_t>& s) { return {s.begin(), s.end()}; }

std::vector<float> RandomWindow(int len, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    std::vector<float> w(len);
    for (float& v : w) v = dist(rng);
    return w;
}

std::vector<cd> Dft(const std::vector<cd>& x) {
    const size_t n = x.size();
    std::vector<double> c(n), s(n);
    for (size_t i = 0; i < n; ++i) {
        c[i] = std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n));
        s[i] = std::sin(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n));
    }
    std::vector<cd> X(n);
    for (size_t k = 0; k < n; ++k) {
        double re = 0, im = 0;
        size_t idx = 0;
        for (size_t t = 0; t < n; ++t) {
            re += x[t].real() * c[idx] + x[t].imag() * s[idx];
            im += x[t].imag() * c[idx] - x[t].real() * s[idx];
            idx += k;
            if (idx >= n) idx -= n;
        }
        X[k] = {re, im};
    }
    return X;
}

// Reference of a complex transform of the interleaved samples (optionally windowed).
std::vector<cd> ComplexRef(const std::vector<int16_t>& s, const float* win) {
    std::vector<cd> x(s.size() / 2);
    for (size_t i = 0; i < x.size(); ++i) {
        double re = s[2 * i], im = s[2 * i + 1];
        if (win) re *= win[2 * i], im *= win[2 * i + 1];
        x[i] = {re, im};
    }
    return Dft(x);
}

// Reference of a real transform of the samples (optionally windowed).
std::vector<cd> RealRef(const std::vector<int16_t>& s, const float* win) {
    std::vector<cd> x(s.size());
    for (size_t i = 0; i < x.size(); ++i) x[i] = {win ? s[i] * static_cast<double>(win[i]) : s[i]};
    return Dft(x);
}

std::vector<float> Work(int floats) {
    std::vector<float> w(floats + kGuardLen, -777.0f);
    std::fill(w.begin() + floats, w.end(), kGuard);
    return w;
}

void ExpectGuard(const std::vector<float>& w, int floats, const std::string& what) {
    for (int i = floats; i < floats + kGuardLen; ++i)
        ASSERT_EQ(w[i], kGuard) << what << ": write beyond the work buffer";
}

double MaxAbs(const std::vector<cd>& X, int from, int to) {
    double m = 0;
    for (int k = from; k <= to; ++k) m = std::max(m, std::abs(X[k]));
    return m;
}

// Complex output (X[k] at element k) against the reference over all bins.
double ComplexError(const std::vector<float>& w, const std::vector<cd>& X, int from, int to) {
    const double scale = MaxAbs(X, from, to);
    double err = 0;
    for (int k = from; k <= to; ++k)
        err = std::max(err, std::abs(cd(w[2 * k], w[2 * k + 1]) - X[k]));
    return err / scale;
}

// Power or magnitude at float k.
double SpectrumError(const std::vector<float>& w, const std::vector<cd>& X, int from, int to,
                     bool power, double scale) {
    double ref_max = 0, err = 0;
    for (int k = from; k <= to; ++k) {
        const double ref = power ? std::norm(X[k]) : scale * std::abs(X[k]);
        ref_max = std::max(ref_max, std::abs(ref));
        err = std::max(err, std::abs(w[k] - ref));
    }
    return err / ref_max;
}

// The members of one family.
struct Family {
    const char* name;
    std::vector<int> points;  // supported complex sizes
    int tableSize;
    const float* cosTable;
    void (*cIF)(int, const int16_t*, float*);
    void (*cFF)(int, const float*, float*);
    void (*cWinIF)(int, const int16_t*, float*, const float*);
    void (*cWinFF)(int, const float*, float*, const float*);
    void (*rcIF)(int, const int16_t*, float*, int);
    void (*rcFF)(int, const float*, float*, int);
    int (*pIF)(int, const int16_t*, float*, int);
    int (*pFF)(int, const float*, float*, int);
    int (*pWinIF)(int, const int16_t*, const float*, float*, int);
    int (*pWinFF)(int, const float*, const float*, float*, int);
    void (*mIF)(int, const int16_t*, const float*, float*, int, float);
    void (*mFF)(int, const float*, const float*, float*, int, float);
};

const Family k3K{"3KR4",
                 {3, 6, 12, 24, 48, 96, 192, 384, 768, 1536},
                 3072,
                 FFT_FLT_COS_3072,
                 FFT_Flt_3KR4_ComplexIn_ComplexOut_IF,
                 FFT_Flt_3KR4_ComplexIn_ComplexOut_FF,
                 FFT_Flt_3KR4_ComplexIn_ComplexOut_Win_IF,
                 FFT_Flt_3KR4_ComplexIn_ComplexOut_Win_FF,
                 FFT_Flt_3KR4_RealIn_ComplexOut_IF,
                 FFT_Flt_3KR4_RealIn_ComplexOut_FF,
                 FFT_Flt_3KR4_RealIn_PowerOut_IF,
                 FFT_Flt_3KR4_RealIn_PowerOut_FF,
                 FFT_Flt_3KR4_RealIn_PowerOut_Win_IF,
                 FFT_Flt_3KR4_RealIn_PowerOut_Win_FF,
                 FFT_Flt_3KR4_RealIn_MagOut_Win_Scale_IF,
                 FFT_Flt_3KR4_RealIn_MagOut_Win_Scale_FF};

const Family k4K{"4KR4",
                 {4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048},
                 4096,
                 FFT_FLT_COS_4096,
                 FFT_Flt_4KR4_ComplexIn_ComplexOut_IF,
                 FFT_Flt_4KR4_ComplexIn_ComplexOut_FF,
                 FFT_Flt_4KR4_ComplexIn_ComplexOut_Win_IF,
                 FFT_Flt_4KR4_ComplexIn_ComplexOut_Win_FF,
                 FFT_Flt_4KR4_RealIn_ComplexOut_IF,
                 FFT_Flt_4KR4_RealIn_ComplexOut_FF,
                 FFT_Flt_4KR4_RealIn_PowerOut_IF,
                 FFT_Flt_4KR4_RealIn_PowerOut_FF,
                 FFT_Flt_4KR4_RealIn_PowerOut_Win_IF,
                 FFT_Flt_4KR4_RealIn_PowerOut_Win_FF,
                 FFT_Flt_4KR4_RealIn_MagOut_Win_Scale_IF,
                 FFT_Flt_4KR4_RealIn_MagOut_Win_Scale_FF};

class FftFamily : public ::testing::TestWithParam<const Family*> {};

TEST_P(FftFamily, ComplexInComplexOutMatchesDft) {
    const Family& fam = *GetParam();
    for (int n : fam.points) {
        const std::vector<float> win = RandomWindow(2 * n, 7u + n);
        for (Kind kind : kKinds) {
            const auto s = MakeSamples(kind, 2 * n, 100u + n);
            const auto f = ToFloat(s);
            const auto X = ComplexRef(s, nullptr);
            const auto Xw = ComplexRef(s, win.data());
            const std::string key = std::string(fam.name) + " complex";
            auto w = Work(2 * n);
            fam.cIF(n, s.data(), w.data());
            ExpectGuard(w, 2 * n, "IF");
            double e = ComplexError(w, X, 0, n - 1);
            Note(key, e);
            EXPECT_LT(e, kTolComplex) << "IF n=" << n;
            fam.cFF(n, f.data(), w.data());
            e = ComplexError(w, X, 0, n - 1);
            Note(key, e);
            EXPECT_LT(e, kTolComplex) << "FF n=" << n;
            fam.cWinIF(n, s.data(), w.data(), win.data());
            e = ComplexError(w, Xw, 0, n - 1);
            Note(key, e);
            EXPECT_LT(e, kTolComplex) << "Win_IF n=" << n;
            fam.cWinFF(n, f.data(), w.data(), win.data());
            ExpectGuard(w, 2 * n, "Win_FF");
            e = ComplexError(w, Xw, 0, n - 1);
            Note(key, e);
            EXPECT_LT(e, kTolComplex) << "Win_FF n=" << n;
        }
    }
}

TEST_P(FftFamily, RealInMembersMatchDft) {
    const Family& fam = *GetParam();
    for (int half : fam.points) {
        const int N = 2 * half;
        const std::vector<float> win = RandomWindow(N, 11u + N);
        for (Kind kind : kKinds) {
            const auto s = MakeSamples(kind, N, 300u + N);
            const auto f = ToFloat(s);
            const auto X = RealRef(s, nullptr);
            const auto Xw = RealRef(s, win.data());
            for (int first : {1, std::max(1, N / 6)}) {
                const int last = N / 2 - first;
                if (last < first) continue;
                const std::string ctx =
                    "N=" + std::to_string(N) + " first=" + std::to_string(first);
                auto w = Work(N);
                fam.rcIF(N, s.data(), w.data(), first);
                ExpectGuard(w, N, "rcIF");
                double e = ComplexError(w, X, first, last);
                Note(std::string(fam.name) + " real complex", e);
                EXPECT_LT(e, kTolComplex) << "RealIn_ComplexOut_IF " << ctx;
                fam.rcFF(N, f.data(), w.data(), first);
                e = ComplexError(w, X, first, last);
                Note(std::string(fam.name) + " real complex", e);
                EXPECT_LT(e, kTolComplex) << "RealIn_ComplexOut_FF " << ctx;

                const std::string pkey = std::string(fam.name) + " real power";
                EXPECT_EQ(fam.pIF(N, s.data(), w.data(), first), N / 2);
                ExpectGuard(w, N, "pIF");
                e = SpectrumError(w, X, first, last, true, 1);
                Note(pkey, e);
                EXPECT_LT(e, kTolPower) << "PowerOut_IF " << ctx;
                EXPECT_EQ(fam.pFF(N, f.data(), w.data(), first), N / 2);
                e = SpectrumError(w, X, first, last, true, 1);
                Note(pkey, e);
                EXPECT_LT(e, kTolPower) << "PowerOut_FF " << ctx;
                EXPECT_EQ(fam.pWinIF(N, s.data(), win.data(), w.data(), first), N / 2);
                e = SpectrumError(w, Xw, first, last, true, 1);
                Note(pkey, e);
                EXPECT_LT(e, kTolPower) << "PowerOut_Win_IF " << ctx;
                EXPECT_EQ(fam.pWinFF(N, f.data(), win.data(), w.data(), first), N / 2);
                e = SpectrumError(w, Xw, first, last, true, 1);
                Note(pkey, e);
                EXPECT_LT(e, kTolPower) << "PowerOut_Win_FF " << ctx;

                const std::string mkey = std::string(fam.name) + " real magnitude";
                fam.mIF(N, s.data(), win.data(), w.data(), first, 0.01f);
                ExpectGuard(w, N, "mIF");
                e = SpectrumError(w, Xw, first, last, false, 0.01);
                Note(mkey, e);
                EXPECT_LT(e, kTolMag) << "MagOut_Win_Scale_IF " << ctx;
                fam.mFF(N, f.data(), win.data(), w.data(), first, 3.0f);
                e = SpectrumError(w, Xw, first, last, false, 3.0);
                Note(mkey, e);
                EXPECT_LT(e, kTolMag) << "MagOut_Win_Scale_FF " << ctx;
            }
        }
    }
}

// The combine routines on the interleaved complex transform of the samples taken as pairs.
TEST_P(FftFamily, CombineRoutinesMatchDft) {
    const Family& fam = *GetParam();
    for (int half : fam.points) {
        const int N = 2 * half;
        for (Kind kind : kKinds) {
            const auto f = ToFloat(MakeSamples(kind, N, 500u + N));
            const auto X = RealRef(MakeSamples(kind, N, 500u + N), nullptr);
            const int first = 1, last = N / 2 - 1;
            auto w = Work(N);
            fam.cFF(half, f.data(), w.data());
            FFT_Flt_Combine_Complex(N, fam.tableSize, w.data(), first, fam.cosTable);
            double e = ComplexError(w, X, first, last);
            Note(std::string(fam.name) + " combine", e);
            EXPECT_LT(e, kTolComplex) << "Combine_Complex N=" << N;
            fam.cFF(half, f.data(), w.data());
            FFT_Flt_Combine_Power(N, fam.tableSize, w.data(), first, fam.cosTable);
            e = SpectrumError(w, X, first, last, true, 1);
            Note(std::string(fam.name) + " combine", e);
            EXPECT_LT(e, kTolPower) << "Combine_Power N=" << N;
            fam.cFF(half, f.data(), w.data());
            FFT_Flt_Combine_Magnitude(N, fam.tableSize, w.data(), first, fam.cosTable, 0.5f);
            e = SpectrumError(w, X, first, last, false, 0.5);
            Note(std::string(fam.name) + " combine", e);
            EXPECT_LT(e, kTolMag) << "Combine_Magnitude N=" << N;
            ExpectGuard(w, N, "combine");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FftFamily, ::testing::Values(&k3K, &k4K),
                         [](const auto& info) { return std::string("F") + info.param->name; });

// ---------------------------------------------------------------------------------------------
// Stage routines composed by hand into whole transforms.
// ---------------------------------------------------------------------------------------------
using FirstIF = void (*)(const int16_t*, float*, int, const uint16_t*);
using FirstFF = void (*)(const float*, float*, int, const uint16_t*);
using FirstWinIF = void (*)(const int16_t*, float*, int, const uint16_t*, const float*);
using FirstWinFF = void (*)(const float*, float*, int, const uint16_t*, const float*);

struct FirstStage {
    int radix;
    int twiddleBase;
    const float* twiddle;
    FirstIF fIF;
    FirstFF fFF;
    FirstWinIF fWinIF;
    FirstWinFF fWinFF;
};

const uint16_t* BitRevFor(int butterflies) {
    switch (butterflies) {
        case 1:
            return FFT_R2_BIT_REV_N1;
        case 4:
            return FFT_R2_BIT_REV_N4;
        case 16:
            return FFT_R2_BIT_REV_N16;
        case 64:
            return FFT_R2_BIT_REV_N64;
        default:
            return FFT_R2_BIT_REV_N256;
    }
}

TEST(FftStages, ComposedStagesMatchDftForEverySize) {
    const FirstStage stages[] = {
        {3, 1536, FFT_FLT_3KR4_TWIDDLE, FFT_Flt_R3_W0_IF, FFT_Flt_R3_W0_FF, FFT_Flt_R3_W0_Win_IF,
         FFT_Flt_R3_W0_Win_FF},
        {6, 1536, FFT_FLT_3KR4_TWIDDLE, FFT_Flt_R6_W0_IF, FFT_Flt_R6_W0_FF, FFT_Flt_R6_W0_Win_IF,
         FFT_Flt_R6_W0_Win_FF},
        {4, 2048, FFT_FLT_4KR4_TWIDDLE, FFT_Flt_R4_W0_IF, FFT_Flt_R4_W0_FF, FFT_Flt_R4_W0_Win_IF,
         FFT_Flt_R4_W0_Win_FF},
        {8, 2048, FFT_FLT_4KR4_TWIDDLE, FFT_Flt_R8_W0_IF, FFT_Flt_R8_W0_FF, FFT_Flt_R8_W0_Win_IF,
         FFT_Flt_R8_W0_Win_FF},
    };
    for (const FirstStage& st : stages) {
        for (int b = 1; b <= 256; b *= 4) {
            const int n = st.radix * b;
            const auto s = MakeSamples(Kind::kRandom, 2 * n, 900u + n);
            const auto f = ToFloat(s);
            const auto win = RandomWindow(2 * n, 901u + n);
            const auto X = ComplexRef(s, nullptr);
            const auto Xw = ComplexRef(s, win.data());
            for (int variant = 0; variant < 4; ++variant) {
                auto w = Work(2 * n);
                switch (variant) {
                    case 0:
                        st.fIF(s.data(), w.data(), b, BitRevFor(b));
                        break;
                    case 1:
                        st.fFF(f.data(), w.data(), b, BitRevFor(b));
                        break;
                    case 2:
                        st.fWinIF(s.data(), w.data(), b, BitRevFor(b), win.data());
                        break;
                    default:
                        st.fWinFF(f.data(), w.data(), b, BitRevFor(b), win.data());
                        break;
                }
                for (int L = st.radix; L < n; L *= 4) {
                    if (4 * L < n) {
                        FFT_Flt_R4_WM(w.data(), st.twiddle, L, n / (4 * L),
                                      st.twiddleBase / (4 * L));
                    } else {
                        FFT_Flt_R4_WL(w.data(), st.twiddle, L, st.twiddleBase / (4 * L));
                    }
                }
                ExpectGuard(w, 2 * n, "stages");
                const double e = ComplexError(w, variant >= 2 ? Xw : X, 0, n - 1);
                Note("stages radix-" + std::to_string(st.radix), e);
                EXPECT_LT(e, kTolComplex)
                    << "radix " << st.radix << " n=" << n << " variant " << variant;
            }
        }
    }
}

// A radix-8 first stage alone is the 8-point DFT.
TEST(FftStages, EightPointsIsOneRadix8Stage) {
    const float in[16] = {1, 0, 2, -1, 0, 3, -4, 1, 5, 5, 0, 0, -2, 2, 7, -3};
    float a[16], b[16];
    FFT_Flt_4KR4_ComplexIn_ComplexOut_FF(8, in, a);
    FFT_Flt_R8_W0_FF(in, b, 1, FFT_R2_BIT_REV_N1);
    std::vector<cd> x(8);
    for (int i = 0; i < 8; ++i) x[i] = {in[2 * i], in[2 * i + 1]};
    const auto X = Dft(x);
    for (int k = 0; k < 8; ++k) {
        EXPECT_NEAR(a[2 * k], X[k].real(), 1e-5);
        EXPECT_NEAR(a[2 * k + 1], X[k].imag(), 1e-5);
        EXPECT_EQ(a[2 * k], b[2 * k]);
        EXPECT_EQ(a[2 * k + 1], b[2 * k + 1]);
    }
}

}  // namespace
