// ZELT signal generator: symbol layout, tone frequencies, code words, ratio.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "decoders/zelt/ZeltBinTables.h"
#include "dsp/ReedSolomon.h"
#include "generators/ZeltGenerator.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::SignalMix;
using Kelvane::Generators::ZeltGenerator;

namespace {

// Power of frequency f over samples [from, from + n) (direct correlation).
double Power(const std::vector<float>& x, size_t from, size_t n, double f, int rate) {
    double re = 0, im = 0;
    for (size_t i = 0; i < n; ++i) {
        const double ph = 2.0 * M_PI * f * double(from + i) / rate;
        re += x[from + i] * std::cos(ph);
        im += x[from + i] * std::sin(ph);
    }
    return (re * re + im * im) / (double(n) * n);
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
            on += Power(x, from, n, ToneHz(5, 17, t), rate);
            off += Power(x, from, n, ToneHz(5, 0, t), rate);
        }
        // Neighbouring tones are one bin (3.9 Hz) apart, so some leakage remains.
        EXPECT_GT(on, 20 * off) << rate;
        // The next symbol (s0 = 0) in the second 400 ms.
        double next = 0;
        for (int t = 0; t < 10; ++t) next += Power(x, rate / 2, n, ToneHz(5, 0, t), rate);
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
