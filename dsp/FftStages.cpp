// Stage routines of the FFT library on interleaved complex work buffers: first stages without
// twiddles (radix 3, 6, 4, 8) and radix-4 stages with twiddles.
#include <cstring>
#include <initializer_list>

#include "dsp/Fft.h"
#include "dsp/FftInternal.h"

using fft_internal::FirstStage;

#define FFT_FIRST_STAGE_MEMBERS(R)                                                    \
    void FFT_Flt_R##R##_W0_IF(const int16_t* input, float* work, int butterflies,     \
                              const uint16_t* bitrev) {                               \
        FirstStage<R>(input, nullptr, work, butterflies, bitrev, 0);                  \
    }                                                                                 \
    void FFT_Flt_R##R##_W0_FF(const float* input, float* work, int butterflies,       \
                              const uint16_t* bitrev) {                               \
        FirstStage<R>(input, nullptr, work, butterflies, bitrev, 0);                  \
    }                                                                                 \
    void FFT_Flt_R##R##_W0_Win_IF(const int16_t* input, float* work, int butterflies, \
                                  const uint16_t* bitrev, const float* window) {      \
        FirstStage<R>(input, window, work, butterflies, bitrev, 0);                   \
    }                                                                                 \
    void FFT_Flt_R##R##_W0_Win_FF(const float* input, float* work, int butterflies,   \
                                  const uint16_t* bitrev, const float* window) {      \
        FirstStage<R>(input, window, work, butterflies, bitrev, 0);                   \
    }

FFT_FIRST_STAGE_MEMBERS(3)
FFT_FIRST_STAGE_MEMBERS(6)
FFT_FIRST_STAGE_MEMBERS(4)
FFT_FIRST_STAGE_MEMBERS(8)

#undef FFT_FIRST_STAGE_MEMBERS

namespace {

// One radix-4 butterfly with twiddles, on scalars or on vectors of four butterflies (every
// lane does the scalar operations in the same order, so both give the same bits).
template <typename T>
inline void Butterfly(T ar, T ai, T br, T bi, T cr, T ci, T dr, T di, const T* w, T* out) {
    const T x1r = cr * w[0] - ci * w[1], x1i = cr * w[1] + ci * w[0];
    const T x2r = br * w[2] - bi * w[3], x2i = br * w[3] + bi * w[2];
    const T x3r = dr * w[4] - di * w[5], x3i = dr * w[5] + di * w[4];
    const T s02r = ar + x2r, s02i = ai + x2i;
    const T d02r = ar - x2r, d02i = ai - x2i;
    const T s13r = x1r + x3r, s13i = x1i + x3i;
    const T d13r = x1r - x3r, d13i = x1i - x3i;
    out[0] = s02r + s13r;  // a
    out[1] = s02i + s13i;
    out[2] = s02r - s13r;  // c
    out[3] = s02i - s13i;
    out[4] = d02r + d13i;  // b
    out[5] = d02i - d13r;
    out[6] = d02r - d13i;  // d
    out[7] = d02i + d13r;
}

typedef float V4 __attribute__((vector_size(16)));

// Four interleaved complex values at p as (real parts, imaginary parts), and back.
inline void LoadComplex4(const float* p, V4* re, V4* im) {
    V4 lo, hi;
    std::memcpy(&lo, p, sizeof lo);
    std::memcpy(&hi, p + 4, sizeof hi);
    *re = __builtin_shufflevector(lo, hi, 0, 2, 4, 6);
    *im = __builtin_shufflevector(lo, hi, 1, 3, 5, 7);
}
inline void StoreComplex4(float* p, V4 re, V4 im) {
    const V4 lo = __builtin_shufflevector(re, im, 0, 4, 1, 5);
    const V4 hi = __builtin_shufflevector(re, im, 2, 6, 3, 7);
    std::memcpy(p, &lo, sizeof lo);
    std::memcpy(p + 4, &hi, sizeof hi);
}

}  // namespace

void FFT_Flt_R4_WM(float* work, const float* twiddle, int groupLen, int groupCount,
                   int twiddleStride) {
    const int L = groupLen;
    const int vectorLen = L / 4 * 4;
    for (int g = 0; g < groupCount; ++g) {
        // Sub-transforms of the group, in bit-reversed order of their input offsets: block 0
        // holds offset 0, block 1 offset 2, block 2 offset 1, block 3 offset 3.
        float* a = work + 8 * L * g;
        float* b = a + 2 * L;
        float* c = a + 4 * L;
        float* d = a + 6 * L;
        for (int m = 0; m < vectorLen; m += 4) {
            V4 w[6];  // W^m, W^2m, W^3m (re, im) of four butterflies
            for (int l = 0; l < 4; ++l) {
                const float* wl = twiddle + 6 * (m + l) * twiddleStride;
                for (int t = 0; t < 6; ++t) w[t][l] = wl[t];
            }
            V4 ar, ai, br, bi, cr, ci, dr, di, out[8];
            LoadComplex4(a + 2 * m, &ar, &ai);
            LoadComplex4(b + 2 * m, &br, &bi);
            LoadComplex4(c + 2 * m, &cr, &ci);
            LoadComplex4(d + 2 * m, &dr, &di);
            Butterfly(ar, ai, br, bi, cr, ci, dr, di, w, out);
            StoreComplex4(a + 2 * m, out[0], out[1]);
            StoreComplex4(c + 2 * m, out[2], out[3]);
            StoreComplex4(b + 2 * m, out[4], out[5]);
            StoreComplex4(d + 2 * m, out[6], out[7]);
        }
        for (int m = vectorLen; m < L; ++m) {
            float out[8];
            Butterfly(a[2 * m], a[2 * m + 1], b[2 * m], b[2 * m + 1], c[2 * m], c[2 * m + 1],
                      d[2 * m], d[2 * m + 1], twiddle + 6 * m * twiddleStride, out);
            a[2 * m] = out[0];
            a[2 * m + 1] = out[1];
            c[2 * m] = out[2];
            c[2 * m + 1] = out[3];
            b[2 * m] = out[4];
            b[2 * m + 1] = out[5];
            d[2 * m] = out[6];
            d[2 * m + 1] = out[7];
        }
    }
}

void FFT_Flt_R4_WL(float* work, const float* twiddle, int groupLen, int twiddleStride) {
    FFT_Flt_R4_WM(work, twiddle, groupLen, 1, twiddleStride);
}

namespace fft_internal {

bool MakePlan(Family family, int points, Plan* plan) {
    static const uint16_t* const kBitRev[] = {FFT_R2_BIT_REV_N1, FFT_R2_BIT_REV_N4,
                                              FFT_R2_BIT_REV_N16, FFT_R2_BIT_REV_N64,
                                              FFT_R2_BIT_REV_N256};
    const int small = family == Family::k3KR4 ? 3 : 4;
    for (int radix : {small, 2 * small}) {
        int b = 1;
        for (int k = 0; k <= 4; ++k, b *= 4) {
            if (radix * b != points) continue;
            plan->points = points;
            plan->radix = radix;
            plan->butterflies = b;
            plan->bitrev = kBitRev[k];
            if (family == Family::k3KR4) {
                plan->twiddle = FFT_FLT_3KR4_TWIDDLE;
                plan->twiddleBase = 1536;
                plan->cosTable = FFT_FLT_COS_3072;
                plan->cosTableSize = 3072;
            } else {
                plan->twiddle = FFT_FLT_4KR4_TWIDDLE;
                plan->twiddleBase = 2048;
                plan->cosTable = FFT_FLT_COS_4096;
                plan->cosTableSize = 4096;
            }
            return true;
        }
    }
    return false;
}

namespace {

template <typename In>
void ComplexFftT(const Plan& plan, const In* input, const float* window, float* work) {
    const int B = plan.butterflies;
    switch (plan.radix) {
        case 3:
            FirstStage<3>(input, window, work, B, plan.bitrev, 0);
            break;
        case 6:
            FirstStage<6>(input, window, work, B, plan.bitrev, 0);
            break;
        case 4:
            FirstStage<4>(input, window, work, B, plan.bitrev, 0);
            break;
        default:
            FirstStage<8>(input, window, work, B, plan.bitrev, 0);
            break;
    }
    for (int L = plan.radix; L < plan.points; L *= 4) {
        const int groups = plan.points / (4 * L);
        const int stride = plan.twiddleBase / (4 * L);
        if (groups > 1) {
            FFT_Flt_R4_WM(work, plan.twiddle, L, groups, stride);
        } else {
            FFT_Flt_R4_WL(work, plan.twiddle, L, stride);
        }
    }
}

}  // namespace

void ComplexFft(const Plan& plan, const int16_t* input, const float* window, float* work) {
    ComplexFftT(plan, input, window, work);
}

void ComplexFft(const Plan& plan, const float* input, const float* window, float* work) {
    ComplexFftT(plan, input, window, work);
}

}  // namespace fft_internal
