// Watermark signal generators of the three families: tone frequencies and
// timing (checked by correlation against the synthesised audio), repetition
// and the encoder clock, message layouts and Reed-Solomon words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

#include "decoders/tesk2/T2SymSnr.h"
#include "decoders/tesk6/T6Snr.h"
#include "decoders/zelt/ZeltBinTables.h"
#include "dsp/ReedSolomon.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"

using namespace Kelvane::Generators;

namespace {

// Power of frequency f (Hz) in x[start .. start + n) at `rate`.
double TonePower(const std::vector<float>& x, size_t start, size_t n, double f, int rate) {
    double re = 0, im = 0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 2 * M_PI * f * double(start + i) / rate;
        re += x[start + i] * std::cos(w);
        im -= x[start + i] * std::sin(w);
    }
    return re * re + im * im;
}

// The six strongest 16 kHz bins (3072-point) in 3-5.2 kHz of a window.
std::vector<int> StrongestBins(const std::vector<float>& x, size_t start, int rate) {
    const int scale = rate / 16000;
    std::vector<std::pair<double, int>> p;
    for (int bin = 570; bin <= 1005; ++bin)
        p.push_back({TonePower(x, start, size_t(3072 * scale), bin * 16000.0 / 3072.0, rate), bin});
    std::sort(p.rbegin(), p.rend());
    std::vector<int> out;
    for (int i = 0; i < 6; ++i) out.push_back(p[i].second);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<int> ExpectedBins(int layer, int symbol) {
    std::vector<int> out;
    for (int g = 0; g < 6; ++g) out.push_back(576 + T6_ToneOffset(layer, symbol, g));
    std::sort(out.begin(), out.end());
    return out;
}

TEST(Tesk6Generator, ToneFrequenciesAreBinCentres) {
    EXPECT_DOUBLE_EQ(Tesk6Generator::ToneFrequency(0, 1, 0), 3000.0);
    EXPECT_NEAR(Tesk6Generator::ToneFrequency(1, 128, 5), (576 + 373) * 16000.0 / 3072.0, 1e-9);
}

// Each symbol window holds exactly the six tones of its symbol, at 16 kHz and
// at 48 kHz, on both layers.
TEST(Tesk6Generator, SymbolsCarryTheirTones) {
    for (int rate : {16000, 48000}) {
        for (Tesk6Kind kind : {Tesk6Kind::ProgramStandard, Tesk6Kind::CommercialRs}) {
            Tesk6Generator g(rate);
            Tesk6Message m;
            m.kind = kind;
            m.sid = 12345;
            m.timestamp = 7777777;
            m.commId = 0x123456789ull;
            g.Add(m, 1);
            const auto x = g.Synthesize(2.0);
            ASSERT_EQ(x.size(), size_t(2 * rate));
            const auto sched = g.Schedule(2.0);
            ASSERT_EQ(sched.size(), 1u);
            const int layer = kind == Tesk6Kind::ProgramStandard ? 0 : 1;
            for (int j : {0, 3, 7}) {
                const size_t start = size_t(j) * 3072 * size_t(rate / 16000);
                EXPECT_EQ(StrongestBins(x, start, rate), ExpectedBins(layer, sched[0].symbols[j]))
                    << rate << " symbol " << j;
            }
            // nothing after the message
            for (size_t i = size_t(1.536 * rate) + 1; i < x.size(); ++i) ASSERT_EQ(x[i], 0.0f);
        }
    }
}

TEST(Tesk6Generator, RepetitionTimingAndEncoderClock) {
    Tesk6Generator g(48000);
    Tesk6Message p, c;
    p.kind = Tesk6Kind::ProgramStandard;
    p.timestamp = 1000;
    p.clockFraction = 0.5;
    c.kind = Tesk6Kind::CommercialStandard;
    c.timestamp = 2000;
    c.clockFraction = 0.0;
    g.Add(p);
    g.Add(c, 4);
    g.SetStartFrame(1, 10);
    const auto sched = g.Schedule(30.0);
    std::vector<Tesk6Emission> prog, comm;
    for (const auto& e : sched) (e.layer == 0 ? prog : comm).push_back(e);
    ASSERT_EQ(prog.size(), 6u);  // 0, 4.8, ... 24.0 (+1.536 s <= 30)
    ASSERT_EQ(comm.size(), 4u);
    for (size_t r = 0; r < prog.size(); ++r) {
        EXPECT_NEAR(prog[r].startSeconds, 4.8 * r, 1e-9);
        EXPECT_NEAR(prog[r].endSeconds - prog[r].startSeconds, 1.536, 1e-9);
    }
    // program increments 5, 5, 4, 5, 5: one second per second
    const uint32_t progTs[6] = {1000, 1005, 1010, 1014, 1019, 1024};
    for (size_t r = 0; r < 6; ++r) EXPECT_EQ(prog[r].timestamp, progTs[r]);
    for (size_t r = 0; r < comm.size(); ++r) {
        EXPECT_NEAR(comm[r].startSeconds, 0.32 + 1.6 * r, 1e-9);
        EXPECT_EQ(comm[r].timestamp, 2000 + uint32_t(std::floor(0.32 + 1.6 * r)));
        EXPECT_EQ(comm[r].symbols[7], comm[r].timestamp & 0x7F);
    }
    // sorted by start time
    for (size_t i = 1; i < sched.size(); ++i)
        EXPECT_LE(sched[i - 1].startSeconds, sched[i].startSeconds);
}

TEST(Tesk6Generator, MessageLayouts) {
    Tesk6Message m;
    m.sid = 0xABCD;
    m.dist = 2;
    m.dst = true;
    m.transmission = true;
    uint8_t s[8];
    Tesk6Generator::Symbols(m, 0x1ABCDEF0, s);
    EXPECT_EQ(s[0], 128);
    EXPECT_EQ(unsigned(s[1]) * 512 + unsigned(s[2]) * 4 + (s[3] >> 5), 0xABCDu);
    EXPECT_EQ((s[3] >> 4) & 1, 1);
    EXPECT_EQ((s[3] >> 2) & 3, 2);
    EXPECT_EQ((s[3] >> 1) & 1, 1);
    const uint32_t ts = (uint32_t(s[3] & 1) << 28) | (uint32_t(s[4]) << 21) |
                        (uint32_t(s[5]) << 14) | (uint32_t(s[6]) << 7) | s[7];
    EXPECT_EQ(ts, 0x1ABCDEF0u);

    m.kind = Tesk6Kind::CommercialRs;
    m.commId = 0x7FFFFFFFFull;
    Tesk6Generator::Symbols(m, 0, s);
    RsCodeParams rs;
    RS_Init(7, 5, 7, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF, RS_7_5_TABLES_LOOKUPGFINV,
            RS_7_5_TABLES_LOOKUPGFREV, &rs);
    uint32_t word[7];
    for (int i = 0; i < 7; ++i) word[i] = s[i + 1];
    EXPECT_EQ(RS_Decode(word, nullptr, 0, &rs).count, 0);
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(s[i], 127);
}

double ToneHz(int layer, int symbol, int tone) {
    return (256 + zelt_tables::kLayerBins[layer - 1][symbol][tone]) * 8000.0 / 2048.0;
}

TEST(ZeltGenerator, ProgramLayoutAndTimeSymbols) {
    const auto s = ZeltGenerator::ProgramSymbols(0xA3F7, 40319);
    const uint8_t expect[12] = {17, 10, 3, 15, 16, 1, 10, 6, 14, 11, 7, 6};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(s[i], expect[i]) << i;
    for (uint32_t m : {0u, 1u, 2730u, 40319u}) {
        const auto t = ZeltGenerator::TimeSymbols(m);
        EXPECT_EQ(std::set<uint8_t>(t.begin(), t.end()).size(), 4u);
    }
    EXPECT_THROW(ZeltGenerator::TimeSymbols(40320), std::invalid_argument);
    EXPECT_THROW(ZeltGenerator::ProgramSymbols(0x1230, 0), std::invalid_argument);  // key 0
    EXPECT_THROW(ZeltGenerator::ProgramSymbols(0x1135, 0), std::invalid_argument);  // s0 == s1
    ZeltGenerator gen(48000);
    EXPECT_THROW(gen.AddProgram(3, 0x1235, 0), std::invalid_argument);
    gen.AddProgram(2, 0x1235, 0);
    EXPECT_THROW(gen.AddProgram(2, 0x1235, 0), std::invalid_argument);
    // Twelve 400 ms symbols per 4.8 s period.
    EXPECT_EQ(gen.SymbolAt(2, 0), 17);
    EXPECT_EQ(gen.SymbolAt(2, 3), 17);
    EXPECT_EQ(gen.SymbolAt(2, 4), 1);
    EXPECT_EQ(gen.SymbolAt(2, 16), 16);
    EXPECT_EQ(gen.SymbolAt(2, 48), 17);
    EXPECT_EQ(gen.SymbolAt(1, 0), ZeltGenerator::kSilent);
}

TEST(ZeltGenerator, CommercialCodewordAndLayout) {
    const uint64_t comm = 0x5A3C96E1Dull;
    const auto w = ZeltGenerator::CommercialCodeword(comm);
    RsCodeParams rs;
    RS_Init(15, 9, 4, RS_15_9_TABLES_CODEGENPOLY, RS_15_9_TABLES_LOOKUPGF,
            RS_15_9_TABLES_LOOKUPGFINV, RS_15_9_TABLES_LOOKUPGFREV, &rs);
    uint32_t rx[15];
    for (int i = 0; i < 15; ++i) rx[i] = w[i];
    EXPECT_EQ(RS_Decode(rx, nullptr, 0, &rs).count, 0);
    EXPECT_EQ(w[0], 5);
    EXPECT_EQ(w[8], 0xD);
    EXPECT_THROW(ZeltGenerator::CommercialCodeword(uint64_t(1) << 36), std::invalid_argument);

    ZeltGenerator gen(8000);
    gen.AddCommercial(comm);
    EXPECT_THROW(gen.AddFlag(3), std::invalid_argument);
    const int l3[8] = {17, w[0], w[1], w[2], w[3], w[4], w[9], w[10]};
    const int l4[8] = {w[5], w[6], w[7], w[8], 16, w[11], w[12], w[13]};
    for (int slot = 0; slot < 48; ++slot) {
        EXPECT_EQ(gen.SymbolAt(3, slot), l3[(slot % 24) / 3]);
        EXPECT_EQ(gen.SymbolAt(4, slot), l4[(slot % 24) / 3]);
    }
}

// Each flag marks four runs of three slots per 24; every other slot is silent (18).
TEST(ZeltGenerator, FlagPatterns) {
    EXPECT_THROW(ZeltGenerator(8000).AddFlag(5), std::invalid_argument);
    const struct {
        int flag;
        int runs[4][3];  // layer, first slot, symbol
    } kFlags[] = {{3, {{3, 0, 16}, {3, 6, 16}, {4, 12, 17}, {4, 21, 17}}},
                  {7, {{4, 0, 17}, {4, 12, 17}, {3, 6, 16}, {3, 15, 16}}}};
    for (const auto& f : kFlags) {
        ZeltGenerator g(8000);
        g.AddFlag(f.flag);
        for (int layer = 3; layer <= 4; ++layer)
            for (int slot = 0; slot < 24; ++slot) {
                int want = 18;
                for (const auto& r : f.runs)
                    if (r[0] == layer && slot >= r[1] && slot < r[1] + 3) want = r[2];
                EXPECT_EQ(g.SymbolAt(layer, slot), want) << f.flag << " " << layer << " " << slot;
            }
    }
}

TEST(ZeltGenerator, TonesOfTheSymbolAtEachRate) {
    for (int rate : {8000, 48000}) {
        ZeltGenerator gen(rate);
        gen.AddProgram(5, 0x0C81, 0);
        const auto x = gen.Render(0.8);
        ASSERT_EQ(x.size(), size_t(rate * 0.8));
        EXPECT_NEAR(SignalMix::Rms(x), 0.1, 1e-6);
        // Slots 1..2 (inside the first 400 ms symbol, marker 17, clear of ramps).
        const size_t from = rate / 10, n = rate / 5;
        double on = 0, off = 0;
        for (int t = 0; t < 10; ++t) {
            on += TonePower(x, from, n, ToneHz(5, 17, t), rate);
            off += TonePower(x, from, n, ToneHz(5, 0, t), rate);
        }
        // Neighbouring tones are one bin (3.9 Hz) apart, so some leakage remains.
        EXPECT_GT(on, 20 * off) << rate;
        // The next symbol (s0 = 0) in the second 400 ms.
        double next = 0;
        for (int t = 0; t < 10; ++t) next += TonePower(x, rate / 2, n, ToneHz(5, 0, t), rate);
        EXPECT_GT(next, 20 * off);
    }
    EXPECT_THROW(ZeltGenerator(4000), std::invalid_argument);
}

TEST(ZeltGenerator, MixedAtTheStatedRatio) {
    ZeltGenerator gen(8000);
    gen.AddFlag(7);
    const auto mixed = gen.RenderMixed(5.0, HostKind::PinkNoise, -20.0, 4);
    const auto host = SignalMix::ToInt16(SignalMix::MakeHost(HostKind::PinkNoise, 40000, 0.1, 4));
    ASSERT_EQ(mixed.size(), host.size());
    double wm = 0, h = 0;
    for (size_t i = 0; i < host.size(); ++i) {
        const double d = double(mixed[i]) - host[i];
        wm += d * d;
        h += double(host[i]) * host[i];
    }
    EXPECT_NEAR(10 * std::log10(wm / h), -20.0, 0.1);
    EXPECT_EQ(ZeltGenerator::MinuteOfPosixTime(1073174400 + 61), 1u);
    EXPECT_EQ(ZeltGenerator::PosixTimeOfMinute(1073174400 + 2419200 + 7, 2),
              1073174400 + 2419200 + 120);
}

}  // namespace

TEST(Tesk2Generator, EveryChipIsTheToneOfItsHopPairAndSign) {
    for (int rate : {48000, 44100}) {
        Tesk2Generator g(rate);
        Tesk2Message m;
        m.sid = 0x7A5B;
        m.timestamp = 123456789;
        g.Add(m, 1);
        const auto x = g.Synthesize(2.0);
        const auto sched = g.Schedule(2.0);
        ASSERT_EQ(sched.size(), 1u);
        for (int s = 0; s < 11; ++s) {
            for (int j = 0; j < 15; ++j) {
                const double t0 = (s * 4096 + j * 256) / 24000.0;
                // The middle half of the chip: its own tone dominates the other of its pair.
                const size_t a = size_t((t0 + 64 / 24000.0) * rate);
                const size_t n = size_t(128 / 24000.0 * rate);
                const int sym = sched[0].symbols[s];
                const double f = Tesk2Generator::ChipFrequency(0, sym, j);
                const int pair = T2S_HOP_SEQ[j];
                const double plus = (T2_LAYER0_BAND + pair) * 93.75;
                EXPECT_DOUBLE_EQ(f, T2S_CHIP_PATTERN[sym][j] ? plus : plus + 937.5);
                const double other = f == plus ? plus + 937.5 : plus;
                EXPECT_GT(TonePower(x, a, n, f, rate), 100 * TonePower(x, a, n, other, rate))
                    << "symbol " << s << " chip " << j << " rate " << rate;
            }
            // The gap after the 15th chip is silent.
            const size_t gap = size_t((s * 4096 + 15 * 256 + 16) / 24000.0 * rate);
            EXPECT_EQ(x[gap], 0.0f);
        }
    }
}

TEST(Tesk2Generator, LayersRepeatAtTheirPeriodsWithTheEncoderClock) {
    Tesk2Generator g(48000);
    Tesk2Message prog;
    prog.timestamp = 1000;
    prog.clockFraction = 0.25;
    g.Add(prog);
    Tesk2Message comm;
    comm.kind = Tesk2Kind::CommercialStandard;
    comm.timestamp = 5000;
    g.Add(comm);
    const auto sched = g.Schedule(30.0);
    int n0 = 0, n1 = 0;
    for (const auto& em : sched) {
        const int period = em.layer == 0 ? 1496 : 748;
        const int n = em.layer == 0 ? n0++ : n1++;
        EXPECT_NEAR(em.startSeconds, n * period * 64 / 24000.0, 1e-9);
        EXPECT_NEAR(em.endSeconds - em.startSeconds, (640 * 64 + 15 * 256) / 24000.0, 1e-9);
        EXPECT_LE(em.endSeconds, 30.0);
        const uint32_t base = em.layer == 0 ? 1000 : 5000;
        const double frac = em.layer == 0 ? 0.25 : 0.5;
        EXPECT_EQ(em.timestamp, base + uint32_t(std::floor(frac + em.startSeconds)));
    }
    EXPECT_EQ(n0, 8);   // 7 * 3.989 s + 1.877 s <= 30 s
    EXPECT_EQ(n1, 15);  // 14 * 1.995 s + 1.877 s <= 30 s
}

TEST(Tesk2Generator, StandardAndReedSolomonLayouts) {
    Tesk2Message m;
    m.sid = 0xBEEF;
    m.dst = true;
    m.dist = 2;
    const uint32_t ts = 0x5A5A5A5Au & 0x7FFFFFFF;
    uint8_t s[11];
    Tesk2Generator::Symbols(m, ts, s);
    EXPECT_EQ(s[0], T2_MARKER);
    const uint32_t sid = (s[1] << 11) | (s[2] << 6) | (s[3] << 1) | ((s[4] >> 4) & 1);
    EXPECT_EQ(sid, 0xBEEFu);
    EXPECT_EQ((s[4] >> 3) & 1, 1);
    const uint32_t back = (uint32_t(s[4] & 7) << 28) | (s[5] << 23) | (s[6] << 18) | (s[7] << 13) |
                          (s[8] << 8) | (s[9] << 3) | (s[10] >> 2);
    EXPECT_EQ(back, ts);
    EXPECT_EQ(s[10] & 3, 2);

    m.kind = Tesk2Kind::CommercialRs;
    m.commId = 0x5F0E1D2C3ull;
    uint8_t eleventh = 0;
    Tesk2Generator::Symbols(m, 0, s, &eleventh);
    uint64_t id = 0;
    for (int p = 1; p <= 7; ++p) id = (id << 5) | s[p];
    EXPECT_EQ(id, m.commId);
    RsCodeParams rs;
    RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
            RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &rs);
    uint32_t word[11];
    for (int i = 0; i < 10; ++i) word[i] = s[i + 1];
    word[10] = eleventh;
    const RsDecodeResult r = RS_Decode(word, nullptr, 0, &rs);
    EXPECT_EQ(r.count, 0);  // a code word as sent
}
