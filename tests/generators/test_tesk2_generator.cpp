// TESK 2 signal generator: chip tones and timing, repetition periods and the
// encoder clock, message layouts and Reed-Solomon words.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "decoders/tesk2/T2SymSnr.h"
#include "dsp/ReedSolomon.h"
#include "generators/Tesk2Generator.h"

using namespace Kelvane::Generators;

namespace {

// Power of DFT frequency f (Hz) of x[start .. start + n) at `rate`.
double TonePower(const std::vector<float>& x, size_t start, size_t n, double f, int rate) {
    double re = 0, im = 0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 2 * M_PI * f * double(start + i) / rate;
        re += x[start + i] * std::cos(w);
        im -= x[start + i] * std::sin(w);
    }
    return re * re + im * im;
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
