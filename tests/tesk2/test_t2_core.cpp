// TESK 2 decoding core: chip values, pattern table, correlation, time-code
// alignment across repetitions, Reed-Solomon tries, thresholds and emission.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "decoders/tesk2/CTesk2Engine.h"
#include "decoders/tesk2/T2MsgDecode.h"
#include "decoders/tesk6/CBaseOutputReporter.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"

using Kelvane::Generators::SignalMix;
using Kelvane::Generators::Tesk2Generator;
using Kelvane::Generators::Tesk2Kind;
using Kelvane::Generators::Tesk2Message;

namespace {

// Decoder state with its emitted detections.
struct Decoder {
    T2M_State_t st;
    std::vector<_T2M_Detection_t> got;
    Decoder() {
        T2M_Init(
            [](void* u, const _T2M_Detection_t* d) { static_cast<Decoder*>(u)->got.push_back(*d); },
            this, &st);
    }
    // The record of symbol position p of repetition k (0 newest) of a block.
    T2_Candidate_t& Rec(int block, int k, int p) {
        T2M_Block_t& b = st.block[block];
        const int back = T2M_REP_UNIT * b.R * k + 64 * (10 - p);
        return b.hist[((int(b.index) - back) % b.length + b.length) % b.length];
    }
    // Writes a whole message (one pair per record) as repetition k of a block.
    void PutMessage(int block, int k, const uint8_t sym[11], const int score[11]) {
        for (int p = 0; p < 11; ++p) {
            Rec(block, k, p).p[0].sym = sym[p];
            Rec(block, k, p).p[0].score = int8_t(score[p]);
        }
    }
};

// The symbols of a Reed-Solomon commercial message; returns the parity symbol
// the air never carries (the decoder sees 31 in its place).
uint8_t RsWord(uint8_t good[11]) {
    Tesk2Message m;
    m.kind = Tesk2Kind::CommercialRs;
    m.commId = 0x3A5C7E913ull;
    uint8_t eleventh = 0;
    Tesk2Generator::Symbols(m, 0, good, &eleventh);
    return eleventh;
}

struct Captured {
    _T2M_Detection_t det;
    uint32_t frame;
};

// Feeds 24 kHz 16-bit samples to a fresh engine, 64 at a time.
std::vector<Captured> RunEngine(const std::vector<int16_t>& pcm) {
    struct Capture : CBaseOutputReporter {
        void DataCallback(void* det, float, int frame) override {
            out.push_back({*static_cast<const _T2M_Detection_t*>(det), uint32_t(frame)});
        }
        std::vector<Captured> out;
    } rep;
    CTesk2Engine engine(&rep);
    for (size_t i = 0; i + 64 <= pcm.size(); i += 64) {
        int16_t block[64];  // host byte order is little-endian, as the engine expects
        memcpy(block, &pcm[i], sizeof block);
        engine.ProcessAudioBuffer(reinterpret_cast<signed char*>(block), 128);
    }
    return rep.out;
}

int Hamming(const uint8_t* a, const uint8_t* b) {
    int d = 0;
    for (int j = 0; j < T2_NUM_CHIPS; ++j) d += a[j] != b[j];
    return d;
}

}  // namespace

TEST(Tesk2Chips, TableRowsFollowTheCyclicConstructionExceptRows11And26) {
    std::vector<std::vector<uint8_t>> seen;
    for (int s = 0; s < 32; ++s) {
        int head = 0;
        for (int j = 0; j < 5; ++j) head = head * 2 + T2S_CHIP_PATTERN[s][j];
        EXPECT_EQ(head, s) << "first five chips of symbol " << s;
        uint8_t c[T2_NUM_CHIPS];
        ASSERT_EQ(T2_ConstructedChipPattern(s, c), 0);
        const int d = Hamming(c, T2S_CHIP_PATTERN[s]);
        EXPECT_EQ(d, s == 11 ? 2 : s == 26 ? 1 : 0) << "symbol " << s;
        seen.emplace_back(c, c + T2_NUM_CHIPS);
    }
    for (size_t a = 0; a < seen.size(); ++a) {
        for (size_t b = a + 1; b < seen.size(); ++b) EXPECT_NE(seen[a], seen[b]);
        EXPECT_GT(Hamming(seen[a].data(), T2S_CHIP_PATTERN[T2_MARKER]), 0);
    }
    EXPECT_EQ(T2_ConstructedChipPattern(32, nullptr), -1);
}

TEST(Tesk2Chips, FlatSpectrumGivesZeroChipsAndATonePairGivesFullSwing) {
    std::vector<float> spectrum(T2_SPECTRUM_FLOATS, 5.0f);
    int8_t chips[5];
    T2_BitSnr(spectrum.data(), T2_LAYER0_BAND, chips);
    for (int v : chips) EXPECT_EQ(v, 0);
    // A "+" peak on pair 2 and a dip under the "-" tone: +2 - (-2) = 4.
    spectrum[T2_LAYER0_BAND + 2] = 100.0f;
    spectrum[T2_LAYER0_BAND + 12] = 1.0f;
    T2_BitSnr(spectrum.data(), T2_LAYER0_BAND, chips);
    EXPECT_EQ(chips[2], 4);
    // Its neighbours now see one bin above them: pk drops from 2 to 1.
    EXPECT_EQ(chips[1], -1 - 2 + 2);
    EXPECT_EQ(chips[4], 1 - 2);

    // A flat spectrum through the whole scorer records no candidate.
    T2S_State_t st;
    T2S_Init(&st);
    std::vector<float> flat(T2_SPECTRUM_FLOATS, 1.0f);
    T2_Candidate_t out[2];
    for (int f = 0; f < 120; ++f) {
        T2S_Process(flat.data(), out, &st);
        for (const auto& c : out)
            EXPECT_TRUE(c.p[0].sym == T2_NO_SYMBOL && c.p[1].sym == T2_NO_SYMBOL);
    }
}

TEST(Tesk2Chips, CorrelationOfAFullPlusRing) {
    T2_ChipRing_t ring;
    T2_SymSnr_Init(&ring);
    memset(ring.chips, 4, sizeof(ring.chips));
    int8_t corr[T2_NUM_SYMBOLS];
    T2_SymSnr_Process(corr, &ring);
    EXPECT_EQ(corr[31], 60);
    EXPECT_EQ(corr[0], -60);
    EXPECT_EQ(corr[T2_MARKER], 4);  // eight "+" and seven "-" chips
    EXPECT_EQ(ring.idx, 1);

    // Chip j of symbol 5's pattern on its hop pair only: symbol 5 scores 60.
    T2_SymSnr_Init(&ring);
    for (int j = 0; j < T2_NUM_CHIPS; ++j) {
        ring.chips[(1 + 4 * j) % T2_RING_LEN][T2S_HOP_SEQ[j]] = T2S_CHIP_PATTERN[5][j] ? 4 : -4;
    }
    T2_SymSnr_Process(corr, &ring);
    EXPECT_EQ(corr[5], 60);
    for (int s = 0; s < T2_NUM_SYMBOLS; ++s) EXPECT_TRUE(s == 5 || corr[s] < 60) << s;
}

// Random chip rings at every ring position against the correlation written out
// as its definition: sum over chips of +chip or -chip by the symbol's pattern.
TEST(Tesk2Chips, CorrelationMatchesItsDefinitionOnRandomRings) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> value(-4, 4);
    T2_ChipRing_t ring;
    T2_SymSnr_Init(&ring);
    for (int frame = 0; frame < 3 * T2_RING_LEN; ++frame) {
        for (auto& row : ring.chips)
            for (auto& c : row) c = (int8_t)value(rng);
        const int oldest = (ring.idx + 1) % T2_RING_LEN;
        int8_t corr[T2_NUM_SYMBOLS];
        T2_SymSnr_Process(corr, &ring);
        ASSERT_EQ(ring.idx, oldest);
        for (int s = 0; s < T2_NUM_SYMBOLS; ++s) {
            int sum = 0;
            for (int j = 0; j < T2_NUM_CHIPS; ++j) {
                const int c =
                    ring.chips[(oldest + T2_CHIP_SPACING * j) % T2_RING_LEN][T2S_HOP_SEQ[j]];
                sum += T2S_CHIP_PATTERN[s][j] ? c : -c;
            }
            ASSERT_EQ(corr[s], sum) << "frame " << frame << " symbol " << s;
        }
    }
}

// The frame scorer on random spectra (including large peaks, so excesses wrap
// as int8) against its definition written out per symbol with plain ints.
TEST(Tesk2Chips, ScorerMatchesItsDefinitionOnRandomSpectra) {
    struct RefLayer {
        int8_t hist[T2_SCORE_HISTORY][T2_NUM_SYMBOLS] = {};
        int16_t s1[T2_NUM_SYMBOLS] = {};
        int8_t prev[T2_NUM_SYMBOLS] = {};
        uint32_t w = 0;
    } ref[2];
    T2S_State_t st;
    T2S_Init(&st);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> power(0.0f, 1.0f);
    std::vector<float> spectrum(T2_SPECTRUM_FLOATS, 0.0f);
    int ranked = 0;
    for (int frame = 0; frame < 2000; ++frame) {
        for (float& p : spectrum) p = power(rng);
        // Every few frames one layer's "+" tones stand out for a while.
        if ((frame / 40) % 3 == 0)
            for (int i = 0; i < T2_NUM_PAIRS; ++i) spectrum[T2_LAYER0_BAND + i] = 50.0f;
        T2_Candidate_t out[2];
        T2S_Process(spectrum.data(), out, &st);
        for (int l = 0; l < 2; ++l) {
            // The correlations the layer just took in: its chip ring is the core's own.
            int8_t x[T2_NUM_SYMBOLS];
            T2_ChipRing_t ring = st.layer[l].ring;
            ring.idx = (uint16_t)((ring.idx + T2_RING_LEN - 1) % T2_RING_LEN);
            T2_SymSnr_Process(x, &ring);
            RefLayer& r = ref[l];
            const auto back = [&](int f) {
                return r.hist[(r.w + 2 * T2_SCORE_HISTORY - f) % T2_SCORE_HISTORY];
            };
            int best[2] = {T2_NO_SYMBOL, T2_NO_SYMBOL}, top[2] = {0, 0};
            for (int sym = 0; sym < T2_NUM_SYMBOLS; ++sym) {
                const int background = r.s1[sym] - (back(23)[sym] + back(24)[sym] + back(25)[sym]);
                const int8_t e = (int8_t)(back(24)[sym] - background / 46);
                const int score = (e + r.prev[sym]) / 2;
                if (score > top[0]) {
                    best[1] = best[0], top[1] = top[0], best[0] = sym, top[0] = score;
                } else if (score > top[1]) {
                    best[1] = sym, top[1] = score;
                }
                r.prev[sym] = e;
                r.s1[sym] = (int16_t)(r.s1[sym] + x[sym] - r.hist[r.w][sym]);
                r.hist[r.w][sym] = x[sym];
            }
            r.w = (r.w + 1) % T2_SCORE_HISTORY;
            ranked += best[1] != T2_NO_SYMBOL;
            for (int k = 0; k < 2; ++k) {
                ASSERT_EQ(out[l].p[k].sym, best[k]) << "frame " << frame << " layer " << l;
                ASSERT_EQ(out[l].p[k].score, top[k]) << "frame " << frame << " layer " << l;
            }
        }
    }
    EXPECT_GT(ranked, 500);  // the comparison saw real rankings, not only empty ones
}

TEST(Tesk2Message, TimeCodeBorrowAlignsFourRepetitions) {
    Decoder d;
    // Newest time code with low bits 001 and position 9 = 1, so that going
    // back 12 s (inc 48 at depth 3) borrows two from position 9 and one from
    // position 8.
    const uint32_t newest = (uint32_t(17) << 8) | (1u << 3) | 1u;
    Tesk2Message m;
    m.sid = 0x2C41;
    m.dist = 2;
    const int score[11] = {20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20};
    uint8_t symNewest[11];
    for (int k = 0; k < 4; ++k) {
        uint8_t sym[11];
        Tesk2Generator::Symbols(m, newest - 4 * k, sym);
        if (k == 0) memcpy(symNewest, sym, 11);
        d.PutMessage(0, k, sym, score);
    }
    T2M_AccumulateStd(&d.st, &d.st.block[0]);
    const T2M_Slot_t& s3 = d.st.block[0].slot[3];
    ASSERT_EQ(s3.quality, 11);
    EXPECT_EQ(memcmp(s3.sym, symNewest, 11), 0);
    for (int p = 0; p < 11; ++p) EXPECT_EQ(s3.margin[p], 80) << "position " << p;

    // All four depths hold the same frame and symbols: reported once, at depth 0.
    Emit_Depths(&d.st, &d.st.block[0]);
    ASSERT_EQ(d.got.size(), 1u);
    EXPECT_EQ(d.got[0].depth, 0);
    EXPECT_EQ(d.got[0].sid, m.sid);
    EXPECT_EQ(d.got[0].timestamp, newest);
    EXPECT_EQ(d.got[0].field, 2u);
    EXPECT_EQ(d.st.block[0].slot[0].frame, T2M_FRAME_MOD);  // cleared
}

// A standard message at depth 0 needs eight strong positions and a strength of 120.
TEST(Tesk2Message, EightStrongPositionsAndStrength120AreNeededAtDepth0) {
    Tesk2Message m;
    m.kind = Tesk2Kind::CommercialStandard;
    m.sid = 777;
    m.dist = 0;
    uint8_t sym[11];
    Tesk2Generator::Symbols(m, 123456, sym);
    const struct {
        int score[11];
        bool stored, reported;
    } cases[] = {
        {{13, 13, 13, 13, 13, 13, 13, 13, 8, 4, 4}, true, true},   // 8 strong, strength 120
        {{30, 30, 30, 30, 30, 30, 30, 8, 8, 8, 8}, false, false},  // 7 strong, strength 242
        {{13, 13, 13, 13, 13, 13, 13, 13, 8, 4, 3}, true, false},  // strength 119
    };
    for (const auto& c : cases) {
        Decoder d;
        d.PutMessage(1, 0, sym, c.score);
        T2M_AccumulateStd(&d.st, &d.st.block[1]);
        if (!c.stored) {
            EXPECT_EQ(d.st.block[1].slot[0].quality, 0);
            EXPECT_EQ(d.st.block[1].slot[0].frame, T2M_FRAME_MOD);
        }
        Emit_Depths(&d.st, &d.st.block[1]);
        ASSERT_EQ(d.got.size(), c.reported ? 1u : 0u) << c.score[10];
        if (!c.reported) continue;
        EXPECT_EQ(d.got[0].layer, 1u);
        EXPECT_EQ(d.got[0].quality, 8);
        EXPECT_EQ(d.got[0].strength, 120);
        EXPECT_EQ(d.got[0].timestamp, 123456u);
    }
}

TEST(Tesk2Message, ReedSolomonTries) {
    RsCodeParams rs;
    RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
            RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &rs);
    uint8_t good[11];
    const uint8_t eleventh = RsWord(good);
    uint16_t votes[11][T2M_VOTE_SYMBOLS] = {};
    uint16_t second[11] = {};
    for (int p = 0; p < 11; ++p) votes[p][good[p]] = 40;
    uint16_t margin[11];
    for (auto& v : margin) v = 40;

    uint8_t sym[11];
    memcpy(sym, good, 11);
    EXPECT_EQ(RS_Process(&rs, sym, margin, votes, second, 0, 2), eleventh == 31 ? 0 : 1);
    EXPECT_EQ(memcmp(sym, good, 11), 0);

    // One wrong transmitted symbol: corrected by the first try.
    memcpy(sym, good, 11);
    sym[4] ^= 5;
    votes[4][sym[4]] = 30;
    second[4] = 30;
    margin[4] = 10;
    ASSERT_EQ(RS_Process(&rs, sym, margin, votes, second, 0, 2), 2);
    EXPECT_EQ(sym[4], good[4]);
    EXPECT_EQ(margin[4], 10);  // 40 votes of the decoded symbol - 30 of the runner-up

    // Two wrong symbols: beyond the first try, found when one of them is erased.
    memcpy(sym, good, 11);
    sym[2] ^= 9;
    sym[7] ^= 17;
    uint8_t before[11];
    memcpy(before, sym, 11);
    EXPECT_EQ(RS_Process(&rs, sym, margin, votes, second, 0, 2), -1);
    EXPECT_EQ(memcmp(sym, before, 11), 0);
    ASSERT_EQ(RS_Process(&rs, sym, margin, votes, second, 7, 3), 3);
    EXPECT_EQ(memcmp(sym, good, 11), 0);

    // A decoded symbol nobody voted for fails the try.
    memcpy(sym, good, 11);
    sym[2] ^= 9;
    votes[2][good[2]] = 0;
    EXPECT_EQ(RS_Process(&rs, sym, margin, votes, second, 0, 2), -1);
}

// Two repetitions of a Reed-Solomon word; in the newest, position 4 carries two
// wrong symbols (60 and 40) and the sent symbol comes only from the older one
// (20). The correction restores the sent symbol, which trails the runner-up by
// 20: the word's strength drops by 20 rather than counting that position as 0.
TEST(Tesk2Message, ACorrectedSymbolBelowTheRunnerUpLowersTheStrength) {
    Decoder d;
    uint8_t good[11];
    ASSERT_NE(RsWord(good), 31);  // the placeholder is wrong, so index 10 changes too
    const int score[11] = {20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 20};
    d.PutMessage(2, 1, good, score);
    d.PutMessage(2, 0, good, score);
    T2_Candidate_t& rec = d.Rec(2, 0, 4);
    rec.p[0] = {uint8_t(good[4] ^ 5), 60};
    rec.p[1] = {uint8_t(good[4] ^ 9), 40};
    T2M_Block_t& b = d.st.block[2];

    T2M_AccumulateRs(&d.st, &b);
    EXPECT_EQ(b.slot[0].quality, 0);  // the newest repetition alone has no vote for it
    const T2M_Slot_t& s1 = b.slot[1];
    ASSERT_EQ(s1.quality, 11 + 4 * 10000 + 900 + 1000);  // first try, count 2
    EXPECT_EQ(memcmp(s1.sym, good, 11), 0);
    EXPECT_EQ(s1.strength, 10 * 40 + (20 - 40));
    Emit_Depths(&d.st, &b);
    ASSERT_EQ(d.got.size(), 1u);
    EXPECT_EQ(d.got[0].depth, 1);
    EXPECT_EQ(d.got[0].strength, 380);
    EXPECT_EQ(d.got[0].commId, 0x3A5C7E913ull);
}

TEST(Tesk2Message, DecodesCleanAudioAndReportsOnlyOnFrames703Mod704) {
    Tesk2Generator g(24000);
    Tesk2Message prog;
    prog.sid = 40001;
    prog.timestamp = 800000000;
    prog.dist = 1;
    g.Add(prog);
    Tesk2Message rs;
    rs.kind = Tesk2Kind::CommercialRs;
    rs.commId = 0x1F2E3D4C5ull;
    g.Add(rs);
    int progCount = 0, rsCount = 0;
    for (const auto& c : RunEngine(SignalMix::ToInt16(g.Synthesize(20.0)))) {
        EXPECT_EQ(c.frame % 704, 703u);
        if (c.det.layer == 0 && c.det.sid == prog.sid) {
            ++progCount;
            // Reported at the emission after the repetition ended; its time
            // code is the one sent with that repetition.
            const double end = (c.frame + 1 - 25) * 64.0 / 24000.0 - c.det.lastSymAge / 1000.0;
            EXPECT_NEAR(double(c.det.timestamp), prog.timestamp + std::floor(0.5 + end - 1.9), 1.0);
        }
        if (c.det.layer == 2) {
            ++rsCount;
            EXPECT_EQ(c.det.commId, rs.commId);
            EXPECT_GE(c.det.quality / 1000, 31);
        }
    }
    EXPECT_GE(progCount, 4);
    EXPECT_GE(rsCount, 8);
}

// The table word and the cyclically constructed word of symbols 11 and 26
// differ in a chip or two; audio carrying either decodes to the same symbols.
TEST(Tesk2Message, Symbols11And26DecodeFromTableAndConstructedWords) {
    uint8_t constructed[T2_NUM_SYMBOLS][T2_NUM_CHIPS];
    memcpy(constructed, T2S_CHIP_PATTERN, sizeof(constructed));
    for (int s = 0; s < 32; ++s) T2_ConstructedChipPattern(s, constructed[s]);
    Tesk2Message m;
    m.sid = uint16_t((11 << 11) | (26 << 6) | (11 << 1));  // symbols 1-3: 11, 26, 11
    m.timestamp = (26u << 23) | (11u << 18) | (26u << 13);
    m.dist = 1;
    for (int variant = 0; variant < 2; ++variant) {
        Tesk2Generator g(24000);
        g.Add(m);
        if (variant == 1) g.SetChipPatterns(constructed);
        const auto got = RunEngine(SignalMix::ToInt16(g.Synthesize(12.0)));
        ASSERT_FALSE(got.empty()) << "variant " << variant;
        for (const auto& c : got) {
            EXPECT_EQ(c.det.sid, m.sid) << "variant " << variant;
            EXPECT_EQ(std::vector<int>(c.det.symbols + 5, c.det.symbols + 8),
                      std::vector<int>({26, 11, 26}));
        }
    }
}
