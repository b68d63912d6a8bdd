// ZELT decoding core: one call per 100 ms frame.
//
// ZELT_Decode scores the symbols of the five layers (ZeltSymSnr.h), keeps
// their history in rings, searches the program layers 1, 2 and 5 every 48
// frames (4.8 s message period, twelve 400 ms symbols), evaluates layers 3
// and 4 together on a 12-frame cycle as a Reed-Solomon (15, 9) protected
// commercial identifier (2.4 s period, 300 ms symbols) and as commercial flag
// patterns, and reports every message found through a C callback.  All state
// lives in one caller-owned ZeltDecoderState; nothing is allocated.
#pragma once

#include <cstdint>

#include "decoders/zelt/ZeltSymSnr.h"
#include "dsp/ReedSolomon.h"

// Detection record handed to the callback.
struct _ZELT_Detection_t {
    uint32_t layer;        // 1, 2, 5 program; 4 Reed-Solomon commercial; 5 also flags
    uint32_t firstSymAge;  // age of the first symbol of the message, ms
    uint32_t lastSymAge;   // age of the last symbol of the message, ms
    uint16_t quality;      // match count (program), coded quality (RS), count (flags)
    uint16_t strength;     // strength figure (signed values stored as 16-bit)
    uint8_t depth;         // accumulation depth of the find
    uint16_t phase;        // slot of the message within its period
    uint8_t symbols[16];   // decoded symbols, 18 = none
    uint16_t id;           // program: s0<<12|s1<<8|s2<<4|key; flags: 3 or 7; RS: 0
    uint16_t timestamp;    // program: minute in 28-day cycle (65535 invalid);
                           // flags: frame counter / 600; RS: 65535
    uint64_t commId;       // RS: nine identifier nibbles, first most significant
};

typedef void (*ZELT_DetectionCallback)(void* user, const _ZELT_Detection_t* detection);

constexpr uint32_t ZELT_FRAME_MODULUS = 6732000;  // frame counter wraps here (187 h)
constexpr uint32_t ZELT_PROG_SLOTS = 48;          // program message period in frames
constexpr uint32_t ZELT_COMM_STORE_SLOTS = 149;   // history of layers 3 and 4
constexpr uint32_t ZELT_COMM_SLOTS = 24;          // commercial message period in frames
constexpr uint32_t ZELT_MAX_COMM_DEPTH = 5;
constexpr uint8_t ZELT_NO_SYMBOL = 18;
constexpr uint16_t ZELT_NO_TIMESTAMP = 65535;
// The program-layer counters wrap at this multiple of 48 so that the ring slot
// sequence and the 48-frame search rhythm survive the wrap.
constexpr uint16_t ZELT_PROG_COUNTER_MODULUS = 65520;

extern const uint16_t ZELT_THR_MSG_STR_COMM_FLAGS[6];
extern const uint16_t ZELT_THR_MSG_STR_COMM_RS[6];
extern const int32_t ZELT_THR_STRONG_SYM_1ST_2ND[6];

// Search state of one program layer (1, 2 or 5).
struct ZeltProgLayerState {
    uint16_t layer;                      // 1, 2 or 5
    uint16_t counter;                    // frames seen (mod ZELT_PROG_COUNTER_MODULUS)
    ZeltSymAccum ring[ZELT_PROG_SLOTS];  // slot = counter mod 48
    uint32_t periods;                    // completed 48-frame periods since last clear
};

// Best and runner-up of one message position.
struct ZeltCandidateEntry {
    uint16_t best;  // symbol, 18 = none
    int16_t bestScore;
    uint16_t second;  // symbol, 18 = none
    int16_t secondScore;
};

// Reed-Solomon candidate kept per depth, and the RS_Process output.
struct ZeltRsCandidate {
    uint32_t frame;  // frame counter when stored, ZELT_FRAME_MODULUS = none
    uint16_t quality;
    int16_t strength;
    uint8_t depth;
    uint16_t phase;       // alignment a
    uint8_t symbols[16];  // data positions 0 .. 13, then the two markers
    int16_t margins[16];
    uint8_t decoded;  // 1 when the Reed-Solomon decode succeeded
};

// Commercial flag accumulator.
struct ZeltFlagAccum {
    uint32_t frame;  // frame counter of the last flag, ZELT_FRAME_MODULUS = none
    uint16_t count;  // markers found
    int16_t strength;
    uint8_t depth;
    int8_t id;  // flag value 3 or 7
    uint16_t phase;
    uint8_t symbols[16];
};

struct ZeltDecoderState {
    ZELT_DetectionCallback callback;
    void* user;
    uint32_t maxDepthProg;       // default 16
    uint32_t commEvalFrames;     // default 12
    ZeltProgLayerState prog[3];  // layers 1, 2, 5

    ZeltSymStore store3[ZELT_COMM_STORE_SLOTS];
    ZeltSymStore store4[ZELT_COMM_STORE_SLOTS];
    uint16_t writeIndex;
    uint16_t savedIndex;

    uint16_t eval3[ZELT_COMM_SLOTS][18];
    uint16_t eval4[ZELT_COMM_SLOTS][18];
    int16_t filt3[ZELT_COMM_SLOTS][18];
    int16_t filt4[ZELT_COMM_SLOTS][18];
    ZeltCandidateEntry candidate[16];

    uint16_t rsDepth;     // 0 .. 5
    uint16_t flagsDepth;  // 0 .. 5
    ZeltRsCandidate best[ZELT_MAX_COMM_DEPTH + 1];
    ZeltFlagAccum flags;

    RsCodeParams rs;        // (15, 9) over GF(16)
    uint32_t frameCounter;  // frames modulo ZELT_FRAME_MODULUS
    ZeltBinSnr binSnr;      // scratch of the current frame
};

// Clears the state, sets the defaults and the (15, 9) code; returns RS_Init's
// result (0 for the unshortened code).
uint32_t ZELT_Init(ZELT_DetectionCallback callback, void* user, ZeltDecoderState* state);

// One frame. spectrum: power by FFT bin, bins 252 .. 772 read.
void ZELT_Decode(const float* spectrum, ZeltDecoderState* state);

// Number of 48-frame periods after which a program layer's ring is cleared.
void ZELT_Set_Max_Depth_Prog(uint32_t value, ZeltDecoderState* state);
// Length of the commercial evaluation cycle in frames (values below 6 are
// raised to 6 so that the phases 0 .. 5 all occur).
void ZELT_Set_Comm_Eval_Frames(uint32_t value, ZeltDecoderState* state);

// Rank of four distinct values out of 16 as an ordered choice:
// t0*2730 + t1'*182 + t2'*13 + t3', each primed value reduced by the number of
// earlier values smaller than it.  65535 when a value is above 15 or two are
// equal.  Range 0 .. 40319 (minutes of the 28-day cycle).
uint16_t ZELT_TimeSymbolRank(const uint8_t t[4]);
// Inverse: the four values of minute m (0 .. 40319); false when out of range.
bool ZELT_TimeSymbolsOfMinute(uint32_t minute, uint8_t t[4]);

// Internal stages, exposed for tests.
void Search_For_Detection_Prog(ZeltDecoderState* state, ZeltProgLayerState* layer);
// One Reed-Solomon try on the candidate message of alignment `alignment`.
//   q:        try figure (9, 8, 7), added as 100 * q to out->quality;
//   erasure:  extra erased data position (0 .. 13) or -1;
//   maxCorr:  largest accepted correction count;
//   filt3/4:  filtered scores of layers 3 and 4 (slot, symbol), used to check
//             and weigh corrected symbols;
//   out:      quality and strength fields hold their starting values on entry;
//             on return symbols/margins of the 16 positions, strength = mean
//             margin, quality += 100 * q + 10000 * (6 - corrections).
// Returns the correction count (position 14 included) or -1.
int RS_Process(ZeltDecoderState* state, int q, int erasure, int maxCorr,
               const ZeltCandidateEntry candidate[16], const int16_t filt3[][18],
               const int16_t filt4[][18], int alignment, ZeltRsCandidate* out);
void Emit_Depths_Comm_RS(ZeltDecoderState* state);
void Emit_Comm_Flags(ZeltDecoderState* state);
