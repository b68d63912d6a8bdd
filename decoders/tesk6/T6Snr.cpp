#include "decoders/tesk6/T6Snr.h"

#include <cstring>

namespace {

struct ToneMap {
    uint16_t v[T6_SYMBOL_COUNT][T6_TONE_GROUPS];
};

constexpr ToneMap BuildToneMap(int layer) {
    ToneMap m{};
    for (int s = 0; s < T6_SYMBOL_COUNT; ++s)
        for (int g = 0; g < T6_TONE_GROUPS; ++g) m.v[s][g] = T6_ToneOffset(layer, s, g);
    return m;
}

constexpr ToneMap kProgMap = BuildToneMap(0);
constexpr ToneMap kCommMap = BuildToneMap(1);

inline void SymSnr(const uint8_t* binSnr, uint8_t* symSnr, const uint16_t (*map)[T6_TONE_GROUPS]) {
    for (int s = 0; s < T6_SYMBOL_COUNT; ++s) {
        const uint16_t* t = map[s];
        unsigned sum = unsigned(binSnr[t[0]]) + binSnr[t[1]] + binSnr[t[2]] + binSnr[t[3]] +
                       binSnr[t[4]] + binSnr[t[5]];
        symSnr[s] = uint8_t((sum + 3) / 6);
    }
}

}  // namespace

const uint16_t (&T6_TONE_MAP_PROG)[T6_SYMBOL_COUNT][T6_TONE_GROUPS] = kProgMap.v;
const uint16_t (&T6_TONE_MAP_COMM)[T6_SYMBOL_COUNT][T6_TONE_GROUPS] = kCommMap.v;

namespace {

// One bin's value from its centre and its eight neighbours (four each side).
inline uint8_t BinSnrOf(const float* p) {
    const float n[8] = {p[-4], p[-3], p[-2], p[-1], p[1], p[2], p[3], p[4]};
    float sum = 0.0f;
    float largest = 0.0f;
    for (float v : n) {
        sum += v;
        if (v > largest) largest = v;
    }
    // The strongest neighbour may be another tone; it never counts as noise.
    float noise = sum - largest;
    float value;
    if (noise != 0.0f && noise == noise) {
        value = p[0] * 297.5f / noise;  // 42.5 * centre / mean of 7 neighbours
    } else {
        value = p[0] * 0.14285715f;
    }
    if (!(value >= 0.0f)) value = 0.0f;  // negative or not a number
    if (value > 255.0f) value = 255.0f;
    return uint8_t(value);
}

typedef float F4 __attribute__((vector_size(16)));
typedef int32_t I4 __attribute__((vector_size(16)));

inline F4 Load4(const float* p) {
    F4 v;
    memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

// Four bins at a time, each lane doing exactly the scalar sequence of float
// operations (the same order of additions, the same comparisons), so the
// values are those of BinSnrOf bit for bit.
void T6_BinSnr(const float* power, uint8_t* binSnr) {
    int j = 0;
    for (; j + 4 <= T6_BIN_SNR_COUNT; j += 4) {
        const float* p = power + T6_BIN_SNR_FIRST_BIN + j;
        F4 sum = {0.0f, 0.0f, 0.0f, 0.0f};
        F4 largest = sum;
        static const int kNeighbours[8] = {-4, -3, -2, -1, 1, 2, 3, 4};
        for (int k : kNeighbours) {
            const F4 v = Load4(p + k);
            sum += v;
            largest = v > largest ? v : largest;
        }
        const F4 noise = sum - largest;
        const F4 centre = Load4(p);
        const I4 usable = (noise != 0.0f) & (noise == noise);
        const F4 ratio = centre * 297.5f / noise;
        F4 value = usable ? ratio : centre * 0.14285715f;
        value = value >= 0.0f ? value : 0.0f;  // negative or not a number
        value = value > 255.0f ? 255.0f : value;
        const I4 whole = __builtin_convertvector(value, I4);
        for (int l = 0; l < 4; ++l) binSnr[j + l] = uint8_t(whole[l]);
    }
    for (; j < T6_BIN_SNR_COUNT; ++j) binSnr[j] = BinSnrOf(power + T6_BIN_SNR_FIRST_BIN + j);
}

void T6_SymSnr_Prog(const uint8_t* binSnr, uint8_t* symSnr) { SymSnr(binSnr, symSnr, kProgMap.v); }

void T6_SymSnr_Comm(const uint8_t* binSnr, uint8_t* symSnr) { SymSnr(binSnr, symSnr, kCommMap.v); }
