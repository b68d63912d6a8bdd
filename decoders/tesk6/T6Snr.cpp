#include "decoders/tesk6/T6Snr.h"

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

void T6_BinSnr(const float* power, uint8_t* binSnr) {
    for (int j = 0; j < T6_BIN_SNR_COUNT; ++j) {
        const float* p = power + T6_BIN_SNR_FIRST_BIN + j;
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
        binSnr[j] = uint8_t(value);
    }
}

void T6_SymSnr_Prog(const uint8_t* binSnr, uint8_t* symSnr) { SymSnr(binSnr, symSnr, kProgMap.v); }

void T6_SymSnr_Comm(const uint8_t* binSnr, uint8_t* symSnr) { SymSnr(binSnr, symSnr, kCommMap.v); }
