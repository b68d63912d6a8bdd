// Fast path of the power and magnitude transforms: the complex FFT in split format (real parts
// in the first half of the work buffer, imaginary parts in the second), so that every radix-4
// stage runs over contiguous real and imaginary runs with contiguous twiddles, four butterflies
// per vector step.
#include <cstring>

#include "dsp/FftInternal.h"

namespace fft_internal {
namespace {

inline V4 Load(const float* p) { return Load4(p); }
inline void Store(float* p, V4 v) { Store4(p, v); }

// One radix-4 butterfly (or four, with T = V4) on blocks a, b, c, d holding the sub-transforms
// of offsets 0, 2, 1, 3; w1..w3 are W^m, W^2m, W^3m.
template <typename T>
inline void Butterfly(T& ar, T& ai, T& br, T& bi, T& cr, T& ci, T& dr, T& di, T w1r, T w1i, T w2r,
                      T w2i, T w3r, T w3i) {
    const T x1r = cr * w1r - ci * w1i, x1i = cr * w1i + ci * w1r;
    const T x2r = br * w2r - bi * w2i, x2i = br * w2i + bi * w2r;
    const T x3r = dr * w3r - di * w3i, x3i = dr * w3i + di * w3r;
    const T s02r = ar + x2r, s02i = ai + x2i;
    const T d02r = ar - x2r, d02i = ai - x2i;
    const T s13r = x1r + x3r, s13i = x1i + x3i;
    const T d13r = x1r - x3r, d13i = x1i - x3i;
    ar = s02r + s13r;
    ai = s02i + s13i;
    cr = s02r - s13r;
    ci = s02i - s13i;
    br = d02r + d13i;
    bi = d02i - d13r;
    dr = d02r - d13i;
    di = d02i + d13r;
}

// Two butterflies of one group and the same two of the next group as one vector.
inline V4 LoadPair(const float* p0, const float* p1) { return V4{p0[0], p0[1], p1[0], p1[1]}; }

inline void StorePair(float* p0, float* p1, V4 v) {
    p0[0] = v[0];
    p0[1] = v[1];
    p1[0] = v[2];
    p1[1] = v[3];
}

void Radix4Stage(float* re, float* im, int L, int groups, const float* tw) {
    const float* w1r = tw;
    const float* w1i = tw + L;
    const float* w2r = tw + 2 * L;
    const float* w2i = tw + 3 * L;
    const float* w3r = tw + 4 * L;
    const float* w3i = tw + 5 * L;
    const int vecEnd = L & ~3;
    // Stages of length 6, 24, ... leave two butterflies per group; those of two neighbouring
    // groups are paired into one vector below.
    const bool pairTail = L - vecEnd == 2 && groups % 2 == 0;
    for (int g = 0; g < groups; ++g) {
        float* ar = re + 4 * L * g;
        float* ai = im + 4 * L * g;
        float* br = ar + L;
        float* bi = ai + L;
        float* cr = ar + 2 * L;
        float* ci = ai + 2 * L;
        float* dr = ar + 3 * L;
        float* di = ai + 3 * L;
        for (int m = 0; m < vecEnd; m += 4) {
            V4 var = Load(ar + m), vai = Load(ai + m), vbr = Load(br + m), vbi = Load(bi + m);
            V4 vcr = Load(cr + m), vci = Load(ci + m), vdr = Load(dr + m), vdi = Load(di + m);
            Butterfly<V4>(var, vai, vbr, vbi, vcr, vci, vdr, vdi, Load(w1r + m), Load(w1i + m),
                          Load(w2r + m), Load(w2i + m), Load(w3r + m), Load(w3i + m));
            Store(ar + m, var);
            Store(ai + m, vai);
            Store(br + m, vbr);
            Store(bi + m, vbi);
            Store(cr + m, vcr);
            Store(ci + m, vci);
            Store(dr + m, vdr);
            Store(di + m, vdi);
        }
        if (pairTail) continue;
        for (int m = vecEnd; m < L; ++m) {
            Butterfly<float>(ar[m], ai[m], br[m], bi[m], cr[m], ci[m], dr[m], di[m], w1r[m], w1i[m],
                             w2r[m], w2i[m], w3r[m], w3i[m]);
        }
    }
    if (!pairTail) return;
    const int m = vecEnd;
    const V4 t1r = LoadPair(w1r + m, w1r + m), t1i = LoadPair(w1i + m, w1i + m);
    const V4 t2r = LoadPair(w2r + m, w2r + m), t2i = LoadPair(w2i + m, w2i + m);
    const V4 t3r = LoadPair(w3r + m, w3r + m), t3i = LoadPair(w3i + m, w3i + m);
    for (int g = 0; g < groups; g += 2) {
        float* r0 = re + 4 * L * g + m;
        float* i0 = im + 4 * L * g + m;
        float* r1 = r0 + 4 * L;
        float* i1 = i0 + 4 * L;
        V4 v[8];
        for (int b = 0; b < 4; ++b) {
            v[2 * b] = LoadPair(r0 + b * L, r1 + b * L);
            v[2 * b + 1] = LoadPair(i0 + b * L, i1 + b * L);
        }
        Butterfly<V4>(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], t1r, t1i, t2r, t2i, t3r, t3i);
        for (int b = 0; b < 4; ++b) {
            StorePair(r0 + b * L, r1 + b * L, v[2 * b]);
            StorePair(i0 + b * L, i1 + b * L, v[2 * b + 1]);
        }
    }
}

template <bool kWindow, typename In>
void FirstStageDispatch(int radix, const In* input, const float* window, float* re, float* im,
                        int B, const uint16_t* bitrev) {
    switch (radix) {
        case 3:
            FirstStageSplit4<3, kWindow>(input, window, re, im, B, bitrev);
            break;
        case 6:
            FirstStageSplit4<6, kWindow>(input, window, re, im, B, bitrev);
            break;
        case 4:
            FirstStageSplit4<4, kWindow>(input, window, re, im, B, bitrev);
            break;
        default:
            FirstStageSplit4<8, kWindow>(input, window, re, im, B, bitrev);
            break;
    }
}

template <typename In>
void SplitFftT(const Plan& plan, const In* input, const float* window, float* work) {
    const int N = plan.points;
    const int B = plan.butterflies;
    if (B < 4) {
        switch (plan.radix) {
            case 3:
                FirstStage<3>(input, window, work, B, plan.bitrev, N);
                break;
            case 6:
                FirstStage<6>(input, window, work, B, plan.bitrev, N);
                break;
            case 4:
                FirstStage<4>(input, window, work, B, plan.bitrev, N);
                break;
            default:
                FirstStage<8>(input, window, work, B, plan.bitrev, N);
                break;
        }
    } else if (window != nullptr) {
        FirstStageDispatch<true>(plan.radix, input, window, work, work + N, B, plan.bitrev);
    } else {
        FirstStageDispatch<false>(plan.radix, input, window, work, work + N, B, plan.bitrev);
    }
    for (int L = plan.radix; L < N; L *= 4) {
        Radix4Stage(work, work + N, L, N / (4 * L), SplitTwiddles(L));
    }
}

}  // namespace

void SplitFft(const Plan& plan, const int16_t* input, const float* window, float* work) {
    SplitFftT(plan, input, window, work);
}

void SplitFft(const Plan& plan, const float* input, const float* window, float* work) {
    SplitFftT(plan, input, window, work);
}

}  // namespace fft_internal
