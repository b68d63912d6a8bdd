// TESK 6 signal generator: tone frequencies, symbol timing, repetition and
// the encoder clock, Reed-Solomon words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "decoders/tesk6/T6Snr.h"
#include "dsp/ReedSolomon.h"
#include "generators/Tesk6Generator.h"

using namespace Kelvane::Generators;

namespace {

// Power of DFT bin k of x[start .. start + n).
double BinPower(const std::vector<float>& x, size_t start, size_t n, double k) {
    double re = 0, im = 0;
    for (size_t i = 0; i < n; ++i) {
        const double a = 2.0 * M_PI * k * double(i) / double(n);
        re += x[start + i] * std::cos(a);
        im -= x[start + i] * std::sin(a);
    }
    return re * re + im * im;
}

// The six strongest 16 kHz bins (3072-point) in 3-5.2 kHz of a window.
std::vector<int> StrongestBins(const std::vector<float>& x, size_t start, int rate) {
    const int scale = rate / 16000;
    std::vector<std::pair<double, int>> p;
    for (int bin = 570; bin <= 1005; ++bin)
        p.push_back({BinPower(x, start, size_t(3072 * scale), bin), bin});
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

}  // namespace
