#include "decoders/tesk6/T6Sync.h"

#include <string.h>

#include "dsp/Lanes16.h"

namespace {

inline uint32_t Back(uint32_t w, uint32_t n) {
    return (w + T6S_HISTORY_FRAMES - n) % T6S_HISTORY_FRAMES;
}

// Puts (s, score) into the top four: above the first entry it strictly beats.
inline void Insert(_T6_Candidate_t* c, uint8_t s, uint8_t score) {
    if (score == 0) return;
    for (int i = 0; i < T6S_CANDIDATES; ++i) {
        if (score > c->pair[i].score) {
            for (int j = T6S_CANDIDATES - 1; j > i; --j) c->pair[j] = c->pair[j - 1];
            c->pair[i].symbol = s;
            c->pair[i].score = score;
            return;
        }
    }
}

typedef lanes16::I16x8 V8;
using lanes16::LoadBytes;
using lanes16::LoadShorts;
using lanes16::StoreShorts;

// The per-symbol arithmetic runs eight symbols at a time in 16-bit lanes (every
// intermediate stays within +-13000: s1 sums 49 scores of at most 255), with
// C's truncating division; the one symbol left over and the ranking are scalar.
void ProcessLayer(const uint8_t* x, _T6_Candidate_t* out, _T6S_Layer_t* L) {
    T6S_ClearCandidate(out);
    const uint32_t w = L->writeIndex;
    const uint8_t* h22 = L->history[Back(w, 22)];
    const uint8_t* h23 = L->history[Back(w, 23)];
    const uint8_t* h24 = L->history[Back(w, 24)];
    const uint8_t* h25 = L->history[Back(w, 25)];
    const uint8_t* h26 = L->history[Back(w, 26)];
    uint8_t* hw = L->history[w];
    int16_t v[T6_SYMBOL_COUNT];
    constexpr int kVectorSymbols = T6_SYMBOL_COUNT / 8 * 8;
    for (int s = 0; s < kVectorSymbols; s += 8) {
        // Background: the 44 stored frames outside the five around the centre.
        const V8 s1 = LoadShorts(L->s1 + s);
        const V8 centre = LoadBytes(h24 + s);
        const V8 b = s1 - (LoadBytes(h22 + s) + LoadBytes(h23 + s) + centre + LoadBytes(h25 + s) +
                           LoadBytes(h26 + s));
        const V8 e = centre - b / 44;
        const V8 s2 = LoadShorts(L->s2 + s);
        StoreShorts(v + s, s2 + e + LoadShorts(L->s3 + s));
        // The running sums advance for every symbol, also for skipped ones,
        // so that they always describe the stored frames.
        StoreShorts(L->s3 + s, s2);
        StoreShorts(L->s2 + s, e);
        StoreShorts(L->s1 + s, s1 - LoadBytes(hw + s) + LoadBytes(x + s));
    }
    for (int s = kVectorSymbols; s < T6_SYMBOL_COUNT; ++s) {
        int b = L->s1[s] - (h22[s] + h23[s] + h24[s] + h25[s] + h26[s]);
        int e = h24[s] - b / 44;
        v[s] = int16_t(L->s2[s] + e + L->s3[s]);
        L->s3[s] = L->s2[s];
        L->s2[s] = int16_t(e);
        L->s1[s] = int16_t(L->s1[s] - hw[s] + x[s]);
    }
    memcpy(hw, x, T6_SYMBOL_COUNT);
    for (int s = 0; s < T6_SYMBOL_COUNT; ++s) {
        if (v[s] > 767) {
            Insert(out, uint8_t(s), 255);
        } else if (v[s] >= -2) {
            Insert(out, uint8_t(s), uint8_t(v[s] / 3));
        }
    }
    L->writeIndex = (w + 1) % T6S_HISTORY_FRAMES;
}

}  // namespace

void T6S_ClearCandidate(_T6_Candidate_t* c) {
    for (int i = 0; i < T6S_CANDIDATES; ++i) {
        c->pair[i].symbol = T6_NO_SYMBOL;
        c->pair[i].score = 0;
    }
}

void T6S_Init(_T6S_State_t* state) { memset(state, 0, sizeof(*state)); }

void T6S_Process(const float* power, _T6_Candidate_t out[2], _T6S_State_t* state) {
    uint8_t binSnr[T6_BIN_SNR_COUNT];
    uint8_t sym[T6_SYMBOL_COUNT];
    T6_BinSnr(power, binSnr);
    T6_SymSnr_Prog(binSnr, sym);
    ProcessLayer(sym, &out[0], &state->layer[0]);
    T6_SymSnr_Comm(binSnr, sym);
    ProcessLayer(sym, &out[1], &state->layer[1]);
}
