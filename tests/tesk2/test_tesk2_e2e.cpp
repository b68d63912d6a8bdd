// TESK 2 from generated audio to the host rings through a real meter: the three
// message kinds at 48000 and 44100 Hz (the resampling path), a minute of hosts
// without a watermark, and readings that contradict a code confirmed in the same
// message slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "dsp/ReedSolomon.h"
#include "tests/tesk2/Tesk2MeterRun.h"

using namespace tesk2test;

TEST(Tesk2EndToEnd, ThreeMessageKindsInPinkNoiseAt48And44_1kHz) {
    const auto kinds = ThreeKinds();
    for (int rate : {48000, 44100}) {
        std::vector<std::vector<int16_t>> pcm;
        for (int c = 0; c < 3; ++c)
            pcm.push_back(MakeChannel(kinds[c].Generator(rate), 40.0, -20.0, 11 + c));
        const std::vector<HostReport> reports = RunMeter(pcm, rate);
        for (int c = 0; c < 3; ++c) {
            double first = 1e9;
            EXPECT_EQ(ChannelFault(reports, c, kinds[c], &first), "") << rate << " channel " << c;
            printf("rate %d, %s at -20 dB: first report after %.2f s of audio\n", rate,
                   kinds[c].layer.c_str(), first);
        }
    }
}

TEST(Tesk2EndToEnd, OneMinuteWithoutWatermarkReportsNothing) {
    ExpectNoReportWithoutWatermark(60.0);
}

namespace {

int CountLayer(const std::vector<HostReport>& reports, const char* layer) {
    int n = 0;
    for (const HostReport& r : reports) n += Parse(r.text).layer == layer;
    return n;
}

// Repetition period of a message's layer and message length in seconds.
double Period(const Tesk2Message& m) {
    return (m.kind == Tesk2Kind::ProgramStandard ? 1496 : 748) * 64 / 24000.0;
}
constexpr double kProgramPeriod = 1496 * 64 / 24000.0;
constexpr double kMessage = 704 * 64 / 24000.0;

struct Substitute {
    Tesk2Message msg;
    std::vector<int> reps;
};

// The watermark of `a` with, for each substitute, its repetitions `reps` (a list; to the end
// from a negative entry's magnitude) replaced by those of the substitute's message, which
// shares a's layer, clock and phase; switches fall between repetitions.
std::vector<float> Spliced(const Tesk2Message& a, double seconds,
                           const std::vector<Substitute>& substitutes) {
    Tesk2Generator ga(48000);
    ga.Add(a);
    std::vector<float> out = ga.Synthesize(seconds);
    const double period = Period(a), gap = (period - kMessage) / 2;
    for (const Substitute& sub : substitutes) {
        Tesk2Generator gb(48000);
        gb.Add(sub.msg);
        const std::vector<float> other = gb.Synthesize(seconds);
        for (int rep : sub.reps) {
            const double t0 = std::abs(rep) * period - gap;
            const double t1 = rep < 0 ? seconds : rep * period + kMessage + gap;
            for (size_t i = size_t(std::max(0.0, t0) * 48000); i < out.size() && i < t1 * 48000;
                 ++i)
                out[i] = other[i];
        }
    }
    return out;
}

std::vector<float> Replaced(const Tesk2Message& a, const Tesk2Message& b, double seconds,
                            std::vector<int> reps) {
    return Spliced(a, seconds, {{b, std::move(reps)}});
}

std::vector<int16_t> InPinkNoise(const std::vector<float>& wm, double ratioDb, uint32_t seed) {
    return SignalMix::ToInt16(SignalMix::Mix(
        wm, SignalMix::MakeHost(HostKind::PinkNoise, wm.size(), 0.1, seed), ratioDb));
}

}  // namespace

// A standard commercial message whose symbols 1 to 9 are, for the four repetitions of time
// codes 987076104 to 987076110, those of the Reed-Solomon code word of the valid identifier
// 0x5ba99d6ac; symbol 10 (the time code's low bits) is the word's in the first of them and one
// correctable error in the others. The Reed-Solomon readings of those repetitions, from
// separate audio, used to reach the host as that identifier; only the standard commercial may.
TEST(Tesk2EndToEnd, ReedSolomonReadingOfAStandardCommercialIsNotReported) {
    Expected e;
    e.msg = {Tesk2Kind::CommercialStandard, 46931, 987076092, 0.5, 0};
    e.layer = "COMM_STD";
    e.dist = "COMM_STD";
    ASSERT_TRUE(CUCCValidator::IsValidCommID(long(0x5ba99d6acull)));
    const auto reports = RunMeter({MakeChannel(e.Generator(48000), 40.0, -20.0, 21)}, 48000);
    double first = 1e9;
    EXPECT_EQ(ChannelFault(reports, 0, e, &first), "");
    EXPECT_EQ(CountLayer(reports, "COMM_RS"), 0);
    EXPECT_GE(CountLayer(reports, "COMM_STD"), 5);
}

// A program slot read for single repetitions as another SID (here symbol 1 of the SID
// differs), twice, 24 s apart, while the true code is confirmed around them: the two
// misreadings agree with each other in content and time and used to be reported as a pair.
// A real change of the SID in the same slot is still reported, once no reading of the old
// code reaches into the repetition before (here about 9 s later than without the rule).
TEST(Tesk2EndToEnd, AnotherSidInAConfirmedProgramSlot) {
    const Tesk2Message a{Tesk2Kind::ProgramStandard, 0x5A3C, 946000000, 0.5, 1};
    Tesk2Message b = a;
    b.sid = uint16_t(a.sid ^ (5u << 11));
    {
        const auto reports =
            RunMeter({InPinkNoise(Replaced(a, b, 60.0, {6, 12}), -20.0, 31)}, 48000);
        Expected e;
        e.msg = a;
        e.layer = "PROG";
        e.dist = "PC";
        double first = 1e9;
        EXPECT_EQ(ChannelFault(reports, 0, e, &first), "");
    }
    {
        const int switchRep = 6;
        const auto reports =
            RunMeter({InPinkNoise(Replaced(a, b, 60.0, {-switchRep}), -20.0, 32)}, 48000);
        double firstB = -1;
        for (const HostReport& r : reports) {
            const Parsed p = Parse(r.text);
            ASSERT_TRUE(p.layer == "PROG" && p.dist == "PC" && (p.sid == a.sid || p.sid == b.sid))
                << r.text;
            if (p.sid == b.sid && firstB < 0) firstB = r.arrivalSeconds;
        }
        ASSERT_GT(firstB, 0) << "the new SID was never reported";
        EXPECT_LT(firstB - switchRep * kProgramPeriod, 25.0);
        printf("new SID reported %.2f s after the switch\n", firstB - switchRep * kProgramPeriod);
    }
}

// A confirmed Reed-Solomon identifier read for single repetitions, twice, 20 s apart, as the
// standard message of its symbols 1 to 8 with the time symbols moved (as the standard
// accumulation's time advance moves them): the two readings agree with each other and used to
// reach the host as a standard commercial never sent.
TEST(Tesk2EndToEnd, StandardReadingOfAConfirmedReedSolomonIdentifier) {
    {
        Expected e = ThreeKinds()[2];
        RsCodeParams rs;
        RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
                RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &rs);
        uint8_t w[11];
        for (int i = 0; i < 7; ++i) w[i] = uint8_t((e.msg.commId >> (5 * (6 - i))) & 31);
        RS_Encode(w, 7, w + 7, &rs);
        // The standard message of the word's symbols 1 to 8; symbols 9 and 10 (the time
        // code's low 8 bits, run on by the clock) are not the word's.
        Tesk2Message b{Tesk2Kind::CommercialStandard};
        b.sid = uint16_t(w[0] << 11 | w[1] << 6 | w[2] << 1 | w[3] >> 4);
        b.dst = (w[3] >> 3) & 1;
        b.dist = 0;
        b.timestamp = uint32_t(w[3] & 7) << 28 | uint32_t(w[4]) << 23 | uint32_t(w[5]) << 18 |
                      uint32_t(w[6]) << 13 | uint32_t(w[7]) << 8;
        b.timestamp |= (uint32_t(w[8] << 3) + 128u) & 255u;
        const auto reports =
            RunMeter({InPinkNoise(Replaced(e.msg, b, 50.0, {8, 18}), -20.0, 42)}, 48000);
        double first = 1e9;
        EXPECT_EQ(ChannelFault(reports, 0, e, &first), "");
    }
}

// Single repetitions of a confirmed program and of a confirmed standard commercial read the
// same way twice, with symbol 4 (the SID's last bit and the time code's top bits) other than
// sent, 16 to 20 s apart. Both SID and time code then differ from the true code's, so the rule
// against contradictions in the same or the next repetition does not apply, and the two
// misreadings agree with each other and used to reach the host as a pair; the true code,
// confirmed between them, shows the slot was taken.
TEST(Tesk2EndToEnd, MisreadingsAroundAConfirmedCodeDoNotConfirm) {
    const Tesk2Message program{Tesk2Kind::ProgramStandard, 0x2B1D, 946000000, 0.5, 1};
    Tesk2Message programMisread = program;
    programMisread.sid ^= 1;
    programMisread.timestamp ^= 5u << 28;
    const Tesk2Message commercial{Tesk2Kind::CommercialStandard, 0x6E41, 978753123, 0.5, 0};
    Tesk2Message commercialMisread = commercial;
    commercialMisread.sid ^= 1;
    commercialMisread.timestamp ^= 2u << 28;
    struct Case {
        Tesk2Message sent, misread;
        std::vector<int> reps;
        const char* layer;
        const char* dist;
    };
    for (const Case& k : {Case{program, programMisread, {6, 11}, "PROG", "PC"},
                          Case{commercial, commercialMisread, {12, 20}, "COMM_STD", "COMM_STD"}}) {
        SCOPED_TRACE(k.layer);
        const auto reports =
            RunMeter({InPinkNoise(Replaced(k.sent, k.misread, 50.0, k.reps), -20.0, 33)}, 48000);
        Expected e;
        e.msg = k.sent;
        e.layer = k.layer;
        e.dist = k.dist;
        double first = 1e9;
        EXPECT_EQ(ChannelFault(reports, 0, e, &first), "");
    }
}

// A program slot whose readings mostly misread a SID symbol, each repetition another way, and
// twice, 28 s apart, a time symbol the same way (symbol 9 read 7 too high: the time code 56 s
// ahead). The two time misreadings agree with each other in SID and time and used to reach the
// host as a pair; the six repetitions between them put the encoder's clock 56 s behind theirs.
// Only the true code is reported, with its own time code.
TEST(Tesk2EndToEnd, TimeMisreadTwiceAgainstTheClockReadBetween) {
    const Tesk2Message a{Tesk2Kind::ProgramStandard, 0x349F, 978751790, 0.5, 2};
    Tesk2Message late = a;
    late.timestamp += 56;
    std::vector<Substitute> subs = {{late, {3, 10}}};
    const int others[] = {0, 1, 2, 4, 5, 6, 7, 8, 9};
    for (int i = 0; i < 9; ++i) {
        Tesk2Message b = a;
        b.sid = uint16_t(a.sid ^ ((i + 1u) << 11));
        subs.push_back({b, {others[i]}});
    }
    const auto reports = RunMeter({InPinkNoise(Spliced(a, 64.0, subs), -20.0, 34)}, 48000);
    Expected e;
    e.msg = a;
    e.layer = "PROG";
    e.dist = "FD";
    double first = 1e9;
    const std::string fault = ChannelFault(reports, 0, e, &first);
    // Every text is the true code with its time code (some come only after 20 s).
    EXPECT_TRUE(fault.empty() || fault.rfind("first report after", 0) == 0) << fault;

    // An encoder clock set 5 minutes ahead from repetition 6 on: the new time line is reported
    // once its readings begin, for every repetition between its pair agrees with it.
    Tesk2Message ahead = a;
    ahead.timestamp += 300;
    const int switchRep = 6;
    double firstAhead = -1;
    for (const HostReport& r :
         RunMeter({InPinkNoise(Replaced(a, ahead, 64.0, {-switchRep}), -20.0, 35)}, 48000)) {
        const Parsed p = Parse(r.text);
        ASSERT_TRUE(p.layer == "PROG" && p.sid == a.sid) << r.text;
        const bool before = std::llabs(p.timestamp - ExpectedTimestamp(a, p.elapsed)) <= 2;
        const bool after = std::llabs(p.timestamp - ExpectedTimestamp(ahead, p.elapsed)) <= 2;
        EXPECT_TRUE(before || after) << r.text;
        if (after && firstAhead < 0) firstAhead = r.arrivalSeconds;
    }
    ASSERT_GT(firstAhead, 0) << "the new time line was never reported";
    printf("new time line reported %.2f s after the switch\n",
           firstAhead - switchRep * kProgramPeriod);
}
