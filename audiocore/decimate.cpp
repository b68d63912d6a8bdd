// Block-based sample-rate converters: mixing, FIR decimator cascades, IIR low-pass and spline
// interpolation over caller-owned control blocks. The tables live in decimate_tables.cpp.
#include "audiocore/decimate.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "audiocore/decimate_tables.h"

namespace {

struct CodeInfo {
    int code;
    int in_len;
    int out_len;
    int method;
};

const CodeInfo kCodes[] = {
    {8, 768, 64, 1},   {9, 882, 80, 2},   {10, 450, 50, 1},  {11, 480, 80, 1},  {30, 480, 80, 1},
    {12, 441, 80, 2},  {13, 480, 120, 1}, {47, 480, 120, 1}, {50, 480, 120, 1}, {60, 480, 120, 1},
    {70, 480, 120, 1}, {14, 480, 160, 1}, {31, 480, 160, 1}, {51, 480, 160, 1}, {15, 441, 160, 2},
    {32, 441, 160, 2}, {16, 480, 240, 1}, {33, 480, 240, 1}, {40, 480, 240, 1}, {52, 480, 240, 1},
    {61, 480, 240, 1}, {72, 480, 240, 1}, {17, 441, 320, 3}, {35, 441, 320, 3}, {18, 480, 480, 5},
    {36, 480, 480, 5}, {45, 480, 480, 5}, {55, 480, 480, 5}, {34, 240, 160, 1}, {41, 320, 147, 6},
    {42, 640, 441, 6}, {43, 160, 147, 6}, {44, 320, 441, 6}, {46, 640, 147, 6}, {53, 441, 240, 4},
    {54, 160, 120, 1}, {56, 441, 480, 4}, {71, 441, 480, 4},
};

const CodeInfo* FindCode(int ratio) {
    if (ratio < 8 || ratio > 72) return nullptr;
    for (const CodeInfo& c : kCodes)
        if (c.code == ratio) return &c;
    return nullptr;
}

const char kBadRatio[] = "Bad convert ratio";
const char kNullControl[] = "NULL control block pointer";
const char kNotInited[] = "Control block not inited";
const char kNegative[] = "p->in_byte_count < 0";
const char kStereoAlign[] = "p->in_byte_count bad stereo alignment";
const char kMonoAlign[] = "p->in_byte_count bad mono alignment";
const char kNullData[] = "NULL data pointer";

// Single-precision result to a sample: 16-bit results are truncated toward zero and clamped so
// that a full-scale input never wraps; float results pass unchanged.
inline void Store(float v, int16_t* dst) {
    if (v >= 32767.0f)
        *dst = 32767;
    else if (v <= -32768.0f)
        *dst = -32768;
    else
        *dst = static_cast<int16_t>(v);
}
inline void Store(float v, float* dst) { *dst = v; }

// Keeps the newest DS_HISTORY samples of (history, block) in front of the block.
template <typename T>
void KeepHistory(T* block, int n, int keep) {
    std::memmove(block - keep, block - keep + n, sizeof(T) * keep);
}

// The FIR decimators compute kLanes outputs at once, one per vector lane. Every lane performs
// exactly the operations of the plain per-output loop, in the same order (centre tap first,
// then the symmetric pairs from the innermost out), so the results are bit for bit those of
// a scalar filter. The input is first converted to float and split by phase (every second or
// third sample), so that the samples one tap needs for consecutive outputs are adjacent.
typedef float VecF __attribute__((vector_size(16)));
constexpr int kLanes = 4;
// Outputs per pass; the phase arrays of one pass hold DS_HISTORY / 2 + kChunk samples.
constexpr int kChunk = 256;

inline VecF Load(const float* p) {
    VecF v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

typedef int16_t VecS8 __attribute__((vector_size(16)));
typedef int16_t VecS4 __attribute__((vector_size(8)));
typedef int32_t VecI __attribute__((vector_size(16)));

// Eight 16-bit samples as two vectors of four floats: each sample is doubled into a 32-bit
// lane and shifted down with its sign, which every SIMD level converts without scalar code.
inline void Widen(VecS8 s, VecF* lo, VecF* hi) {
    const VecS8 l = __builtin_shufflevector(s, s, 0, 0, 1, 1, 2, 2, 3, 3);
    const VecS8 h = __builtin_shufflevector(s, s, 4, 4, 5, 5, 6, 6, 7, 7);
    VecI li, hi32;
    std::memcpy(&li, &l, sizeof li);
    std::memcpy(&hi32, &h, sizeof hi32);
    *lo = __builtin_convertvector(li >> 16, VecF);
    *hi = __builtin_convertvector(hi32 >> 16, VecF);
}

// Four consecutive m of every phase from 16-bit input, 16 samples loaded at src (the phases
// use the first 4 * factor of them).
template <int factor>
inline void SplitFour(const int16_t* src, float (*phase)[DS_HISTORY / 2 + kChunk + kLanes],
                      int m) {
    VecS8 a, b;
    std::memcpy(&a, src, sizeof a);
    std::memcpy(&b, src + 8, sizeof b);
    VecF f0, f1, f2, f3;
    Widen(a, &f0, &f1);
    Widen(b, &f2, &f3);
    VecF v[factor];
    if (factor == 2) {
        v[0] = __builtin_shufflevector(f0, f1, 0, 2, 4, 6);
        v[1] = __builtin_shufflevector(f0, f1, 1, 3, 5, 7);
    } else {
        v[0] = __builtin_shufflevector(__builtin_shufflevector(f0, f1, 0, 3, 6, 7), f2, 0, 1, 2, 5);
        v[1] = __builtin_shufflevector(__builtin_shufflevector(f0, f1, 1, 4, 7, 7), f2, 0, 1, 2, 6);
        v[factor - 1] =
            __builtin_shufflevector(__builtin_shufflevector(f0, f1, 2, 5, 5, 5), f2, 0, 1, 4, 7);
    }
    for (int r = 0; r < factor; ++r) std::memcpy(&phase[r][m], &v[r], sizeof(VecF));
}

// Converts n samples at src to float phase arrays: phase r gets src[factor * m + r]. Samples
// past n (in the last, partial group of lanes) are zero. The conversion is exact, so how it
// is done does not change a result; the whole groups go without a bounds test per sample.
template <typename In, int factor>
void SplitPhases(const In* src, int n, float (*phase)[DS_HISTORY / 2 + kChunk + kLanes],
                 int perPhase) {
    const int whole = std::min(perPhase, n / factor);
    int m0 = 0;
    if (std::is_same<In, int16_t>::value)
        for (; m0 + 4 <= whole && factor * m0 + 16 <= n; m0 += 4)
            SplitFour<factor>(reinterpret_cast<const int16_t*>(src) + factor * m0, phase, m0);
    for (int m = m0; m < whole; ++m)
        for (int r = 0; r < factor; ++r) phase[r][m] = static_cast<float>(src[factor * m + r]);
    for (int m = whole; m < perPhase; ++m) {
        for (int r = 0; r < factor; ++r) {
            const int i = factor * m + r;
            phase[r][m] = i < n ? static_cast<float>(src[i]) : 0.0f;
        }
    }
}

// Stores one vector of results: four whole lanes at once, clamped as Store does (the same
// bounds, then truncation toward zero), or the lanes of a partial group one by one.
inline void StoreLanes(VecF acc, int lanes, int16_t* dst) {
    if (lanes < kLanes) {
        for (int l = 0; l < lanes; ++l) Store(acc[l], dst + l);
        return;
    }
    const VecF hi = {32767.0f, 32767.0f, 32767.0f, 32767.0f};
    const VecF lo = {-32768.0f, -32768.0f, -32768.0f, -32768.0f};
    acc = acc >= hi ? hi : acc;
    acc = acc <= lo ? lo : acc;
    const VecS4 v = __builtin_convertvector(__builtin_convertvector(acc, VecI), VecS4);
    std::memcpy(dst, &v, sizeof v);
}
inline void StoreLanes(VecF acc, int lanes, float* dst) {
    std::memcpy(dst, &acc, sizeof(float) * static_cast<size_t>(lanes));
}

// Half-band: output k centred on input 2k - 22 (taps reach 2k - 45 .. 2k + 1).
template <typename In, typename Out>
void Decimate2(In* in, Out* out, int out_count, int gain) {
    const float* h = NyquistHalf + 23;
    const float g = static_cast<float>(gain);
    float phase[2][DS_HISTORY / 2 + kChunk + kLanes];
    for (int k0 = 0; k0 < out_count; k0 += kChunk) {
        const int count = out_count - k0 < kChunk ? out_count - k0 : kChunk;
        const int padded = (count + kLanes - 1) / kLanes * kLanes;
        // Samples in[2 k0 - 72 ..]: even ones are the centres, odd ones the tap pairs.
        SplitPhases<In, 2>(in + 2 * k0 - DS_HISTORY, DS_HISTORY + 2 * count, phase,
                           DS_HISTORY / 2 + padded);
        const float* even = phase[0] + DS_HISTORY / 2 - 11;  // even[k] = in[2k - 22]
        const float* odd = phase[1] + DS_HISTORY / 2 - 11;   // odd[k + q] = in[2k - 21 + 2q]
        for (int k = 0; k < padded; k += kLanes) {
            VecF acc = h[0] * Load(even + k);
#pragma GCC unroll 12
            for (int j = 1; j <= 23; j += 2) {
                // c[-j] = in[2k - 22 - j] = odd[k - (j + 1) / 2], c[j] = odd[k + (j - 1) / 2]
                acc += h[j] * (Load(odd + k - (j + 1) / 2) + Load(odd + k + (j - 1) / 2));
            }
            acc *= g;
            StoreLanes(acc, count - k < kLanes ? count - k : kLanes, out + k0 + k);
        }
    }
    KeepHistory(in, 2 * out_count, DS_HISTORY);
}

// Third-band: output k centred on input 3k - 33 (taps reach 3k - 68 .. 3k + 2).
template <typename In, typename Out>
void Decimate3(In* in, Out* out, int out_count, int gain) {
    const float* h = NyquistThird + 35;
    const float g = static_cast<float>(gain);
    float phase[3][DS_HISTORY / 2 + kChunk + kLanes];
    for (int k0 = 0; k0 < out_count; k0 += kChunk) {
        const int count = out_count - k0 < kChunk ? out_count - k0 : kChunk;
        const int padded = (count + kLanes - 1) / kLanes * kLanes;
        // Samples in[3 k0 - 72 ..]; phase r at m is in[3 (k0 + m) - 72 + r].
        SplitPhases<In, 3>(in + 3 * k0 - DS_HISTORY, DS_HISTORY + 3 * count, phase,
                           DS_HISTORY / 3 + padded);
        // p[r][k + q] = in[3k - 33 + 3q + r]
        const float* p[3] = {phase[0] + 13, phase[1] + 13, phase[2] + 13};
        for (int k = 0; k < padded; k += kLanes) {
            VecF acc = h[0] * Load(p[0] + k);
#pragma GCC unroll 24
            for (int t = 0; t < 24; ++t) {
                // The non-zero taps j = 1, 2, 4, 5, ... 35 in increasing order.
                const int j = t / 2 * 3 + 1 + t % 2;
                const int q = j / 3, r = j % 3;
                // c[j] = in[3k - 33 + 3q + r]; c[-j] = in[3k - 33 - 3(q + 1) + (3 - r)]
                acc += h[j] * (Load(p[3 - r] + k - q - 1) + Load(p[r] + k + q));
            }
            acc *= g;
            StoreLanes(acc, count - k < kLanes ? count - k : kLanes, out + k0 + k);
        }
    }
    KeepHistory(in, 3 * out_count, DS_HISTORY);
}

const float* IirTable(int ratio) {
    switch (ratio) {
        case 9:
        case 12:
        case 46:
            return sos_44k_8k;
        case 15:
        case 32:
            return sos_22k_8k;
        case 35:
        case 42:
            return sos_22k_16k;
        case 41:
        case 53:
            return sos_44k_24k;
        default:
            return nullptr;
    }
}

// Four direct-form-II sections in cascade. `offset` is added to every other input sample to
// keep the recursion away from denormals and limit cycles on digital silence.
template <typename T>
void LowPass(const float* sos, float* state, int32_t* toggle, T* x, int n, float offset) {
    if (!sos) return;
    for (int i = 0; i < n; ++i) {
        float v = static_cast<float>(x[i]) + (*toggle ? offset : 0.0f);
        *toggle ^= 1;
        for (int s = 0; s < 4; ++s) {
            const float* c = sos + 5 * s;
            float w1 = state[2 * s], w2 = state[2 * s + 1];
            float w = v + c[0] * w1 + c[1] * w2;
            v = c[2] * w + c[3] * w1 + c[4] * w2;
            state[2 * s + 1] = w1;
            state[2 * s] = w;
        }
        Store(v, x + i);
    }
}

struct SplineTable {
    const int32_t* steps;
    const float (*coef)[6];
    int entries;     // used entries per run
    int in_per_run;  // input samples consumed per run
};

const SplineTable kDss = {DSS_table, DSC_table, 160, 441};
const SplineTable kUss = {USS_table, USC_table, 160, 147};
const SplineTable kZss = {ZSS_table, ZSC_table, 320, 441};

bool Table22k(int ratio, SplineTable* t) {
    switch (ratio) {
        case 41:
            *t = {RSS4822_table, RSC4822_table, 147, 320};
            return true;
        case 42:
            *t = {RSS3222_table, RSC3222_table, 441, 640};
            return true;
        case 43:
            *t = {RSS2422_table, RSC2422_table, 147, 160};
            return true;
        case 44:
            *t = {RSS1622_table, RSC1622_table, 441, 320};
            return true;
        case 46:
            *t = {RSS9622_table, RSC9622_table, 147, 640};
            return true;
        default:
            return false;
    }
}

// Runs the table over in_count samples (whole runs) starting five samples before the block.
// stride 2 takes every second entry and advances by the sum of both steps.
template <typename T>
int Spline(const SplineTable& t, int stride, T* in, int in_count, T* out, float gain) {
    if (!in || !out || in_count <= 0 || in_count % t.in_per_run != 0) return -1;
    const int runs = in_count / t.in_per_run;
    const T* x = in - 5;
    int n = 0;
    for (int r = 0; r < runs; ++r) {
        for (int m = 0; m < t.entries; m += stride) {
            const float* c = t.coef[m];
            float y = c[0] * static_cast<float>(x[0]) + c[1] * static_cast<float>(x[1]) +
                      c[2] * static_cast<float>(x[2]) + c[3] * static_cast<float>(x[3]) +
                      c[4] * static_cast<float>(x[4]) + c[5] * static_cast<float>(x[5]);
            Store(y * gain, out + n++);
            int step = t.steps[m];
            if (stride == 2 && m + 1 < t.entries) step += t.steps[m + 1];
            x += step;
        }
    }
    KeepHistory(in, in_count, 5);
    return n;
}

template <typename T>
int Splines08(int ratio, T* in, int in_count, T* out, float gain) {
    return Spline(kDss, (ratio == 9 || ratio == 12) ? 2 : 1, in, in_count, out, gain);
}
template <typename T>
int Splines16(int, T* in, int in_count, T* out, float gain) {
    return Spline(kZss, 1, in, in_count, out, gain);
}
template <typename T>
int Splines22(int ratio, T* in, int in_count, T* out, float gain) {
    SplineTable t;
    if (!Table22k(ratio, &t)) return -1;
    return Spline(t, 1, in, in_count, out, gain);
}
template <typename T>
int Splines24(int ratio, T* in, int in_count, T* out, float gain) {
    return Spline(kUss, ratio == 53 ? 2 : 1, in, in_count, out, gain);
}

// Per-type operations used by the generic block processing.
template <typename W>
struct Ops;

template <>
struct Ops<int16_t> {
    static void Dec2(int16_t* in, int16_t* out, int n, int g) { decimate2_i16_i16(in, out, n, g); }
    static void Dec3(int16_t* in, int16_t* out, int n, int g) { decimate3_i16_i16(in, out, n, g); }
};
template <>
struct Ops<float> {
    static void Dec2(float* in, float* out, int n, int g) { decimate2_f32_f32(in, out, n, g); }
    static void Dec3(float* in, float* out, int n, int g) { decimate3_f32_f32(in, out, n, g); }
};

template <typename Ctl, typename W>
int Cascade(Ctl* p, W* out) {
    W* block = p->work + DS_HISTORY;
    W* s2 = p->stage2 + DS_HISTORY;
    W* s3 = p->stage3 + DS_HISTORY;
    switch (p->ratio) {
        case 8:
            Ops<W>::Dec2(block, s2, 384, 1);
            Ops<W>::Dec2(s2, s3, 192, 1);
            Ops<W>::Dec3(s3, out, 64, 1);
            return 64;
        case 10:
            Ops<W>::Dec3(block, s2, 150, 1);
            Ops<W>::Dec3(s2, out, 50, 1);
            return 50;
        case 11:
        case 30:
            Ops<W>::Dec2(block, s2, 240, 1);
            Ops<W>::Dec3(s2, out, 80, 1);
            return 80;
        case 13:
        case 47:
        case 50:
        case 60:
        case 70:
            Ops<W>::Dec2(block, s2, 240, 1);
            Ops<W>::Dec2(s2, out, 120, 1);
            return 120;
        case 14:
        case 31:
        case 51:
            Ops<W>::Dec3(block, out, 160, 1);
            return 160;
        case 16:
        case 33:
        case 40:
        case 52:
        case 61:
        case 72:
            Ops<W>::Dec2(block, out, 240, 1);
            return 240;
        case 34:  // 3:2 - one zero after every sample (240 -> 480), third-band with gain 2
            for (int i = 0; i < 240; ++i) {
                s2[2 * i] = block[i];
                s2[2 * i + 1] = 0;
            }
            Ops<W>::Dec3(s2, out, 160, 2);
            return 160;
        case 54:  // 4:3 - two zeros after every sample (160 -> 480), half, half with gain 3
            for (int i = 0; i < 160; ++i) {
                s2[3 * i] = block[i];
                s2[3 * i + 1] = 0;
                s2[3 * i + 2] = 0;
            }
            Ops<W>::Dec2(s2, s3, 240, 1);
            Ops<W>::Dec2(s3, out, 120, 3);
            return 120;
        default:
            return -1;
    }
}

template <typename Ctl, typename W>
void ProcessBlock(Ctl* p, W* out, float offset) {
    W* block = p->work + DS_HISTORY;
    switch (p->method) {
        case 1:
            Cascade(p, out);
            break;
        case 2:
            if (p->ratio == 9) {
                W* s2 = p->stage2 + DS_HISTORY;
                Ops<W>::Dec2(block, s2, 441, 1);
                LowPass(IirTable(p->ratio), p->iir_state, &p->toggle, s2, 441, offset);
                Splines08(p->ratio, s2, 441, out, 1.0f);
            } else {
                LowPass(IirTable(p->ratio), p->iir_state, &p->toggle, block, p->in_block_len,
                        offset);
                Splines08(p->ratio, block, p->in_block_len, out, 1.0f);
            }
            break;
        case 3: {
            // 22050 -> 16000 as 44100 -> 16000: one zero after every sample, then the
            // 44100 -> 16000 low-pass and splines (code 32) with gain 2 for the zeros.
            W* s2 = p->stage2 + DS_HISTORY;
            const int n = p->in_block_len;
            for (int i = 0; i < n; ++i) {
                s2[2 * i] = block[i];
                s2[2 * i + 1] = 0;
            }
            const int32_t code = p->ratio, method = p->method, in_len = p->in_block_len;
            p->ratio = 32;
            p->method = 2;
            p->in_block_len = 2 * n;
            LowPass(IirTable(p->ratio), p->iir_state, &p->toggle, s2, 2 * n, offset);
            Splines08(p->ratio, s2, 2 * n, out, 2.0f);
            p->ratio = code;
            p->method = method;
            p->in_block_len = in_len;
            break;
        }
        case 4:
            LowPass(IirTable(p->ratio), p->iir_state, &p->toggle, block, p->in_block_len, offset);
            Splines24(p->ratio, block, p->in_block_len, out, 1.0f);
            break;
        case 5:
            std::memcpy(out, block, sizeof(W) * p->in_block_len);
            break;
        case 6:
            LowPass(IirTable(p->ratio), p->iir_state, &p->toggle, block, p->in_block_len, offset);
            Splines22(p->ratio, block, p->in_block_len, out, 1.0f);
            break;
        default:
            break;
    }
}

template <typename Ctl>
const char* Init(Ctl* p, int ratio, int stereo, int left_weight, int right_weight) {
    if (!p) return kNullControl;
    std::memset(p, 0, sizeof(*p));
    const CodeInfo* info = FindCode(ratio);
    if (!info) return kBadRatio;
    p->ratio = ratio;
    p->method = info->method;
    p->in_block_len = info->in_len;
    p->out_block_len = info->out_len;
    p->left_weight = left_weight;
    p->right_weight = right_weight;
    if (!stereo)
        p->channel_mode = 0;
    else if (left_weight != 0 && right_weight == 0)
        p->channel_mode = 1;
    else if (left_weight == 0 && right_weight != 0)
        p->channel_mode = 2;
    else
        p->channel_mode = 3;
    return nullptr;
}

// Mixing of one input frame to one work sample.
inline float MixTo(const int16_t* s, int mode, int lw, int rw, float*) {
    int64_t v;
    switch (mode) {
        case 1:
            v = static_cast<int64_t>(s[0]) * lw / 100;
            break;
        case 2:
            v = static_cast<int64_t>(s[1]) * rw / 100;
            break;
        case 3:
            v = (static_cast<int64_t>(s[0]) * lw + static_cast<int64_t>(s[1]) * rw) / 100;
            break;
        default:
            v = static_cast<int64_t>(s[0]) * lw / 100;
            break;
    }
    return static_cast<float>(v);
}
inline int16_t MixTo(const int16_t* s, int mode, int lw, int rw, int16_t*) {
    float v = MixTo(s, mode, lw, rw, static_cast<float*>(nullptr));
    int16_t r;
    Store(v, &r);  // integral value: only the clamp matters
    return r;
}
inline float MixTo(const float* s, int mode, int lw, int rw, float*) {
    switch (mode) {
        case 1:
            return s[0] * static_cast<float>(lw) / 100.0f;
        case 2:
            return s[1] * static_cast<float>(rw) / 100.0f;
        case 3:
            return (s[0] * static_cast<float>(lw) + s[1] * static_cast<float>(rw)) / 100.0f;
        default:
            return s[0] * static_cast<float>(lw) / 100.0f;
    }
}

template <int mode, typename In, typename W>
void MixRunOf(const In* src, W* dst, int n, int lw, int rw) {
    const int channels = mode == 0 ? 1 : 2;
    for (int i = 0; i < n; ++i)
        dst[i] = MixTo(src + i * channels, mode, lw, rw, static_cast<W*>(nullptr));
}

// n frames mixed to n work samples.
template <typename In, typename W>
void MixRun(const In* src, W* dst, int n, int mode, int lw, int rw) {
    // Integer samples at a weight of 100 % are their own mix (s * 100 / 100 == s): the
    // decoders' case, a plain copy of one channel.
    if (std::is_same<In, int16_t>::value && lw == 100 && (mode == 0 || mode == 1)) {
        // Constant strides, so that the copy runs as block moves or vector code.
        if (mode == 1) {
            for (int i = 0; i < n; ++i) dst[i] = static_cast<W>(src[2 * i]);
        } else if (std::is_same<In, W>::value) {
            std::memcpy(dst, src, sizeof(W) * static_cast<size_t>(n));
        } else {
            for (int i = 0; i < n; ++i) dst[i] = static_cast<W>(src[i]);
        }
        return;
    }
    switch (mode) {
        case 1:
            MixRunOf<1>(src, dst, n, lw, rw);
            break;
        case 2:
            MixRunOf<2>(src, dst, n, lw, rw);
            break;
        case 3:
            MixRunOf<3>(src, dst, n, lw, rw);
            break;
        default:
            MixRunOf<0>(src, dst, n, lw, rw);
            break;
    }
}

template <typename Ctl, typename In, typename W>
const char* Main(Ctl* p, float offset) {
    if (!p) return kNullControl;
    if (p->ratio == 0) return kNotInited;
    if (p->in_byte_count < 0) return kNegative;
    const bool stereo = p->channel_mode != 0;
    const int frame = static_cast<int>(sizeof(In)) * (stereo ? 2 : 1);
    if (p->in_byte_count % frame != 0) return stereo ? kStereoAlign : kMonoAlign;
    p->out_byte_count = 0;
    const int frames = p->in_byte_count / frame;
    if (frames > 0 && (!p->in_ptr || !p->out_ptr)) return kNullData;

    const In* src = static_cast<const In*>(p->in_ptr);
    W* out = static_cast<W*>(p->out_ptr);
    W* block = p->work + DS_HISTORY;
    const int channels = stereo ? 2 : 1;
    for (int i = 0; i < frames;) {
        // Mix as many frames as the current input block still takes, with the mode fixed for
        // the whole run.
        const int run = std::min(frames - i, p->in_block_len - p->fill);
        MixRun(src + i * channels, block + p->fill, run, p->channel_mode, p->left_weight,
               p->right_weight);
        p->fill += run;
        i += run;
        if (p->fill == p->in_block_len) {
            ProcessBlock(p, out, offset);
            out += p->out_block_len;
            p->out_byte_count += p->out_block_len * static_cast<int32_t>(sizeof(W));
            p->fill = 0;
        }
    }
    p->out_ptr = out;
    return nullptr;
}

template <typename Ctl>
int MaxOut(const Ctl* p, int in_byte_count, int in_sample_bytes, int out_sample_bytes) {
    if (!p || p->ratio == 0 || in_byte_count < 0 || p->in_block_len <= 0) return 0;
    const int block_bytes = p->in_block_len * in_sample_bytes * (p->channel_mode ? 2 : 1);
    const int blocks = (in_byte_count + block_bytes - 1) / block_bytes;
    return blocks * p->out_block_len * out_sample_bytes;
}

}  // namespace

const char* downsample_init(_DS_Control_t* p, int ratio, int stereo, int left_weight,
                            int right_weight) {
    return Init(p, ratio, stereo, left_weight, right_weight);
}
const char* downsample_init_IF(_DS_ControlF_t* p, int ratio, int stereo, int left_weight,
                               int right_weight) {
    return Init(p, ratio, stereo, left_weight, right_weight);
}
const char* downsample_init_FF(_DS_ControlF_t* p, int ratio, int stereo, int left_weight,
                               int right_weight) {
    return Init(p, ratio, stereo, left_weight, right_weight);
}

const char* downsample_main(_DS_Control_t* p) {
    return Main<_DS_Control_t, int16_t, int16_t>(p, 1.0f);
}
const char* downsample_main_IF(_DS_ControlF_t* p) {
    return Main<_DS_ControlF_t, int16_t, float>(p, 1.0f);
}
// The float-input converters run on full-scale +-1.0 samples: their low-pass offset is one
// 16-bit step in that scale (an offset of 1.0 would add half full scale of DC).
const char* downsample_main_FF(_DS_ControlF_t* p) {
    return Main<_DS_ControlF_t, float, float>(p, 1.0f / 32768.0f);
}

int downsample_max_out_byte_count(const _DS_Control_t* p, int in_byte_count) {
    return MaxOut(p, in_byte_count, 2, 2);
}
int downsample_max_out_byte_count_IF(const _DS_ControlF_t* p, int in_byte_count) {
    return MaxOut(p, in_byte_count, 2, 4);
}
int downsample_max_out_byte_count_FF(const _DS_ControlF_t* p, int in_byte_count) {
    return MaxOut(p, in_byte_count, 4, 4);
}

void in_place_lp_filter(_DS_Control_t* p, int16_t* x, int n) {
    if (!p || !x || n <= 0) return;
    LowPass(IirTable(p->ratio), p->iir_state, &p->toggle, x, n, 1.0f);
}
void in_place_lp_filter_FF(_DS_ControlF_t* p, float* x, int n) {
    if (!p || !x || n <= 0) return;
    LowPass(IirTable(p->ratio), p->iir_state, &p->toggle, x, n, 1.0f / 32768.0f);
}

int do_08k_splines(int ratio, int16_t* in, int in_count, int16_t* out, float gain) {
    return Splines08(ratio, in, in_count, out, gain);
}
int do_16k_splines(int ratio, int16_t* in, int in_count, int16_t* out, float gain) {
    return Splines16(ratio, in, in_count, out, gain);
}
int do_22k_splines(int ratio, int16_t* in, int in_count, int16_t* out, float gain) {
    return Splines22(ratio, in, in_count, out, gain);
}
int do_24k_splines(int ratio, int16_t* in, int in_count, int16_t* out, float gain) {
    return Splines24(ratio, in, in_count, out, gain);
}
int do_08k_splines_FF(int ratio, float* in, int in_count, float* out, float gain) {
    return Splines08(ratio, in, in_count, out, gain);
}
int do_16k_splines_FF(int ratio, float* in, int in_count, float* out, float gain) {
    return Splines16(ratio, in, in_count, out, gain);
}
int do_22k_splines_FF(int ratio, float* in, int in_count, float* out, float gain) {
    return Splines22(ratio, in, in_count, out, gain);
}
int do_24k_splines_FF(int ratio, float* in, int in_count, float* out, float gain) {
    return Splines24(ratio, in, in_count, out, gain);
}

void decimate2_i16_i16(int16_t* in, int16_t* out, int out_count, int gain) {
    Decimate2(in, out, out_count, gain);
}
void decimate2_i16_f32(int16_t* in, float* out, int out_count, int gain) {
    Decimate2(in, out, out_count, gain);
}
void decimate2_f32_f32(float* in, float* out, int out_count, int gain) {
    Decimate2(in, out, out_count, gain);
}
void decimate3_i16_i16(int16_t* in, int16_t* out, int out_count, int gain) {
    Decimate3(in, out, out_count, gain);
}
void decimate3_i16_f32(int16_t* in, float* out, int out_count, int gain) {
    Decimate3(in, out, out_count, gain);
}
void decimate3_f32_f32(float* in, float* out, int out_count, int gain) {
    Decimate3(in, out, out_count, gain);
}

int filter_and_decimate_FF(_DS_ControlF_t* p, float* out) {
    if (!p || !out || p->method != 1) return -1;
    return Cascade(p, out);
}

const char* decimate_GetVersion(void) { return "2.4.6"; }
