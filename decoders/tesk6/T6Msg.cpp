#include "decoders/tesk6/T6Msg.h"

#include <string.h>

const uint16_t T6M_THR_MSG_STR_PROG[T6M_DEPTHS] = {120, 150, 180, 210};
const uint16_t T6M_THR_MSG_STR_COMM_STD[T6M_DEPTHS] = {120, 150, 180, 210};
const uint16_t T6M_THR_MSG_STR_COMM_RS[T6M_DEPTHS] = {90, 100, 110, 120};
const uint16_t T6M_THR_STRONG_SYM_1ST_2ND[T6M_DEPTHS] = {9, 9, 9, 9};
const uint8_t T6M_INC_PROG[5] = {5, 5, 4, 5, 5};
const uint8_t T6M_INC_COMM[5] = {2, 1, 2, 1, 2};

namespace {

constexpr int kVoteSlots = T6_NO_SYMBOL + 1;  // 130: symbols 0..129
constexpr int kPhases = 5;
constexpr uint16_t kCapVotes = 1020;

inline int Wrap(int index, int length) {
    index %= length;
    return index < 0 ? index + length : index;
}

// Best and runner-up (symbol, votes) of one message position, updated on
// every vote as it is added.
struct Tracker {
    uint8_t bestSym;
    uint8_t secSym;
    uint16_t bestVotes;
    uint16_t secVotes;
};

inline void TrackerReset(Tracker& t) {
    t.bestSym = T6_NO_SYMBOL;
    t.secSym = T6_NO_SYMBOL;
    t.bestVotes = 0;
    t.secVotes = 0;
}

inline void Track(Tracker& t, uint8_t s, uint16_t v, bool markerMayLead) {
    if (v > t.bestVotes && (s != T6_MARKER_SYMBOL || markerMayLead)) {
        if (t.bestSym != s) {
            t.secSym = t.bestSym;
            t.secVotes = t.bestVotes;
        }
        t.bestSym = s;
        t.bestVotes = v;
    } else if (v > t.secVotes && s != t.bestSym) {
        t.secSym = s;
        t.secVotes = v;
    }
}

void ClearSlot(_T6M_Slot_t* s) {
    s->frame = T6M_EMPTY_FRAME;
    s->quality = 0;
    s->strength = 0;
    s->depth = 0;
    for (int j = 0; j < T6M_MSG_SYMBOLS; ++j) {
        s->pos[j].symbol = T6_NO_SYMBOL;
        s->pos[j].margin = 0;
    }
}

// Decides whether a message may start 42 frames back: the marker must lead
// the votes of the top two candidates at the marker position of up to four
// repetitions.
bool SyncTest(const _T6M_Block_t* b) {
    uint32_t votes[kVoteSlots] = {0};
    const int len = b->historyLength;
    const int step = 50 * b->repSpacing;
    int p = Wrap(int(b->writeIndex) - T6M_SYNC_BACK, len);
    int leader = -1;
    for (int i = 0; i < T6M_DEPTHS; ++i) {
        const _T6_Candidate_t& r = b->history[p];
        const int s0 = r.pair[0].symbol;
        const int s1 = r.pair[1].symbol;
        if (s0 != T6_NO_SYMBOL) votes[s0] += r.pair[0].score;
        if (s1 != T6_NO_SYMBOL) votes[s1] += r.pair[1].score;
        int best = (s0 != T6_NO_SYMBOL) ? s0 : -1;
        if (s1 != T6_NO_SYMBOL && (best < 0 || votes[s1] > votes[best])) best = s1;
        if (best >= 0) {
            if (leader < 0) {
                if (votes[best] >= 1) leader = best;
            } else if (votes[best] > votes[leader]) {
                leader = best;
            }
        }
        if (leader == T6_MARKER_SYMBOL) return true;
        p = Wrap(p - step, len);
    }
    return false;
}

// Offers a candidate to slot k of a block.
void OfferSlot(_T6M_Block_t* b, int k, int32_t frame, uint16_t quality, int16_t strength,
               const uint8_t* sym, const uint16_t* margin) {
    const uint16_t d = b->qualityDivisor;
    _T6M_Slot_t* s = &b->slot[k];
    if (quality / d < b->minQuality) return;
    if (quality / d > s->quality / d || (quality / d == s->quality / d && strength > s->strength)) {
        s->frame = uint32_t(frame);
        s->quality = quality;
        s->strength = strength;
        s->depth = uint8_t(k);
        for (int j = 0; j < T6M_MSG_SYMBOLS; ++j) {
            s->pos[j].symbol = sym[j];
            s->pos[j].margin = margin[j];
        }
    }
}

// Reads candidate record of position j of repetition k.
inline const _T6_Candidate_t& RecordAt(const _T6M_Block_t* b, int k, int j) {
    int idx = int(b->writeIndex) - 50 * b->repSpacing * k - T6M_SYMBOL_SPACING * (7 - j);
    return b->history[Wrap(idx, b->historyLength)];
}

void StandardAccumulation(_T6M_Block_t* b, int32_t frame) {
    const uint8_t* inc = (b->layer == T6M_LAYER_PROG) ? T6M_INC_PROG : T6M_INC_COMM;
    const uint16_t* thr = T6M_THR_STRONG_SYM_1ST_2ND;
    uint16_t votes[7][kVoteSlots];
    uint16_t votes7[kPhases][kVoteSlots];
    memset(votes, 0, sizeof(votes));
    memset(votes7, 0, sizeof(votes7));
    Tracker tr[T6M_MSG_SYMBOLS];
    for (auto& t : tr) TrackerReset(t);

    for (int k = 0; k < T6M_DEPTHS; ++k) {
        // Advance of symbol 7 from repetition k to the newest one, per phase.
        unsigned shift[kPhases];
        for (int h = 0; h < kPhases; ++h) {
            unsigned sum = 0;
            for (int j = 0; j < k; ++j) sum += inc[(h + j) % kPhases];
            shift[h] = sum;
        }
        for (int j = 0; j < 7; ++j) {
            const _T6_Candidate_t& r = RecordAt(b, k, j);
            for (int c = 0; c < T6S_CANDIDATES; ++c) {
                const uint8_t s = r.pair[c].symbol;
                votes[j][s] = uint16_t(votes[j][s] + r.pair[c].score);
                Track(tr[j], s, votes[j][s], j == 0);
            }
        }
        const _T6_Candidate_t& r7 = RecordAt(b, k, 7);
        for (int c = 0; c < T6S_CANDIDATES; ++c) {
            const uint8_t s = r7.pair[c].symbol;
            const uint8_t score = r7.pair[c].score;
            if (s >= T6_MARKER_SYMBOL) {
                votes7[0][s] = uint16_t(votes7[0][s] + score);
                Track(tr[7], s, votes7[0][s], false);
            } else {
                for (int h = 0; h < kPhases; ++h) {
                    const uint8_t sh = uint8_t(((s + shift[h]) % 256) & 0x7F);
                    votes7[h][sh] = uint16_t(votes7[h][sh] + score);
                    Track(tr[7], sh, votes7[h][sh], false);
                }
            }
        }

        bool valid = tr[0].bestSym == T6_MARKER_SYMBOL;
        for (int j = 1; j < T6M_MSG_SYMBOLS && valid; ++j) valid = tr[j].bestSym < T6_MARKER_SYMBOL;
        uint16_t quality = 0;
        int16_t strength = 0;
        uint8_t sym[T6M_MSG_SYMBOLS];
        uint16_t margin[T6M_MSG_SYMBOLS];
        if (valid) {
            for (int j = 0; j < T6M_MSG_SYMBOLS; ++j) {
                sym[j] = tr[j].bestSym;
                margin[j] = uint16_t(tr[j].bestVotes - tr[j].secVotes);
                if (margin[j] >= thr[k]) ++quality;
                strength = int16_t(strength + margin[j]);
            }
        }
        if (valid) OfferSlot(b, k, frame, quality, strength, sym, margin);
    }
}

void ReedSolomonAccumulation(_T6M_Block_t* b, int32_t frame, const RsCodeParams* rs) {
    if (!SyncTest(b)) return;
    const uint16_t* thr = T6M_THR_STRONG_SYM_1ST_2ND;
    uint16_t votes[T6M_MSG_SYMBOLS][kVoteSlots];
    memset(votes, 0, sizeof(votes));
    Tracker tr[T6M_MSG_SYMBOLS];
    for (auto& t : tr) TrackerReset(t);

    for (int k = 0; k < T6M_DEPTHS; ++k) {
        for (int j = 0; j < T6M_MSG_SYMBOLS; ++j) {
            const _T6_Candidate_t& r = RecordAt(b, k, j);
            for (int c = 0; c < T6S_CANDIDATES; ++c) {
                const uint8_t s = r.pair[c].symbol;
                votes[j][s] = uint16_t(votes[j][s] + r.pair[c].score);
                Track(tr[j], s, votes[j][s], j == 0);
            }
        }

        bool valid = tr[0].bestSym == T6_MARKER_SYMBOL;
        for (int j = 1; j < T6M_MSG_SYMBOLS && valid; ++j) valid = tr[j].bestSym < T6_MARKER_SYMBOL;
        if (!valid) continue;
        uint8_t sym[T6M_MSG_SYMBOLS];
        uint16_t margin[T6M_MSG_SYMBOLS];
        int strong = 0;
        for (int j = 0; j < T6M_MSG_SYMBOLS; ++j) {
            sym[j] = tr[j].bestSym;
            margin[j] = uint16_t(tr[j].bestVotes - tr[j].secVotes);
            if (margin[j] >= thr[k]) ++strong;
        }
        if (strong < 5) continue;

        // Least reliable positions: fewest votes, smallest margin.
        int minVotePos = 1, minMarginPos = 1;
        uint16_t minVote = 0xFFFF, minMargin = 0xFFFF;
        for (int j = 1; j < T6M_MSG_SYMBOLS; ++j) {
            uint16_t v = tr[j].bestVotes > kCapVotes ? kCapVotes : tr[j].bestVotes;
            uint16_t m = margin[j] > kCapVotes ? kCapVotes : margin[j];
            if (v < minVote) {
                minVote = v;
                minVotePos = j;
            }
            if (m < minMargin) {
                minMargin = m;
                minMarginPos = j;
            }
        }

        static const uint16_t kTryBonus[3] = {1900, 1800, 1700};
        const int erasurePos[3] = {0, minVotePos, minMarginPos};
        uint16_t quality = 0;
        for (int t = 0; t < 3 && quality == 0; ++t) {
            uint32_t received[7];
            for (int j = 0; j < 7; ++j) received[j] = sym[j + 1];
            uint32_t erasure[1] = {uint32_t(erasurePos[t] - 1)};
            RsDecodeResult res = RS_Decode(received, erasure, t == 0 ? 0u : 1u, rs);
            if (res.count != 0 && res.count != 1) continue;
            uint8_t trySym[T6M_MSG_SYMBOLS];
            uint16_t tryMargin[T6M_MSG_SYMBOLS];
            memcpy(trySym, sym, sizeof(sym));
            memcpy(tryMargin, margin, sizeof(margin));
            if (res.count == 1) {
                const int j = int(res.positions[0]) + 1;
                const uint32_t corrected = res.codeword[res.positions[0]];
                if (corrected >= T6_MARKER_SYMBOL) continue;
                const uint16_t cv = votes[j][corrected];
                if (cv < 1) continue;
                trySym[j] = uint8_t(corrected);
                // A corrected symbol weaker than the runner-up gets a negative
                // margin (kept in 16 bits, summed as signed), which counts
                // against the strength: the votes speak against the correction.
                tryMargin[j] = uint16_t(cv - tr[j].secVotes);
            }
            int16_t strength = 0;
            for (int j = 0; j < T6M_MSG_SYMBOLS; ++j) strength = int16_t(strength + tryMargin[j]);
            quality = uint16_t(strong + (5 - res.count) * 10000 + kTryBonus[t]);
            OfferSlot(b, k, frame, quality, strength, trySym, tryMargin);
        }
    }
}

void Emit(_T6M_State_t* st, _T6M_Block_t* b) {
    const uint16_t* thrStr = b->layer == T6M_LAYER_PROG       ? T6M_THR_MSG_STR_PROG
                             : b->layer == T6M_LAYER_COMM_STD ? T6M_THR_MSG_STR_COMM_STD
                                                              : T6M_THR_MSG_STR_COMM_RS;
    // A slot is reported when it is live (quality / D >= M) and strong enough
    // for its depth. Duplicates are removed among reported slots only: a
    // deeper slot must not be dropped in favour of a shallower copy of the
    // same message that is itself too weak to be reported.
    bool live[T6M_DEPTHS];
    for (int k = 0; k < T6M_DEPTHS; ++k)
        live[k] = b->slot[k].quality / b->qualityDivisor >= b->minQuality &&
                  b->slot[k].strength >= int(thrStr[k]);
    for (int k = 0; k < T6M_DEPTHS; ++k) {
        if (!live[k]) continue;
        for (int j = k + 1; j < T6M_DEPTHS; ++j) {
            if (!live[j] || b->slot[j].frame != b->slot[k].frame) continue;
            bool same = true;
            for (int p = 1; p < T6M_MSG_SYMBOLS && same; ++p)
                same = b->slot[j].pos[p].symbol == b->slot[k].pos[p].symbol;
            if (same) live[j] = false;
        }
    }
    const int period = 50 * b->repSpacing;
    for (int k = 0; k < T6M_DEPTHS; ++k) {
        const _T6M_Slot_t& s = b->slot[k];
        if (!live[k]) continue;
        _T6M_Detection_t d;
        memset(&d, 0, sizeof(d));
        int64_t age = int64_t(st->frameCounter) - int64_t(s.frame);
        if (age < 0) age += T6M_FRAME_MODULUS;
        age = (age + 26) % T6M_FRAME_MODULUS;
        const int64_t firstAge = (int64_t(k) * period + age + 42) % T6M_FRAME_MODULUS;
        d.layer = b->layer;
        d.lastSymAge = int32_t(double(float(age)) * 32.0);
        d.firstSymAge = int32_t(double(float(firstAge)) * 32.0);
        d.quality = s.quality;
        d.strength = s.strength;
        d.depth = s.depth;
        d.phase = uint16_t(s.frame % uint32_t(period));
        for (int p = 0; p < T6M_MSG_SYMBOLS; ++p) d.symbols[p] = s.pos[p].symbol;
        T6M_FillMessageFields(&d);
        if (st->callback) st->callback(st->user, &d);
    }
}

void InitBlock(_T6M_Block_t* b, uint32_t layer, _T6_Candidate_t* history, uint16_t length,
               uint16_t R, uint16_t M, uint16_t D) {
    b->layer = layer;
    b->history = history;
    b->writeIndex = 0;
    b->historyLength = length;
    for (int k = 0; k < T6M_DEPTHS; ++k) ClearSlot(&b->slot[k]);
    b->repSpacing = R;
    b->minQuality = M;
    b->qualityDivisor = D;
}

}  // namespace

void T6M_FillMessageFields(_T6M_Detection_t* d) {
    const uint8_t* s = d->symbols;
    if (d->layer == T6M_LAYER_COMM_RS) {
        d->sid = 0;
        d->dist = 0;
        d->dst = 0;
        d->transmission = 0;
        d->timestamp = 0xFFFFFFFFu;
        d->commId = (uint64_t(s[1] & 0x7F) << 28) | (uint64_t(s[2] & 0x7F) << 21) |
                    (uint64_t(s[3] & 0x7F) << 14) | (uint64_t(s[4] & 0x7F) << 7) |
                    uint64_t(s[5] & 0x7F);
        return;
    }
    const uint32_t s3 = s[3] & 0x7F;
    d->sid = uint16_t(uint32_t(s[1] & 0x7F) * 512u + uint32_t(s[2] & 0x7F) * 4u + ((s3 >> 5) & 3u));
    d->transmission = (s3 >> 4) & 1u;
    d->dist = (s3 >> 2) & 3u;
    d->dst = uint8_t((s3 >> 1) & 1u);
    d->timestamp = ((s3 & 1u) << 28) | (uint32_t(s[4] & 0x7F) << 21) |
                   (uint32_t(s[5] & 0x7F) << 14) | (uint32_t(s[6] & 0x7F) << 7) |
                   uint32_t(s[7] & 0x7F);
    d->commId = 0;
}

uint32_t T6M_Init(T6M_Callback_t callback, void* user, _T6M_State_t* state) {
    memset(state, 0, sizeof(*state));
    state->callback = callback;
    state->user = user;
    T6S_Init(&state->sync);
    for (auto& c : state->progHistory) T6S_ClearCandidate(&c);
    for (auto& c : state->commHistory) T6S_ClearCandidate(&c);
    InitBlock(&state->block[0], T6M_LAYER_PROG, state->progHistory, T6M_PROG_HISTORY, 3, 6, 1);
    InitBlock(&state->block[1], T6M_LAYER_COMM_STD, state->commHistory, T6M_COMM_HISTORY, 1, 6, 1);
    InitBlock(&state->block[2], T6M_LAYER_COMM_RS, state->commHistory, T6M_COMM_HISTORY, 1, 41,
              1000);
    state->frameCounter = 0;
    return RS_Init(7, 5, 7, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF,
                   RS_7_5_TABLES_LOOKUPGFINV, RS_7_5_TABLES_LOOKUPGFREV, &state->rs);
}

void T6M_Decode(const float* power, _T6M_State_t* state) {
    _T6_Candidate_t rec[2];
    T6S_Process(power, rec, &state->sync);
    _T6M_Block_t* prog = &state->block[0];
    _T6M_Block_t* cstd = &state->block[1];
    _T6M_Block_t* crs = &state->block[2];
    prog->history[prog->writeIndex] = rec[0];
    cstd->history[cstd->writeIndex] = rec[1];

    const int32_t frame = state->frameCounter;
    if (SyncTest(prog)) StandardAccumulation(prog, frame);
    prog->writeIndex = uint16_t((prog->writeIndex + 1) % prog->historyLength);
    if (SyncTest(cstd)) StandardAccumulation(cstd, frame);
    cstd->writeIndex = uint16_t((cstd->writeIndex + 1) % cstd->historyLength);
    ReedSolomonAccumulation(crs, frame, &state->rs);
    crs->writeIndex = uint16_t((crs->writeIndex + 1) % crs->historyLength);

    if (frame % T6M_EMIT_PERIOD == T6M_EMIT_PERIOD - 1) {
        for (int i = 0; i < 3; ++i) Emit(state, &state->block[i]);
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < T6M_DEPTHS; ++k) ClearSlot(&state->block[i].slot[k]);
    }
    state->frameCounter = int32_t((uint32_t(frame) + 1) % T6M_FRAME_MODULUS);
}
