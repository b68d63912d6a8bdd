// Fast path of the power and magnitude transforms: the complex FFT in split format (real parts
// in the first half of the work buffer, imaginary parts in the second), so that every radix-4
// stage runs over contiguous real and imaginary runs with contiguous twiddles, four butterflies
// per vector step (eight on processors with AVX).
#include <cstring>

#include "dsp/FftInternal.h"

namespace fft_internal {
namespace {

// Eight floats as one value: one 256-bit register in the AVX instance of the transform below.
// Helpers take it by reference and are all inlined into that instance, so the calling
// convention the compilers warn about (-Wpsabi, for Load's return value) never applies.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
typedef float V8 __attribute__((vector_size(32)));

template <typename V>
[[gnu::always_inline]] inline V Load(const float* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename V>
[[gnu::always_inline]] inline void Store(float* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}

// One radix-4 butterfly (or a vector of them, with T = V4 or V8) on blocks a, b, c, d holding
// the sub-transforms of offsets 0, 2, 1, 3; w1..w3 are W^m, W^2m, W^3m. Every lane does the
// scalar operations in the same order, so all widths give the same bits.
template <typename T>
[[gnu::always_inline]] inline void Butterfly(T& ar, T& ai, T& br, T& bi, T& cr, T& ci, T& dr,
                                             T& di, const T& w1r, const T& w1i, const T& w2r,
                                             const T& w2i, const T& w3r, const T& w3i) {
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
[[gnu::always_inline]] inline V4 LoadPair(const float* p0, const float* p1) {
    return V4{p0[0], p0[1], p1[0], p1[1]};
}

[[gnu::always_inline]] inline void StorePair(float* p0, float* p1, V4 v) {
    p0[0] = v[0];
    p0[1] = v[1];
    p1[0] = v[2];
    p1[1] = v[3];
}

// Butterflies m .. m + lanes - 1 of one group as vectors of type V (V = float: butterfly m).
template <typename V>
[[gnu::always_inline]] inline void Step(float* ar, float* ai, int L, int m, const float* tw) {
    float* br = ar + L;
    float* bi = ai + L;
    float* cr = ar + 2 * L;
    float* ci = ai + 2 * L;
    float* dr = ar + 3 * L;
    float* di = ai + 3 * L;
    V var = Load<V>(ar + m), vai = Load<V>(ai + m), vbr = Load<V>(br + m), vbi = Load<V>(bi + m);
    V vcr = Load<V>(cr + m), vci = Load<V>(ci + m), vdr = Load<V>(dr + m), vdi = Load<V>(di + m);
    Butterfly<V>(var, vai, vbr, vbi, vcr, vci, vdr, vdi, Load<V>(tw + m), Load<V>(tw + L + m),
                 Load<V>(tw + 2 * L + m), Load<V>(tw + 3 * L + m), Load<V>(tw + 4 * L + m),
                 Load<V>(tw + 5 * L + m));
    Store(ar + m, var);
    Store(ai + m, vai);
    Store(br + m, vbr);
    Store(bi + m, vbi);
    Store(cr + m, vcr);
    Store(ci + m, vci);
    Store(dr + m, vdr);
    Store(di + m, vdi);
}

// One radix-4 stage over `groups` groups of 4 L elements; the twiddles tw hold W^m, W^2m,
// W^3m (re, im) as six runs of L. Runs of eight butterflies go as V8 when kWide is set, then
// runs of four as V4; what is left is scalar, or paired across two groups.
template <bool kWide>
[[gnu::always_inline]] inline void Radix4StageT(float* re, float* im, int L, int groups,
                                                const float* tw) {
    const float* w1r = tw;
    const float* w1i = tw + L;
    const float* w2r = tw + 2 * L;
    const float* w2i = tw + 3 * L;
    const float* w3r = tw + 4 * L;
    const float* w3i = tw + 5 * L;
    const int wideEnd = kWide ? L & ~7 : 0;
    const int vecEnd = L & ~3;
    // Stages of length 6, 24, ... leave two butterflies per group; those of two neighbouring
    // groups are paired into one vector below.
    const bool pairTail = L - vecEnd == 2 && groups % 2 == 0;
    for (int g = 0; g < groups; ++g) {
        float* ar = re + 4 * L * g;
        float* ai = im + 4 * L * g;
        int m = 0;
        for (; m < wideEnd; m += 8) Step<V8>(ar, ai, L, m, tw);
        for (; m < vecEnd; m += 4) Step<V4>(ar, ai, L, m, tw);
        if (pairTail) continue;
        for (; m < L; ++m) Step<float>(ar, ai, L, m, tw);
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

// Four consecutive complex values (interleaved re/im) as a vector of real and a vector of
// imaginary parts.
[[gnu::always_inline]] inline void LoadComplex4(const float* s, V4& re, V4& im) {
    const V4 a = Load4(s), b = Load4(s + 4);
    re = V4{a[0], a[2], b[0], b[2]};
    im = V4{a[1], a[3], b[1], b[3]};
}

[[gnu::always_inline]] inline void LoadComplex4(const int16_t* s, V4& re, V4& im) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Each 32-bit lane holds one (re, im) pair of 16-bit values: re in the low half.
    typedef int32_t I4 __attribute__((vector_size(16)));
    typedef uint32_t U4 __attribute__((vector_size(16)));
    U4 pairs;
    std::memcpy(&pairs, s, sizeof pairs);
    const I4 r = reinterpret_cast<I4>(pairs << 16) >> 16;  // sign-extending shifts
    const I4 i = reinterpret_cast<I4>(pairs) >> 16;
    re = __builtin_convertvector(r, V4);
    im = __builtin_convertvector(i, V4);
#else
    re = V4{static_cast<float>(s[0]), static_cast<float>(s[2]), static_cast<float>(s[4]),
            static_cast<float>(s[6])};
    im = V4{static_cast<float>(s[1]), static_cast<float>(s[3]), static_cast<float>(s[5]),
            static_cast<float>(s[7])};
#endif
}

// Rows v[0..3] (lane l of row t is output t of butterfly l) stored as columns: dst[j[l] + t0 + t]
// = v[t][l].
[[gnu::always_inline]] inline void StoreTransposed(const V4* v, float* dst, const int* j,
                                                   int t0) {
    const V4 ab01 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
    const V4 ab23 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
    const V4 cd01 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
    const V4 cd23 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
    Store4(dst + j[0] + t0, __builtin_shufflevector(ab01, cd01, 0, 1, 4, 5));
    Store4(dst + j[1] + t0, __builtin_shufflevector(ab01, cd01, 2, 3, 6, 7));
    Store4(dst + j[2] + t0, __builtin_shufflevector(ab23, cd23, 0, 1, 4, 5));
    Store4(dst + j[3] + t0, __builtin_shufflevector(ab23, cd23, 2, 3, 6, 7));
}

// Two outputs a, b of four butterflies (one per lane): dst[j[l] + t0] = a[l], dst[j[l] + t0 + 1]
// = b[l].
[[gnu::always_inline]] inline void StorePairs(V4 a, V4 b, float* dst, const int* j, int t0) {
    const V4 lo = __builtin_shufflevector(a, b, 0, 4, 1, 5);
    const V4 hi = __builtin_shufflevector(a, b, 2, 6, 3, 7);
    std::memcpy(dst + j[0] + t0, &lo, 2 * sizeof(float));
    std::memcpy(dst + j[1] + t0, reinterpret_cast<const float*>(&lo) + 2, 2 * sizeof(float));
    std::memcpy(dst + j[2] + t0, &hi, 2 * sizeof(float));
    std::memcpy(dst + j[3] + t0, reinterpret_cast<const float*>(&hi) + 2, 2 * sizeof(float));
}

// Consecutive complex values as one vector of real and one of imaginary parts: four, or eight
// as two halves of four.
template <typename In>
[[gnu::always_inline]] inline void LoadComplexV(const In* s, V4& re, V4& im) {
    LoadComplex4(s, re, im);
}
template <typename In>
[[gnu::always_inline]] inline void LoadComplexV(const In* s, V8& re, V8& im) {
    V4 r0, i0, r1, i1;
    LoadComplex4(s, r0, i0);
    LoadComplex4(s + 8, r1, i1);
    re = __builtin_shufflevector(r0, r1, 0, 1, 2, 3, 4, 5, 6, 7);
    im = __builtin_shufflevector(i0, i1, 0, 1, 2, 3, 4, 5, 6, 7);
}

// Four lanes of a vector, starting at lane `first`.
[[gnu::always_inline]] inline V4 Quarter(const V4& v, int) { return v; }
[[gnu::always_inline]] inline V4 Quarter(const V8& v, int first) {
    return first == 0 ? __builtin_shufflevector(v, v, 0, 1, 2, 3)
                      : __builtin_shufflevector(v, v, 4, 5, 6, 7);
}

// Split-format first stage, one butterfly per lane of V (four or eight per step): the
// butterflies whose first inputs are the consecutive complex elements p, p+1, ... read
// consecutive data (deinterleaved into vectors); their outputs go to the butterfly slots
// j = bitrev[p + l] / 2 (bit reversal is its own inverse). Needs B to be a multiple of the lanes.
template <int R, bool kWindow, typename In, typename V>
[[gnu::always_inline]] inline void FirstStageSplitV(const In* input, const float* window,
                                                    float* re, float* im, int B,
                                                    const uint16_t* bitrev) {
    constexpr int kLanes = sizeof(V) / sizeof(float);
    for (int p = 0; p < B; p += kLanes) {
        V xr[R], xi[R], yr[R], yi[R];
        for (int t = 0; t < R; ++t) {
            const int o = 2 * (p + t * B);
            LoadComplexV(input + o, xr[t], xi[t]);
            if (kWindow) {
                V wr, wi;
                LoadComplexV(window + o, wr, wi);
                xr[t] *= wr;
                xi[t] *= wi;
            }
        }
        Dft<R>::Run(xr, xi, yr, yi);
        int j[kLanes];
        for (int l = 0; l < kLanes; ++l) j[l] = (bitrev[p + l] >> 1) * R;
        // Outputs t .. t+3 of butterfly l are consecutive: four at a time go out as one
        // vector after a 4 x 4 transpose (lanes are butterflies, vectors are outputs).
        constexpr int kWhole = R / 4 * 4;
        for (int t = 0; t < kWhole; t += 4) {
            for (int q = 0; q < kLanes; q += 4) {
                const V4 r[4] = {Quarter(yr[t], q), Quarter(yr[t + 1], q), Quarter(yr[t + 2], q),
                                 Quarter(yr[t + 3], q)};
                const V4 i[4] = {Quarter(yi[t], q), Quarter(yi[t + 1], q), Quarter(yi[t + 2], q),
                                 Quarter(yi[t + 3], q)};
                StoreTransposed(r, re, j + q, t);
                StoreTransposed(i, im, j + q, t);
            }
        }
        if (R - kWhole == 2) {
            // The last two outputs of each butterfly as one pair of floats.
            for (int q = 0; q < kLanes; q += 4) {
                StorePairs(Quarter(yr[kWhole], q), Quarter(yr[kWhole + 1], q), re, j + q, kWhole);
                StorePairs(Quarter(yi[kWhole], q), Quarter(yi[kWhole + 1], q), im, j + q, kWhole);
            }
        } else {
            for (int l = 0; l < kLanes; ++l) {
                for (int t = kWhole; t < R; ++t) {
                    re[j[l] + t] = yr[t][l];
                    im[j[l] + t] = yi[t][l];
                }
            }
        }
    }
}

template <bool kWindow, typename V, typename In>
[[gnu::always_inline]] inline void FirstStageDispatch(int radix, const In* input,
                                                      const float* window, float* re, float* im,
                                                      int B, const uint16_t* bitrev) {
    switch (radix) {
        case 3:
            FirstStageSplitV<3, kWindow, In, V>(input, window, re, im, B, bitrev);
            break;
        case 6:
            FirstStageSplitV<6, kWindow, In, V>(input, window, re, im, B, bitrev);
            break;
        case 4:
            FirstStageSplitV<4, kWindow, In, V>(input, window, re, im, B, bitrev);
            break;
        default:
            FirstStageSplitV<8, kWindow, In, V>(input, window, re, im, B, bitrev);
            break;
    }
}

// The whole transform; kWide runs eight butterflies per vector step where the sizes allow
// (first stages of at least eight butterflies, stage runs of eight).
template <bool kWide, typename In>
[[gnu::always_inline]] inline void SplitFftT(const Plan& plan, const In* input,
                                             const float* window, float* work) {
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
    } else if (kWide && B >= 8) {
        if (window != nullptr)
            FirstStageDispatch<true, V8>(plan.radix, input, window, work, work + N, B, plan.bitrev);
        else
            FirstStageDispatch<false, V8>(plan.radix, input, window, work, work + N, B, plan.bitrev);
    } else if (window != nullptr) {
        FirstStageDispatch<true, V4>(plan.radix, input, window, work, work + N, B, plan.bitrev);
    } else {
        FirstStageDispatch<false, V4>(plan.radix, input, window, work, work + N, B, plan.bitrev);
    }
    for (int L = plan.radix; L < N; L *= 4) {
        Radix4StageT<kWide>(work, work + N, L, N / (4 * L), SplitTwiddles(L));
    }
}

template <typename In>
void SplitFftNarrow(const Plan& plan, const In* input, const float* window, float* work) {
    SplitFftT<false>(plan, input, window, work);
}

#if defined(__x86_64__) || defined(__i386__)
// The same transform with 256-bit registers, for processors with AVX (chosen once at run
// time). Every lane does the operations of the four-lane code in the same order and no fused
// multiply-add is enabled, so the results are the same bits.
template <typename In>
__attribute__((target("avx"))) void SplitFftAvx(const Plan& plan, const In* input,
                                                const float* window, float* work) {
    SplitFftT<true>(plan, input, window, work);
}

template <typename In>
using SplitFn = void (*)(const Plan&, const In*, const float*, float*);

template <typename In>
SplitFn<In> ChooseSplitFft() {
    __builtin_cpu_init();  // in case this runs before the processor model was read
    return __builtin_cpu_supports("avx") ? SplitFftAvx<In> : SplitFftNarrow<In>;
}
#else
template <typename In>
auto ChooseSplitFft() {
    return SplitFftNarrow<In>;
}
#endif

}  // namespace

// The choice is made on first use (not by a namespace-scope initialiser), so a transform run
// while other libraries are still being initialised finds it made.
void SplitFft(const Plan& plan, const int16_t* input, const float* window, float* work) {
    static const auto split = ChooseSplitFft<int16_t>();
    split(plan, input, window, work);
}

void SplitFft(const Plan& plan, const float* input, const float* window, float* work) {
    static const auto split = ChooseSplitFft<float>();
    split(plan, input, window, work);
}

void SplitFftPortable(const Plan& plan, const int16_t* input, const float* window, float* work) {
    SplitFftNarrow(plan, input, window, work);
}

void SplitFftPortable(const Plan& plan, const float* input, const float* window, float* work) {
    SplitFftNarrow(plan, input, window, work);
}

}  // namespace fft_internal
