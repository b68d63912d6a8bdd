// TESK 6 frame scoring: per-frame symbol candidates of both layers.
//
// Every 32 ms frame the symbol scores of each layer (T6Snr.h) are corrected by
// a 44-frame background, smoothed over three frames and reduced to the four
// best (symbol, score) pairs. The history ring delays the result: the record
// produced for a frame describes the frame stored 24 frames earlier.
#ifndef TAVIK_DECODERS_TESK6_T6SYNC_H
#define TAVIK_DECODERS_TESK6_T6SYNC_H

#include <stdint.h>

#include "decoders/tesk6/T6Snr.h"

#define T6S_HISTORY_FRAMES 49
#define T6S_CANDIDATES 4

// One (symbol, score) pair; symbol 129 with score 0 is an empty pair.
typedef struct _T6_SymScore_t {
    uint8_t symbol;
    uint8_t score;
} _T6_SymScore_t;

// The four best symbols of one layer in one frame, best first.
typedef struct _T6_Candidate_t {
    _T6_SymScore_t pair[T6S_CANDIDATES];
} _T6_Candidate_t;

// Scoring state of one layer.
typedef struct _T6S_Layer_t {
    uint8_t history[T6S_HISTORY_FRAMES][T6_SYMBOL_COUNT];  // ring of raw symbol scores
    uint32_t writeIndex;          // slot of the oldest frame, overwritten next (0..48)
    int16_t s1[T6_SYMBOL_COUNT];  // sum of the 49 stored frames per symbol
    int16_t s2[T6_SYMBOL_COUNT];  // background-corrected score of the previous frame
    int16_t s3[T6_SYMBOL_COUNT];  // ... and of the frame before it
} _T6S_Layer_t;

// Index 0: program layer, index 1: commercial layer.
typedef struct _T6S_State_t {
    _T6S_Layer_t layer[2];
} _T6S_State_t;

// Sets a candidate record to four empty pairs (129, 0).
void T6S_ClearCandidate(_T6_Candidate_t* c);

// Zeroes histories, indices and sums.
void T6S_Init(_T6S_State_t* state);

// Scores one frame. `power` is the frame's power spectrum indexed by FFT bin
// (bins 572..1002 are read); out[0] receives the program-layer record and
// out[1] the commercial-layer record.
void T6S_Process(const float* power, _T6_Candidate_t out[2], _T6S_State_t* state);

#endif  // TAVIK_DECODERS_TESK6_T6SYNC_H
