// TESK 2 from generated audio to the host rings: a real meter built from a
// parameters document naming "TESK2Filtered", the application's factories and
// filtered callbacks, texts read back with hostGetAudioCodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "dsp/CUCCValidator.h"
#include "tests/tesk2/Tesk2MeterRun.h"

using Kelvane::Generators::Tesk2Emission;
using Kelvane::Generators::Tesk2Generator;
using Kelvane::Generators::Tesk2Kind;
using Kelvane::Generators::Tesk2Message;
using namespace tesk2test;

namespace {

constexpr double kSeconds = 40.0;
constexpr double kRatioDb = -20.0;

uint64_t ValidCommId(uint64_t from) {
    for (uint64_t id = from;; ++id) {
        if (CUCCValidator::IsValidCommID(long(id & 0x7FFFFFFFFull))) return id & 0x7FFFFFFFFull;
    }
}

struct Expected {
    Tesk2Message msg;
    std::string layer, dist, commId;
};

Expected Program() {
    Expected e;
    e.msg.kind = Tesk2Kind::ProgramStandard;
    e.msg.sid = 0x5A3C;
    e.msg.timestamp = 946000000;
    e.msg.dist = 1;
    e.layer = "PROG";
    e.dist = "PC";
    return e;
}

Expected CommercialStd() {
    Expected e;
    e.msg.kind = Tesk2Kind::CommercialStandard;
    e.msg.sid = 0x1234;
    e.msg.timestamp = 946123456;
    e.msg.dist = 0;
    e.layer = "COMM_STD";
    e.dist = "COMM_STD";
    return e;
}

Expected CommercialRs() {
    Expected e;
    e.msg.kind = Tesk2Kind::CommercialRs;
    e.msg.commId = ValidCommId(0x2B5C3D1E7ull);
    char hex[32];
    snprintf(hex, sizeof hex, "0x%llx", (unsigned long long)e.msg.commId);
    e.commId = hex;
    e.layer = "COMM_RS";
    e.dist = "UN";
    return e;
}

Tesk2Generator Generator(const Expected& e, int rate) {
    Tesk2Generator g(rate);
    g.Add(e.msg);
    return g;
}

// Every text of the channel carries exactly the expected identity and a time
// code within 2 s of the one the generator sent; the first arrives within 20 s.
void CheckChannel(const std::vector<HostReport>& all, int channel, const Expected& e,
                  const std::vector<Tesk2Emission>& schedule, double* firstArrival) {
    int count = 0;
    for (const HostReport& r : all) {
        if (r.channel != channel) continue;
        const Parsed p = Parse(r.text);
        ASSERT_TRUE(p.ok) << r.text;
        ++count;
        if (count == 1) *firstArrival = r.arrivalSeconds;
        EXPECT_EQ(p.layer, e.layer) << r.text;
        EXPECT_EQ(p.dist, e.dist) << r.text;
        EXPECT_EQ(p.redundant, 0u) << r.text;
        if (e.layer == "COMM_RS") {
            EXPECT_EQ(p.commId, e.commId) << r.text;
            continue;
        }
        EXPECT_EQ(p.sid, e.msg.sid) << r.text;
        // The repetition whose last symbol ended closest to the reported time.
        const Tesk2Emission* best = nullptr;
        for (const Tesk2Emission& em : schedule) {
            if (!best || std::fabs(em.endSeconds - p.elapsed) < std::fabs(best->endSeconds - p.elapsed))
                best = &em;
        }
        ASSERT_NE(best, nullptr);
        EXPECT_LE(std::llabs(p.timestamp - int64_t(best->timestamp)), 2) << r.text;
    }
    EXPECT_GT(count, 0) << "no report on channel " << channel;
    EXPECT_LE(*firstArrival, 20.0) << "channel " << channel;
}

void RunThreeKinds(int rate) {
    const Expected kinds[3] = {Program(), CommercialStd(), CommercialRs()};
    std::vector<std::vector<int16_t>> pcm;
    std::vector<std::vector<Tesk2Emission>> schedules;
    for (int c = 0; c < 3; ++c) {
        const Tesk2Generator g = Generator(kinds[c], rate);
        pcm.push_back(MakeChannel(g, kSeconds, kRatioDb, 11 + c));
        schedules.push_back(g.Schedule(kSeconds));
    }
    const std::vector<HostReport> reports = RunMeter(pcm, rate);
    for (int c = 0; c < 3; ++c) {
        double first = 1e9;
        CheckChannel(reports, c, kinds[c], schedules[c], &first);
        printf("rate %d, %s at %.0f dB: first report after %.2f s of audio\n", rate,
               kinds[c].layer.c_str(), kRatioDb, first);
    }
}

}  // namespace

TEST(Tesk2EndToEnd, ThreeMessageKindsAt48kHzInPinkNoise) { RunThreeKinds(48000); }

TEST(Tesk2EndToEnd, ThreeMessageKindsAt44100HzInPinkNoise) { RunThreeKinds(44100); }
