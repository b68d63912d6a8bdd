// ZELT decoding core: bin SNR, layer scores, time-symbol rank, program search
// with key repair, Reed-Solomon tries, flags, frame-counter wrap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "decoders/zelt/ZeltDecoder.h"
#include "generators/ZeltGenerator.h"
#include "zelt/ZeltTestUtil.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::ZeltGenerator;

namespace {

TEST(ZeltTables, EachLayerHas180DistinctIndicesInRange) {
    for (int l = 0; l < zelt_tables::kLayers; ++l) {
        std::set<int> seen;
        for (int s = 0; s < zelt_tables::kSymbols; ++s)
            for (int t = 0; t < zelt_tables::kTonesPerSymbol; ++t) {
                const int b = zelt_tables::kLayerBins[l][s][t];
                EXPECT_LE(b, 512);
                seen.insert(b);
            }
        EXPECT_EQ(seen.size(), 180u) << "layer " << l + 1;
    }
}

TEST(ZeltBinSnr, ZeroSingleBinSaturationAndQuotient) {
    std::vector<float> power(1100, 0.0f);
    ZeltBinSnr snr;
    ZeltSymStore store;
    ZELT_BinSnr(power.data(), &snr);
    for (int b = 0; b < 513; ++b) ASSERT_EQ(snr.snr[b], 0);
    ZELT_SymSnr_Layer_3_Store(&snr, &store);
    for (int s = 0; s < 18; ++s) EXPECT_EQ(store.score[s], 0);

    // A lone bin: d is 0 at the centre, so c/7 (clamped to 24); each neighbour
    // sees it as its largest neighbour, drops it and gets 0.
    power[256 + 100] = 1000.0f;
    ZELT_BinSnr(power.data(), &snr);
    EXPECT_EQ(snr.snr[100], 24);
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(snr.snr[100 - k], 0);
        EXPECT_EQ(snr.snr[100 + k], 0);
    }
    power[256 + 100] = 70.0f;  // 70 / 7 = 10
    ZELT_BinSnr(power.data(), &snr);
    EXPECT_EQ(snr.snr[100], 10);

    // Flat neighbours of 1: d = 7, figure = c * 4.
    std::fill(power.begin(), power.end(), 1.0f);
    power[256 + 200] = 3.0f;
    power[256 + 300] = 6.0f;    // 24 exactly
    power[256 + 400] = 100.0f;  // saturates
    power[256 + 450] = 2.9f;    // 11.6 truncates to 11
    ZELT_BinSnr(power.data(), &snr);
    EXPECT_EQ(snr.snr[200], 12);
    EXPECT_EQ(snr.snr[300], 24);
    EXPECT_EQ(snr.snr[400], 24);
    EXPECT_EQ(snr.snr[450], 11);
    EXPECT_EQ(snr.snr[10], 4);
}

TEST(ZeltSymSnr, ScoresSumTheirRowAndAccumulatorsWrap) {
    ZeltBinSnr snr;
    std::memset(&snr, 0, sizeof(snr));
    for (int t = 0; t < 10; ++t) snr.snr[zelt_tables::kLayerBins[4][7][t]] = 24;
    ZeltSymStore store;
    ZeltSymAccum acc;
    std::memset(&acc, 0, sizeof(acc));
    acc.sum[7] = 65535;
    acc.sum[3] = 100;
    ZELT_SymSnr_Layer_5_Store_And_Accum(&snr, &store, &acc);
    EXPECT_EQ(store.score[7], 240);
    EXPECT_EQ(acc.sum[7], 239);  // 65535 + 240 wraps
    EXPECT_EQ(acc.sum[3], 100);
    // The same record scores nothing on a layer whose rows miss those bins
    // entirely except where tables share indices.
    ZELT_SymSnr_Layer_1_Store(&snr, &store);
    int total = 0;
    for (int s = 0; s < 18; ++s) total += store.score[s];
    EXPECT_LT(total, 240);
}

TEST(ZeltTimeRank, RankAndInverseCoverAllMinutes) {
    std::vector<bool> hit(40320, false);
    for (uint32_t m = 0; m < 40320; ++m) {
        uint8_t t[4];
        ASSERT_TRUE(ZELT_TimeSymbolsOfMinute(m, t));
        const auto g = ZeltGenerator::TimeSymbols(m);
        ASSERT_TRUE(std::equal(g.begin(), g.end(), t));
        const uint16_t r = ZELT_TimeSymbolRank(t);
        ASSERT_EQ(r, m);
        hit[r] = true;
    }
    EXPECT_TRUE(std::all_of(hit.begin(), hit.end(), [](bool b) { return b; }));
    const uint8_t last[4] = {14, 11, 7, 6};  // 0xEB76
    EXPECT_EQ(ZELT_TimeSymbolRank(last), 40319);
    const uint8_t dup[4] = {1, 1, 2, 3};
    const uint8_t marker[4] = {1, 16, 2, 3};
    EXPECT_EQ(ZELT_TimeSymbolRank(dup), 65535);
    EXPECT_EQ(ZELT_TimeSymbolRank(marker), 65535);
    uint8_t t[4];
    EXPECT_FALSE(ZELT_TimeSymbolsOfMinute(40320, t));
}

// Decodes clean 8000 Hz audio of a generator and returns the records.
zelt_test::Collector Decode(const ZeltGenerator& gen, double seconds, double ratioDb = 100.0,
                            HostKind host = HostKind::Silence) {
    zelt_test::Collector c;
    CZeltEngine engine(&c);
    zelt_test::Feed(engine, gen.RenderMixed(seconds, host, ratioDb));
    return c;
}

TEST(ZeltProgram, CleanMessagesOnEachProgramLayer) {
    const uint16_t ids[3] = {0x1234 | 0x5, 0xA3F7, 0x0C81};
    const int layers[3] = {1, 2, 5};
    for (int i = 0; i < 3; ++i) {
        ZeltGenerator gen(8000);
        gen.AddProgram(layers[i], ids[i], 12345 + i);
        const auto c = Decode(gen, 20.0);
        // The first search sees a partial period, so its time symbols may be
        // incomplete (65535); every full period carries the exact time code.
        // (Tones shared between the layer tables can make another program
        // layer report as well; that is a property of the tables.)
        int exact = 0;
        for (const auto& e : c.found) {
            const auto& d = e.det;
            if (d.layer == (uint32_t)layers[i] && d.id == ids[i]) {
                EXPECT_TRUE(d.timestamp == 12345 + i || d.timestamp == 65535) << d.timestamp;
                EXPECT_GE(d.quality, 6);
                EXPECT_EQ(d.commId, 0u);
                exact += d.timestamp == 12345 + i;
            }
        }
        EXPECT_GE(exact, 2) << "layer " << layers[i];
    }
}

TEST(ZeltProgram, SilenceAndNoiseGiveNothing) {
    zelt_test::Collector c;
    CZeltEngine engine(&c);
    zelt_test::Feed(engine, std::vector<int16_t>(8000 * 30, 0));
    EXPECT_TRUE(c.found.empty());
}

// Core-level key test: a ring holding a message whose shifted half has one
// wrong symbol is repaired and still yields the id (count 6).
TEST(ZeltProgram, KeyRepairFixesTheWeakerOfAnOddPair) {
    ZeltDecoderState st;
    std::vector<_ZELT_Detection_t> got;
    ZELT_Init(
        [](void* u, const _ZELT_Detection_t* d) {
            static_cast<std::vector<_ZELT_Detection_t>*>(u)->push_back(*d);
        },
        &got, &st);
    const uint16_t id = 0x2795;  // s = 2, 7, 9; key 5
    auto syms = ZeltGenerator::ProgramSymbols(id, 777);
    syms[6] = static_cast<uint8_t>((syms[6] + 3) & 15);  // second-half symbol of s1 wrong
    ZeltProgLayerState& L = st.prog[0];
    for (int slot = 0; slot < 48; ++slot) {
        const int pos = slot / 4;
        // Strong symbols, the wrong one weaker so that it is the one repaired.
        L.ring[slot].sum[syms[pos]] = pos == 6 ? 120 : 200;
    }
    Search_For_Detection_Prog(&st, &L);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, id);
    EXPECT_EQ(got[0].quality, 6);
    EXPECT_EQ(got[0].timestamp, 777);
    EXPECT_EQ(got[0].layer, 1u);
    EXPECT_EQ(got[0].depth, 0);
    EXPECT_EQ(got[0].firstSymAge, 4400u);

    // Three different key differences: markers only, not reported; and a ring
    // with repeated s-symbols skips the key test.
    got.clear();
    ZELT_Init(st.callback, &got, &st);
    auto bad = ZeltGenerator::ProgramSymbols(id, 777);
    bad[5] = static_cast<uint8_t>((bad[5] + 1) & 15);
    bad[6] = static_cast<uint8_t>((bad[6] + 2) & 15);
    for (int slot = 0; slot < 48; ++slot) st.prog[0].ring[slot].sum[bad[slot / 4]] = 200;
    Search_For_Detection_Prog(&st, &st.prog[0]);
    EXPECT_TRUE(got.empty());
}

TEST(ZeltProgram, CounterWrapKeepsTheFortyEightFrameRhythm) {
    zelt_test::Collector c;
    CZeltEngine engine(&c);
    ZeltDecoderState& st = engine.MutableState();
    // Bring every layer close to the wrap, in step with its search rhythm.
    for (auto& p : st.prog)
        p.counter = static_cast<uint16_t>(ZELT_PROG_COUNTER_MODULUS - 3 * 48 + p.counter % 48);
    ZeltGenerator gen(8000);
    gen.AddProgram(2, 0x4B1E, 100);
    zelt_test::Feed(engine, gen.RenderMixed(30.0, HostKind::Silence, 0));
    std::vector<zelt_test::Collector::Entry> found;
    for (const auto& e : c.found)
        if (e.det.layer == 2 && e.det.id == 0x4B1E && e.det.timestamp == 100) found.push_back(e);
    ASSERT_GE(found.size(), 3u);
    // Searches stay 48 frames apart and the message keeps its phase across the wrap.
    for (size_t i = 1; i < found.size(); ++i) {
        EXPECT_EQ((found[i].frame - found[0].frame) % 48, 0) << i;
        EXPECT_EQ(found[i].det.phase, found[0].det.phase) << i;
    }
}

TEST(ZeltCommercial, RsMessageDecodesWithItsIdentifier) {
    ZeltGenerator gen(8000);
    const uint64_t comm = 0x123456789ull;
    gen.AddCommercial(comm);
    const auto c = Decode(gen, 15.0);
    const auto found = zelt_test::OfLayer(c, 4);
    ASSERT_FALSE(found.empty());
    for (const auto& d : found) {
        EXPECT_EQ(d.commId, comm);
        EXPECT_EQ(d.timestamp, 65535);
        EXPECT_EQ(d.id, 0);
        EXPECT_GT(d.quality, 51999);
    }
    EXPECT_TRUE(zelt_test::OfLayer(c, 5).empty());
}

TEST(ZeltCommercial, RsProcessTries) {
    ZeltDecoderState st;
    ZELT_Init(nullptr, nullptr, &st);
    const auto word = ZeltGenerator::CommercialCodeword(0xABCDE0123ull);
    ZeltCandidateEntry cand[16];
    int16_t f3[24][18] = {}, f4[24][18] = {};
    for (int i = 0; i < 16; ++i)
        cand[i] = {static_cast<uint16_t>(i < 14 ? word[i] : 16), 500, 18, 0};
    // Give every symbol a positive filtered score so corrections are accepted.
    for (auto& row : f3)
        for (auto& v : row) v = 100;
    for (auto& row : f4)
        for (auto& v : row) v = 100;

    auto run = [&](int q, int era, int maxc, ZeltRsCandidate* out) {
        std::memset(out, 0, sizeof(*out));
        out->quality = 2014;
        return RS_Process(&st, q, era, maxc, cand, f3, f4, 0, out);
    };
    ZeltRsCandidate out;
    const int clean = run(9, -1, 3, &out);
    ASSERT_GE(clean, 0);
    EXPECT_LE(clean, 1);  // only the unsent last parity may differ
    EXPECT_EQ(out.quality, 2014 + 900 + 10000 * (6 - clean));
    for (int i = 0; i < 14; ++i) EXPECT_EQ(out.symbols[i], word[i]);
    EXPECT_EQ(out.strength, (14 * 500 + 2 * 500) / 16);

    // Two wrong symbols: with position 14 erased the code corrects two errors.
    cand[2].best = static_cast<uint16_t>(word[2] ^ 5);
    cand[11].best = static_cast<uint16_t>(word[11] ^ 9);
    const int two = run(9, -1, 3, &out);
    ASSERT_GE(two, 2);
    EXPECT_EQ(out.symbols[2], word[2]);
    EXPECT_EQ(out.symbols[11], word[11]);
    EXPECT_EQ(out.margins[2], 100 - 0);

    // Three wrong symbols fail without an extra erasure, succeed with it.
    cand[7].best = static_cast<uint16_t>(word[7] ^ 3);
    EXPECT_EQ(run(9, -1, 3, &out), -1);
    const int withErasure = run(8, 7, 4, &out);
    ASSERT_GE(withErasure, 3);
    EXPECT_EQ(out.symbols[7], word[7]);
    EXPECT_EQ(out.quality, 2014 + 800 + 10000 * (6 - withErasure));

    // A correction to a symbol with no filtered score at its slot is refused.
    const int slot7 = (0 + 6) % 24;  // data position 7 is layer 4, offset 6
    f4[slot7][word[7]] = 0;
    EXPECT_EQ(run(8, 7, 4, &out), -1);
}

TEST(ZeltCommercial, FlagPatternsAreReportedWithTheirValue) {
    for (int value : {3, 7}) {
        ZeltGenerator gen(8000);
        gen.AddFlag(value);
        const auto c = Decode(gen, 15.0);
        const auto found = zelt_test::OfLayer(c, 5);
        ASSERT_FALSE(found.empty()) << value;
        for (const auto& d : found) {
            EXPECT_EQ(d.id, value);
            EXPECT_EQ(d.quality, 4);
            EXPECT_EQ(d.commId, 0u);
        }
        EXPECT_TRUE(zelt_test::OfLayer(c, 4).empty());
    }
}

TEST(ZeltCommercial, AgesAreTakenModuloTheFrameCounterWrap) {
    ZeltDecoderState st;
    std::vector<_ZELT_Detection_t> got;
    ZELT_Init(
        [](void* u, const _ZELT_Detection_t* d) {
            static_cast<std::vector<_ZELT_Detection_t>*>(u)->push_back(*d);
        },
        &got, &st);
    const auto word = ZeltGenerator::CommercialCodeword(0x987654321ull);
    ZeltRsCandidate& e = st.best[2];
    e.frame = ZELT_FRAME_MODULUS - 10;
    e.quality = 62000;
    e.strength = 400;
    e.depth = 2;
    e.decoded = 1;
    for (int i = 0; i < 14; ++i) e.symbols[i] = word[i];
    st.best[1] = e;
    st.best[1].decoded = 0;  // undecoded words are never reported
    st.best[1].depth = 1;
    st.frameCounter = 5;
    Emit_Depths_Comm_RS(&st);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].lastSymAge, 1500u);
    EXPECT_EQ(got[0].firstSymAge, 100u * (15 + 48 + 21));
    EXPECT_EQ(got[0].commId, 0x987654321ull);
    for (const auto& b : st.best) EXPECT_EQ(b.frame, ZELT_FRAME_MODULUS);

    // Flags: frame counter / 600 as the timestamp, ages across the wrap.
    got.clear();
    st.flags.frame = ZELT_FRAME_MODULUS - 2;
    st.flags.count = 4;
    st.flags.strength = 300;
    st.flags.depth = 1;
    st.flags.id = 7;
    st.frameCounter = 6000;
    Emit_Comm_Flags(&st);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].lastSymAge, 100u * 6002);
    EXPECT_EQ(got[0].timestamp, 10);
    EXPECT_EQ(got[0].id, 7);
    EXPECT_EQ(st.flags.count, 0);

    // The decoder itself runs across the wrap.
    zelt_test::Collector c;
    CZeltEngine engine(&c);
    engine.MutableState().frameCounter = ZELT_FRAME_MODULUS - 50;
    ZeltGenerator gen(8000);
    gen.AddCommercial(0x123456789ull);
    zelt_test::Feed(engine, gen.RenderMixed(12.0, HostKind::Silence, 0));
    EXPECT_LT(engine.State().frameCounter, 200u);
    const auto found = zelt_test::OfLayer(c, 4);
    ASSERT_FALSE(found.empty());
    for (const auto& d : found) {
        EXPECT_EQ(d.commId, 0x123456789ull);
        EXPECT_LT(d.lastSymAge, 10000u);
    }
}

}  // namespace

namespace {

TEST(ZeltSettings, MaxDepthClearsTheRingAndShortCyclesAreRaised) {
    // Noise-free program message on layer 1 whose ring is never cleared by a
    // full match (key test fails: all shifted symbols wrong), so only the
    // maximum depth clears it.
    ZeltDecoderState st;
    std::vector<_ZELT_Detection_t> got;
    ZELT_Init(
        [](void* u, const _ZELT_Detection_t* d) {
            static_cast<std::vector<_ZELT_Detection_t>*>(u)->push_back(*d);
        },
        &got, &st);
    ZELT_Set_Max_Depth_Prog(3, &st);
    auto syms = ZeltGenerator::ProgramSymbols(0x2795, 777);
    syms[7] = static_cast<uint8_t>((syms[7] + 1) & 15);  // one odd pair: count 6, no clear
    for (int period = 0; period < 7; ++period) {
        for (int slot = 0; slot < 48; ++slot) st.prog[0].ring[slot].sum[syms[slot / 4]] += 100;
        Search_For_Detection_Prog(&st, &st.prog[0]);
    }
    ASSERT_EQ(got.size(), 7u);
    const int depths[7] = {0, 1, 2, 0, 1, 2, 0};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(got[i].depth, depths[i]) << i;
        EXPECT_EQ(got[i].quality, 6);
        EXPECT_EQ(got[i].id, 0x2795);
    }

    ZELT_Set_Comm_Eval_Frames(4, &st);
    EXPECT_EQ(st.commEvalFrames, 6u);
    ZELT_Set_Comm_Eval_Frames(20, &st);
    EXPECT_EQ(st.commEvalFrames, 20u);
}

}  // namespace
