// TESK 6 from audio to the host code rings: generated 48 kHz audio with a
// watermark at -20 dB in pink noise, fed in 10 ms blocks through a CMeter with
// the application's factories and the filtered TESK 6 callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "T6Pipeline.h"
#include "app/HostInterface.h"
#include "decoders/tesk6/CTesk6Decoder.h"
#include "dsp/CUCCValidator.h"
#include "dsp/ReedSolomon.h"
#include "generators/SignalMix.h"
#include "generators/Tesk6Generator.h"

using namespace Kelvane::Generators;

namespace {

constexpr double kSeconds = 45.0;
constexpr double kRatioDb = -20.0;
constexpr double kBurstRatioDb = -12.0;

std::vector<int16_t> MakeAudio(const Tesk6Generator& g, double seconds, double ratioDb,
                               uint32_t seed) {
    const std::vector<float> wm = g.Synthesize(seconds);
    const std::vector<float> host = SignalMix::MakeHost(HostKind::PinkNoise, wm.size(), 0.1, seed);
    return SignalMix::ToInt16(SignalMix::Mix(wm, host, ratioDb));
}

// Commercial identifier as the decoder writes it ("0x" and lowercase hex digits).
std::string HexId(uint64_t id) {
    char text[24];
    snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(id));
    return text;
}

// Time code the generator was sending at `seconds` on a layer: that of the
// latest repetition started by then.
int64_t SentAt(const std::vector<Tesk6Emission>& sched, int layer, double seconds) {
    int64_t ts = -1;
    for (const auto& e : sched)
        if (e.layer == layer && e.startSeconds <= seconds) ts = e.timestamp;
    return ts;
}

// Every code the host receives for one channel of audio fed through a meter, with its text.
struct HostCode {
    t6test::Code code;
    std::string text;
};
std::vector<HostCode> HostCodes(const std::vector<int16_t>& audio) {
    t6test::MeterHarness h(1);
    std::vector<HostCode> codes;
    for (const auto& hc : h.Feed({audio}, true))
        codes.push_back({t6test::ParseCode(hc.text), hc.text});
    return codes;
}

// Every code the decoder hands on in raw display for one channel of audio; filtered
// display is switched back on afterwards.
std::vector<t6test::Code> RawCodes(const std::vector<int16_t>& audio) {
    bTwRawOutput = true;
    std::vector<t6test::Code> codes;
    for (const HostCode& hc : HostCodes(audio)) codes.push_back(hc.code);
    bTwRawOutput = false;
    return codes;
}

class Tesk6EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ReportTw = true;
        bTwRawOutput = false;
    }
    void TearDown() override { SetUp(); }
};

// One message of each kind through the meter: every host text carries that
// message (a standard one with its time code within 2 s of what was being
// sent), the first within 20 s of audio.
TEST_F(Tesk6EndToEnd, EachMessageKindReachesTheHostRing) {
    const char* dist[4] = {"PC", "FD1", "FD2", "FD3"};
    const struct {
        Tesk6Kind kind;
        const char* layer;
        unsigned sid;
        uint32_t timestamp;
        double clockFraction;
        uint32_t seed;
    } kCases[] = {{Tesk6Kind::ProgramStandard, "PROG", 43210, 512345678, 0.5, 11},
                  {Tesk6Kind::CommercialStandard, "COMM_STD", 777, 98765432, 0.1, 12},
                  {Tesk6Kind::CommercialRs, "COMM_RS", 0, 0, 0.5, 13}};
    for (const auto& k : kCases) {
        SCOPED_TRACE(k.layer);
        Tesk6Message m;
        m.kind = k.kind;
        m.sid = uint16_t(k.sid);
        m.dist = 1;
        m.timestamp = k.timestamp;
        m.clockFraction = k.clockFraction;
        m.commId = 0x123456789ull;
        const bool rs = k.kind == Tesk6Kind::CommercialRs;
        ASSERT_TRUE(CUCCValidator::IsValidCommID(long(m.commId)));
        Tesk6Generator g(48000);
        g.Add(m);
        const auto sched = g.Schedule(kSeconds);
        const int layerNo = k.kind == Tesk6Kind::ProgramStandard ? 0 : 1;
        t6test::MeterHarness h(1);
        int count = 0, lookAlikes = 0;
        double first = -1;
        for (const auto& hc : h.Feed({MakeAudio(g, kSeconds, kRatioDb, k.seed)}, true)) {
            t6test::Code c = t6test::ParseCode(hc.text);
            ASSERT_TRUE(c.ok) << hc.text;
            EXPECT_EQ(hc.channel, 0);
            if (!rs && layerNo == 1 && c.layer == "COMM_RS") {
                // The Reed-Solomon block reads the same commercial history and
                // may read an accumulated standard word as a corrected code
                // word; such reports carry no SID.
                ++lookAlikes;
                continue;
            }
            EXPECT_EQ(c.layer, k.layer) << hc.text;
            if (rs) {
                EXPECT_EQ(c.commId, "0x123456789");
                EXPECT_EQ(c.timestamp, -1);
            } else {
                EXPECT_EQ(c.sid, m.sid) << hc.text;
                EXPECT_EQ(c.dist, dist[m.dist]) << hc.text;
                EXPECT_LE(std::llabs(c.timestamp - SentAt(sched, layerNo, c.elapsedTime)), 2)
                    << hc.text;
            }
            if (first < 0) first = hc.audioSeconds;
            ++count;
        }
        EXPECT_GE(count, layerNo == 0 ? 5 : 15);
        EXPECT_LT(lookAlikes, count / 2);
        EXPECT_GE(first, 0.0);
        EXPECT_LE(first, 20.0);
    }
}

// A commercial code is a claim made from two separate readings. One
// repetition on air is one reading, however often the decoder's deeper
// accumulations re-read it: nothing is reported. A second repetition later
// confirms it.
TEST_F(Tesk6EndToEnd, OneCommercialRepetitionAloneIsNotReported) {
    for (Tesk6Kind kind : {Tesk6Kind::CommercialStandard, Tesk6Kind::CommercialRs}) {
        const bool rs = kind == Tesk6Kind::CommercialRs;
        SCOPED_TRACE(rs ? "COMM_RS" : "COMM_STD");
        Tesk6Message m;
        m.kind = kind;
        m.sid = 4242;
        m.dist = 2;
        m.timestamp = 55555555;
        m.commId = 0x123456789ull;
        m.clockFraction = 0.3;
        Tesk6Generator g(48000);
        g.Add(m);
        const double seconds = 14.0;
        const auto sched = g.Schedule(seconds);
        ASSERT_GE(sched.size(), 5u);
        // The watermark scaled to kBurstRatioDb against the host, then cut.
        const std::vector<float> wm = g.Synthesize(seconds);
        const auto host = SignalMix::MakeHost(HostKind::WhiteNoise, wm.size(), 0.1, 41);
        const std::vector<float> full = SignalMix::Mix(wm, host, kBurstRatioDb);
        // Keep the repetition at index 1 alone, then also the one at index 4.
        for (size_t keepSecond : {size_t(0), size_t(4)}) {
            std::vector<float> mix = host;
            for (size_t i : {size_t(1), keepSecond}) {
                if (i == 0) continue;
                const size_t a = size_t(sched[i].startSeconds * 48000);
                const size_t b = std::min(wm.size(), size_t(sched[i].endSeconds * 48000) + 480);
                for (size_t n = a; n < b; ++n) mix[n] = full[n];
            }
            t6test::MeterHarness h(1);
            int commercial = 0, exact = 0;
            for (const auto& hc : h.Feed({SignalMix::ToInt16(mix)}, true)) {
                t6test::Code c = t6test::ParseCode(hc.text);
                ASSERT_TRUE(c.ok) << hc.text;
                if (c.layer == "PROG") continue;
                ++commercial;
                if (rs ? c.commId == "0x123456789" : c.sid == m.sid) ++exact;
            }
            if (keepSecond == 0) {
                EXPECT_EQ(commercial, 0);
            } else {
                EXPECT_GE(exact, 2);
            }
        }
    }
}

// Two channels with different messages: each code reaches only its own ring.
TEST_F(Tesk6EndToEnd, TwoChannelsKeepTheirCodesApart) {
    Tesk6Generator g0(48000), g1(48000);
    Tesk6Message m0, m1;
    m0.kind = Tesk6Kind::ProgramStandard;
    m0.sid = 1111;
    m0.dist = 2;
    m0.timestamp = 3000000;
    g0.Add(m0);
    m1.kind = Tesk6Kind::ProgramStandard;
    m1.sid = 2222;
    m1.dist = 3;
    m1.timestamp = 4000000;
    g1.Add(m1);
    // The second channel also carries a Reed-Solomon commercial.
    Tesk6Message rs;
    rs.kind = Tesk6Kind::CommercialRs;
    rs.commId = 0x123456789ull;
    g1.Add(rs);
    t6test::MeterHarness h(2);
    const auto codes = h.Feed(
        {MakeAudio(g0, kSeconds, kRatioDb, 21), MakeAudio(g1, kSeconds, kRatioDb, 22)}, true);
    int per[2] = {0, 0};
    bool rsSeen = false;
    for (const auto& hc : codes) {
        ASSERT_LT(hc.channel, 2);
        t6test::Code c = t6test::ParseCode(hc.text);
        ++per[hc.channel];
        if (hc.channel == 0) {
            EXPECT_EQ(c.layer, "PROG");
            EXPECT_EQ(c.sid, 1111u) << hc.text;
        } else if (c.layer == "COMM_RS") {
            rsSeen = true;
        } else {
            EXPECT_EQ(c.layer, "PROG");
            EXPECT_EQ(c.sid, 2222u) << hc.text;
        }
    }
    EXPECT_GE(per[0], 5);
    EXPECT_GE(per[1], 5);
    EXPECT_TRUE(rsSeen);
}

// Raw display hands every detection text to the host byte for byte; with the
// family switched off nothing arrives.
TEST_F(Tesk6EndToEnd, RawDisplayAndFamilySwitch) {
    Tesk6Generator g(48000);
    Tesk6Message m;
    m.kind = Tesk6Kind::CommercialStandard;
    m.sid = 5;
    m.dist = 0;
    m.transmission = true;
    m.timestamp = 1234567;
    g.Add(m);
    const auto audio = MakeAudio(g, 20.0, kRatioDb, 31);

    Kelvane::TESKVI::CTesk6Decoder direct(48000);
    direct.init("");
    t6test::Capture cap;
    direct.RegisterResultCallback(cap);
    for (size_t pos = 0; pos < audio.size(); pos += 480) {
        Kelvane::AudioCore::CAudioBlock block(
            reinterpret_cast<const unsigned char*>(audio.data() + pos), 960, 1, 48000, 16,
            Kelvane::AudioCore::PACKING_MODE_NOT_USED, 0);
        direct.ProcessAudioBlock(block);
    }
    direct.FlushData();
    ASSERT_GT(cap.texts.size(), 5u);

    bTwRawOutput = true;
    {
        t6test::MeterHarness h(1);
        const auto codes = h.Feed({audio}, true);
        ASSERT_EQ(codes.size(), cap.texts.size());
        for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i].text, cap.texts[i]);
    }
    ReportTw = false;
    {
        t6test::MeterHarness h(1);
        EXPECT_TRUE(h.Feed({audio}, true).empty());
    }
}

}  // namespace

// Standard and Reed-Solomon commercial messages share the marker and the layer, so every
// Reed-Solomon word also reads as some standard message. For identifiers whose standard
// reading has distribution PC and transmission 1 the decoder keeps that reading, and pairs of
// it used to reach the host as a standard commercial code that was never sent.
TEST_F(Tesk6EndToEnd, ReedSolomonMessageGivesNoStandardCommercialCode) {
    for (uint64_t id : {0x210149512ull, 0x123456789ull}) {
        SCOPED_TRACE(id);
        Tesk6Message m;
        m.kind = Tesk6Kind::CommercialRs;
        m.commId = id;
        ASSERT_TRUE(CUCCValidator::IsValidCommID(long(m.commId)));
        Tesk6Generator g(48000);
        g.Add(m);
        t6test::MeterHarness h(1);
        int rs = 0, other = 0;
        for (const auto& hc : h.Feed({MakeAudio(g, 30.0, -18.0, 21)}, true)) {
            t6test::Code c = t6test::ParseCode(hc.text);
            ASSERT_TRUE(c.ok) << hc.text;
            if (c.layer == "COMM_RS" && c.commId == HexId(id))
                ++rs;
            else
                ++other;
            EXPECT_NE(c.layer, "COMM_STD") << hc.text;
        }
        EXPECT_GE(rs, 5);
        EXPECT_EQ(other, 0);
    }
}

// A program message read a fraction of a symbol spacing off its true position (a few
// frames of the message clock) takes each symbol where it meets a neighbour, so each data
// symbol reads as the true one or a neighbour's. The decoder reports such readings (raw
// display shows them); the filtered path reports only the code on air, at its time.
TEST_F(Tesk6EndToEnd, ProgramReadAcrossSymbolBoundariesGivesNoOtherCode) {
    Tesk6Message p;
    p.kind = Tesk6Kind::ProgramStandard;
    p.sid = 17561;
    p.dist = 3;
    p.timestamp = 505181090;
    p.clockFraction = 0.3;
    Tesk6Message c;
    c.kind = Tesk6Kind::CommercialRs;
    c.commId = 0xb5f8d8d3ull;
    Tesk6Generator g(48000);
    g.Add(p);
    g.Add(c);
    g.SetStartFrame(0, 86);
    g.SetStartFrame(1, 2);
    const double seconds = 90.0;
    // The last repetition is cut off by the end of the audio; the flush still reads it.
    const auto sched = g.Schedule(seconds + 5.0);
    const auto audio = MakeAudio(g, seconds, kRatioDb, 107);

    const auto raw = RawCodes(audio);
    const auto misread = std::count_if(raw.begin(), raw.end(), [&](const t6test::Code& code) {
        return code.layer == "PROG" && code.sid != p.sid;
    });
    ASSERT_GE(misread, 2) << "the audio no longer shows the misreading";

    int reported = 0;
    for (const auto& [code, text] : HostCodes(audio)) {
        ASSERT_TRUE(code.ok) << text;
        if (code.layer != "PROG") continue;
        EXPECT_EQ(code.sid, p.sid) << text;
        EXPECT_EQ(code.dist, "FD3") << text;
        EXPECT_LE(std::llabs(code.timestamp - SentAt(sched, 0, code.elapsedTime)), 2) << text;
        ++reported;
    }
    EXPECT_GE(reported, 15);
}

// A Reed-Solomon message read by the standard block over several repetitions: its parity
// does not run on like a time code, so the deeper accumulations misread the last symbol and
// the reading escapes the code-word check, yet its other symbols are those of the
// identifier heard. No standard commercial code reaches the host; the identifier does.
TEST_F(Tesk6EndToEnd, DeepStandardReadingOfHeardIdentifierIsNotReported) {
    Tesk6Message c;
    c.kind = Tesk6Kind::CommercialRs;
    c.commId = 0x3a03c9304ull;  // its standard reading: distribution PC, transmission 1
    ASSERT_TRUE(CUCCValidator::IsValidCommID(long(c.commId)));
    Tesk6Generator g(48000);
    g.Add(c);
    g.SetStartFrame(1, 4);
    const double seconds = 60.0;
    const std::vector<float> wm = g.Synthesize(seconds);
    const std::vector<float> host = SignalMix::MakeHost(HostKind::WhiteNoise, wm.size(), 0.1, 25);
    const auto audio = SignalMix::ToInt16(SignalMix::Mix(wm, host, kRatioDb));

    const auto raw = RawCodes(audio);
    // Symbols 1 and 2 of the identifier (58, 1) with the last symbol off the parity.
    const auto deep = std::count_if(raw.begin(), raw.end(), [](const t6test::Code& code) {
        return code.layer == "COMM_STD" && code.sid == 29703 && (code.timestamp & 0x7F) > 9;
    });
    ASSERT_GE(deep, 2) << "the audio no longer shows the misreading";

    int rs = 0;
    for (const auto& [code, text] : HostCodes(audio)) {
        ASSERT_TRUE(code.ok) << text;
        EXPECT_EQ(code.layer, "COMM_RS") << text;
        EXPECT_EQ(code.commId, "0x3a03c9304") << text;
        ++rs;
    }
    EXPECT_GE(rs, 10);
}

// A standard commercial message whose symbols 1 to 6 begin a Reed-Solomon code word with a
// valid identifier: every repetition is then one symbol (the running last one) off that
// word, and the Reed-Solomon block decodes it with one correction as the identifier. The
// decoder reports those readings (raw display shows them); the filtered path reports only
// the standard commercial on air.
TEST_F(Tesk6EndToEnd, CorrectedReedSolomonReadingOfAStandardCommercialIsNotReported) {
    RsCodeParams rs;
    RS_Init(7, 5, 7, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF, RS_7_5_TABLES_LOOKUPGFINV,
            RS_7_5_TABLES_LOOKUPGFREV, &rs);
    Tesk6Message m;
    m.kind = Tesk6Kind::CommercialStandard;
    m.timestamp = 505360000u & ~0x3FFFu;  // time symbols 4 and 5 fixed, 6 and 7 set below
    uint64_t id = 0;
    uint8_t word[7];
    for (m.sid = 20000;; ++m.sid) {
        Tesk6Message probe = m;
        uint8_t sym[8];
        Tesk6Generator::Symbols(probe, probe.timestamp, sym);
        for (int i = 0; i < 5; ++i) word[i] = sym[i + 1];
        id = 0;
        for (int i = 0; i < 5; ++i) id = (id << 7) | word[i];
        if (CUCCValidator::IsValidCommID(long(id))) break;
    }
    RS_Encode(word, 5, word + 5, &rs);
    // Symbol 6 (time code bits 7 to 13) is the word's first parity symbol; the last symbol
    // runs through a half of its range that leaves out the second parity symbol.
    m.timestamp |= uint32_t(word[5]) << 7 | (word[6] < 64 ? 64u : 1u);
    Tesk6Generator g(48000);
    g.Add(m);
    const auto audio = MakeAudio(g, 60.0, kRatioDb, 27);

    const std::string misread = HexId(id);
    const auto raw = RawCodes(audio);
    ASSERT_GE(std::count_if(raw.begin(), raw.end(),
                            [&](const t6test::Code& c) { return c.commId == misread; }),
              2)
        << "the audio no longer shows the misreading";

    int standard = 0;
    for (const auto& [c, text] : HostCodes(audio)) {
        ASSERT_TRUE(c.ok) << text;
        EXPECT_EQ(c.layer, "COMM_STD") << text;
        EXPECT_EQ(c.sid, m.sid) << text;
        ++standard;
    }
    EXPECT_GE(standard, 10);
}
