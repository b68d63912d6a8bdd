// ZELT decoding core: bin SNR, layer scores, time-symbol rank, program search
// with key repair, Reed-Solomon tries, flags, frame-counter wrap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "decoders/zelt/CZeltEngine.h"
#include "decoders/zelt/ZeltBinTables.h"
#include "decoders/zelt/ZeltDecoder.h"
#include "generators/ZeltGenerator.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::ZeltGenerator;

namespace {

// Collects the detections an engine reports, with the frame of each.
struct Collector : CBaseOutputReporter {
    struct Entry {
        _ZELT_Detection_t det;
        int frame;
    };
    std::vector<Entry> found;
    void DataCallback(void* detection, float, int frame) override {
        found.push_back({*static_cast<_ZELT_Detection_t*>(detection), frame});
    }
    std::vector<_ZELT_Detection_t> OfLayer(uint32_t layer) const {
        std::vector<_ZELT_Detection_t> out;
        for (const auto& e : found)
            if (e.det.layer == layer) out.push_back(e.det);
        return out;
    }
};

// Feeds whole 800-sample blocks (little-endian host) to `engine`.
void Feed(CZeltEngine& engine, const std::vector<int16_t>& samples) {
    uint8_t block[1600];
    for (size_t off = 0; off + 800 <= samples.size(); off += 800) {
        std::memcpy(block, samples.data() + off, 1600);
        engine.ProcessAudioBuffer(block, 1600);
    }
}

// A bare decoder state whose detections are collected.
struct Core {
    ZeltDecoderState st;
    std::vector<_ZELT_Detection_t> got;
    Core() {
        ZELT_Init(
            [](void* u, const _ZELT_Detection_t* d) {
                static_cast<std::vector<_ZELT_Detection_t>*>(u)->push_back(*d);
            },
            &got, &st);
    }
};

TEST(ZeltTables, EachLayerHas180DistinctIndicesInRange) {
    for (int l = 0; l < zelt_tables::kLayers; ++l) {
        std::set<int> seen;
        for (int s = 0; s < zelt_tables::kSymbols; ++s)
            for (int t = 0; t < zelt_tables::kTonesPerSymbol; ++t) {
                EXPECT_LE(zelt_tables::kLayerBins[l][s][t], 512);
                seen.insert(zelt_tables::kLayerBins[l][s][t]);
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
    for (auto [c, expected] : {std::pair<float, int>{1000.0f, 24}, {70.0f, 10}}) {
        power[256 + 100] = c;
        ZELT_BinSnr(power.data(), &snr);
        EXPECT_EQ(snr.snr[100], expected) << c;
        for (int k = 1; k <= 4; ++k) {
            EXPECT_EQ(snr.snr[100 - k], 0);
            EXPECT_EQ(snr.snr[100 + k], 0);
        }
    }

    // Flat neighbours of 1: d = 7, figure = c * 4, truncated and clamped to 24.
    const struct {
        int bin;
        float c;
        int expected;
    } flat[] = {
        {200, 3.0f, 12}, {300, 6.0f, 24}, {400, 100.0f, 24}, {450, 2.9f, 11}, {10, 1.0f, 4}};
    std::fill(power.begin(), power.end(), 1.0f);
    for (const auto& f : flat) power[256 + f.bin] = f.c;
    ZELT_BinSnr(power.data(), &snr);
    for (const auto& f : flat) EXPECT_EQ(snr.snr[f.bin], f.expected) << f.bin;
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
    // Another layer's rows share only a few of those bins.
    ZELT_SymSnr_Layer_1_Store(&snr, &store);
    int total = 0;
    for (int s = 0; s < 18; ++s) total += store.score[s];
    EXPECT_LT(total, 240);
}

TEST(ZeltTimeRank, RankAndInverseCoverAllMinutes) {
    uint8_t t[4];
    for (uint32_t m = 0; m < 40320; ++m) {
        ASSERT_TRUE(ZELT_TimeSymbolsOfMinute(m, t));
        const auto g = ZeltGenerator::TimeSymbols(m);
        ASSERT_TRUE(std::equal(g.begin(), g.end(), t));
        ASSERT_EQ(ZELT_TimeSymbolRank(t), m);
    }
    const uint8_t last[4] = {14, 11, 7, 6}, dup[4] = {1, 1, 2, 3}, marker[4] = {1, 16, 2, 3};
    EXPECT_EQ(ZELT_TimeSymbolRank(last), 40319);
    EXPECT_EQ(ZELT_TimeSymbolRank(dup), 65535);
    EXPECT_EQ(ZELT_TimeSymbolRank(marker), 65535);
    EXPECT_FALSE(ZELT_TimeSymbolsOfMinute(40320, t));
}

// A clean commercial message and both flag patterns through a bare engine whose
// frame counter wraps 5 s in (program layers are proven end to end); silence
// gives nothing.
TEST(ZeltEngine, CommercialMessageAndFlagsAcrossTheFrameWrap) {
    const struct {
        uint32_t layer;
        uint16_t id;
        uint64_t comm;
    } cases[] = {{4, 0, 0x123456789ull}, {5, 3, 0}, {5, 7, 0}};
    for (const auto& k : cases) {
        ZeltGenerator gen(8000);
        if (k.comm != 0) gen.AddCommercial(k.comm);
        if (k.comm == 0) gen.AddFlag(k.id);
        Collector c;
        CZeltEngine engine(&c);
        engine.MutableState().frameCounter = ZELT_FRAME_MODULUS - 50;
        Feed(engine, gen.RenderMixed(15.0, HostKind::Silence, 100.0));
        EXPECT_LT(engine.State().frameCounter, 200u);
        const auto found = c.OfLayer(k.layer);
        ASSERT_FALSE(found.empty()) << k.id;
        for (const auto& d : found) {
            EXPECT_EQ(d.id, k.id);
            EXPECT_EQ(d.commId, k.comm);
            EXPECT_LT(d.lastSymAge, 10000u);  // ages taken across the wrap
            // Commercial: no time code and a high quality; flags: count 4.
            EXPECT_EQ(d.timestamp == 65535 && d.quality > 51999, k.comm != 0) << d.quality;
            EXPECT_EQ(d.quality == 4, k.comm == 0);
        }
        // A commercial message is never seen as a flag, nor a flag as a message.
        EXPECT_TRUE(c.OfLayer(k.comm != 0 ? 5 : 4).empty());
    }
    Collector c;
    CZeltEngine engine(&c);
    Feed(engine, std::vector<int16_t>(8000 * 30, 0));
    EXPECT_TRUE(c.found.empty());
}

// Layers 3 and 4 sounding arbitrary 24-slot sequences (three slots per
// symbol) at 8000 Hz over pink noise, as a foreign message would put them there.
std::vector<int16_t> CommercialLayers(const uint8_t seq3[8], const uint8_t seq4[8], double seconds,
                                      uint32_t seed) {
    // One 300 ms symbol of each layer-3/4 symbol, rendered once.
    static const std::vector<float> kSymbols = [] {
        std::vector<float> v(2 * 18 * 2400, 0.0f);
        for (int l = 0; l < 2; ++l)
            for (int sym = 0; sym < 18; ++sym)
                for (int t = 0; t < zelt_tables::kTonesPerSymbol; ++t) {
                    const double f = (256 + zelt_tables::kLayerBins[2 + l][sym][t]) * 8000.0 / 2048;
                    for (int i = 0; i < 2400; ++i)
                        v[(l * 18 + sym) * 2400 + i] +=
                            static_cast<float>(0.02 * std::sin(2 * M_PI * f * i / 8000 + t));
                }
        return v;
    }();
    const size_t n = static_cast<size_t>(seconds * 8000);
    std::vector<float> wm(n, 0.0f);
    for (size_t i = 0; i < n; ++i) {
        const size_t symbol = (i / 2400) % 8;
        wm[i] = kSymbols[seq3[symbol] * 2400 + i % 2400] +
                kSymbols[(18 + seq4[symbol]) * 2400 + i % 2400];
    }
    const auto host = Kelvane::Generators::SignalMix::MakeHost(HostKind::PinkNoise, n, 0.1, seed);
    return Kelvane::Generators::SignalMix::ToInt16(
        Kelvane::Generators::SignalMix::Mix(wm, host, -15.0));
}

// Words with both markers in place but arbitrary data symbols are not
// commercial messages.  At the code's full correcting power about one in
// twenty of them decoded to an identifier (15 of 300 here); keeping one
// symbol of the code's distance for detection leaves 1 of 300.  The sent
// code word itself still decodes to its identifier.
TEST(ZeltCommercial, ArbitraryWordsRarelyDecode) {
    auto decode = [](const uint8_t d[14], uint32_t seed) {
        const uint8_t seq3[8] = {17, d[0], d[1], d[2], d[3], d[4], d[9], d[10]};
        const uint8_t seq4[8] = {d[5], d[6], d[7], d[8], 16, d[11], d[12], d[13]};
        Collector c;
        CZeltEngine engine(&c);
        Feed(engine, CommercialLayers(seq3, seq4, 4.0, seed));
        return c.OfLayer(4);
    };
    std::mt19937 rng(5);
    int decoded = 0;
    const int words = 300;
    for (int w = 0; w < words; ++w) {
        uint8_t d[14];
        for (auto& v : d) v = static_cast<uint8_t>(rng() % 16);
        decoded += !decode(d, w).empty();
    }
    EXPECT_LE(decoded, 5) << decoded << " of " << words;

    const auto word = ZeltGenerator::CommercialCodeword(0x123456789ull);
    const auto found = decode(word.data(), 99);
    ASSERT_FALSE(found.empty());
    for (const auto& f : found) EXPECT_EQ(f.commId, 0x123456789ull);
}

// A ring holding a message whose shifted half has one wrong symbol is
// repaired and still yields the id (count 6).
TEST(ZeltProgram, KeyRepairFixesTheWeakerOfAnOddPair) {
    const uint16_t id = 0x2795;  // s = 2, 7, 9; key 5
    {
        Core core;
        auto syms = ZeltGenerator::ProgramSymbols(id, 777);
        syms[6] = static_cast<uint8_t>((syms[6] + 3) & 15);  // second-half symbol of s1 wrong
        // Strong symbols, the wrong one weaker so that it is the one repaired.
        for (int slot = 0; slot < 48; ++slot)
            core.st.prog[0].ring[slot].sum[syms[slot / 4]] = slot / 4 == 6 ? 120 : 200;
        Search_For_Detection_Prog(&core.st, &core.st.prog[0]);
        ASSERT_EQ(core.got.size(), 1u);
        const auto& d = core.got[0];
        EXPECT_EQ(d.id, id);
        EXPECT_EQ(d.quality, 6);
        EXPECT_EQ(d.timestamp, 777);
        EXPECT_EQ(d.layer, 1u);
        EXPECT_EQ(d.depth, 0);
        EXPECT_EQ(d.firstSymAge, 4400u);
    }
    // Three different key differences: markers only, not reported.
    Core core;
    auto bad = ZeltGenerator::ProgramSymbols(id, 777);
    bad[5] = static_cast<uint8_t>((bad[5] + 1) & 15);
    bad[6] = static_cast<uint8_t>((bad[6] + 2) & 15);
    for (int slot = 0; slot < 48; ++slot) core.st.prog[0].ring[slot].sum[bad[slot / 4]] = 200;
    Search_For_Detection_Prog(&core.st, &core.st.prog[0]);
    EXPECT_TRUE(core.got.empty());
}

TEST(ZeltProgram, CounterWrapKeepsTheFortyEightFrameRhythm) {
    Collector c;
    CZeltEngine engine(&c);
    // Bring every layer close to the wrap, in step with its search rhythm.
    for (auto& p : engine.MutableState().prog)
        p.counter = static_cast<uint16_t>(ZELT_PROG_COUNTER_MODULUS - 3 * 48 + p.counter % 48);
    ZeltGenerator gen(8000);
    gen.AddProgram(2, 0x4B1E, 100);
    Feed(engine, gen.RenderMixed(30.0, HostKind::Silence, 0));
    std::vector<Collector::Entry> found;
    for (const auto& e : c.found)
        if (e.det.layer == 2 && e.det.id == 0x4B1E && e.det.timestamp == 100) found.push_back(e);
    ASSERT_GE(found.size(), 3u);
    // Searches stay 48 frames apart and the message keeps its phase across the wrap.
    for (size_t i = 1; i < found.size(); ++i) {
        EXPECT_EQ((found[i].frame - found[0].frame) % 48, 0) << i;
        EXPECT_EQ(found[i].det.phase, found[0].det.phase) << i;
    }
}

TEST(ZeltCommercial, RsProcessTries) {
    ZeltDecoderState st;
    ZELT_Init(nullptr, nullptr, &st);
    const auto word = ZeltGenerator::CommercialCodeword(0xABCDE0123ull);
    ZeltCandidateEntry cand[16];
    for (int i = 0; i < 16; ++i)
        cand[i] = {static_cast<uint16_t>(i < 14 ? word[i] : 16), 500, 18, 0};
    // Every symbol has a positive filtered score so corrections are accepted.
    int16_t f3[24][18], f4[24][18];
    std::fill(&f3[0][0], &f3[0][0] + 24 * 18, 100);
    std::fill(&f4[0][0], &f4[0][0] + 24 * 18, 100);
    ZeltRsCandidate out;
    auto run = [&](int q, int era, int maxc) {
        std::memset(&out, 0, sizeof(out));
        out.quality = 2014;
        return RS_Process(&st, q, era, maxc, cand, f3, f4, 0, &out);
    };
    const int clean = run(9, -1, 3);
    ASSERT_GE(clean, 0);
    EXPECT_LE(clean, 1);  // only the unsent last parity may differ
    EXPECT_EQ(out.quality, 2014 + 900 + 10000 * (6 - clean));
    for (int i = 0; i < 14; ++i) EXPECT_EQ(out.symbols[i], word[i]);
    EXPECT_EQ(out.strength, (14 * 500 + 2 * 500) / 16);

    // Two wrong symbols: with position 14 erased the code corrects two errors.
    cand[2].best = static_cast<uint16_t>(word[2] ^ 5);
    cand[11].best = static_cast<uint16_t>(word[11] ^ 9);
    ASSERT_GE(run(9, -1, 3), 2);
    EXPECT_EQ(out.symbols[2], word[2]);
    EXPECT_EQ(out.symbols[11], word[11]);
    EXPECT_EQ(out.margins[2], 100);

    // Three wrong symbols fail without an extra erasure, succeed with it.
    cand[7].best = static_cast<uint16_t>(word[7] ^ 3);
    EXPECT_EQ(run(9, -1, 3), -1);
    const int withErasure = run(8, 7, 4);
    ASSERT_GE(withErasure, 3);
    EXPECT_EQ(out.symbols[7], word[7]);
    EXPECT_EQ(out.quality, 2014 + 800 + 10000 * (6 - withErasure));

    // A correction to a symbol with no filtered score at its slot is refused
    // (data position 7 is layer 4, offset 6).
    f4[6][word[7]] = 0;
    EXPECT_EQ(run(8, 7, 4), -1);
}

TEST(ZeltCommercial, AgesAreTakenModuloTheFrameCounterWrap) {
    Core core;
    ZeltDecoderState& st = core.st;
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
    ASSERT_EQ(core.got.size(), 1u);
    EXPECT_EQ(core.got[0].lastSymAge, 1500u);
    EXPECT_EQ(core.got[0].firstSymAge, 100u * (15 + 48 + 21));
    EXPECT_EQ(core.got[0].commId, 0x987654321ull);
    for (const auto& b : st.best) EXPECT_EQ(b.frame, ZELT_FRAME_MODULUS);

    // Flags: frame counter / 600 as the timestamp, ages across the wrap.
    core.got.clear();
    st.flags.frame = ZELT_FRAME_MODULUS - 2;
    st.flags.count = 4;
    st.flags.strength = 300;
    st.flags.depth = 1;
    st.flags.id = 7;
    st.frameCounter = 6000;
    Emit_Comm_Flags(&st);
    ASSERT_EQ(core.got.size(), 1u);
    EXPECT_EQ(core.got[0].lastSymAge, 100u * 6002);
    EXPECT_EQ(core.got[0].timestamp, 10);
    EXPECT_EQ(core.got[0].id, 7);
    EXPECT_EQ(st.flags.count, 0);
}

// A layer-1 message whose ring is never cleared by a full match (one odd pair:
// count 6, no clear) is cleared by the maximum depth alone.
TEST(ZeltSettings, MaxDepthClearsTheRingAndShortCyclesAreRaised) {
    Core core;
    ZELT_Set_Max_Depth_Prog(3, &core.st);
    auto syms = ZeltGenerator::ProgramSymbols(0x2795, 777);
    syms[7] = static_cast<uint8_t>((syms[7] + 1) & 15);
    for (int period = 0; period < 7; ++period) {
        for (int slot = 0; slot < 48; ++slot) core.st.prog[0].ring[slot].sum[syms[slot / 4]] += 100;
        Search_For_Detection_Prog(&core.st, &core.st.prog[0]);
    }
    ASSERT_EQ(core.got.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(core.got[i].depth, i % 3) << i;
        EXPECT_EQ(core.got[i].quality, 6);
        EXPECT_EQ(core.got[i].id, 0x2795);
    }
    ZELT_Set_Comm_Eval_Frames(4, &core.st);
    EXPECT_EQ(core.st.commEvalFrames, 6u);
    ZELT_Set_Comm_Eval_Frames(20, &core.st);
    EXPECT_EQ(core.st.commEvalFrames, 20u);
}

}  // namespace
