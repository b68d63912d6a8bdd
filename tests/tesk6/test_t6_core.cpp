// TESK 6 core: tone maps, bin and symbol SNR, scoring, synchronisation,
// accumulation and emission.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "T6SpectrumSim.h"
#include "decoders/tesk6/T6Msg.h"
#include "decoders/tesk6/T6Snr.h"
#include "decoders/tesk6/T6Sync.h"
#include "dsp/ReedSolomon.h"
#include "generators/Tesk6Generator.h"

using Kelvane::Generators::Tesk6Generator;
using Kelvane::Generators::Tesk6Kind;
using Kelvane::Generators::Tesk6Message;

namespace {

std::vector<uint16_t> Row(const uint16_t (&map)[T6_SYMBOL_COUNT][T6_TONE_GROUPS], int s) {
    return std::vector<uint16_t>(map[s], map[s] + 6);
}

TEST(T6ToneMap, WorkedRowsAndMarkers) {
    using V = std::vector<uint16_t>;
    const struct {
        bool prog;
        int s;
        V row;
    } kRows[] = {
        {true, 1, {0, 90, 167, 221, 309, 363}},    {true, 2, {1, 91, 168, 222, 308, 362}},
        {true, 17, {0, 91, 169, 224, 314, 367}},   {true, 127, {25, 73, 165, 221, 314, 360}},
        {true, 0, {26, 90, 151, 217, 294, 362}},   {true, 128, {49, 121, 193, 265, 337, 409}},
        {false, 128, {13, 85, 157, 229, 301, 373}}};
    for (const auto& r : kRows)
        EXPECT_EQ(Row(r.prog ? T6_TONE_MAP_PROG : T6_TONE_MAP_COMM, r.s), r.row) << r.s;
}

TEST(T6ToneMap, LayoutRules) {
    std::set<std::vector<uint16_t>> progRows;
    uint16_t lo[2] = {999, 999}, hi[2] = {0, 0};
    for (int s = 0; s < T6_SYMBOL_COUNT; ++s) {
        for (int g = 0; g < 6; ++g) {
            const uint16_t p = T6_TONE_MAP_PROG[s][g];
            const uint16_t c = T6_TONE_MAP_COMM[s][g];
            lo[0] = std::min(lo[0], p), hi[0] = std::max(hi[0], p);
            lo[1] = std::min(lo[1], c), hi[1] = std::max(hi[1], c);
            // every tone lies inside its own group
            EXPECT_GE(p, 72 * g);
            EXPECT_LT(p, 72 * g + 72);
            if (s < 128) {
                EXPECT_EQ(c, p + 36) << s;
                const int inGroup = p - 72 * g;
                // never on the gaps of the position table
                EXPECT_TRUE(inGroup != 4 && !(inGroup >= 9 && inGroup <= 17) && inGroup != 22 &&
                            inGroup <= 26)
                    << s << " " << g;
            } else {
                // the marker sits in the middle gap of the other layer
                EXPECT_EQ(p % 72, 49);
                EXPECT_EQ(c % 72, 13);
            }
        }
        progRows.insert(Row(T6_TONE_MAP_PROG, s));
    }
    EXPECT_EQ(progRows.size(), 129u);  // every symbol has its own tone set
    EXPECT_EQ(lo[0], 0);
    EXPECT_EQ(hi[0], 409);
    EXPECT_EQ(lo[1], 13);
    EXPECT_EQ(hi[1], 422);
}

TEST(T6BinSnr, ScaleAndOneSeventhRule) {
    std::vector<float> p(1536, 0.0f);
    uint8_t snr[T6_BIN_SNR_COUNT];
    T6_BinSnr(p.data(), snr);
    for (uint8_t v : snr) ASSERT_EQ(v, 0);

    // A lone bin: noise is exactly 0, so P / 7; its neighbours see only one
    // strong neighbour (removed), so they are 0 / 7 = 0.
    p[700] = 700.0f;
    T6_BinSnr(p.data(), snr);
    for (int j = 0; j < T6_BIN_SNR_COUNT; ++j) ASSERT_EQ(snr[j], j == 700 - 576 ? 100 : 0) << j;
    p[700] = 7000.0f;
    T6_BinSnr(p.data(), snr);
    EXPECT_EQ(snr[700 - 576], 255);

    // A bin whose only non-zero neighbour is a strong bin takes the 1/7 rule.
    std::fill(p.begin(), p.end(), 0.0f);
    p[800] = 1e6f;
    p[802] = 70.0f;
    T6_BinSnr(p.data(), snr);
    EXPECT_EQ(snr[802 - 576], 10);

    // Flat floor: 42.5 truncated; 6 times the floor: 255; 3 times: 127.
    std::fill(p.begin(), p.end(), 2.0f);
    T6_BinSnr(p.data(), snr);
    for (uint8_t v : snr) ASSERT_EQ(v, 42);
    p[650] = 12.0f;
    p[900] = 6.0f;
    T6_BinSnr(p.data(), snr);
    EXPECT_EQ(snr[650 - 576], 255);
    EXPECT_EQ(snr[900 - 576], 127);
    // the strongest neighbour is not noise: the tone's neighbour stays at 42
    EXPECT_EQ(snr[651 - 576], 42);
}

// Random spectra with zeros, negatives, huge values and NaNs against the bin
// rule written out per bin: every bin must agree exactly.
TEST(T6BinSnr, MatchesTheRuleBinForBinOnRandomSpectra) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<float> p(1536);
    uint8_t snr[T6_BIN_SNR_COUNT];
    for (int round = 0; round < 200; ++round) {
        for (float& v : p) {
            const float r = u(rng);
            v = r < 0.05f   ? 0.0f
                : r < 0.07f ? -u(rng)
                : r < 0.08f ? std::numeric_limits<float>::quiet_NaN()
                : r < 0.10f ? 1e30f * u(rng)
                            : 100.0f * u(rng);
        }
        T6_BinSnr(p.data(), snr);
        for (int j = 0; j < T6_BIN_SNR_COUNT; ++j) {
            const float* c = &p[T6_BIN_SNR_FIRST_BIN + j];
            float sum = 0.0f, largest = 0.0f;
            for (int k : {-4, -3, -2, -1, 1, 2, 3, 4}) {
                sum += c[k];
                if (c[k] > largest) largest = c[k];
            }
            const float noise = sum - largest;
            float v =
                (noise != 0.0f && noise == noise) ? c[0] * 297.5f / noise : c[0] * 0.14285715f;
            v = v >= 0.0f ? (v > 255.0f ? 255.0f : v) : 0.0f;
            ASSERT_EQ(snr[j], uint8_t(v)) << "round " << round << " bin " << j;
        }
    }
}

TEST(T6SymSnr, MeanRoundedHalfUpAndCommercialShift) {
    uint8_t bins[T6_BIN_SNR_COUNT] = {0};
    uint8_t sym[T6_SYMBOL_COUNT];
    const struct {
        uint8_t v[6];
        uint8_t want;
    } kCases[] = {{{100, 100, 100, 100, 100, 101}, 100},
                  {{1, 1, 1, 0, 0, 0}, 1},
                  {{1, 1, 0, 0, 0, 0}, 0},
                  {{255, 255, 255, 255, 255, 255}, 255}};
    for (const auto& c : kCases) {
        for (int g = 0; g < 6; ++g) bins[T6_TONE_MAP_PROG[5][g]] = c.v[g];
        T6_SymSnr_Prog(bins, sym);
        EXPECT_EQ(sym[5], c.want);
    }

    // Commercial score of s == program score on the vector shifted down by 36.
    uint32_t x = 12345;
    for (auto& b : bins) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    uint8_t shifted[T6_BIN_SNR_COUNT] = {0};
    for (int j = 0; j + 36 < T6_BIN_SNR_COUNT; ++j) shifted[j] = bins[j + 36];
    uint8_t comm[T6_SYMBOL_COUNT], prog[T6_SYMBOL_COUNT];
    T6_SymSnr_Comm(bins, comm);
    T6_SymSnr_Prog(shifted, prog);
    for (int s = 0; s < 128; ++s) ASSERT_EQ(comm[s], prog[s]) << s;
}

// Strong standard messages are found at depth 0 with all fields right, only
// on frames 47 modulo 48; a weak one is found only by accumulating several
// repetitions, which needs the time-code symbol advanced with the encoder's
// increment cycle (every phase of the cycle is tried here).
// The frame scorer on random spectra (with stretches where one symbol's tones
// stand out, so scores run high) against its rule written out per
// symbol with plain ints: background of the 44 frames outside the five around
// frame 24, excess, three-frame sum, top four strictly better first.
TEST(T6Sync, ScorerMatchesItsRuleOnRandomSpectra) {
    struct RefLayer {
        uint8_t hist[T6S_HISTORY_FRAMES][T6_SYMBOL_COUNT] = {};
        int s1[T6_SYMBOL_COUNT] = {}, s2[T6_SYMBOL_COUNT] = {}, s3[T6_SYMBOL_COUNT] = {};
        uint32_t w = 0;
    } ref[2];
    _T6S_State_t st;
    T6S_Init(&st);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<float> p(1536);
    int strong = 0;
    for (int frame = 0; frame < 600; ++frame) {
        for (float& v : p) v = u(rng);
        if (frame % 50 < 3)  // a symbol of three frames, once in a history
            for (int g = 0; g < T6_TONE_GROUPS; ++g)
                p[T6_BIN_SNR_FIRST_BIN + T6_TONE_MAP_PROG[17][g]] = 40.0f;
        _T6_Candidate_t out[2];
        T6S_Process(p.data(), out, &st);
        uint8_t bins[T6_BIN_SNR_COUNT], sym[2][T6_SYMBOL_COUNT];
        T6_BinSnr(p.data(), bins);
        T6_SymSnr_Prog(bins, sym[0]);
        T6_SymSnr_Comm(bins, sym[1]);
        for (int l = 0; l < 2; ++l) {
            RefLayer& r = ref[l];
            const auto back = [&](int n) {
                return r.hist[(r.w + T6S_HISTORY_FRAMES - n) % T6S_HISTORY_FRAMES];
            };
            std::vector<std::pair<int, int>> ranked;  // (score, symbol), in symbol order
            for (int s = 0; s < T6_SYMBOL_COUNT; ++s) {
                const int b =
                    r.s1[s] - (back(22)[s] + back(23)[s] + back(24)[s] + back(25)[s] + back(26)[s]);
                const int e = back(24)[s] - b / 44;
                const int v = r.s2[s] + e + r.s3[s];
                const int score = v > 767 ? 255 : v >= -2 ? v / 3 : 0;
                if (score > 0) ranked.emplace_back(score, s);
                strong += score > 200;
                r.s3[s] = r.s2[s];
                r.s2[s] = e;
                r.s1[s] += sym[l][s] - r.hist[r.w][s];
                r.hist[r.w][s] = sym[l][s];
            }
            r.w = (r.w + 1) % T6S_HISTORY_FRAMES;
            // Higher score first; among equals the lower symbol, which came first.
            std::stable_sort(ranked.begin(), ranked.end(),
                             [](const auto& a, const auto& b) { return a.first > b.first; });
            for (int k = 0; k < T6S_CANDIDATES; ++k) {
                const bool has = k < (int)ranked.size();
                ASSERT_EQ(out[l].pair[k].symbol, has ? ranked[k].second : T6_NO_SYMBOL)
                    << "frame " << frame << " layer " << l << " rank " << k;
                ASSERT_EQ(out[l].pair[k].score, has ? ranked[k].first : 0);
            }
        }
    }
    EXPECT_GT(strong, 10);  // the tone stretches were ranked, not only noise
}

TEST(T6Core, StandardMessagesFollowTheEncoderClock) {
    for (int layer = 0; layer < 2; ++layer) {
        const int period = layer == 0 ? 150 : 50, reps = layer == 0 ? 12 : 30;
        const int64_t start = 17;
        for (float tone : {4.0f, 0.3f}) {
            for (double fraction : {0.0, 0.2, 0.45, 0.6, 0.8}) {
                Tesk6Message m;
                m.kind = layer == 0 ? Tesk6Kind::ProgramStandard : Tesk6Kind::CommercialStandard;
                m.sid = 0x5A3D;
                m.dist = 1;
                m.dst = true;
                m.transmission = layer == 1;
                m.timestamp = 0x0ABCDE08;  // low symbol far from its wrap during the run
                m.clockFraction = fraction;
                std::set<uint32_t> sent;
                t6test::SpectrumSim sim(tone);
                sim.Run(int64_t(period) * reps + 100, [&](int l, int64_t f) {
                    if (l != layer || f >= start + int64_t(period) * reps) return -1;
                    return t6test::RepeatedMessage(
                        f, start, period, [&](int64_t rep, uint8_t out[8]) {
                            uint32_t ts =
                                Tesk6Generator::TimestampAt(m, (start + rep * period) * 0.032);
                            sent.insert(ts);
                            Tesk6Generator::Symbols(m, ts, out);
                        });
                });
                int deep = 0;
                for (const auto& det : sim.detections) {
                    EXPECT_EQ(det.frame % 48, 47);
                    ASSERT_EQ(det.d.layer, uint32_t(layer));
                    deep += det.d.depth >= 2;
                    EXPECT_EQ(det.d.sid, m.sid);
                    EXPECT_EQ(det.d.dist, 1u);
                    EXPECT_EQ(det.d.dst, 1);
                    EXPECT_EQ(det.d.transmission, uint32_t(layer == 1));
                    EXPECT_EQ(det.d.symbols[0], 128);
                    EXPECT_TRUE(sent.count(det.d.timestamp))
                        << "layer " << layer << " fraction " << fraction << " depth "
                        << int(det.d.depth) << " ts " << det.d.timestamp;
                    EXPECT_LT(det.d.phase, period);
                    EXPECT_GE(det.d.firstSymAge, det.d.lastSymAge + 42 * 32);
                }
                EXPECT_GE(int(sim.detections.size()), layer == 0 ? 6 : 15)
                    << layer << " " << tone << " " << fraction;
                // weak: needs accumulation; strong: duplicates of depth 0 are dropped
                EXPECT_EQ(deep > 0, tone < 1.0f) << layer << " " << tone << " " << fraction;
            }
        }
    }
}

// Symbols of the Reed-Solomon commercial used below; returns its commId.
uint64_t RsSymbols(uint8_t out[8]) {
    Tesk6Message m;
    m.kind = Tesk6Kind::CommercialRs;
    m.commId = 0x2468ACE13ull;
    Tesk6Generator::Symbols(m, 0, out);
    return m.commId;
}

// A Reed-Solomon word with one wrong symbol is corrected on the first try,
// provided the right symbol has votes at all (here it is sent in every third
// repetition, the wrong one in the others).
TEST(T6Core, ReedSolomonWordWithOneWrongSymbol) {
    uint8_t good[8];
    const uint64_t commId = RsSymbols(good);
    uint8_t bad[8];
    memcpy(bad, good, 8);
    bad[4] = uint8_t((bad[4] + 37) & 0x7F);
    t6test::SpectrumSim sim;
    sim.Run(50 * 12, [&](int l, int64_t f) {
        if (l != 1) return -1;
        return t6test::RepeatedMessage(f, 5, 50, [&](int64_t rep, uint8_t out[8]) {
            memcpy(out, rep % 3 == 0 ? good : bad, 8);
        });
    });
    int corrected = 0, rs = 0;
    for (const auto& det : sim.detections) {
        if (det.d.layer != T6M_LAYER_COMM_RS) continue;
        ++rs;
        EXPECT_EQ(det.d.commId, commId);
        EXPECT_EQ(det.d.symbols[4], good[4]);
        EXPECT_EQ(det.d.timestamp, 0xFFFFFFFFu);
        EXPECT_EQ(det.d.sid, 0);
        EXPECT_EQ(det.d.dist, 0u);
        if (det.d.quality >= 41905 && det.d.quality <= 41908) ++corrected;
    }
    EXPECT_GT(rs, 0);
    EXPECT_GT(corrected, 0);
}

// A corrected symbol that has fewer votes than the runner-up of its position
// is weak evidence: its margin is negative and lowers the strength, instead of
// counting as zero. Position 4 carries a wrong symbol A twice, another wrong
// symbol B once and the right symbol G once, briefly, so that after four
// repetitions G has votes, but fewer than B.
TEST(T6Core, CorrectedSymbolWeakerThanRunnerUpLowersTheStrength) {
    uint8_t good[8];
    const uint64_t commId = RsSymbols(good);
    const uint8_t a = uint8_t((good[4] + 37) & 0x7F);
    const uint8_t b = uint8_t((good[4] + 81) & 0x7F);
    const int64_t start = 5;
    t6test::SpectrumSim sim;
    sim.Run(50 * 6, [&](int l, int64_t f) {
        if (l != 1 || f < start || f >= start + 4 * 50) return -1;
        const int64_t rep = (f - start) / 50, off = (f - start) % 50;
        if (off >= 48) return -1;
        const int pos = int(off / 6);
        if (pos != 4) return int(good[pos]);
        if (rep == 0) return off % 6 < 3 ? int(good[4]) : -1;  // short, so weak
        return int(rep == 1 ? b : a);
    });
    int checked = 0;
    for (const auto& det : sim.detections) {
        if (det.d.layer != T6M_LAYER_COMM_RS || det.d.symbols[4] != good[4]) continue;
        EXPECT_EQ(det.d.commId, commId);
        // The first repetition alone is read without correction; once a
        // wrong symbol leads position 4, G comes back by correction only.
        if (det.d.depth == 0) continue;
        EXPECT_GE(det.d.quality, 41905);
        EXPECT_LE(det.d.quality, 41908);
        int sum = 0;
        for (const auto& p : det.slot.pos) sum += int16_t(p.margin);
        EXPECT_EQ(det.d.strength, int16_t(sum));
        // With B accumulated (depth 2 and 3) G is third at best: negative
        // margin. At depth 1 G itself is the runner-up: margin 0.
        if (det.d.depth >= 2) {
            EXPECT_LT(int16_t(det.slot.pos[4].margin), 0) << "depth " << int(det.d.depth);
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}

// All-ones data symbols give every field at its full width (no mask cuts a
// bit): standard fields, and the 35-bit commId of a Reed-Solomon detection.
TEST(T6Core, MessageFieldsFromSymbols) {
    _T6M_Detection_t d;
    memset(&d, 0, sizeof(d));
    d.layer = T6M_LAYER_PROG;
    memset(d.symbols, 0x7F, 8);
    d.symbols[0] = 128;
    T6M_FillMessageFields(&d);
    EXPECT_EQ(d.sid, 0xFFFF);
    EXPECT_EQ(d.timestamp, 0x1FFFFFFFu);
    EXPECT_EQ(d.dist, 3u);
    EXPECT_EQ(d.dst, 1);
    EXPECT_EQ(d.transmission, 1u);
    d.layer = T6M_LAYER_COMM_RS;
    T6M_FillMessageFields(&d);
    EXPECT_EQ(d.commId, (1ull << 35) - 1);
    EXPECT_EQ(d.sid, 0);
    EXPECT_EQ(d.timestamp, 0xFFFFFFFFu);
}

}  // namespace
