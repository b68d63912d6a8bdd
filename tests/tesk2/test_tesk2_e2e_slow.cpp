// Long TESK 2 end-to-end runs through the meter: ten minutes without a
// watermark, a long program run with alternating distribution fields, and the
// lowest watermark-to-host ratio at which each message kind is confirmed.
#include <gtest/gtest.h>

#include "tests/tesk2/Tesk2MeterRun.h"

using namespace tesk2test;

TEST(Tesk2EndToEndSlow, TenMinutesWithoutWatermarkReportNothing) {
    ExpectNoReportWithoutWatermark(600.0);
}

// Program messages of one SID whose distribution field alternates PC, PC, FD.
// Every released text adds to the callback's tally, and at least as many texts
// are released as reach the host: from the 21st report on, the tally holds more
// than 20 and the 2:1 majority (PC) decides.
TEST(Tesk2EndToEndSlow, DistributionTallySettlesOnTheMajority) {
    Expected e = ThreeKinds()[0];
    Tesk2Generator g(48000);
    for (int i = 0; i < 20; ++i) {
        Tesk2Message m = e.msg;
        m.dist = 1;
        g.Add(m, 2);
        m.dist = 2;
        g.Add(m, 1);
    }
    const auto reports = RunMeter({MakeChannel(g, 200.0, -20.0, 21)}, 48000);
    int reported = 0, earlyFd = 0;
    for (const auto& r : reports) {
        const Parsed p = Parse(r.text);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.sid, e.msg.sid);
        EXPECT_EQ(p.layer, "PROG");
        EXPECT_LE(std::llabs(p.timestamp - ExpectedTimestamp(e.msg, p.elapsed)), 2) << r.text;
        if (++reported > 20) {
            EXPECT_EQ(p.dist, "PC") << r.text;
        } else {
            earlyFd += p.dist == "FD";
        }
    }
    printf("%d program reports, %d of the first 20 with FD\n", reported, earlyFd);
    EXPECT_GT(reported, 30);
    EXPECT_GT(earlyFd, 0);
}

// Not a pass/fail threshold: finds, for each message kind, the lowest ratio
// (2 dB steps from -20 dB) at which three independent 40 s runs all deliver
// only texts of the right identity, the first within 20 s.
TEST(Tesk2EndToEndSlow, LowestConfirmedRatioPerMessageKind) {
    for (const Expected& e : ThreeKinds()) {
        double lowest = 0;
        for (double ratio = -20.0; ratio >= -34.0; ratio -= 2.0) {
            std::vector<std::vector<int16_t>> pcm;
            for (int c = 0; c < 3; ++c)
                pcm.push_back(MakeChannel(e.Generator(48000), 40.0, ratio, 31 + c));
            const auto reports = RunMeter(pcm, 48000);
            bool ok = true;
            for (int c = 0; c < 3 && ok; ++c) {
                double first = 1e9;
                ok = ChannelFault(reports, c, e, &first, true).empty();
            }
            if (!ok) break;
            lowest = ratio;
        }
        printf("%s: lowest confirmed ratio %.0f dB\n", e.layer.c_str(), lowest);
        EXPECT_LE(lowest, -20.0);
    }
}
