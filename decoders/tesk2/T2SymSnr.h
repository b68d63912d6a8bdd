// TESK 2 chip values, symbol correlation and per-frame candidate ranking.
//
// The TESK 2 engine hands this core one 256-point Hann-windowed power spectrum
// of 24 kHz audio per 64-sample frame. Two layers are carried in two bands:
// layer 0 reads tone pairs from bin 49, layer 1 from bin 66. Tone pair i (0-4)
// of a band starting at b is bin b + i (chip sign +) against bin b + i + 10
// (chip sign -). A symbol is 15 chips, one every 4 frames (57 frames in all),
// each chip using the tone pair given by the hop sequence; symbols 0-31 carry
// data, 32 is the marker and 33 stands for "no symbol".
//
// All routines work on caller-owned, fixed-size state: no allocation, no
// exceptions, no I/O.
#ifndef TAVIK_DECODERS_TESK2_T2SYMSNR_H
#define TAVIK_DECODERS_TESK2_T2SYMSNR_H

#include <cstdint>

#define T2_SAMPLE_RATE 24000
#define T2_FFT_SIZE 256
#define T2_FRAME_SAMPLES 64
#define T2_FIRST_BIN 46        /* lowest spectrum bin the engine fills */
#define T2_LAST_BIN 82         /* highest spectrum bin the engine fills */
#define T2_SPECTRUM_FLOATS 128 /* spectrum arrays are indexed by bin number */
#define T2_NUM_PAIRS 5
#define T2_NUM_CHIPS 15
#define T2_CHIP_SPACING 4
#define T2_RING_LEN 57    /* (15 - 1) * 4 + 1 frames */
#define T2_NUM_SYMBOLS 33 /* 0-31 data, 32 marker */
#define T2_MARKER 32
#define T2_NO_SYMBOL 33
#define T2_SCORE_HISTORY 49
#define T2_LAYER0_BAND 49
#define T2_LAYER1_BAND 66
#define T2_PAIR_OFFSET 10 /* the "-" tone of a pair sits 10 bins above the "+" tone */

/* Tone pair used by chip j = 0..14. */
extern const uint8_t T2S_HOP_SEQ[T2_NUM_CHIPS];
/* Sign pattern of every symbol, chip order, 1 = "+" tone, 0 = "-" tone. This is
 * the table the decoder correlates against (rows 11 and 26 are not exactly the
 * cyclic construction; see T2_ConstructedChipPattern). */
extern const uint8_t T2S_CHIP_PATTERN[T2_NUM_SYMBOLS][T2_NUM_CHIPS];

/* The pattern of data symbol s (0-31) by construction: the all-zero and all-one
 * words and the 15 cyclic shifts of 000010100110111 and their complements,
 * the one whose first five chips are s in binary (most significant first).
 * Writes 15 chips into out; returns 0, or -1 when s is not a data symbol. */
int T2_ConstructedChipPattern(int s, uint8_t out[T2_NUM_CHIPS]);

/* Chip ring of one layer: idx points at the entry just written until
 * T2_SymSnr_Process advances it to the oldest entry. */
typedef struct {
    uint16_t idx;
    int8_t chips[T2_RING_LEN][T2_NUM_PAIRS];
} T2_ChipRing_t;

/* Frame scorer of one layer. */
typedef struct {
    T2_ChipRing_t ring;
    int8_t hist[T2_SCORE_HISTORY][T2_NUM_SYMBOLS]; /* correlation vectors, a ring */
    uint32_t w;                                    /* slot the next vector overwrites */
    int16_t s1[T2_NUM_SYMBOLS];                    /* sum of the 49 stored vectors */
    int8_t prev[T2_NUM_SYMBOLS];                   /* previous frame's excess */
} T2S_Layer_t;

typedef struct {
    T2S_Layer_t layer[2];
} T2S_State_t;

/* One (symbol, score) pair; empty = (33, 0). */
typedef struct {
    uint8_t sym;
    int8_t score;
} T2_Pair_t;

/* The two best candidates of one layer for one frame, best first. */
typedef struct {
    T2_Pair_t p[2];
} T2_Candidate_t;

/* Chip values of the band starting at bin b: out[i] = pk(b + i) - pk(b + i + 10),
 * -4..4, where pk(c) = (number of bins c-2, c-1, c+1, c+2 whose power is <= P[c]) - 2.
 * spectrum is indexed by bin number and must cover b - 2 .. b + 16. */
void T2_BitSnr(const float* spectrum, int b, int8_t out[T2_NUM_PAIRS]);

/* Zeroes the ring and its index. */
void T2_SymSnr_Init(T2_ChipRing_t* ring);

/* Advances the ring index to the oldest entry, then correlates the 15 chips
 * (chip j = entry (idx + 4j) mod 57, tone pair T2S_HOP_SEQ[j]) with the 33
 * patterns: corr[s] = sum of +chip where the pattern is 1, -chip where 0. */
void T2_SymSnr_Process(int8_t corr[T2_NUM_SYMBOLS], T2_ChipRing_t* ring);

/* Zeroes both layers' rings, histories, indices, sums and previous excesses. */
void T2S_Init(T2S_State_t* st);

/* One frame: chip values of both bands into the rings, correlation, background
 * removal over the 49-frame history (the frame 24 back against the other 46),
 * two-frame smoothing and ranking of the two best positive scores per layer.
 * out[0] is layer 0, out[1] layer 1. */
void T2S_Process(const float* spectrum, T2_Candidate_t out[2], T2S_State_t* st);

#endif
