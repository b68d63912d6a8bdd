// Every FFT member against a direct double-precision DFT of the same input (random, sine and
// impulse), for every supported size. Errors are measured relative to the largest reference
// output; the largest error seen per family and output form is printed at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "dsp/Fft.h"

namespace {

using cd = std::complex<double>;

// Single precision over up to 6 radix passes: complex bins within 1e-6 of the largest bin;
// power (a square) within 2e-6 of the largest power, magnitude within 1e-6.
enum Form { kComplex, kPower, kMag };
constexpr double kTol[] = {1e-6, 2e-6, 1e-6};
constexpr float kGuard = 12345.0f;
constexpr int kGuardLen = 16;

std::map<std::string, double>& WorstErrors() {
    static std::map<std::string, double> worst;
    return worst;
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
        if (kind == Kind::kRandom) s[n] = static_cast<int16_t>(dist(rng));
        if (kind == Kind::kSine)
            s[n] =
                static_cast<int16_t>(std::lround(12000.0 * std::sin(2 * M_PI * 0.173 * n + 0.3)));
        if (kind == Kind::kImpulse) s[n] = n == std::min(3, len - 1) ? 16000 : 0;
    }
    return s;
}

std::vector<float> RandomWindow(int len, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    std::vector<float> w(len);
    for (float& v : w) v = dist(rng);
    return w;
}

// DFT of the (optionally windowed) samples, taken as interleaved complex pairs or as reals.
std::vector<cd> Dft(const std::vector<int16_t>& s, const float* win, bool complexPairs) {
    const size_t step = complexPairs ? 2 : 1, n = s.size() / step;
    std::vector<cd> x(n), tw(n), X(n);
    auto at = [&](size_t i) { return win ? s[i] * static_cast<double>(win[i]) : s[i]; };
    for (size_t i = 0; i < n; ++i) {
        x[i] = complexPairs ? cd(at(2 * i), at(2 * i + 1)) : cd(at(i));
        tw[i] = std::polar(1.0, -2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n));
    }
    for (size_t k = 0; k < n; ++k)
        for (size_t t = 0, i = 0; t < n; ++t, i = i + k >= n ? i + k - n : i + k)
            X[k] += x[t] * tw[i];
    return X;
}

// Largest error over bins from..to relative to the largest reference value: complex output
// holds X[k] at element k, power and (scaled) magnitude output at float k.
double Error(const std::vector<float>& w, const std::vector<cd>& X, int from, int to, Form form,
             double scale) {
    double refMax = 0, err = 0;
    for (int k = from; k <= to; ++k) {
        if (form == kComplex) {
            refMax = std::max(refMax, std::abs(X[k]));
            err = std::max(err, std::abs(cd(w[2 * k], w[2 * k + 1]) - X[k]));
        } else {
            const double ref = form == kPower ? std::norm(X[k]) : scale * std::abs(X[k]);
            refMax = std::max(refMax, ref);
            err = std::max(err, std::abs(w[k] - ref));
        }
    }
    return err / refMax;
}

// Runs one member on a work buffer of `floats` floats followed by a guard zone. Checks that
// nothing is written beyond the buffer, that members returning a count return floats / 2, and
// the error of bins from..to; records the error under `key`.
template <class F>
void Check(const std::string& key, const std::string& ctx, int floats, const std::vector<cd>& X,
           int from, int to, Form form, double scale, F member) {
    std::vector<float> w(floats + kGuardLen, -777.0f);
    std::fill(w.begin() + floats, w.end(), kGuard);
    if constexpr (std::is_void_v<decltype(member(w.data()))>) {
        member(w.data());
    } else {
        EXPECT_EQ(member(w.data()), floats / 2) << ctx;
    }
    for (int i = floats; i < floats + kGuardLen; ++i)
        ASSERT_EQ(w[i], kGuard) << ctx << ": write beyond the work buffer";
    const double err = Error(w, X, from, to, form, scale);
    double& worst = WorstErrors()[key];
    worst = std::max(worst, err);
    EXPECT_LT(err, kTol[form]) << key << " " << ctx;
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

#define TAVIK_FFT_FAMILY(F, SIZE, ...)                                                         \
    Family {                                                                                   \
#F, {__VA_ARGS__ }, SIZE, FFT_FLT_COS_##SIZE, FFT_Flt_##F##_ComplexIn_ComplexOut_IF,   \
             FFT_Flt_##F##_ComplexIn_ComplexOut_FF, FFT_Flt_##F##_ComplexIn_ComplexOut_Win_IF, \
             FFT_Flt_##F##_ComplexIn_ComplexOut_Win_FF, FFT_Flt_##F##_RealIn_ComplexOut_IF,    \
             FFT_Flt_##F##_RealIn_ComplexOut_FF, FFT_Flt_##F##_RealIn_PowerOut_IF,             \
             FFT_Flt_##F##_RealIn_PowerOut_FF, FFT_Flt_##F##_RealIn_PowerOut_Win_IF,           \
             FFT_Flt_##F##_RealIn_PowerOut_Win_FF, FFT_Flt_##F##_RealIn_MagOut_Win_Scale_IF,   \
             FFT_Flt_##F##_RealIn_MagOut_Win_Scale_FF                                          \
    }
const Family k3K = TAVIK_FFT_FAMILY(3KR4, 3072, 3, 6, 12, 24, 48, 96, 192, 384, 768, 1536);
const Family k4K = TAVIK_FFT_FAMILY(4KR4, 4096, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048);

class FftFamily : public ::testing::TestWithParam<const Family*> {};

TEST_P(FftFamily, ComplexInComplexOutMatchesDft) {
    const Family& fam = *GetParam();
    for (int n : fam.points) {
        const std::vector<float> win = RandomWindow(2 * n, 7u + n);
        const float* wp = win.data();
        for (Kind kind : kKinds) {
            const auto s = MakeSamples(kind, 2 * n, 100u + n);
            const std::vector<float> f(s.begin(), s.end());
            const auto X = Dft(s, nullptr, true), Xw = Dft(s, wp, true);
            auto check = [&](const char* member, const std::vector<cd>& ref, auto run) {
                Check(std::string(fam.name) + " complex", member + (" n=" + std::to_string(n)),
                      2 * n, ref, 0, n - 1, kComplex, 1, run);
            };
            check("IF", X, [&](float* w) { fam.cIF(n, s.data(), w); });
            check("FF", X, [&](float* w) { fam.cFF(n, f.data(), w); });
            check("Win_IF", Xw, [&](float* w) { fam.cWinIF(n, s.data(), w, wp); });
            check("Win_FF", Xw, [&](float* w) { fam.cWinFF(n, f.data(), w, wp); });
        }
    }
}

// Every real-input member, and the combine routines applied to the complex transform of the
// samples taken as pairs, for two first bins.
TEST_P(FftFamily, RealInMembersAndCombineRoutinesMatchDft) {
    const Family& fam = *GetParam();
    for (int half : fam.points) {
        const int N = 2 * half;
        const std::vector<float> win = RandomWindow(N, 11u + N);
        const float* wp = win.data();
        for (Kind kind : kKinds) {
            const auto s = MakeSamples(kind, N, 300u + N);
            const std::vector<float> f(s.begin(), s.end());
            const auto X = Dft(s, nullptr, false), Xw = Dft(s, wp, false);
            for (int first : {1, std::max(1, N / 6)}) {
                const int last = N / 2 - first;
                if (last < first) continue;
                auto check = [&](const char* key, const char* member, const std::vector<cd>& ref,
                                 Form form, double scale, auto run) {
                    Check(std::string(fam.name) + key,
                          std::string(member) + " N=" + std::to_string(N) +
                              " first=" + std::to_string(first),
                          N, ref, first, last, form, scale, run);
                };
                auto combined = [&](auto routine) {
                    return [&, routine](float* w) {
                        fam.cFF(half, f.data(), w);
                        routine(N, fam.tableSize, w, first, fam.cosTable);
                    };
                };
                const char *rc = " real complex", *rp = " real power", *rm = " real magnitude";
                check(rc, "IF", X, kComplex, 1, [&](float* w) { fam.rcIF(N, s.data(), w, first); });
                check(rc, "FF", X, kComplex, 1, [&](float* w) { fam.rcFF(N, f.data(), w, first); });
                check(rp, "IF", X, kPower, 1,
                      [&](float* w) { return fam.pIF(N, s.data(), w, first); });
                check(rp, "FF", X, kPower, 1,
                      [&](float* w) { return fam.pFF(N, f.data(), w, first); });
                check(rp, "Win_IF", Xw, kPower, 1,
                      [&](float* w) { return fam.pWinIF(N, s.data(), wp, w, first); });
                check(rp, "Win_FF", Xw, kPower, 1,
                      [&](float* w) { return fam.pWinFF(N, f.data(), wp, w, first); });
                check(rm, "IF", Xw, kMag, 0.01,
                      [&](float* w) { fam.mIF(N, s.data(), wp, w, first, 0.01f); });
                check(rm, "FF", Xw, kMag, 3.0,
                      [&](float* w) { fam.mFF(N, f.data(), wp, w, first, 3.0f); });
                check(" combine", "Complex", X, kComplex, 1, combined(FFT_Flt_Combine_Complex));
                check(" combine", "Power", X, kPower, 1, combined(FFT_Flt_Combine_Power));
                check(" combine", "Magnitude", X, kMag, 0.5,
                      combined([](int n, int t, float* w, int b, const float* c) {
                          FFT_Flt_Combine_Magnitude(n, t, w, b, c, 0.5f);
                      }));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, FftFamily, ::testing::Values(&k3K, &k4K),
                         [](const auto& info) { return std::string("F") + info.param->name; });

// Stage routines composed by hand into whole transforms: each first stage (16-bit and float
// input, plain and windowed) for 1 .. 256 butterflies, then radix-4 stages up to the full size.
TEST(FftStages, ComposedStagesMatchDftForEverySize) {
    const struct {
        int radix, twiddleBase;
        const float* twiddle;
        void (*fIF)(const int16_t*, float*, int, const uint16_t*);
        void (*fFF)(const float*, float*, int, const uint16_t*);
        void (*fWinIF)(const int16_t*, float*, int, const uint16_t*, const float*);
        void (*fWinFF)(const float*, float*, int, const uint16_t*, const float*);
    } stages[] = {
        {3, 1536, FFT_FLT_3KR4_TWIDDLE, FFT_Flt_R3_W0_IF, FFT_Flt_R3_W0_FF, FFT_Flt_R3_W0_Win_IF,
         FFT_Flt_R3_W0_Win_FF},
        {6, 1536, FFT_FLT_3KR4_TWIDDLE, FFT_Flt_R6_W0_IF, FFT_Flt_R6_W0_FF, FFT_Flt_R6_W0_Win_IF,
         FFT_Flt_R6_W0_Win_FF},
        {4, 2048, FFT_FLT_4KR4_TWIDDLE, FFT_Flt_R4_W0_IF, FFT_Flt_R4_W0_FF, FFT_Flt_R4_W0_Win_IF,
         FFT_Flt_R4_W0_Win_FF},
        {8, 2048, FFT_FLT_4KR4_TWIDDLE, FFT_Flt_R8_W0_IF, FFT_Flt_R8_W0_FF, FFT_Flt_R8_W0_Win_IF,
         FFT_Flt_R8_W0_Win_FF},
    };
    const uint16_t* const bitRev[] = {FFT_R2_BIT_REV_N1, FFT_R2_BIT_REV_N4, FFT_R2_BIT_REV_N16,
                                      FFT_R2_BIT_REV_N64, FFT_R2_BIT_REV_N256};
    for (const auto& st : stages) {
        for (int lb = 0, b = 1; b <= 256; ++lb, b *= 4) {
            const int n = st.radix * b;
            const auto s = MakeSamples(Kind::kRandom, 2 * n, 900u + n);
            const std::vector<float> f(s.begin(), s.end());
            const auto win = RandomWindow(2 * n, 901u + n);
            const float* wp = win.data();
            const uint16_t* br = bitRev[lb];
            const std::function<void(float*)> firsts[] = {
                [&](float* w) { st.fIF(s.data(), w, b, br); },
                [&](float* w) { st.fFF(f.data(), w, b, br); },
                [&](float* w) { st.fWinIF(s.data(), w, b, br, wp); },
                [&](float* w) { st.fWinFF(f.data(), w, b, br, wp); },
            };
            for (int v = 0; v < 4; ++v) {
                auto whole = [&](float* w) {
                    firsts[v](w);
                    for (int L = st.radix; L < n; L *= 4) {
                        if (4 * L < n) {
                            FFT_Flt_R4_WM(w, st.twiddle, L, n / (4 * L), st.twiddleBase / (4 * L));
                        } else {
                            FFT_Flt_R4_WL(w, st.twiddle, L, st.twiddleBase / (4 * L));
                        }
                    }
                };
                Check("stages radix-" + std::to_string(st.radix),
                      "n=" + std::to_string(n) + " variant " + std::to_string(v), 2 * n,
                      Dft(s, v >= 2 ? wp : nullptr, true), 0, n - 1, kComplex, 1, whole);
            }
        }
    }
}

}  // namespace
