// TESK 2 from generated audio to the host rings through a real meter: the three
// message kinds at 48000 and 44100 Hz (the resampling path), a minute of hosts
// without a watermark, and readings that contradict a code confirmed in the same
// message slot.
#include <gtest/gtest.h>

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

// Program repetition period and message length in seconds.
constexpr double kProgramPeriod = 1496 * 64 / 24000.0;
constexpr double kMessage = 704 * 64 / 24000.0;

// The watermark of `a` with the program repetitions `from` to `to` (inclusive; to < 0: to the
// end) replaced by those of `b`, which shares a's clock and phase; switches fall between
// repetitions.
std::vector<float> Replaced(const Tesk2Message& a, const Tesk2Message& b, double seconds, int from,
                            int to) {
    Tesk2Generator ga(48000), gb(48000);
    ga.Add(a);
    gb.Add(b);
    std::vector<float> out = ga.Synthesize(seconds);
    const std::vector<float> other = gb.Synthesize(seconds);
    const double gap = (kProgramPeriod - kMessage) / 2;
    const double t0 = from * kProgramPeriod - gap;
    const double t1 = to < 0 ? seconds : to * kProgramPeriod + kMessage + gap;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = double(i) / 48000;
        if (t >= t0 && t < t1) out[i] = other[i];
    }
    return out;
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
        std::vector<float> wm = Replaced(a, b, 60.0, 6, 6);
        const std::vector<float> again = Replaced(a, b, 60.0, 12, 12);
        const double t0 = 9 * kProgramPeriod;
        for (size_t i = size_t(t0 * 48000); i < wm.size(); ++i) wm[i] = again[i];
        const auto reports = RunMeter({InPinkNoise(wm, -20.0, 31)}, 48000);
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
            RunMeter({InPinkNoise(Replaced(a, b, 60.0, switchRep, -1), -20.0, 32)}, 48000);
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
