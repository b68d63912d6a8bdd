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

// Tone maps (computed at compile time from the placement rule): offset into the bin SNR vector (bin = 576 + offset) of the tone of
// symbol s in tone group g. Built from the layer's placement rule.
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
