#include "decoders/tesk6/T6Snr.h"



namespace {

// Offsets of the 16 tone positions inside one tone group: four clusters of
// four adjacent bins.
constexpr uint16_t kPositionOffset[16] = {0, 1, 2, 3, 5, 6, 7, 8, 18, 19, 20, 21, 23, 24, 25, 26};

// Position masks per symbol block b = (s - 1) / 16 and tone group.
constexpr uint8_t kMask[8][6] = {
    {0, 8, 12, 4, 11, 3},  {0, 9, 14, 7, 15, 6}, {0, 10, 15, 5, 3, 9},  {0, 11, 13, 6, 7, 12},
    {0, 12, 4, 8, 13, 1},  {0, 13, 6, 11, 9, 4}, {0, 14, 7, 9, 5, 11},  {0, 15, 5, 10, 1, 14},
};

// Symbol 0 does not follow the mask rule.
constexpr uint8_t kSymbol0Position[6] = {15, 8, 6, 1, 5, 2};

constexpr uint16_t kGroupSpacing = 72;  // 375 Hz
constexpr uint16_t kCommBase = 36;      // commercial layer lies 187.5 Hz higher
// The marker sits in the middle gap (position offset 13) of the other layer's
// tone group, so the program marker is at 36 + 13 and the commercial one at 13.
constexpr uint16_t kMarkerGap = 13;

struct ToneMap {
    uint16_t v[T6_SYMBOL_COUNT][T6_TONE_GROUPS];
};

constexpr ToneMap BuildToneMap(uint16_t base, uint16_t markerBase) {
    ToneMap m{};
    for (int g = 0; g < T6_TONE_GROUPS; ++g) {
        uint16_t group = uint16_t(base + kGroupSpacing * g);
        m.v[0][g] = uint16_t(group + kPositionOffset[kSymbol0Position[g]]);
        for (int s = 1; s < 128; ++s) {
            int b = (s - 1) / 16;
            int i = (s - 1) % 16;
            m.v[s][g] = uint16_t(group + kPositionOffset[i ^ kMask[b][g]]);
        }
        m.v[T6_MARKER_SYMBOL][g] = uint16_t(markerBase + kGroupSpacing * g + kMarkerGap);
    }
    return m;
}

constexpr ToneMap kProgMap = BuildToneMap(0, kCommBase);
constexpr ToneMap kCommMap = BuildToneMap(kCommBase, 0);

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

void T6_SymSnr_Prog(const uint8_t* binSnr, uint8_t* symSnr) {
    SymSnr(binSnr, symSnr, kProgMap.v);
}

void T6_SymSnr_Comm(const uint8_t* binSnr, uint8_t* symSnr) {
    SymSnr(binSnr, symSnr, kCommMap.v);
}
