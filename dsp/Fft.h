// Single-precision FFT library shared by the decoder engines.
//
// Two families of mixed-radix complex FFTs and the real-input transforms built on them:
//   3KR4: N (complex points) = 3*4^k or 6*4^k, k = 0..4: 3, 6, 12, 24, ... 768, 1536
//         (real lengths twice that: 6, 12, ... 3072). Radix-3 or radix-6 first stage.
//   4KR4: N (complex points) = 4*4^k or 8*4^k, k = 0..4: 4, 8, 16, ... 1024, 2048
//         (real lengths 8, 16, ... 4096). Radix-4 or radix-8 first stage.
// Every complex transform is the forward DFT X[k] = sum x[n] e^(-j2pi kn/N), no normalisation,
// result in natural order. Inputs are `_IF` (16-bit integers, converted to float without
// scaling) or `_FF` (floats). `_Win_` members first multiply every real input value at float
// position n (real and imaginary parts counted separately) by window[n].
//
// Work buffer: caller-owned floats. A complex transform of N points needs 2*N floats and
// leaves X[k] at floats 2k (re) and 2k+1 (im). A real transform of N samples needs N floats
// (N/2 complex values). Nothing is allocated; every table is read-only data built at compile
// time. All routines are re-entrant. The input and the work buffer must not overlap.
//
// Real transforms of N samples treat the samples as N/2 complex values (even samples real,
// odd samples imaginary), run the N/2-point complex FFT and combine the spectrum for the bins
// k = firstBin .. N/2 - firstBin:
//   PowerOut:       float k of the work buffer = |X[k]|^2; returns N/2.
//   MagOut_Scale:   float k of the work buffer = scale * |X[k]|.
//   ComplexOut:     complex element k (floats 2k, 2k+1) = X[k].
// X is the N-point DFT of the real (windowed) input. Floats outside that bin range hold no
// spectrum. A firstBin below 1 is taken as 1 (bin 0 would need Z[N/2], which does not
// exist); a firstBin above N/4 leaves no bin to compute.
//
// Unsupported sizes: the members leave the work buffer untouched and the PowerOut members
// return 0 (instead of reading and writing out of bounds).
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Tables (read-only).
// ---------------------------------------------------------------------------------------------

// Twiddles: entry k (6 floats) = W^k, W^2k, W^3k, each as (cos, -sin) i.e. (re, im), with
// W = e^(-j2pi/1536) for 3KR4 (384 entries) and W = e^(-j2pi/2048) for 4KR4 (512 entries).
// A stage of a transform of N points uses every (1536/N)-th (2048/N-th) entry.
constexpr int FFT_FLT_3KR4_TWIDDLE_ENTRIES = 384;
constexpr int FFT_FLT_4KR4_TWIDDLE_ENTRIES = 512;
extern const float (&FFT_FLT_3KR4_TWIDDLE)[FFT_FLT_3KR4_TWIDDLE_ENTRIES * 6];
extern const float (&FFT_FLT_4KR4_TWIDDLE)[FFT_FLT_4KR4_TWIDDLE_ENTRIES * 6];

// Cosines for the real-transform combine: FFT_FLT_COS_3072[k] = cos(2pi k/3072), k = 0..767;
// FFT_FLT_COS_4096[k] = cos(2pi k/4096), k = 0..1023. Sines are read at the mirrored index.
extern const float (&FFT_FLT_COS_3072)[768];
extern const float (&FFT_FLT_COS_4096)[1024];

// Bit-reversal tables of the first stage, M = 2^b entries: entry i = 2 * bitrev_b(i), the float
// offset of complex input element bitrev_b(i) at which butterfly i starts (the butterfly's
// other inputs follow at a stride of M complex elements).
extern const uint16_t (&FFT_R2_BIT_REV_N1)[1];
extern const uint16_t (&FFT_R2_BIT_REV_N2)[2];
extern const uint16_t (&FFT_R2_BIT_REV_N4)[4];
extern const uint16_t (&FFT_R2_BIT_REV_N8)[8];
extern const uint16_t (&FFT_R2_BIT_REV_N16)[16];
extern const uint16_t (&FFT_R2_BIT_REV_N32)[32];
extern const uint16_t (&FFT_R2_BIT_REV_N64)[64];
extern const uint16_t (&FFT_R2_BIT_REV_N128)[128];
extern const uint16_t (&FFT_R2_BIT_REV_N256)[256];
extern const uint16_t (&FFT_R2_BIT_REV_N512)[512];

// Windows (periodic, single precision):
//   FFT_FLT_HAMMING_2048[n] = 25/46 - 21/46 * cos(2pi n/2048), n = 0..2047 (ZELT engine);
//   FFT_FLT_HANN_256[n]     = 0.5 - 0.5 * cos(2pi n/256), n = 0..255 (TESK 2 engine).
extern const float (&FFT_FLT_HAMMING_2048)[2048];
extern const float (&FFT_FLT_HANN_256)[256];

// ---------------------------------------------------------------------------------------------
// 3KR4 family. N is the complex point count for ComplexIn members and the real length for
// RealIn members. Input: interleaved re/im (ComplexIn) or plain samples (RealIn).
// ---------------------------------------------------------------------------------------------
void FFT_Flt_3KR4_ComplexIn_ComplexOut_IF(int N, const int16_t* input, float* work);
void FFT_Flt_3KR4_ComplexIn_ComplexOut_FF(int N, const float* input, float* work);
void FFT_Flt_3KR4_ComplexIn_ComplexOut_Win_IF(int N, const int16_t* input, float* work,
                                              const float* window);
void FFT_Flt_3KR4_ComplexIn_ComplexOut_Win_FF(int N, const float* input, float* work,
                                              const float* window);
void FFT_Flt_3KR4_RealIn_ComplexOut_IF(int N, const int16_t* input, float* work, int firstBin);
void FFT_Flt_3KR4_RealIn_ComplexOut_FF(int N, const float* input, float* work, int firstBin);
int FFT_Flt_3KR4_RealIn_PowerOut_IF(int N, const int16_t* input, float* work, int firstBin);
int FFT_Flt_3KR4_RealIn_PowerOut_FF(int N, const float* input, float* work, int firstBin);
int FFT_Flt_3KR4_RealIn_PowerOut_Win_IF(int N, const int16_t* input, const float* window,
                                        float* work, int firstBin);
int FFT_Flt_3KR4_RealIn_PowerOut_Win_FF(int N, const float* input, const float* window, float* work,
                                        int firstBin);
void FFT_Flt_3KR4_RealIn_MagOut_Win_Scale_IF(int N, const int16_t* input, const float* window,
                                             float* work, int firstBin, float scale);
void FFT_Flt_3KR4_RealIn_MagOut_Win_Scale_FF(int N, const float* input, const float* window,
                                             float* work, int firstBin, float scale);

// ---------------------------------------------------------------------------------------------
// 4KR4 family: the same members for power-of-two sizes.
// ---------------------------------------------------------------------------------------------
void FFT_Flt_4KR4_ComplexIn_ComplexOut_IF(int N, const int16_t* input, float* work);
void FFT_Flt_4KR4_ComplexIn_ComplexOut_FF(int N, const float* input, float* work);
void FFT_Flt_4KR4_ComplexIn_ComplexOut_Win_IF(int N, const int16_t* input, float* work,
                                              const float* window);
void FFT_Flt_4KR4_ComplexIn_ComplexOut_Win_FF(int N, const float* input, float* work,
                                              const float* window);
void FFT_Flt_4KR4_RealIn_ComplexOut_IF(int N, const int16_t* input, float* work, int firstBin);
void FFT_Flt_4KR4_RealIn_ComplexOut_FF(int N, const float* input, float* work, int firstBin);
int FFT_Flt_4KR4_RealIn_PowerOut_IF(int N, const int16_t* input, float* work, int firstBin);
int FFT_Flt_4KR4_RealIn_PowerOut_FF(int N, const float* input, float* work, int firstBin);
int FFT_Flt_4KR4_RealIn_PowerOut_Win_IF(int N, const int16_t* input, const float* window,
                                        float* work, int firstBin);
int FFT_Flt_4KR4_RealIn_PowerOut_Win_FF(int N, const float* input, const float* window, float* work,
                                        int firstBin);
void FFT_Flt_4KR4_RealIn_MagOut_Win_Scale_IF(int N, const int16_t* input, const float* window,
                                             float* work, int firstBin, float scale);
void FFT_Flt_4KR4_RealIn_MagOut_Win_Scale_FF(int N, const float* input, const float* window,
                                             float* work, int firstBin, float scale);

// ---------------------------------------------------------------------------------------------
// Real-transform post-processing. The work buffer holds Z, the N/2-point complex FFT of the N
// real samples taken as complex pairs (interleaved re/im). tableSize is 3072 (cosTable =
// FFT_FLT_COS_3072, N in the 3KR4 real lengths) or 4096 (FFT_FLT_COS_4096, 4KR4 real lengths).
// Results for bins firstBin .. N/2 - firstBin as described at the top: Complex writes X[k] at
// complex element k, Power |X[k]|^2 at float k, Magnitude scale*|X[k]| at float k.
// ---------------------------------------------------------------------------------------------
void FFT_Flt_Combine_Complex(int N, int tableSize, float* work, int firstBin,
                             const float* cosTable);
void FFT_Flt_Combine_Power(int N, int tableSize, float* work, int firstBin, const float* cosTable);
void FFT_Flt_Combine_Magnitude(int N, int tableSize, float* work, int firstBin,
                               const float* cosTable, float scale);

// ---------------------------------------------------------------------------------------------
// Stage routines on an interleaved complex work buffer.
//
// First stage (no twiddles): `butterflies` = N / radix butterflies. Butterfly j reads the radix
// complex inputs at float offsets bitrev[j] + 2*t*butterflies (t = 0 .. radix-1) of `input`
// (windowed by window[offset] for the re and window[offset+1] for the im value in `_Win_`
// members) and writes their radix-point DFT to complex elements j*radix .. j*radix+radix-1 of
// `work`. bitrev is the FFT_R2_BIT_REV_N<butterflies> table. Radix 3 and 6 belong to 3KR4,
// radix 4 and 8 to 4KR4.
//
// Radix-4 stage with twiddles: the work buffer is split into groups of 4*groupLen complex
// elements; each group holds four natural-order sub-transforms of groupLen points, of the
// input subsequences with offsets 0, 2, 1, 3 (bit-reversed order). The stage turns every group
// into its natural-order 4*groupLen-point transform. twiddle is FFT_FLT_3KR4_TWIDDLE or
// FFT_FLT_4KR4_TWIDDLE; butterfly m of a group uses table entry m*twiddleStride, so
// twiddleStride = 1536/(4*groupLen) (3KR4) or 2048/(4*groupLen) (4KR4).
// FFT_Flt_R4_WL is the same stage with a single group (the last stage).
// ---------------------------------------------------------------------------------------------
void FFT_Flt_R3_W0_IF(const int16_t* input, float* work, int butterflies, const uint16_t* bitrev);
void FFT_Flt_R3_W0_FF(const float* input, float* work, int butterflies, const uint16_t* bitrev);
void FFT_Flt_R3_W0_Win_IF(const int16_t* input, float* work, int butterflies,
                          const uint16_t* bitrev, const float* window);
void FFT_Flt_R3_W0_Win_FF(const float* input, float* work, int butterflies, const uint16_t* bitrev,
                          const float* window);
void FFT_Flt_R6_W0_IF(const int16_t* input, float* work, int butterflies, const uint16_t* bitrev);
void FFT_Flt_R6_W0_FF(const float* input, float* work, int butterflies, const uint16_t* bitrev);
void FFT_Flt_R6_W0_Win_IF(const int16_t* input, float* work, int butterflies,
                          const uint16_t* bitrev, const float* window);
void FFT_Flt_R6_W0_Win_FF(const float* input, float* work, int butterflies, const uint16_t* bitrev,
                          const float* window);
void FFT_Flt_R4_W0_IF(const int16_t* input, float* work, int butterflies, const uint16_t* bitrev);
void FFT_Flt_R4_W0_FF(const float* input, float* work, int butterflies, const uint16_t* bitrev);
void FFT_Flt_R4_W0_Win_IF(const int16_t* input, float* work, int butterflies,
                          const uint16_t* bitrev, const float* window);
void FFT_Flt_R4_W0_Win_FF(const float* input, float* work, int butterflies, const uint16_t* bitrev,
                          const float* window);
void FFT_Flt_R8_W0_IF(const int16_t* input, float* work, int butterflies, const uint16_t* bitrev);
void FFT_Flt_R8_W0_FF(const float* input, float* work, int butterflies, const uint16_t* bitrev);
void FFT_Flt_R8_W0_Win_IF(const int16_t* input, float* work, int butterflies,
                          const uint16_t* bitrev, const float* window);
void FFT_Flt_R8_W0_Win_FF(const float* input, float* work, int butterflies, const uint16_t* bitrev,
                          const float* window);
void FFT_Flt_R4_WM(float* work, const float* twiddle, int groupLen, int groupCount,
                   int twiddleStride);
void FFT_Flt_R4_WL(float* work, const float* twiddle, int groupLen, int twiddleStride);
