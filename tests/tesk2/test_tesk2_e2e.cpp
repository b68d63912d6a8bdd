// TESK 2 from generated audio to the host rings: a real meter built from a
// parameters document naming "TESK2Filtered", the application's factories and
// filtered callbacks, texts read back with hostGetAudioCodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "tests/tesk2/Tesk2MeterRun.h"

using Kelvane::Generators::Tesk2Emission;
using Kelvane::Generators::Tesk2Generator;
using Kelvane::Generators::Tesk2Kind;
using Kelvane::Generators::Tesk2Message;
using namespace tesk2test;

namespace {

constexpr double kSeconds = 40.0;
constexpr double kRatioDb = -20.0;

void RunThreeKinds(int rate) {
    const Expected kinds[3] = {Program(), CommercialStd(), CommercialRs()};
    std::vector<std::vector<int16_t>> pcm;
    for (int c = 0; c < 3; ++c) {
        const Tesk2Generator g = Generator(kinds[c], rate);
        pcm.push_back(MakeChannel(g, kSeconds, kRatioDb, 11 + c));
    }
    const std::vector<HostReport> reports = RunMeter(pcm, rate);
    for (int c = 0; c < 3; ++c) {
        double first = 1e9;
        CheckChannel(reports, c, kinds[c], &first);
        printf("rate %d, %s at %.0f dB: first report after %.2f s of audio\n", rate,
               kinds[c].layer.c_str(), kRatioDb, first);
    }
}

}  // namespace

TEST(Tesk2EndToEnd, ThreeMessageKindsAt48kHzInPinkNoise) { RunThreeKinds(48000); }

TEST(Tesk2EndToEnd, ThreeMessageKindsAt44100HzInPinkNoise) { RunThreeKinds(44100); }

TEST(Tesk2EndToEnd, OneMinuteWithoutWatermarkReportsNothing) {
    const auto reports = RunMeter(NegativeHosts(60.0, 48000), 48000);
    for (const auto& r : reports) ADD_FAILURE() << "channel " << r.channel << ": " << r.text;
}
