// TESK 6 spectral and symbol SNR.
//
// One 3072-point power spectrum of 16 kHz audio (bin k at k * 16000 / 3072 Hz)
// becomes a vector of per-bin SNR bytes for bins 576..998, and from that two
// vectors of 129 symbol scores, one per watermark layer (program and
// commercial). The routines hold no state and allocate nothing.
#ifndef TAVIK_DECODERS_TESK6_T6SNR_H
#define TAVIK_DECODERS_TESK6_T6SNR_H

#include <stdint.h>

// First FFT bin covered by the bin SNR vector (3000 Hz) and its length.
#define T6_BIN_SNR_FIRST_BIN 576
#define T6_BIN_SNR_COUNT 423
// Lowest and highest spectrum bins read by T6_BinSnr.
#define T6_SPECTRUM_FIRST_READ 572
#define T6_SPECTRUM_LAST_READ 1002
// Symbols per layer: 0..127 data symbols, 128 the marker.
#define T6_SYMBOL_COUNT 129
#define T6_MARKER_SYMBOL 128
#define T6_NO_SYMBOL 129
// Tones per symbol (one per tone group).
#define T6_TONE_GROUPS 6

// Placement rule of the tones (shared with the signal generator).
// Offsets of the 16 tone positions inside a tone group: four clusters of four
// adjacent bins (offsets 4, 9..17 and 22 are never tones).
static constexpr uint16_t T6_POSITION_OFFSET[16] = {0,  1,  2,  3,  5,  6,  7,  8,
                                                    18, 19, 20, 21, 23, 24, 25, 26};
// Position masks per symbol block b = (s - 1) / 16 (rows) and tone group.
static constexpr uint8_t T6_POSITION_MASK[8][6] = {
    {0, 8, 12, 4, 11, 3}, {0, 9, 14, 7, 15, 6}, {0, 10, 15, 5, 3, 9}, {0, 11, 13, 6, 7, 12},
    {0, 12, 4, 8, 13, 1}, {0, 13, 6, 11, 9, 4}, {0, 14, 7, 9, 5, 11}, {0, 15, 5, 10, 1, 14},
};
// Symbol 0 does not follow the mask rule: its positions in groups 0..5.
static constexpr uint8_t T6_SYMBOL0_POSITION[6] = {15, 8, 6, 1, 5, 2};

// Offset into the bin SNR vector of the tone of `symbol` (0..128) in tone
// group `group` (0..5) of layer 0 (program) or 1 (commercial). Groups are 72
// entries (375 Hz) apart; the commercial layer lies 36 entries higher. The
// marker 128 sits in the middle gap (position offset 13) of the other
// layer's group: program 36 + 13 + 72g, commercial 13 + 72g.
constexpr uint16_t T6_ToneOffset(int layer, int symbol, int group) {
    const int base = layer == 0 ? 0 : 36;
    if (symbol == T6_MARKER_SYMBOL) return uint16_t((layer == 0 ? 36 : 0) + 72 * group + 13);
    int position = 0;
    if (symbol == 0) {
        position = T6_SYMBOL0_POSITION[group];
    } else {
        position = ((symbol - 1) % 16) ^ T6_POSITION_MASK[(symbol - 1) / 16][group];
    }
    return uint16_t(base + 72 * group + T6_POSITION_OFFSET[position]);
}

// Tone maps (computed at compile time from the placement rule): offset into the bin SNR vector (bin
// = 576 + offset) of the tone of symbol s in tone group g. Built from the layer's placement rule.
extern const uint16_t (&T6_TONE_MAP_PROG)[T6_SYMBOL_COUNT][T6_TONE_GROUPS];
extern const uint16_t (&T6_TONE_MAP_COMM)[T6_SYMBOL_COUNT][T6_TONE_GROUPS];

// Per-bin SNR. `power` is indexed by FFT bin; bins 572..1002 are read.
// binSnr[j] (j = 0..422) describes bin 576 + j: 42.5 * P[c] / mean of the
// seven weakest of its eight neighbours (c-4..c+4 without c), clamped to
// 0..255 and truncated; when that noise sum is 0 (or not a number) the value
// is P[c] / 7 instead. Single precision throughout.
void T6_BinSnr(const float* power, uint8_t* binSnr);

// Symbol scores of the program / commercial layer: for each symbol 0..128 the
// mean of its six tone bytes, rounded half up ((sum + 3) / 6).
// `binSnr` holds 423 bytes, `symSnr` receives 129 bytes.
void T6_SymSnr_Prog(const uint8_t* binSnr, uint8_t* symSnr);
void T6_SymSnr_Comm(const uint8_t* binSnr, uint8_t* symSnr);

#endif  // TAVIK_DECODERS_TESK6_T6SNR_H
