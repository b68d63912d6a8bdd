// Internal helpers of the FFT library (not for use outside dsp/Fft*.cpp and its tests).
#pragma once

#include <cstdint>
#include <cstring>

#include "dsp/Fft.h"

namespace fft_internal {

// cos(2*pi*t) and sin(2*pi*t) for a fraction of a turn t, evaluated in double precision by
// exact octant reduction and Taylor series; usable at compile time, so every table of the
// library is built by the compiler into read-only data.
constexpr double CosPoly(double x) {
    // cos x for |x| <= pi/4
    double x2 = x * x, term = 1.0, sum = 1.0;
    for (int i = 1; i <= 12; ++i) {
        term *= -x2 / ((2.0 * i - 1.0) * (2.0 * i));
        sum += term;
    }
    return sum;
}

constexpr double SinPoly(double x) {
    // sin x for |x| <= pi/4
    double x2 = x * x, term = x, sum = x;
    for (int i = 1; i <= 12; ++i) {
        term *= -x2 / ((2.0 * i) * (2.0 * i + 1.0));
        sum += term;
    }
    return sum;
}

constexpr double kTwoPi = 6.283185307179586476925286766559;

// cos(2*pi*num/den) for integers, den > 0.
constexpr double CosTurns(long num, long den) {
    long k = num % den;
    if (k < 0) k += den;
    // Work on the fraction t = k/den in [0, 1); the reductions below are exact in double.
    double t = static_cast<double>(k) / static_cast<double>(den);
    if (t > 0.5) t = 1.0 - t;
    double sign = 1.0;
    if (t > 0.25) {
        t = 0.5 - t;
        sign = -1.0;
    }
    if (t > 0.125) return sign * SinPoly(kTwoPi * (0.25 - t));
    return sign * CosPoly(kTwoPi * t);
}

// sin(2*pi*num/den) = cos(2*pi*(num/den - 1/4)) = cos(2*pi*(4*num - den)/(4*den)).
constexpr double SinTurns(long num, long den) { return CosTurns(4 * num - den, 4 * den); }

// Twiddles of the split-format radix-4 stages: for a stage whose sub-transforms have L points,
// 6*L floats: re(W^m)[L], im(W^m)[L], re(W^2m)[L], im(W^2m)[L], re(W^3m)[L], im(W^3m)[L] with
// W = e^(-j2pi/(4L)), m = 0 .. L-1 (contiguous per component, so the stage loops vectorise).
// Returns nullptr for an L that no supported size uses.
const float* SplitTwiddles(int L);

// Stage layout of one complex transform size of a family.
struct Plan {
    int points;              // N, complex points
    int radix;               // first-stage radix: 3 or 6 (3KR4), 4 or 8 (4KR4)
    int butterflies;         // first-stage butterflies, N / radix (a power of 4)
    const uint16_t* bitrev;  // FFT_R2_BIT_REV_N<butterflies>
    const float* twiddle;    // FFT_FLT_3KR4_TWIDDLE or FFT_FLT_4KR4_TWIDDLE
    int twiddleBase;         // 1536 or 2048
    const float* cosTable;   // FFT_FLT_COS_3072 or FFT_FLT_COS_4096 (real transforms)
    int cosTableSize;        // 3072 or 4096
};

enum class Family { k3KR4, k4KR4 };

// Fills `plan` for N complex points; false when the family does not support N.
bool MakePlan(Family family, int points, Plan* plan);

// Interleaved complex transform through the public stage routines; `window` may be null.
void ComplexFft(const Plan& plan, const int16_t* input, const float* window, float* work);
void ComplexFft(const Plan& plan, const float* input, const float* window, float* work);

// Split-format complex transform: re of X[k] at work[k], im at work[N + k]; `window` may be
// null. This is the fast path of the power and magnitude members.
// On processors with AVX it runs eight butterflies per vector step, else four; both give the
// same bits. SplitFftPortable always takes the four-lane path (for tests that compare them).
void SplitFft(const Plan& plan, const int16_t* input, const float* window, float* work);
void SplitFft(const Plan& plan, const float* input, const float* window, float* work);
void SplitFftPortable(const Plan& plan, const int16_t* input, const float* window, float* work);
void SplitFftPortable(const Plan& plan, const float* input, const float* window, float* work);

// Real-transform combine from the split layout of the N/2-point transform (re at work[k], im at
// work[N/2 + k]); power (magnitude == false) or scale * magnitude at float k.
void CombineSplit(int realLength, int tableSize, float* work, int firstBin, const float* cosTable,
                  bool magnitude, float scale);

// Pairs (k, N/2 - k) formed by the real-transform combine: k < PairEnd(N/2); for even N/2 the
// middle bin N/4 is formed on its own.
inline int PairEnd(int half) { return (half + 1) / 2; }

// Four floats processed as one value (compiles to SIMD registers on every target the compiler
// supports; unaligned loads and stores go through memcpy).
typedef float V4 __attribute__((vector_size(16)));

inline V4 Load4(const float* p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store4(float* p, V4 v) { std::memcpy(p, &v, sizeof v); }

// ---------------------------------------------------------------------------------------------
// First-stage butterflies: the R-point DFT of (xr, xi) into (yr, yi).
// ---------------------------------------------------------------------------------------------
constexpr float kSin60 = 0.8660254f;      // sqrt(3)/2
constexpr float kSqrtHalf = 0.70710678f;  // sqrt(2)/2

template <int R>
struct Dft;

template <>
struct Dft<3> {
    template <typename T>
    [[gnu::always_inline]] static inline void Run(const T* xr, const T* xi, T* yr, T* yi) {
        const T sr = xr[1] + xr[2], si = xi[1] + xi[2];
        const T dr = xr[1] - xr[2], di = xi[1] - xi[2];
        const T mr = xr[0] - 0.5f * sr, mi = xi[0] - 0.5f * si;
        yr[0] = xr[0] + sr;
        yi[0] = xi[0] + si;
        // X1 = m - j*sin60*d, X2 = m + j*sin60*d
        yr[1] = mr + kSin60 * di;
        yi[1] = mi - kSin60 * dr;
        yr[2] = mr - kSin60 * di;
        yi[2] = mi + kSin60 * dr;
    }
};

template <>
struct Dft<4> {
    template <typename T>
    [[gnu::always_inline]] static inline void Run(const T* xr, const T* xi, T* yr, T* yi) {
        const T s02r = xr[0] + xr[2], s02i = xi[0] + xi[2];
        const T d02r = xr[0] - xr[2], d02i = xi[0] - xi[2];
        const T s13r = xr[1] + xr[3], s13i = xi[1] + xi[3];
        const T d13r = xr[1] - xr[3], d13i = xi[1] - xi[3];
        yr[0] = s02r + s13r;
        yi[0] = s02i + s13i;
        yr[2] = s02r - s13r;
        yi[2] = s02i - s13i;
        // X1 = d02 - j*d13, X3 = d02 + j*d13
        yr[1] = d02r + d13i;
        yi[1] = d02i - d13r;
        yr[3] = d02r - d13i;
        yi[3] = d02i + d13r;
    }
};

template <>
struct Dft<6> {
    template <typename T>
    [[gnu::always_inline]] static inline void Run(const T* xr, const T* xi, T* yr, T* yi) {
        // Even and odd halves as 3-point DFTs, joined with W6^k: X[k] = E[k] + W6^k O[k],
        // X[k+3] = E[k] - W6^k O[k].
        const T er[3] = {xr[0], xr[2], xr[4]}, ei[3] = {xi[0], xi[2], xi[4]};
        const T orr[3] = {xr[1], xr[3], xr[5]}, oi[3] = {xi[1], xi[3], xi[5]};
        T Er[3], Ei[3], Or[3], Oi[3];
        Dft<3>::Run(er, ei, Er, Ei);
        Dft<3>::Run(orr, oi, Or, Oi);
        // W6 = 0.5 - j*sin60, W6^2 = -0.5 - j*sin60
        const T t1r = 0.5f * Or[1] + kSin60 * Oi[1], t1i = 0.5f * Oi[1] - kSin60 * Or[1];
        const T t2r = -0.5f * Or[2] + kSin60 * Oi[2], t2i = -0.5f * Oi[2] - kSin60 * Or[2];
        yr[0] = Er[0] + Or[0];
        yi[0] = Ei[0] + Oi[0];
        yr[3] = Er[0] - Or[0];
        yi[3] = Ei[0] - Oi[0];
        yr[1] = Er[1] + t1r;
        yi[1] = Ei[1] + t1i;
        yr[4] = Er[1] - t1r;
        yi[4] = Ei[1] - t1i;
        yr[2] = Er[2] + t2r;
        yi[2] = Ei[2] + t2i;
        yr[5] = Er[2] - t2r;
        yi[5] = Ei[2] - t2i;
    }
};

template <>
struct Dft<8> {
    template <typename T>
    [[gnu::always_inline]] static inline void Run(const T* xr, const T* xi, T* yr, T* yi) {
        const T er[4] = {xr[0], xr[2], xr[4], xr[6]}, ei[4] = {xi[0], xi[2], xi[4], xi[6]};
        const T orr[4] = {xr[1], xr[3], xr[5], xr[7]}, oi[4] = {xi[1], xi[3], xi[5], xi[7]};
        T Er[4], Ei[4], Or[4], Oi[4];
        Dft<4>::Run(er, ei, Er, Ei);
        Dft<4>::Run(orr, oi, Or, Oi);
        // W8 = s(1 - j), W8^2 = -j, W8^3 = -s(1 + j), s = sqrt(2)/2
        const T t1r = kSqrtHalf * (Or[1] + Oi[1]), t1i = kSqrtHalf * (Oi[1] - Or[1]);
        const T t2r = Oi[2], t2i = -Or[2];
        const T t3r = kSqrtHalf * (Oi[3] - Or[3]), t3i = -kSqrtHalf * (Or[3] + Oi[3]);
        yr[0] = Er[0] + Or[0];
        yi[0] = Ei[0] + Oi[0];
        yr[4] = Er[0] - Or[0];
        yi[4] = Ei[0] - Oi[0];
        yr[1] = Er[1] + t1r;
        yi[1] = Ei[1] + t1i;
        yr[5] = Er[1] - t1r;
        yi[5] = Ei[1] - t1i;
        yr[2] = Er[2] + t2r;
        yi[2] = Ei[2] + t2i;
        yr[6] = Er[2] - t2r;
        yi[6] = Ei[2] - t2i;
        yr[3] = Er[3] + t3r;
        yi[3] = Ei[3] + t3i;
        yr[7] = Er[3] - t3r;
        yi[7] = Ei[3] - t3i;
    }
};

// First stage: butterfly j reads R complex inputs at float offsets bitrev[j] + 2*t*B (windowed
// when `window` is set) and writes its R outputs to elements j*R .. j*R+R-1, interleaved
// (imStride == 0: re at 2e, im at 2e+1) or split (re at e, im at imStride + e).
template <int R, typename In>
inline void FirstStage(const In* input, const float* window, float* out, int B,
                       const uint16_t* bitrev, int imStride) {
    for (int j = 0; j < B; ++j) {
        float xr[R], xi[R], yr[R], yi[R];
        const int p = bitrev[j];
        for (int t = 0; t < R; ++t) {
            const int o = p + 2 * t * B;
            xr[t] = static_cast<float>(input[o]);
            xi[t] = static_cast<float>(input[o + 1]);
            if (window != nullptr) {
                xr[t] *= window[o];
                xi[t] *= window[o + 1];
            }
        }
        Dft<R>::Run(xr, xi, yr, yi);
        float* dst = out + (imStride == 0 ? 2 * j * R : j * R);
        if (imStride == 0) {
            for (int t = 0; t < R; ++t) {
                dst[2 * t] = yr[t];
                dst[2 * t + 1] = yi[t];
            }
        } else {
            for (int t = 0; t < R; ++t) {
                dst[t] = yr[t];
                dst[imStride + t] = yi[t];
            }
        }
    }
}

// The members of one family, shared by Fft3KR4.cpp and Fft4KR4.cpp. Every member checks the
// size first and leaves the work buffer untouched for a size the family does not support.
template <Family F>
struct Members {
    template <typename In>
    static void ComplexOut(int N, const In* input, float* work, const float* window) {
        Plan plan;
        if (!MakePlan(F, N, &plan)) return;
        ComplexFft(plan, input, window, work);
    }

    template <typename In>
    static void RealComplexOut(int N, const In* input, float* work, int firstBin) {
        Plan plan;
        if (N % 2 != 0 || !MakePlan(F, N / 2, &plan)) return;
        ComplexFft(plan, input, nullptr, work);
        FFT_Flt_Combine_Complex(N, plan.cosTableSize, work, firstBin, plan.cosTable);
    }

    template <typename In>
    static int Power(int N, const In* input, const float* window, float* work, int firstBin) {
        Plan plan;
        if (N % 2 != 0 || !MakePlan(F, N / 2, &plan)) return 0;
        SplitFft(plan, input, window, work);
        CombineSplit(N, plan.cosTableSize, work, firstBin, plan.cosTable, false, 1.0f);
        return N / 2;
    }

    template <typename In>
    static void Magnitude(int N, const In* input, const float* window, float* work, int firstBin,
                          float scale) {
        Plan plan;
        if (N % 2 != 0 || !MakePlan(F, N / 2, &plan)) return;
        SplitFft(plan, input, window, work);
        CombineSplit(N, plan.cosTableSize, work, firstBin, plan.cosTable, true, scale);
    }
};

}  // namespace fft_internal
