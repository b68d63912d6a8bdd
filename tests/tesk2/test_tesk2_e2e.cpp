// TESK 2 from generated audio to the host rings through a real meter: the three
// message kinds at 48000 and 44100 Hz (the resampling path), and a minute of
// hosts without a watermark.
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
