#include "decoders/zelt/ZeltDecoder.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

const uint16_t ZELT_THR_MSG_STR_COMM_FLAGS[6] = {300, 300, 300, 300, 300, 300};
const uint16_t ZELT_THR_MSG_STR_COMM_RS[6] = {160, 200, 250, 275, 325, 350};
const int32_t ZELT_THR_STRONG_SYM_1ST_2ND[6] = {160, 200, 250, 275, 325, 350};

namespace {

constexpr int kSyms = 18;
constexpr int kMarkerA = 16;
constexpr int kMarkerB = 17;
constexpr int kNone = ZELT_NO_SYMBOL;

// Where the 16 positions of the commercial message sit: layer (3 or 4) and
// slot offset from the alignment.  Entries 0 .. 13 are the data positions
// (code-word order), 14 is the layer-3 marker 17 and 15 the layer-4 marker 16.
struct CommPos {
    int layer;
    int offset;
};
constexpr CommPos kCommPos[16] = {{3, 3},  {3, 6},  {3, 9}, {3, 12}, {3, 15}, {4, 0},
                                  {4, 3},  {4, 6},  {4, 9}, {3, 18}, {3, 21}, {4, 15},
                                  {4, 18}, {4, 21}, {3, 0}, {4, 12}};

inline uint32_t FrameDiff(uint32_t now, uint32_t then) {
    return (now + ZELT_FRAME_MODULUS - then % ZELT_FRAME_MODULUS) % ZELT_FRAME_MODULUS;
}

void ResetRsEntry(ZeltRsCandidate* e) {
    std::memset(e, 0, sizeof(*e));
    e->frame = ZELT_FRAME_MODULUS;
    std::memset(e->symbols, kNone, sizeof(e->symbols));
}

void ResetFlags(ZeltFlagAccum* f) {
    std::memset(f, 0, sizeof(*f));
    f->frame = ZELT_FRAME_MODULUS;
    std::memset(f->symbols, kNone, sizeof(f->symbols));
}

void ClearProgRing(ZeltProgLayerState* layer) {
    std::memset(layer->ring, 0, sizeof(layer->ring));
    layer->periods = 0;
}

// Best and runner-up symbol of one slot from filtered scores; `skip` is a
// symbol that is not a candidate (-1 for none).
void BestTwo(const int16_t* f, int skip, ZeltCandidateEntry* out) {
    int best = kNone, second = kNone;
    int bestScore = 0, secondScore = 0;
    for (int s = 0; s < kSyms; ++s) {
        if (s == skip) continue;
        const int v = f[s];
        if (v > bestScore) {
            second = best;
            secondScore = bestScore;
            best = s;
            bestScore = v;
        } else if (v > secondScore) {
            second = s;
            secondScore = v;
        }
    }
    out->best = static_cast<uint16_t>(best);
    out->bestScore = static_cast<int16_t>(bestScore);
    out->second = static_cast<uint16_t>(second);
    out->secondScore = static_cast<int16_t>(secondScore);
}

// Filtered commercial scores: 3-7-3 around the mean of the 24 slots.
void FilterComm(const uint16_t in[][kSyms], int16_t out[][kSyms]) {
    for (int s = 0; s < kSyms; ++s) {
        int32_t sum = 0;
        for (int j = 0; j < (int)ZELT_COMM_SLOTS; ++j) sum += in[j][s];
        const int32_t m = sum / (int32_t)ZELT_COMM_SLOTS;
        for (int j = 0; j < (int)ZELT_COMM_SLOTS; ++j) {
            int32_t v = 3 * (in[j][s] - m) + 7 * (in[(j + 1) % ZELT_COMM_SLOTS][s] - m) +
                        3 * (in[(j + 2) % ZELT_COMM_SLOTS][s] - m);
            if (v > 32767) v = 32767;
            if (v < -32768) v = -32768;
            out[j][s] = static_cast<int16_t>(v);
        }
    }
}

void Send(ZeltDecoderState* state, const _ZELT_Detection_t& d) {
    if (state->callback) state->callback(state->user, &d);
}

// Commercial accumulation (step 6): phase 0 copies the 24 newest store slots,
// later phases add the next older 24.
void AccumulateComm(ZeltDecoderState* state, uint32_t phase) {
    const int n = ZELT_COMM_STORE_SLOTS;
    if (phase == 0) state->savedIndex = state->writeIndex;
    int idx = state->savedIndex;
    for (int j = ZELT_COMM_SLOTS - 1; j >= 0; --j) {
        for (int s = 0; s < kSyms; ++s) {
            if (phase == 0) {
                state->eval3[j][s] = state->store3[idx].score[s];
                state->eval4[j][s] = state->store4[idx].score[s];
            } else {
                state->eval3[j][s] =
                    static_cast<uint16_t>(state->eval3[j][s] + state->store3[idx].score[s]);
                state->eval4[j][s] =
                    static_cast<uint16_t>(state->eval4[j][s] + state->store4[idx].score[s]);
            }
        }
        idx = (idx + n - 1) % n;
    }
    state->savedIndex = static_cast<uint16_t>(idx);
}

void SearchCommRs(ZeltDecoderState* state, uint32_t phase) {
    ZeltCandidateEntry top3[ZELT_COMM_SLOTS], top4[ZELT_COMM_SLOTS];
    for (int j = 0; j < (int)ZELT_COMM_SLOTS; ++j) {
        BestTwo(state->filt3[j], kMarkerA, &top3[j]);
        BestTwo(state->filt4[j], -1, &top4[j]);
    }
    const int depth = state->rsDepth;
    const int strongMargin = ZELT_THR_STRONG_SYM_1ST_2ND[depth] / 3;
    ZeltRsCandidate& stored = state->best[depth];

    for (int a = 0; a < (int)ZELT_COMM_SLOTS; ++a) {
        const bool m3 = top3[a].best == kMarkerB;
        const bool m4 = top4[(a + 12) % ZELT_COMM_SLOTS].best == kMarkerA;
        if (!m3 && !m4) continue;
        int quality = (m3 && m4) ? 2000 : 1000;

        ZeltCandidateEntry* cand = state->candidate;
        bool dataOk = true;
        for (int i = 0; i < 16; ++i) {
            const int slot = (a + kCommPos[i].offset) % ZELT_COMM_SLOTS;
            cand[i] = kCommPos[i].layer == 3 ? top3[slot] : top4[slot];
            if (i < 14 && cand[i].best > 15) dataOk = false;
        }
        if (!dataOk) continue;

        int minScore = 1440, minScorePos = 0;
        int minMargin = 1440, minMarginPos = 0;
        for (int i = 0; i < 14; ++i) {
            const int margin = cand[i].bestScore - cand[i].secondScore;
            if (margin >= strongMargin) ++quality;
            if (cand[i].bestScore < minScore) {
                minScore = cand[i].bestScore;
                minScorePos = i;
            }
            if (margin < minMargin) {
                minMargin = margin;
                minMarginPos = i;
            }
        }
        if (quality % 100 <= 10) continue;

        ZeltRsCandidate out;
        struct Try {
            int q, erasure, maxCorr;
        };
        const Try tries[3] = {{9, -1, 3}, {8, minScorePos, 4}, {7, minMarginPos, 4}};
        // Corrections beyond the erased positions that a decoded word may need.
        // At the code's full correcting power almost any word decodes (with
        // the two erasures of the later tries about one arbitrary word in four
        // lies within two errors of a code word), so words that another
        // message or noise put in the slots would yield identifiers.  One
        // symbol of the code's distance is kept for detection, and an
        // alignment with one marker only (its place in the period not
        // confirmed by the other) is allowed one error less.
        const bool bothMarkers = m3 && m4;
        bool decoded = false;
        for (const Try& t : tries) {
            ResetRsEntry(&out);
            out.quality = static_cast<uint16_t>(quality);
            if (RS_Process(state, t.q, t.erasure, t.maxCorr, cand, state->filt3, state->filt4, a,
                           &out) < 0)
                continue;
            int errors = 0;
            for (int i = 0; i < 14; ++i) errors += i != t.erasure && out.symbols[i] != cand[i].best;
            const int allowed = (t.erasure < 0 ? 2 : 1) - (bothMarkers ? 0 : 1);
            if (errors <= allowed) {
                decoded = true;
                break;
            }
        }
        if (!decoded) {
            // Keep the undecoded word (it still competes, but is never reported).
            ResetRsEntry(&out);
            out.quality = static_cast<uint16_t>(quality);
            int32_t sum = 0;
            for (int i = 0; i < 16; ++i) {
                out.symbols[i] = static_cast<uint8_t>(cand[i].best);
                out.margins[i] = static_cast<int16_t>(cand[i].bestScore - cand[i].secondScore);
                sum += out.margins[i];
            }
            out.strength = static_cast<int16_t>(static_cast<int16_t>(sum) / 16);
        }
        out.decoded = decoded ? 1 : 0;

        const int newQ = out.quality / 1000, oldQ = stored.quality / 1000;
        if (newQ > oldQ || (newQ == oldQ && out.strength > stored.strength)) {
            stored = out;
            stored.frame = state->frameCounter;
            stored.depth = static_cast<uint8_t>(depth);
            stored.phase = static_cast<uint16_t>(a);
        }
    }
    (void)phase;

    if (stored.quality > 51999 || state->rsDepth >= ZELT_MAX_COMM_DEPTH) {
        Emit_Depths_Comm_RS(state);
        state->rsDepth = 0;
    } else {
        ++state->rsDepth;
    }
}

void SearchCommFlags(ZeltDecoderState* state, uint32_t phase) {
    ZeltCandidateEntry top3[ZELT_COMM_SLOTS], top4[ZELT_COMM_SLOTS];
    for (int j = 0; j < (int)ZELT_COMM_SLOTS; ++j) {
        BestTwo(state->filt3[j], kMarkerB, &top3[j]);
        BestTwo(state->filt4[j], kMarkerA, &top4[j]);
    }
    struct Marker {
        int layer, offset, symbol;
    };
    struct Pattern {
        int8_t value;
        Marker m[4];
    };
    static const Pattern kPatterns[2] = {
        {3, {{3, 0, kMarkerA}, {3, 6, kMarkerA}, {4, 12, kMarkerB}, {4, 21, kMarkerB}}},
        {7, {{4, 0, kMarkerB}, {4, 12, kMarkerB}, {3, 6, kMarkerA}, {3, 15, kMarkerA}}},
    };
    ZeltFlagAccum& acc = state->flags;
    for (const Pattern& p : kPatterns) {
        for (int j = 0; j < (int)ZELT_COMM_SLOTS; ++j) {
            int count = 0;
            int16_t sum = 0;
            uint8_t syms[4];
            for (int i = 0; i < 4; ++i) {
                const ZeltCandidateEntry* layerTop = p.m[i].layer == 3 ? top3 : top4;
                const ZeltCandidateEntry& e = layerTop[(j + p.m[i].offset) % ZELT_COMM_SLOTS];
                syms[i] = kNone;
                if (e.best == p.m[i].symbol) {
                    ++count;
                    sum = static_cast<int16_t>(sum + e.bestScore);
                    syms[i] = static_cast<uint8_t>(p.m[i].symbol);
                } else if (e.second == p.m[i].symbol) {
                    ++count;
                    sum = static_cast<int16_t>(sum + e.secondScore);
                    syms[i] = static_cast<uint8_t>(p.m[i].symbol);
                }
            }
            const int16_t strength = static_cast<int16_t>(sum / (4 * (int)(phase + 1)));
            if (count > acc.count || (count == acc.count && strength > acc.strength)) {
                acc.frame = state->frameCounter;
                acc.count = static_cast<uint16_t>(count);
                acc.strength = strength;
                acc.depth = static_cast<uint8_t>(phase);
                acc.id = p.value;
                // The slot of the pattern's first marker within the 24-slot period.
                acc.phase = static_cast<uint16_t>(j);
                std::memset(acc.symbols, kNone, sizeof(acc.symbols));
                std::memcpy(acc.symbols, syms, 4);
            }
        }
    }
    if (acc.count > 3 || phase >= ZELT_MAX_COMM_DEPTH) {
        Emit_Comm_Flags(state);
        state->flagsDepth = 0;
    } else {
        // Let the next phase of the cycle evaluate the next depth.
        state->flagsDepth = static_cast<uint16_t>(phase + 1);
    }
}

}  // namespace

uint16_t ZELT_TimeSymbolRank(const uint8_t t[4]) {
    static const int kWeights[4] = {2730, 182, 13, 1};
    int rank = 0;
    for (int i = 0; i < 4; ++i) {
        if (t[i] > 15) return ZELT_NO_TIMESTAMP;
        int primed = t[i];
        for (int j = 0; j < i; ++j) {
            if (t[j] == t[i]) return ZELT_NO_TIMESTAMP;
            if (t[j] < t[i]) --primed;
        }
        rank += primed * kWeights[i];
    }
    return static_cast<uint16_t>(rank);
}

bool ZELT_TimeSymbolsOfMinute(uint32_t minute, uint8_t t[4]) {
    if (minute >= 40320) return false;
    static const uint32_t kWeights[4] = {2730, 182, 13, 1};
    bool used[16] = {};
    uint32_t r = minute;
    for (int i = 0; i < 4; ++i) {
        uint32_t idx = r / kWeights[i];
        r %= kWeights[i];
        // The idx-th unused value in ascending order.
        for (int v = 0; v < 16; ++v) {
            if (used[v]) continue;
            if (idx == 0) {
                t[i] = static_cast<uint8_t>(v);
                used[v] = true;
                break;
            }
            --idx;
        }
    }
    return true;
}

uint32_t ZELT_Init(ZELT_DetectionCallback callback, void* user, ZeltDecoderState* state) {
    std::memset(state, 0, sizeof(*state));
    state->callback = callback;
    state->user = user;
    state->maxDepthProg = 16;
    state->commEvalFrames = 12;
    static const uint16_t kLayers[3] = {1, 2, 5};
    static const uint16_t kCounters[3] = {6, 18, 30};
    for (int i = 0; i < 3; ++i) {
        state->prog[i].layer = kLayers[i];
        state->prog[i].counter = kCounters[i];
    }
    for (auto& e : state->best) ResetRsEntry(&e);
    ResetFlags(&state->flags);
    for (auto& c : state->candidate) {
        c.best = kNone;
        c.second = kNone;
    }
    return RS_Init(15, 9, 4, RS_15_9_TABLES_CODEGENPOLY, RS_15_9_TABLES_LOOKUPGF,
                   RS_15_9_TABLES_LOOKUPGFINV, RS_15_9_TABLES_LOOKUPGFREV, &state->rs);
}

void ZELT_Set_Max_Depth_Prog(uint32_t value, ZeltDecoderState* state) {
    state->maxDepthProg = value;
}

void ZELT_Set_Comm_Eval_Frames(uint32_t value, ZeltDecoderState* state) {
    // Phases 0 .. 5 must all occur, or a depth counter could wait forever.
    state->commEvalFrames = value < ZELT_MAX_COMM_DEPTH + 1 ? ZELT_MAX_COMM_DEPTH + 1 : value;
}

void ZELT_Decode(const float* spectrum, ZeltDecoderState* state) {
    ZELT_BinSnr(spectrum, &state->binSnr);

    ZeltProgLayerState* p = state->prog;
    ZELT_SymSnr_Layer_1_Accum(&state->binSnr, &p[0].ring[p[0].counter % ZELT_PROG_SLOTS]);
    ZELT_SymSnr_Layer_2_Accum(&state->binSnr, &p[1].ring[p[1].counter % ZELT_PROG_SLOTS]);
    ZELT_SymSnr_Layer_5_Accum(&state->binSnr, &p[2].ring[p[2].counter % ZELT_PROG_SLOTS]);
    for (int i = 0; i < 3; ++i)
        p[i].counter = static_cast<uint16_t>((p[i].counter + 1u) % ZELT_PROG_COUNTER_MODULUS);

    ZELT_SymSnr_Layer_3_Store(&state->binSnr, &state->store3[state->writeIndex]);
    ZELT_SymSnr_Layer_4_Store(&state->binSnr, &state->store4[state->writeIndex]);

    for (int i = 0; i < 3; ++i)
        if (p[i].counter % ZELT_PROG_SLOTS == 0) Search_For_Detection_Prog(state, &p[i]);

    const uint32_t f = (state->frameCounter + 1) % ZELT_FRAME_MODULUS;
    const uint32_t phase = f % state->commEvalFrames;
    const bool rsDue = phase == state->rsDepth;
    const bool flagsDue = phase == state->flagsDepth;
    if (phase <= ZELT_MAX_COMM_DEPTH && (phase == 0 || rsDue || flagsDue)) {
        AccumulateComm(state, phase);
        FilterComm(state->eval3, state->filt3);
        FilterComm(state->eval4, state->filt4);
        if (rsDue) SearchCommRs(state, phase);
        if (flagsDue) SearchCommFlags(state, phase);
    }

    state->frameCounter = f;
    state->writeIndex = static_cast<uint16_t>((state->writeIndex + 1) % ZELT_COMM_STORE_SLOTS);
}

void Search_For_Detection_Prog(ZeltDecoderState* state, ZeltProgLayerState* layer) {
    constexpr int N = ZELT_PROG_SLOTS;
    ++layer->periods;

    int32_t mean[kSyms];
    for (int s = 0; s < kSyms; ++s) {
        int32_t sum = 0;
        for (int j = 0; j < N; ++j) sum += layer->ring[j].sum[s];
        mean[s] = sum / N;
    }
    uint8_t sym[N];
    int32_t norm[N];
    for (int j = 0; j < N; ++j) {
        int32_t bestScore = 0, total = 0;
        int best = kNone;
        for (int s = 0; s < kSyms; ++s) {
            const int32_t m = mean[s];
            const int32_t v = 3 * (layer->ring[j].sum[s] - m) +
                              5 * (layer->ring[(j + 1) % N].sum[s] - m) +
                              5 * (layer->ring[(j + 2) % N].sum[s] - m) +
                              3 * (layer->ring[(j + 3) % N].sum[s] - m);
            total += std::abs(v);
            if (v > bestScore) {
                bestScore = v;
                best = s;
            }
        }
        int32_t den = total - bestScore;
        if (den < 1) den = 1;
        int32_t n = static_cast<int32_t>((static_cast<int64_t>(bestScore) * 1024) / den);
        if (n > 2000) n = 2000;
        if (n < -2000) n = -2000;
        sym[j] = static_cast<uint8_t>(best);
        norm[j] = n;
    }

    int winCount = 0, winStrength = 0, winC = 0, winKey = 0;
    uint8_t winSym[12] = {};
    for (int c = 4; c < 4 + N; ++c) {
        uint8_t s[12];
        int32_t sc[12];
        for (int i = 0; i < 12; ++i) {
            const int slot = (c - 4 + 4 * i) % N;
            s[i] = sym[slot];
            sc[i] = norm[slot];
        }
        int count = (s[0] == kMarkerB) + (s[4] == kMarkerA);
        if (count == 0) continue;
        int key = 0;
        bool keyTest = s[0] != kNone && s[4] != kNone;
        for (int i : {1, 2, 3, 5, 6, 7})
            if (s[i] > 15) keyTest = false;
        if (keyTest && (s[1] == s[2] || s[1] == s[3] || s[2] == s[3])) keyTest = false;
        if (keyTest) {
            int d[3];
            for (int i = 0; i < 3; ++i) d[i] = (s[5 + i] - s[1 + i] + 16) % 16;
            if (d[0] == d[1] && d[1] == d[2] && d[0] != 0) {
                key = d[0];
                count += 6;
            } else {
                int odd = -1;
                if (d[0] == d[1] && d[0] != 0) {
                    key = d[0];
                    odd = 2;
                } else if (d[0] == d[2] && d[0] != 0) {
                    key = d[0];
                    odd = 1;
                } else if (d[1] == d[2] && d[1] != 0) {
                    key = d[1];
                    odd = 0;
                }
                if (odd >= 0) {
                    count += 4;
                    const int a = 1 + odd, b = 5 + odd;  // first and second half
                    if (sc[a] < sc[b]) {
                        s[a] = static_cast<uint8_t>((s[b] - key + 16) % 16);
                        sc[a] = sc[b];
                    } else {
                        s[b] = static_cast<uint8_t>((s[a] + key) % 16);
                        sc[b] = sc[a];
                    }
                }
            }
        }
        int32_t sum = 0;
        for (int i = 0; i < 12; ++i) sum += sc[i];
        const int strength = sum / 12;
        if (count > winCount || (count == winCount && strength > winStrength)) {
            winCount = count;
            winStrength = strength;
            winC = c;
            winKey = key;
            std::memcpy(winSym, s, 12);
        }
    }

    if (winCount >= 6) {
        const uint32_t depth = layer->periods - 1;
        _ZELT_Detection_t d;
        std::memset(&d, 0, sizeof(d));
        d.layer = layer->layer;
        d.lastSymAge = 0;
        d.firstSymAge = 100u * ((48u * depth + 44u) % ZELT_FRAME_MODULUS);
        d.quality = static_cast<uint16_t>(winCount);
        d.strength = static_cast<uint16_t>(winStrength);
        d.depth = static_cast<uint8_t>(depth);
        d.phase = static_cast<uint16_t>((winC + 40) % N);
        std::memset(d.symbols, kNone, sizeof(d.symbols));
        std::memcpy(d.symbols, winSym, 12);
        // A repaired symbol keeps the id consistent with the key.
        d.id = static_cast<uint16_t>((winSym[1] & 15) * 4096 + (winSym[2] & 15) * 256 +
                                     (winSym[3] & 15) * 16 + winKey);
        d.timestamp = ZELT_TimeSymbolRank(&winSym[8]);
        d.commId = 0;
        Send(state, d);
        if (winCount == 8) ClearProgRing(layer);
    }
    if (layer->periods >= state->maxDepthProg) ClearProgRing(layer);
}

int RS_Process(ZeltDecoderState* state, int q, int erasure, int maxCorr,
               const ZeltCandidateEntry candidate[16], const int16_t filt3[][18],
               const int16_t filt4[][18], int alignment, ZeltRsCandidate* out) {
    uint32_t received[15];
    for (int i = 0; i < 14; ++i) received[i] = candidate[i].best;
    received[14] = 15;
    uint32_t erasures[2] = {14, 0};
    uint32_t erasureCount = 1;
    if (erasure >= 0 && erasure < 14) erasures[erasureCount++] = static_cast<uint32_t>(erasure);

    for (int i = 0; i < 16; ++i) {
        out->symbols[i] = static_cast<uint8_t>(candidate[i].best);
        out->margins[i] = static_cast<int16_t>(candidate[i].bestScore - candidate[i].secondScore);
    }
    const RsDecodeResult r = RS_Decode(received, erasures, erasureCount, &state->rs);
    if (r.count < 0 || r.count > maxCorr) return -1;
    for (int k = 0; k < r.count && k < 4; ++k) {
        const uint32_t pos = r.positions[k];
        if (pos == 14) continue;
        if (pos > 13) return -1;
        const uint32_t symbol = r.codeword[pos];
        if (symbol > 15) return -1;
        const int slot = (alignment + kCommPos[pos].offset) % ZELT_COMM_SLOTS;
        const int16_t(*filt)[18] = kCommPos[pos].layer == 3 ? filt3 : filt4;
        const int16_t score = filt[slot][symbol];
        if (score < 1) return -1;
        out->symbols[pos] = static_cast<uint8_t>(symbol);
        out->margins[pos] = static_cast<int16_t>(score - candidate[pos].secondScore);
    }
    int16_t sum = out->strength;
    for (int i = 0; i < 16; ++i) sum = static_cast<int16_t>(sum + out->margins[i]);
    out->strength = static_cast<int16_t>(sum / 16);
    out->quality = static_cast<uint16_t>(out->quality + 100 * q + 10000 * (6 - r.count));
    return r.count;
}

void Emit_Depths_Comm_RS(ZeltDecoderState* state) {
    // First pass: only words that the Reed-Solomon decode accepted are
    // reported; an undecoded word carries no identifier.
    bool report[ZELT_MAX_COMM_DEPTH + 1];
    for (uint32_t d = 0; d <= ZELT_MAX_COMM_DEPTH; ++d) {
        const ZeltRsCandidate& e = state->best[d];
        report[d] = e.frame < ZELT_FRAME_MODULUS && e.decoded;
    }
    for (uint32_t d = 0; d <= ZELT_MAX_COMM_DEPTH; ++d) {
        const ZeltRsCandidate& e = state->best[d];
        if (!report[d] || e.strength < (int)ZELT_THR_MSG_STR_COMM_RS[d]) continue;
        const uint32_t age = FrameDiff(state->frameCounter, e.frame);
        _ZELT_Detection_t det;
        std::memset(&det, 0, sizeof(det));
        det.layer = 4;
        det.lastSymAge = 100u * age;
        det.firstSymAge = 100u * ((age + 24u * e.depth + 21u) % ZELT_FRAME_MODULUS);
        det.quality = e.quality;
        det.strength = static_cast<uint16_t>(e.strength);
        det.depth = e.depth;
        det.phase = e.phase;
        std::memcpy(det.symbols, e.symbols, 16);
        det.id = 0;
        det.timestamp = ZELT_NO_TIMESTAMP;
        uint64_t comm = 0;
        for (int i = 0; i < 9; ++i) comm = (comm << 4) | (e.symbols[i] & 15u);
        det.commId = comm;
        Send(state, det);
    }
    for (auto& e : state->best) ResetRsEntry(&e);
}

void Emit_Comm_Flags(ZeltDecoderState* state) {
    ZeltFlagAccum& f = state->flags;
    if (f.count > 3 && f.strength >= (int)ZELT_THR_MSG_STR_COMM_FLAGS[f.depth]) {
        const uint32_t age = FrameDiff(state->frameCounter, f.frame);
        _ZELT_Detection_t det;
        std::memset(&det, 0, sizeof(det));
        det.layer = 5;
        det.lastSymAge = static_cast<uint32_t>(100.0 * age);
        det.firstSymAge =
            static_cast<uint32_t>(100.0 * ((age + 24u * f.depth + 21u) % ZELT_FRAME_MODULUS));
        det.quality = f.count;
        det.strength = static_cast<uint16_t>(f.strength);
        det.depth = f.depth;
        det.phase = f.phase;
        std::memcpy(det.symbols, f.symbols, 16);
        det.id = static_cast<uint16_t>(static_cast<int>(f.id));
        det.timestamp = static_cast<uint16_t>(state->frameCounter * 0.0016666668f);
        det.commId = 0;
        Send(state, det);
    }
    // A new cycle of depths starts from an empty accumulator either way.
    ResetFlags(&f);
}
