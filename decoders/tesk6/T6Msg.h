// TESK 6 decoding core: synchronisation and message extraction.
//
// Once per 32 ms frame (512 samples at 16 kHz) T6M_Decode takes the frame's
// power spectrum, scores it (T6Sync.h), keeps per-layer candidate histories,
// finds the marker symbol that opens a message, accumulates the eight symbols
// of a message over up to four repetitions, and every 48 frames reports the
// messages found through the callback, one _T6M_Detection_t each. All state is
// in one caller-owned _T6M_State_t; nothing is allocated and nothing fails.
#ifndef TAVIK_DECODERS_TESK6_T6MSG_H
#define TAVIK_DECODERS_TESK6_T6MSG_H

#include <stdint.h>

#include "decoders/tesk6/T6Sync.h"
#include "dsp/ReedSolomon.h"

#define T6M_FRAME_MODULUS 21037500u  // frame counter modulus (673200 s of audio)
#define T6M_EMPTY_FRAME 21037500u    // frame of an empty slot
#define T6M_MSG_SYMBOLS 8            // marker + 7 symbols
#define T6M_SYMBOL_SPACING 6         // frames between message symbols
#define T6M_SYNC_BACK 42             // frames from a message's marker to its last symbol
#define T6M_DEPTHS 4                 // accumulation depths k = 0..3
#define T6M_PROG_HISTORY 500         // 16 s of program candidates
#define T6M_COMM_HISTORY 200         // 6.4 s of commercial candidates
#define T6M_EMIT_PERIOD 48           // frames between emissions

// Layers of the accumulator blocks and of detections.
#define T6M_LAYER_PROG 0
#define T6M_LAYER_COMM_STD 1
#define T6M_LAYER_COMM_RS 2

// Strength thresholds per depth, and the margin of a strong position.
extern const uint16_t T6M_THR_MSG_STR_PROG[T6M_DEPTHS];
extern const uint16_t T6M_THR_MSG_STR_COMM_STD[T6M_DEPTHS];
extern const uint16_t T6M_THR_MSG_STR_COMM_RS[T6M_DEPTHS];
extern const uint16_t T6M_THR_STRONG_SYM_1ST_2ND[T6M_DEPTHS];
// Growth of symbol 7 (low 7 bits of the time code) from one repetition to
// the next, a five-entry cycle: program (4.8 s spacing), commercial (1.6 s).
extern const uint8_t T6M_INC_PROG[5];
extern const uint8_t T6M_INC_COMM[5];

// One detection, valid only during the callback.
typedef struct _T6M_Detection_t {
    uint32_t layer;                    // T6M_LAYER_*
    int32_t firstSymAge;               // ms from the first symbol of the oldest repetition
    int32_t lastSymAge;                // ms from the last symbol of the newest repetition
    uint16_t quality;                  // strong positions (0..8) or the Reed-Solomon quality value
    int16_t strength;                  // sum of the eight position margins
    uint8_t depth;                     // k: k + 1 repetitions accumulated
    uint16_t phase;                    // slot frame modulo the repetition spacing in frames
    uint8_t symbols[T6M_MSG_SYMBOLS];  // position 0 (the marker) first
    uint16_t sid;
    uint32_t timestamp;     // 29-bit time code; 0xFFFFFFFF for Reed-Solomon messages
    uint32_t dist;          // distribution code 0..3
    uint8_t dst;            // daylight-saving flag
    uint32_t transmission;  // transmission flag
    uint64_t commId;        // 35-bit commercial identifier (Reed-Solomon messages)
} _T6M_Detection_t;

// Detection callback: (user pointer, detection). The result is ignored.
typedef int (*T6M_Callback_t)(void* user, const _T6M_Detection_t* detection);

// One message candidate per accumulation depth.
typedef struct _T6M_Position_t {
    uint8_t symbol;   // 129 when empty
    uint16_t margin;  // votes of the best symbol minus those of the runner-up
} _T6M_Position_t;

typedef struct _T6M_Slot_t {
    uint32_t frame;  // frame counter when filled, T6M_EMPTY_FRAME when empty
    uint16_t quality;
    int16_t strength;
    uint8_t depth;
    _T6M_Position_t pos[T6M_MSG_SYMBOLS];
} _T6M_Slot_t;

typedef struct _T6M_Block_t {
    uint32_t layer;            // T6M_LAYER_*
    _T6_Candidate_t* history;  // the candidate history this block reads
    uint16_t writeIndex;
    uint16_t historyLength;  // 500 or 200
    _T6M_Slot_t slot[T6M_DEPTHS];
    uint16_t repSpacing;      // R, in units of 50 frames
    uint16_t minQuality;      // M
    uint16_t qualityDivisor;  // D; a slot counts if quality / D >= M
} _T6M_Block_t;

typedef struct _T6M_State_t {
    T6M_Callback_t callback;
    void* user;
    _T6S_State_t sync;
    RsCodeParams rs;
    _T6_Candidate_t progHistory[T6M_PROG_HISTORY];
    _T6_Candidate_t commHistory[T6M_COMM_HISTORY];
    _T6M_Block_t block[3];  // program standard, commercial standard, commercial Reed-Solomon
    int32_t frameCounter;   // 0 .. 21037499
} _T6M_State_t;

// Clears and initialises the whole state (the block's history pointers point
// into the state itself, so a state must not be copied after this call).
// Returns the result of RS_Init for the (7, 5) code (0 is not an error: it is
// the number of shortened symbols, 120).
uint32_t T6M_Init(T6M_Callback_t callback, void* user, _T6M_State_t* state);

// Decodes one frame. `power` is the frame's power spectrum indexed by FFT bin
// (bins 572..1002 are read). Detections are reported through the callback on
// frames whose counter is 47 modulo 48.
void T6M_Decode(const float* power, _T6M_State_t* state);

// Fills the message fields (SID, time code, distribution, flags, commId) of a
// detection from its eight symbols, for the given layer.
void T6M_FillMessageFields(_T6M_Detection_t* d);

#endif  // TAVIK_DECODERS_TESK6_T6MSG_H
