// TESK 2 message extraction: per-frame candidate histories, marker search,
// accumulation of up to four repetitions of an 11-symbol message, Reed-Solomon
// decoding of commercial identifiers and emission of detections every 704
// frames through a C callback.
//
// Layers and blocks: block 0 = program standard messages (layer 0 history,
// repetition every 1496 frames), block 1 = commercial standard messages
// (layer 1 history, every 748 frames), block 2 = Reed-Solomon commercial
// messages (layer 1 history, every 748 frames).
//
// Caller-owned, fixed-size state; no allocation, no exceptions, no I/O.
#ifndef TAVIK_DECODERS_TESK2_T2MSGDECODE_H
#define TAVIK_DECODERS_TESK2_T2MSGDECODE_H

#include <cstdint>

#include "decoders/tesk2/T2SymSnr.h"
#include "dsp/ReedSolomon.h"

#define T2M_MSG_SYMBOLS 11
#define T2M_SYMBOL_SPACING 64    /* frames between the symbols of a message */
#define T2M_MSG_FRAMES 704       /* emission period, frames */
#define T2M_REP_UNIT 748         /* repetition spacing unit, frames */
#define T2M_FRAME_MOD 252450000u /* frame counter modulus; also the empty slot frame */
#define T2M_HIST0_LEN 5236
#define T2M_HIST1_LEN 2992
#define T2M_DEPTHS 4
#define T2M_NUM_BLOCKS 3
#define T2M_VOTE_SYMBOLS 34 /* symbols 0-33 */

#define T2M_LAYER_PROG 0
#define T2M_LAYER_COMM_STD 1
#define T2M_LAYER_COMM_RS 2

extern const uint16_t T2M_THR_MSG_STR_STD[T2M_DEPTHS];        /* 120, 150, 180, 210 */
extern const uint16_t T2M_THR_MSG_STR_RS[T2M_DEPTHS];         /* 90, 100, 110, 120 */
extern const uint16_t T2M_THR_STRONG_SYM_1ST_2ND[T2M_DEPTHS]; /* 9, 9, 9, 9 */
extern const uint32_t TIME_SYM_VALUE_BY_SLOT[T2M_MSG_SYMBOLS];
extern const uint8_t T2M_TS_INC_LAYER0[T2M_DEPTHS]; /* 0, 16, 32, 48 */
extern const uint8_t T2M_TS_INC_LAYER1[T2M_DEPTHS]; /* 0, 8, 16, 24 */

/* What the callback receives: one detection. */
typedef struct {
    uint32_t layer;      /* 0 PROG, 1 COMM_STD, 2 COMM_RS */
    int32_t firstSymAge; /* ms */
    int32_t lastSymAge;  /* ms */
    uint16_t quality;    /* strong positions, or the Reed-Solomon quality value */
    int16_t strength;    /* sum of the 11 margins */
    uint8_t depth;       /* k: k + 1 repetitions accumulated */
    uint16_t phase;      /* slot frame mod 748R */
    uint8_t symbols[T2M_MSG_SYMBOLS];
    uint16_t sid;
    uint32_t timestamp; /* 31-bit time code; 0xFFFFFFFF for COMM_RS */
    uint32_t field;     /* 2-bit distribution field; 3 for COMM_RS */
    uint32_t flag;      /* daylight-saving flag (symbol 4 bit 3) */
    uint64_t commId;    /* COMM_RS only, 35 bits */
} _T2M_Detection_t;

/* Detection callback: user pointer, detection valid during the call only. */
typedef void (*T2M_Callback_t)(void* user, const _T2M_Detection_t* det);

typedef struct {
    uint32_t frame; /* frame counter when filled; T2M_FRAME_MOD when empty */
    uint16_t quality;
    int16_t strength;
    uint8_t depth;
    uint8_t sym[T2M_MSG_SYMBOLS];
    uint16_t margin[T2M_MSG_SYMBOLS];
} T2M_Slot_t;

typedef struct {
    uint32_t layer;
    T2_Candidate_t* hist; /* points into the decoder state */
    uint16_t index;       /* write index into hist */
    uint16_t length;
    T2M_Slot_t slot[T2M_DEPTHS];
    uint16_t R; /* repetition spacing in units of 748 frames */
    uint16_t M; /* minimum quality / D */
    uint16_t D; /* quality divisor */
} T2M_Block_t;

typedef struct {
    T2M_Callback_t callback;
    void* user;
    T2S_State_t scorer;
    RsCodeParams rs;
    T2_Candidate_t hist0[T2M_HIST0_LEN];
    T2_Candidate_t hist1[T2M_HIST1_LEN];
    T2M_Block_t block[T2M_NUM_BLOCKS];
    uint32_t frameCounter; /* 0 .. T2M_FRAME_MOD - 1 */
} T2M_State_t;

/* Clears and sets up the whole state (empty histories and slots, indices and
 * counter 0, block parameters, the (11, 7) code over 5-bit symbols); returns
 * the result of RS_Init. */
uint32_t T2M_Init(T2M_Callback_t callback, void* user, T2M_State_t* st);

/* One 64-sample frame. spectrum is indexed by bin number, bins 46..82 filled. */
void T2M_Decode(const float* spectrum, T2M_State_t* st);

/* --- Steps of T2M_Decode, exposed for testing. --- */

/* 1 when the marker does not lead the votes of the records at index - 640,
 * and 748R, 1496R, 2244R frames before that; 0 when it does. */
int Sync_Absent(const T2M_Block_t* blk);

/* Standard (SID + time code) accumulation of a block at its current index. */
void T2M_AccumulateStd(T2M_State_t* st, T2M_Block_t* blk);

/* Reed-Solomon accumulation of a block at its current index. */
void T2M_AccumulateRs(T2M_State_t* st, T2M_Block_t* blk);

/* One Reed-Solomon try on the best symbols sym[1..10] of a candidate word.
 * extra: an additional position (1-10) to erase, or 0 for none. limit: largest
 * accepted count. votes[p][s] are the accumulated votes, second[p] the
 * runner-up votes. On success returns the count (0-3) and updates sym[] and
 * margin[] of changed transmitted positions (margin = decoded symbol's votes -
 * runner-up votes, modulo 2^16 when negative); returns -1 on failure (sym and
 * margin untouched). */
int RS_Process(const RsCodeParams* rs, uint8_t sym[T2M_MSG_SYMBOLS],
               uint16_t margin[T2M_MSG_SYMBOLS],
               const uint16_t votes[T2M_MSG_SYMBOLS][T2M_VOTE_SYMBOLS],
               const uint16_t second[T2M_MSG_SYMBOLS], int extra, int limit);

/* Reports the live, non-duplicate slots of a block that pass the strength
 * threshold, then clears all four slots. */
void Emit_Depths(T2M_State_t* st, T2M_Block_t* blk);

/* Fills SID, timestamp, field, flag and commId of a detection from its symbols
 * and layer. */
void T2M_DeriveFields(_T2M_Detection_t* det);

#endif
