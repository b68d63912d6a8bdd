#include "decoders/tesk2/T2MsgDecode.h"

#include <cstring>

const uint16_t T2M_THR_MSG_STR_STD[T2M_DEPTHS] = {120, 150, 180, 210};
const uint16_t T2M_THR_MSG_STR_RS[T2M_DEPTHS] = {90, 100, 110, 120};
const uint16_t T2M_THR_STRONG_SYM_1ST_2ND[T2M_DEPTHS] = {9, 9, 9, 9};
const uint32_t TIME_SYM_VALUE_BY_SLOT[T2M_MSG_SYMBOLS] = {
    0, 0, 0, 0, 0, 1u << 25, 1u << 20, 1u << 15, 1u << 10, 32, 1};
const uint8_t T2M_TS_INC_LAYER0[T2M_DEPTHS] = {0x00, 0x10, 0x20, 0x30};
const uint8_t T2M_TS_INC_LAYER1[T2M_DEPTHS] = {0x00, 0x08, 0x10, 0x18};

namespace {

const int kMinStrongRs = 5;
const uint16_t kVoteCap = 1020;
const double kMsPerFrame = 2.6666666666666665;

inline int Wrap(int i, int len) {
    i %= len;
    return i < 0 ? i + len : i;
}

void ClearSlots(T2M_Block_t* blk) {
    for (int k = 0; k < T2M_DEPTHS; ++k) {
        T2M_Slot_t& s = blk->slot[k];
        s.frame = T2M_FRAME_MOD;
        s.quality = 0;
        s.strength = 0;
        s.depth = (uint8_t)k;
        memset(s.sym, T2_NO_SYMBOL, sizeof(s.sym));
        memset(s.margin, 0, sizeof(s.margin));
    }
}

// Votes of the 11 positions of one candidate message, summed over the
// repetitions seen so far, with each position's best and runner-up.
struct Accumulator {
    uint16_t votes[T2M_MSG_SYMBOLS][T2M_VOTE_SYMBOLS];
    uint8_t best[T2M_MSG_SYMBOLS];
    uint16_t bestV[T2M_MSG_SYMBOLS];
    uint8_t second[T2M_MSG_SYMBOLS];
    uint16_t secondV[T2M_MSG_SYMBOLS];

    void Clear() {
        memset(votes, 0, sizeof(votes));
        memset(best, T2_NO_SYMBOL, sizeof(best));
        memset(second, T2_NO_SYMBOL, sizeof(second));
        memset(bestV, 0, sizeof(bestV));
        memset(secondV, 0, sizeof(secondV));
    }

    // The marker may lead only at position 0; elsewhere it can at most be
    // runner-up.
    void Vote(int pos, int sym, int score) {
        const uint16_t v = (uint16_t)(votes[pos][sym] + score);
        votes[pos][sym] = v;
        const bool mayLead = sym != T2_MARKER || pos == 0;
        if (mayLead && v > bestV[pos]) {
            if (best[pos] != sym) {
                second[pos] = best[pos];
                secondV[pos] = bestV[pos];
            }
            best[pos] = (uint8_t)sym;
            bestV[pos] = v;
        } else if (v > secondV[pos] && sym != best[pos]) {
            second[pos] = (uint8_t)sym;
            secondV[pos] = v;
        }
    }

    bool Valid() const {
        if (best[0] != T2_MARKER) return false;
        for (int p = 1; p < T2M_MSG_SYMBOLS; ++p) {
            if (best[p] >= T2_MARKER) return false;
        }
        return true;
    }
};

void UpdateSlot(T2M_State_t* st, T2M_Block_t* blk, int k, uint16_t quality, int16_t strength,
                const uint8_t* sym, const uint16_t* margin) {
    T2M_Slot_t& s = blk->slot[k];
    const unsigned q = quality / blk->D;
    const unsigned old = s.quality / blk->D;
    if (q < blk->M) return;
    if (!(q > old || (q == old && strength > s.strength))) return;
    s.frame = st->frameCounter;
    s.quality = quality;
    s.strength = strength;
    s.depth = (uint8_t)k;
    memcpy(s.sym, sym, T2M_MSG_SYMBOLS);
    memcpy(s.margin, margin, sizeof(s.margin));
}

// Adds one repetition's records to the accumulator. With inc non-null the
// time-code positions 5-10 are aligned with the newest repetition.
void AddRepetition(const T2M_Block_t* blk, int k, const uint8_t* inc, Accumulator& a) {
    const int base = (int)blk->index - T2M_REP_UNIT * blk->R * k;
    for (int p = T2M_MSG_SYMBOLS - 1; p >= 0; --p) {
        const T2_Candidate_t& rec =
            blk->hist[Wrap(base - T2M_SYMBOL_SPACING * (T2M_MSG_SYMBOLS - 1 - p), blk->length)];
        int adj = 0;
        if (inc != nullptr && p >= 5) {
            if (p == T2M_MSG_SYMBOLS - 1) {
                adj = inc[k];
            } else {
                int64_t t = 0;
                for (int q = p + 1; q < T2M_MSG_SYMBOLS; ++q) {
                    t += (int64_t)a.best[q] * TIME_SYM_VALUE_BY_SLOT[q];
                }
                const int64_t d = t - inc[k];
                // A negative remainder means the older repetition's lower
                // digits wrapped: borrow one (two at position 9 for advances
                // of more than 32).
                adj = d >= 0 ? 0 : (p == 9 && d < -32 ? 2 : 1);
            }
        }
        for (int q = 0; q < 2; ++q) {
            const int s = rec.p[q].sym;
            if (s >= T2_NO_SYMBOL) continue;
            const int score = (uint8_t)rec.p[q].score;
            const int v = (s == T2_MARKER || p < 5) ? s : (s + adj) % 32;
            a.Vote(p, v, score);
        }
    }
}

// A 16-bit margin read as the signed difference it holds: only a symbol set by
// a Reed-Solomon correction can have fewer votes than the runner-up.
inline int SignedMargin(uint16_t m) { return m >= 0x8000u ? int(m) - 0x10000 : int(m); }

void Margins(const Accumulator& a, int k, uint16_t* margin, int* strong, int16_t* strength) {
    int n = 0;
    int sum = 0;
    for (int p = 0; p < T2M_MSG_SYMBOLS; ++p) {
        margin[p] = (uint16_t)(a.bestV[p] - a.secondV[p]);
        if (margin[p] >= T2M_THR_STRONG_SYM_1ST_2ND[k]) ++n;
        sum += margin[p];
    }
    *strong = n;
    *strength = (int16_t)sum;
}

}  // namespace

uint32_t T2M_Init(T2M_Callback_t callback, void* user, T2M_State_t* st) {
    memset(st, 0, sizeof(*st));
    st->callback = callback;
    st->user = user;
    T2S_Init(&st->scorer);
    const uint32_t r = RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
                               RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &st->rs);
    const T2_Candidate_t empty = {{{T2_NO_SYMBOL, 0}, {T2_NO_SYMBOL, 0}}};
    for (int i = 0; i < T2M_HIST0_LEN; ++i) st->hist0[i] = empty;
    for (int i = 0; i < T2M_HIST1_LEN; ++i) st->hist1[i] = empty;
    const struct {
        T2_Candidate_t* hist;
        uint16_t length, R, M, D;
    } cfg[T2M_NUM_BLOCKS] = {{st->hist0, T2M_HIST0_LEN, 2, 8, 1},
                             {st->hist1, T2M_HIST1_LEN, 1, 8, 1},
                             {st->hist1, T2M_HIST1_LEN, 1, 31, 1000}};
    for (int b = 0; b < T2M_NUM_BLOCKS; ++b) {
        T2M_Block_t& blk = st->block[b];
        blk.layer = (uint32_t)b;
        blk.hist = cfg[b].hist;
        blk.index = 0;
        blk.length = cfg[b].length;
        blk.R = cfg[b].R;
        blk.M = cfg[b].M;
        blk.D = cfg[b].D;
        ClearSlots(&blk);
    }
    st->frameCounter = 0;
    return r;
}

int Sync_Absent(const T2M_Block_t* blk) {
    const int p0 = (int)blk->index - T2M_SYMBOL_SPACING * (T2M_MSG_SYMBOLS - 1);
    const T2_Candidate_t* recs[T2M_DEPTHS];
    bool marker = false;
    for (int r = 0; r < T2M_DEPTHS; ++r) {
        recs[r] = &blk->hist[Wrap(p0 - T2M_REP_UNIT * blk->R * r, blk->length)];
        marker = marker || recs[r]->p[0].sym == T2_MARKER || recs[r]->p[1].sym == T2_MARKER;
    }
    // The marker can lead only after a record that names it: most frames end here.
    if (!marker) return 1;
    int votes[T2M_VOTE_SYMBOLS] = {0};
    int leader = T2_NO_SYMBOL;
    for (int r = 0; r < T2M_DEPTHS; ++r) {
        const T2_Candidate_t& rec = *recs[r];
        for (int q = 0; q < 2; ++q) {
            const int s = rec.p[q].sym;
            if (s >= T2_NO_SYMBOL) continue;
            votes[s] += (uint8_t)rec.p[q].score;
            if (votes[s] > votes[leader]) leader = s;
        }
        if (leader == T2_MARKER) return 0;
    }
    return 1;
}

void T2M_AccumulateStd(T2M_State_t* st, T2M_Block_t* blk) {
    if (Sync_Absent(blk)) return;
    const uint8_t* inc = blk->layer == 0 ? T2M_TS_INC_LAYER0 : T2M_TS_INC_LAYER1;
    Accumulator a;
    a.Clear();
    for (int k = 0; k < T2M_DEPTHS; ++k) {
        AddRepetition(blk, k, inc, a);
        uint16_t margin[T2M_MSG_SYMBOLS];
        int strong;
        int16_t strength;
        Margins(a, k, margin, &strong, &strength);
        uint16_t quality = (uint16_t)strong;
        if (!a.Valid()) {
            quality = 0;
            strength = 0;
        }
        UpdateSlot(st, blk, k, quality, strength, a.best, margin);
    }
}

int RS_Process(const RsCodeParams* rs, uint8_t sym[T2M_MSG_SYMBOLS],
               uint16_t margin[T2M_MSG_SYMBOLS],
               const uint16_t votes[T2M_MSG_SYMBOLS][T2M_VOTE_SYMBOLS],
               const uint16_t second[T2M_MSG_SYMBOLS], int extra, int limit) {
    uint32_t word[T2M_MSG_SYMBOLS];
    for (int i = 0; i < T2M_MSG_SYMBOLS - 1; ++i) word[i] = sym[i + 1];
    word[T2M_MSG_SYMBOLS - 1] = 31;  // the eleventh symbol is never transmitted
    uint32_t erasures[2];
    uint32_t ne = 0;
    if (extra >= 1 && extra <= T2M_MSG_SYMBOLS - 1) erasures[ne++] = (uint32_t)(extra - 1);
    erasures[ne++] = T2M_MSG_SYMBOLS - 1;
    const RsDecodeResult r = RS_Decode(word, erasures, ne, rs);
    if (r.count < 0 || r.count > limit) return -1;
    // Changed indices are ascending: a transmitted symbol may only change when
    // the untransmitted index 10 (the last) changed too.
    if (r.count > 0 && r.positions[r.count - 1] != T2M_MSG_SYMBOLS - 1) return -1;
    uint8_t nsym[T2M_MSG_SYMBOLS];
    uint16_t nmargin[T2M_MSG_SYMBOLS];
    memcpy(nsym, sym, sizeof(nsym));
    memcpy(nmargin, margin, sizeof(nmargin));
    for (int i = 0; i < r.count - 1; ++i) {
        const int p = (int)r.positions[i] + 1;
        const uint32_t d = r.codeword[r.positions[i]];
        if (d >= 32 || votes[p][d] < 1) return -1;
        nsym[p] = (uint8_t)d;
        // A decoded symbol may have fewer votes than the runner-up: its margin
        // is then negative, kept modulo 2^16 like every margin, and lowers the
        // word's strength by that much (see SignedMargin).
        nmargin[p] = (uint16_t)(votes[p][d] - second[p]);
    }
    memcpy(sym, nsym, sizeof(nsym));
    memcpy(margin, nmargin, sizeof(nmargin));
    return r.count;
}

void T2M_AccumulateRs(T2M_State_t* st, T2M_Block_t* blk) {
    if (Sync_Absent(blk)) return;
    Accumulator a;
    a.Clear();
    for (int k = 0; k < T2M_DEPTHS; ++k) {
        AddRepetition(blk, k, nullptr, a);
        if (!a.Valid()) continue;
        uint16_t margin[T2M_MSG_SYMBOLS];
        int strong;
        int16_t strength;
        Margins(a, k, margin, &strong, &strength);
        if (strong < kMinStrongRs) continue;
        int minVotePos = 1, minMarginPos = 1;
        uint16_t minVote = 0xFFFF, minMargin = 0xFFFF;
        for (int p = 1; p < T2M_MSG_SYMBOLS; ++p) {
            const uint16_t v = a.bestV[p] > kVoteCap ? kVoteCap : a.bestV[p];
            const uint16_t m = margin[p] > kVoteCap ? kVoteCap : margin[p];
            if (v < minVote) {
                minVote = v;
                minVotePos = p;
            }
            if (m < minMargin) {
                minMargin = m;
                minMarginPos = p;
            }
        }
        static const struct { int which, limit, t; } kTries[3] = {{0, 2, 9}, {1, 3, 8}, {2, 3, 7}};
        for (const auto& tr : kTries) {
            uint8_t sym[T2M_MSG_SYMBOLS];
            uint16_t m[T2M_MSG_SYMBOLS];
            memcpy(sym, a.best, sizeof(sym));
            memcpy(m, margin, sizeof(m));
            const int extra = tr.which == 0 ? 0 : (tr.which == 1 ? minVotePos : minMarginPos);
            const int count = RS_Process(&st->rs, sym, m, a.votes, a.secondV, extra, tr.limit);
            if (count < 0) continue;
            int sum = 0;
            for (int p = 0; p < T2M_MSG_SYMBOLS; ++p) sum += SignedMargin(m[p]);
            const uint32_t quality =
                (uint32_t)strong + (uint32_t)(6 - count) * 10000u + (uint32_t)tr.t * 100u + 1000u;
            UpdateSlot(st, blk, k, (uint16_t)quality, (int16_t)sum, sym, m);
            break;
        }
    }
}

void T2M_DeriveFields(_T2M_Detection_t* det) {
    const uint8_t* s = det->symbols;
    if (det->layer == T2M_LAYER_COMM_RS) {
        det->sid = 0;
        det->flag = 0;
        det->timestamp = 0xFFFFFFFFu;
        det->field = 3;
        uint64_t id = 0;
        for (int p = 1; p <= 7; ++p) id = (id << 5) | (s[p] & 31u);
        det->commId = id;
        return;
    }
    det->sid = (uint16_t)((s[1] << 11) | (s[2] << 6) | (s[3] << 1) | ((s[4] >> 4) & 1));
    det->flag = (s[4] >> 3) & 1u;
    det->timestamp = ((uint32_t)(s[4] & 7) << 28) | ((uint32_t)s[5] << 23) |
                     ((uint32_t)s[6] << 18) | ((uint32_t)s[7] << 13) | ((uint32_t)s[8] << 8) |
                     ((uint32_t)s[9] << 3) | ((uint32_t)(s[10] >> 2) & 7u);
    det->field = s[10] & 3u;
    det->commId = 0;
}

void Emit_Depths(T2M_State_t* st, T2M_Block_t* blk) {
    bool live[T2M_DEPTHS];
    for (int k = 0; k < T2M_DEPTHS; ++k) live[k] = blk->slot[k].quality / blk->D >= blk->M;
    for (int k = 0; k < T2M_DEPTHS; ++k) {
        for (int j = k + 1; j < T2M_DEPTHS; ++j) {
            if (!live[k] || !live[j]) continue;
            if (blk->slot[k].frame == blk->slot[j].frame &&
                memcmp(blk->slot[k].sym + 1, blk->slot[j].sym + 1, T2M_MSG_SYMBOLS - 1) == 0) {
                live[j] = false;
            }
        }
    }
    const uint16_t* thr =
        blk->layer == T2M_LAYER_COMM_RS ? T2M_THR_MSG_STR_RS : T2M_THR_MSG_STR_STD;
    const uint32_t period = (uint32_t)T2M_REP_UNIT * blk->R;
    for (int k = 0; k < T2M_DEPTHS; ++k) {
        const T2M_Slot_t& s = blk->slot[k];
        if (!live[k] || s.strength < (int)thr[k]) continue;
        int64_t age = (int64_t)st->frameCounter - (int64_t)s.frame;
        if (age < 0) age += T2M_FRAME_MOD;
        age = (age + 25) % T2M_FRAME_MOD;
        const uint32_t first = (uint32_t)((period * (uint32_t)k + age + 640) % T2M_FRAME_MOD);
        _T2M_Detection_t det;
        memset(&det, 0, sizeof(det));
        det.layer = blk->layer;
        det.lastSymAge = (int32_t)((double)(float)age * kMsPerFrame);
        det.firstSymAge = (int32_t)((double)(float)first * kMsPerFrame);
        det.quality = s.quality;
        det.strength = s.strength;
        det.depth = s.depth;
        det.phase = (uint16_t)(s.frame % period);
        memcpy(det.symbols, s.sym, T2M_MSG_SYMBOLS);
        T2M_DeriveFields(&det);
        if (st->callback != nullptr) st->callback(st->user, &det);
    }
    ClearSlots(blk);
}

void T2M_Decode(const float* spectrum, T2M_State_t* st) {
    T2_Candidate_t cand[2];
    T2S_Process(spectrum, cand, &st->scorer);
    st->hist0[st->block[0].index] = cand[0];
    st->hist1[st->block[1].index] = cand[1];
    for (int b = 0; b < T2M_NUM_BLOCKS; ++b) {
        T2M_Block_t* blk = &st->block[b];
        if (blk->layer == T2M_LAYER_COMM_RS) {
            T2M_AccumulateRs(st, blk);
        } else {
            T2M_AccumulateStd(st, blk);
        }
        blk->index = (uint16_t)((blk->index + 1) % blk->length);
    }
    if (st->frameCounter % T2M_MSG_FRAMES == T2M_MSG_FRAMES - 1) {
        for (int b = 0; b < T2M_NUM_BLOCKS; ++b) Emit_Depths(st, &st->block[b]);
    }
    st->frameCounter = (st->frameCounter + 1) % T2M_FRAME_MOD;
}
