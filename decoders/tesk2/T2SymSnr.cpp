#include "decoders/tesk2/T2SymSnr.h"

#include <cstdint>
#include <cstring>

#include "dsp/Lanes16.h"

const uint8_t T2S_HOP_SEQ[T2_NUM_CHIPS] = {1, 4, 0, 3, 1, 2, 4, 1, 3, 0, 2, 4, 1, 3, 0};

// Transcribed from the encoder's published chip table. Rows 11 and 26 differ
// from the cyclic construction (T2_ConstructedChipPattern) by 2 and 1 chips;
// encoders in the field use this table, so the decoder correlates against it.
#define R(a, b, c, d, e, f, g, h, i, j, k, l, m, n, o) \
    { a, b, c, d, e, f, g, h, i, j, k, l, m, n, o }
const uint8_t T2S_CHIP_PATTERN[T2_NUM_SYMBOLS][T2_NUM_CHIPS] = {
    R(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),  // 0
    R(0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1),  // 1
    R(0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0),  // 2
    R(0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1),  // 3
    R(0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1),  // 4
    R(0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0),  // 5
    R(0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1),  // 6
    R(0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0),  // 7
    R(0, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 0),  // 8
    R(0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1),  // 9
    R(0, 1, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 0),  // 10
    R(0, 1, 0, 1, 1, 0, 0, 1, 1, 1, 0, 1, 1, 1, 1),  // 11
    R(0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1),  // 12
    R(0, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0),  // 13
    R(0, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1),  // 14
    R(0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 0),  // 15
    R(1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 1, 1),  // 16
    R(1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0),  // 17
    R(1, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1),  // 18
    R(1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 0),  // 19
    R(1, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0),  // 20
    R(1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 1),  // 21
    R(1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 0),  // 22
    R(1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1),  // 23
    R(1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 1),  // 24
    R(1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0),  // 25
    R(1, 1, 0, 1, 0, 1, 1, 0, 1, 1, 0, 0, 0, 1, 1),  // 26
    R(1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0),  // 27
    R(1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0),  // 28
    R(1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1),  // 29
    R(1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0),  // 30
    R(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1),  // 31
    R(1, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 1),  // 32 (marker)
};
#undef R

int T2_ConstructedChipPattern(int s, uint8_t out[T2_NUM_CHIPS]) {
    static const uint8_t kBase[T2_NUM_CHIPS] = {0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 1, 1, 1};
    if (s < 0 || s > 31) return -1;
    if (s == 0 || s == 31) {
        memset(out, s == 31 ? 1 : 0, T2_NUM_CHIPS);
        return 0;
    }
    for (int shift = 0; shift < T2_NUM_CHIPS; ++shift) {
        for (int inv = 0; inv < 2; ++inv) {
            uint8_t w[T2_NUM_CHIPS];
            int head = 0;
            for (int j = 0; j < T2_NUM_CHIPS; ++j) {
                w[j] = (uint8_t)(kBase[(j + shift) % T2_NUM_CHIPS] ^ inv);
                if (j < 5) head = head * 2 + w[j];
            }
            if (head == s) {
                memcpy(out, w, T2_NUM_CHIPS);
                return 0;
            }
        }
    }
    return -1;
}

static inline int PeakMeasure(const float* p, int c) {
    const float v = p[c];
    return (p[c - 2] <= v) + (p[c - 1] <= v) + (p[c + 1] <= v) + (p[c + 2] <= v) - 2;
}

void T2_BitSnr(const float* spectrum, int b, int8_t out[T2_NUM_PAIRS]) {
    for (int i = 0; i < T2_NUM_PAIRS; ++i) {
        out[i] =
            (int8_t)(PeakMeasure(spectrum, b + i) - PeakMeasure(spectrum, b + i + T2_PAIR_OFFSET));
    }
}

void T2_SymSnr_Init(T2_ChipRing_t* ring) { memset(ring, 0, sizeof(*ring)); }

namespace {

// Symbol correlation runs across the symbols: for chip j, every symbol's sum
// gains +chip or -chip by its pattern. Symbols are padded to 40 lanes of
// 16-bit sums (five 8-lane vectors); a sum is at most 15 * 4 = 60 in size.
typedef int16_t V8 __attribute__((vector_size(16)));
constexpr int kLanes = 8;
constexpr int kVectors = (T2_NUM_SYMBOLS + kLanes - 1) / kLanes;

struct SignTable {
    V8 sign[T2_NUM_CHIPS][kVectors];  // +1 / -1 by T2S_CHIP_PATTERN, 0 in the padding
};

SignTable BuildSigns() {
    SignTable t;
    for (int j = 0; j < T2_NUM_CHIPS; ++j) {
        int16_t lanes[kVectors * kLanes] = {};
        for (int s = 0; s < T2_NUM_SYMBOLS; ++s) lanes[s] = T2S_CHIP_PATTERN[s][j] ? 1 : -1;
        memcpy(t.sign[j], lanes, sizeof lanes);
    }
    return t;
}

}  // namespace

void T2_SymSnr_Process(int8_t corr[T2_NUM_SYMBOLS], T2_ChipRing_t* ring) {
    static const SignTable kSigns = BuildSigns();
    ring->idx = (uint16_t)((ring->idx + 1) % T2_RING_LEN);
    V8 acc[kVectors] = {};
    int row = ring->idx;
    for (int j = 0; j < T2_NUM_CHIPS; ++j) {
        const int16_t c = ring->chips[row][T2S_HOP_SEQ[j]];
        const V8 chip = {c, c, c, c, c, c, c, c};
        for (int v = 0; v < kVectors; ++v) acc[v] += kSigns.sign[j][v] * chip;
        row += T2_CHIP_SPACING;
        if (row >= T2_RING_LEN) row -= T2_RING_LEN;
    }
    int16_t sums[kVectors * kLanes];
    memcpy(sums, acc, sizeof sums);
    for (int s = 0; s < T2_NUM_SYMBOLS; ++s) corr[s] = (int8_t)sums[s];
}

void T2S_Init(T2S_State_t* st) { memset(st, 0, sizeof(*st)); }

static inline int Back(uint32_t w, int f) {
    return (int)((w + T2_SCORE_HISTORY * 2 - (uint32_t)f) % T2_SCORE_HISTORY);
}

typedef int8_t B8 __attribute__((vector_size(8)));
using lanes16::LoadBytes;
using lanes16::LoadShorts;
using lanes16::StoreShorts;

// First symbol holding the highest score, and that score.
static inline int FirstHighest(const int16_t* score, int16_t* top) {
    int16_t m = score[0];
    for (int s = 1; s < T2_NUM_SYMBOLS; ++s) m = score[s] > m ? score[s] : m;
    int at = 0;
    while (score[at] != m) ++at;
    *top = m;
    return at;
}

// Best and runner-up as a pass in symbol order would keep them, where a score replaces the
// best when strictly greater (the best moving to second place), else the runner-up when
// strictly greater, both starting at score 0: the best is the first symbol with the highest
// positive score, the runner-up the first with the highest positive score among the others.
// Found by two maximum searches instead of a branch per symbol on noisy scores.
static void RankTwo(int16_t score[T2_NUM_SYMBOLS], T2_Candidate_t* out) {
    out->p[0].sym = T2_NO_SYMBOL;
    out->p[0].score = 0;
    out->p[1] = out->p[0];
    int16_t top;
    const int best = FirstHighest(score, &top);
    if (top <= 0) return;
    out->p[0].sym = (uint8_t)best;
    out->p[0].score = (int8_t)top;
    score[best] = INT16_MIN;
    const int second = FirstHighest(score, &top);
    if (top <= 0) return;
    out->p[1].sym = (uint8_t)second;
    out->p[1].score = (int8_t)top;
}

// The per-symbol arithmetic runs eight symbols at a time in 16-bit lanes (every
// intermediate stays within +-3200: s1 sums 49 correlations of at most 60),
// with C's truncating division and the int8 wrap of the excess written out;
// the one symbol left over (the marker) and the ranking are scalar.
static void ScoreLayer(T2S_Layer_t* L, T2_Candidate_t* out) {
    int8_t x[T2_NUM_SYMBOLS];
    T2_SymSnr_Process(x, &L->ring);
    const uint32_t w = L->w;
    int8_t* hw = L->hist[w];
    const int8_t* h23 = L->hist[Back(w, 23)];
    const int8_t* h24 = L->hist[Back(w, 24)];
    const int8_t* h25 = L->hist[Back(w, 25)];
    int16_t score[T2_NUM_SYMBOLS];
    constexpr int kVectorSymbols = T2_NUM_SYMBOLS / kLanes * kLanes;
    for (int s = 0; s < kVectorSymbols; s += kLanes) {
        const V8 s1 = LoadShorts(L->s1 + s);
        const V8 centre = LoadBytes(h24 + s);
        const V8 background = s1 - (LoadBytes(h23 + s) + centre + LoadBytes(h25 + s));
        V8 e = centre - background / 46;
        e = (V8)((e << 8) >> 8);  // the int8 the excess is stored as
        StoreShorts(score + s, (e + LoadBytes(L->prev + s)) / 2);
        StoreShorts(L->s1 + s, s1 + LoadBytes(x + s) - LoadBytes(hw + s));
        const B8 narrow = __builtin_convertvector(e, B8);
        memcpy(L->prev + s, &narrow, sizeof narrow);
    }
    for (int s = kVectorSymbols; s < T2_NUM_SYMBOLS; ++s) {
        const int background = L->s1[s] - (h23[s] + h24[s] + h25[s]);
        const int8_t e = (int8_t)(h24[s] - background / 46);
        score[s] = (int16_t)((e + L->prev[s]) / 2);
        L->prev[s] = e;
        L->s1[s] = (int16_t)(L->s1[s] + x[s] - hw[s]);
    }
    memcpy(hw, x, T2_NUM_SYMBOLS);
    RankTwo(score, out);
    L->w = (w + 1) % T2_SCORE_HISTORY;
}

void T2S_Process(const float* spectrum, T2_Candidate_t out[2], T2S_State_t* st) {
    T2_BitSnr(spectrum, T2_LAYER0_BAND, st->layer[0].ring.chips[st->layer[0].ring.idx]);
    T2_BitSnr(spectrum, T2_LAYER1_BAND, st->layer[1].ring.chips[st->layer[1].ring.idx]);
    ScoreLayer(&st->layer[0], &out[0]);
    ScoreLayer(&st->layer[1], &out[1]);
}
