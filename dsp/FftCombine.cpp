// Real-transform post-processing: turns the N/2-point complex FFT Z of N real samples (taken as
// complex pairs) into bins of the N-point real spectrum X.
//
// For a pair of bins (k, N/2 - k) with c = cos(2pi k/N), s = sin(2pi k/N):
//   A = Z[N/2-k].re - Z[k].re, B = Z[k].im + Z[N/2-k].im, t1 = A c - B s, t2 = A s + B c,
//   X[k]       = 0.5 * ((Z[N/2-k].re + Z[k].re + t2) + j (Z[k].im - Z[N/2-k].im + t1)),
//   X[N/2 - k] = 0.5 * ((Z[N/2-k].re + Z[k].re - t2) + j (t1 - (Z[k].im - Z[N/2-k].im))),
// and for even N/2 the middle bin X[N/4] = conj(Z[N/4]).
// c = table[s*k] and s = table[T/4 - s*k] with table stride T/N (T = 3072 or 4096).
#include <cmath>
#include <cstring>

#include "dsp/Fft.h"
#include "dsp/FftInternal.h"

namespace {

enum class Out { kComplex, kPower, kMagnitude };

inline int ClampFirst(int firstBin) { return firstBin < 1 ? 1 : firstBin; }

template <Out kind>
void CombineInterleaved(int N, int tableSize, float* work, int firstBin, const float* cosTable,
                        float scale) {
    const int half = N / 2;
    const int f = ClampFirst(firstBin);
    const int stride = tableSize / N;
    const int quarterT = tableSize / 4;
    const int kEnd = fft_internal::PairEnd(half);
    for (int k = f; k < kEnd; ++k) {
        float* z = work + 2 * k;
        float* y = work + 2 * (half - k);
        const float c = cosTable[stride * k];
        const float s = cosTable[quarterT - stride * k];
        const float A = y[0] - z[0];
        const float B = z[1] + y[1];
        const float t1 = A * c - B * s;
        const float t2 = A * s + B * c;
        const float sr = y[0] + z[0];
        const float di = z[1] - y[1];
        const float lr = sr + t2, li = di + t1;  // 2 X[k]
        const float hr = sr - t2, hi = t1 - di;  // 2 X[N/2 - k]
        if (kind == Out::kComplex) {
            z[0] = 0.5f * lr;
            z[1] = 0.5f * li;
            y[0] = 0.5f * hr;
            y[1] = 0.5f * hi;
        } else if (kind == Out::kPower) {
            z[0] = 0.25f * (lr * lr + li * li);
            y[0] = 0.25f * (hr * hr + hi * hi);
        } else {
            z[0] = 0.5f * scale * std::sqrt(lr * lr + li * li);
            y[0] = 0.5f * scale * std::sqrt(hr * hr + hi * hi);
        }
    }
    if (half % 2 == 0 && f <= half / 2) {
        float* z = work + half;  // complex element N/4
        if (kind == Out::kComplex) {
            z[1] = -z[1];
        } else if (kind == Out::kPower) {
            z[0] = z[0] * z[0] + z[1] * z[1];
        } else {
            z[0] = scale * std::sqrt(z[0] * z[0] + z[1] * z[1]);
        }
    }
    if (kind != Out::kComplex) {
        // Bin k was written at the real slot of complex element k; move it down to float k.
        // Ascending order never overwrites a value before it is moved (k < 2k).
        for (int k = f; k <= half - f; ++k) work[k] = work[2 * k];
    }
}

using fft_internal::V4;
inline V4 Load(const float* p) { return fft_internal::Load4(p); }
inline void Store(float* p, V4 v) { fft_internal::Store4(p, v); }

inline V4 Reverse(V4 v) { return V4{v[3], v[2], v[1], v[0]}; }

}  // namespace

void FFT_Flt_Combine_Complex(int N, int tableSize, float* work, int firstBin,
                             const float* cosTable) {
    CombineInterleaved<Out::kComplex>(N, tableSize, work, firstBin, cosTable, 1.0f);
}

void FFT_Flt_Combine_Power(int N, int tableSize, float* work, int firstBin, const float* cosTable) {
    CombineInterleaved<Out::kPower>(N, tableSize, work, firstBin, cosTable, 1.0f);
}

void FFT_Flt_Combine_Magnitude(int N, int tableSize, float* work, int firstBin,
                               const float* cosTable, float scale) {
    CombineInterleaved<Out::kMagnitude>(N, tableSize, work, firstBin, cosTable, scale);
}

namespace fft_internal {

// Same combine on the split layout (re at work[k], im at work[N/2 + k]). Results go straight to
// float k: the pair (k, N/2 - k) only overwrites the real parts it has just read, and the
// imaginary half is never written. Four pairs per step, the upper bins loaded and stored
// reversed.
void CombineSplit(int N, int tableSize, float* work, int firstBin, const float* cosTable,
                  bool magnitude, float scale) {
    const int half = N / 2;
    float* re = work;
    const float* im = work + half;
    const int f = ClampFirst(firstBin);
    const int stride = tableSize / N;
    const int quarterT = tableSize / 4;
    const int kEnd = PairEnd(half);
    int k = f;
    for (; k + 4 <= kEnd; k += 4) {
        const V4 zr = Load(re + k), zi = Load(im + k);
        const V4 yr = Reverse(Load(re + half - k - 3)), yi = Reverse(Load(im + half - k - 3));
        const int i0 = stride * k;
        const V4 c{cosTable[i0], cosTable[i0 + stride], cosTable[i0 + 2 * stride],
                   cosTable[i0 + 3 * stride]};
        const V4 s{cosTable[quarterT - i0], cosTable[quarterT - i0 - stride],
                   cosTable[quarterT - i0 - 2 * stride], cosTable[quarterT - i0 - 3 * stride]};
        const V4 A = yr - zr, B = zi + yi;
        const V4 t1 = A * c - B * s, t2 = A * s + B * c;
        const V4 sr = yr + zr, di = zi - yi;
        const V4 lr = sr + t2, li = di + t1;
        const V4 hr = sr - t2, hi = t1 - di;
        V4 lo = lr * lr + li * li;
        V4 hiP = hr * hr + hi * hi;
        if (!magnitude) {
            lo *= 0.25f;
            hiP *= 0.25f;
        } else {
            const float h = 0.5f * scale;
            for (int i = 0; i < 4; ++i) {
                lo[i] = h * std::sqrt(lo[i]);
                hiP[i] = h * std::sqrt(hiP[i]);
            }
        }
        Store(re + k, lo);
        Store(re + half - k - 3, Reverse(hiP));
    }
    for (; k < kEnd; ++k) {
        const float c = cosTable[stride * k];
        const float s = cosTable[quarterT - stride * k];
        const float zr = re[k], zi = im[k], yr = re[half - k], yi = im[half - k];
        const float A = yr - zr, B = zi + yi;
        const float t1 = A * c - B * s, t2 = A * s + B * c;
        const float sr = yr + zr, di = zi - yi;
        const float lr = sr + t2, li = di + t1;
        const float hr = sr - t2, hi = t1 - di;
        const float lo = lr * lr + li * li;
        const float hiP = hr * hr + hi * hi;
        if (!magnitude) {
            re[k] = 0.25f * lo;
            re[half - k] = 0.25f * hiP;
        } else {
            re[k] = 0.5f * scale * std::sqrt(lo);
            re[half - k] = 0.5f * scale * std::sqrt(hiP);
        }
    }
    if (half % 2 == 0 && f <= half / 2) {
        const int q = half / 2;
        const float p = re[q] * re[q] + im[q] * im[q];
        re[q] = magnitude ? scale * std::sqrt(p) : p;
    }
}

}  // namespace fft_internal
