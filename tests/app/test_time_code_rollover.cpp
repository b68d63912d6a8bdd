// Dating TESK time codes around their rollovers, from generated audio through
// the real meter, factories and filtered callbacks to the host rings.
//
// A TESK 6 message carries 29 bits of seconds since 2010-01-01 local standard
// time, so its code starts again at 0 on 2027-01-05 (18:48:32 in UTC); a TESK 2
// code (31 bits since 1995) wraps in 2063. The host's "systemTime" must still
// be the true clock: the decoders place a code in the cycle nearest the audio
// clock handed to the meter.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/CTavikReportImplementation.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/AudioChannelConfiguration.h"
#include "audiocore/CMeter.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "timebase/TeskTime.h"

using namespace Kelvane::Generators;

namespace {

constexpr int kRate = 48000;
constexpr uint32_t kTesk6Rollover = 1262304000u + TESK6_CODE_CYCLE;  // 2027-01-05 18:48:32 UTC
constexpr uint32_t kTesk2Rollover = 788918400u + TESK2_CODE_CYCLE;   // 2063-01-19 03:14:08 UTC

uint32_t Utc(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm t{second, minute, hour, day, month - 1, year - 1900, 0, 0, 0, 0, nullptr};
    return static_cast<uint32_t>(timegm(&t));
}

// One standard-message report as the host received it.
struct Report {
    std::string family, layer;
    unsigned sid;
    double elapsed;
    int64_t timestamp;  // -1: the filter found the time code unconfirmed
    uint32_t systemTime;
};

// Channel 0 carries TESK 6 program and commercial standard messages, channel 1
// TESK 2 ones, each at -20 dB in pink noise; both encoder clocks read `start`
// at the first sample. The meter is told the same clock.
std::vector<Report> DecodeAt(uint32_t start, double seconds) {
    Tesk6Generator g6(kRate);
    uint8_t dst6 = 0;
    const uint32_t code6 = PosixToTesk6(start, &dst6) % TESK6_CODE_CYCLE;
    for (Tesk6Kind kind : {Tesk6Kind::ProgramStandard, Tesk6Kind::CommercialStandard}) {
        Tesk6Message m;
        m.kind = kind;
        m.sid = kind == Tesk6Kind::ProgramStandard ? 4321 : 765;
        m.timestamp = code6;
        m.dst = dst6 != 0;
        m.clockFraction = 0.0;
        g6.Add(m);
    }
    Tesk2Generator g2(kRate);
    const uint32_t code2 = PosixToTesk2(start);
    for (Tesk2Kind kind : {Tesk2Kind::ProgramStandard, Tesk2Kind::CommercialStandard}) {
        Tesk2Message m;
        m.kind = kind;
        m.sid = kind == Tesk2Kind::ProgramStandard ? 1234 : 567;
        m.dist = kind == Tesk2Kind::ProgramStandard ? 1 : 0;
        m.timestamp = code2 & ~TESK2_DST_FLAG;
        m.dst = (code2 & TESK2_DST_FLAG) != 0;
        m.clockFraction = 0.0;
        g2.Add(m);
    }
    std::vector<std::vector<int16_t>> audio;
    uint32_t seed = 5;
    for (const std::vector<float>& wm : {g6.Synthesize(seconds), g2.Synthesize(seconds)}) {
        const auto host = SignalMix::MakeHost(HostKind::PinkNoise, wm.size(), 0.1, seed++);
        audio.push_back(SignalMix::ToInt16(SignalMix::Mix(wm, host, -20.0)));
    }

    ReportTw = ReportT2 = true;
    bTwRawOutput = bT2RawOutput = false;
    char buf[1024];
    for (unsigned ch = 0; ch < kReportChannels; ++ch)
        while (hostGetAudioCodes(ch, buf, sizeof buf)) {
        }
    CTavikReportImplementation report;
    SampleAppConfigurationData config;
    std::memset(&config, 0, sizeof config);
    config.configValid = 1;
    config.reportCallback = &report;
    config.reportMode = kReportModeJson;
    Kelvane::AudioCore::AudioChannelConfiguration ac;
    ac.channels = 2;
    ac.sampleRate = kRate;
    ac.bitsPerSample = 16;
    ac.packingMode = Kelvane::AudioCore::PACKING_MODE_NOT_USED;
    std::vector<Report> out;
    // Takes what the host rings hold (every second of audio, well before a
    // ring of 49 texts could fill).
    auto take = [&out, &buf] {
        for (unsigned ch = 0; ch < 2; ++ch)
            while (hostGetAudioCodes(ch, buf, sizeof buf)) {
                rapidjson::Document d;
                d.Parse(buf);
                EXPECT_FALSE(d.HasParseError()) << buf;
                if (d.HasParseError()) continue;
                for (const char* family : {"TESK6", "TESK2"}) {
                    if (!d.HasMember(family)) continue;
                    const auto& o = d[family];
                    EXPECT_EQ(family, std::string(ch == 0 ? "TESK6" : "TESK2")) << buf;
                    out.push_back({family, o["layer"].GetString(), o["sid"].GetUint(),
                                   o["elapsedTime"].GetDouble(), o["timestamp"].GetInt64(),
                                   o["systemTime"].GetUint()});
                }
            }
    };
    {
        CMeter meter(&config, nullptr, &ac,
                     "{\"Parameters\":[{\"TESK6Filtered\":{}},{\"TESK2Filtered\":{}}]}",
                     std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                     std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
        for (size_t pos = 0; pos + 480 <= audio[0].size(); pos += 480) {
            for (int ch = 0; ch < 2; ++ch)
                meter.ProcessAudioBuffer(audio[ch].data() + pos, 960, ch, start);
            if (pos % kRate == 0) take();
        }
        for (int ch = 0; ch < 2; ++ch) meter.FlushData(ch);
        take();
    }
    return out;
}

// Every report dates its message within 3 s of the true clock. A report's
// elapsed time is the end of its message (1.5 s for TESK 6, 1.9 s for TESK 2);
// its time code is the clock at the message's start. Both layers of both
// families must be reported.
void ExpectTrueClock(uint32_t start, double seconds) {
    const std::vector<Report> reports = DecodeAt(start, seconds);
    int seen[2][2] = {{0, 0}, {0, 0}};
    for (const Report& r : reports) {
        if (r.timestamp < 0) continue;  // reported without a time code: nothing to date
        const bool t6 = r.family == "TESK6";
        const double sent = start + r.elapsed - (t6 ? 1.536 : 1.877);
        EXPECT_NEAR(double(r.systemTime), sent, 3.0)
            << r.family << " " << r.layer << " sid " << r.sid << " at " << r.elapsed << " s";
        ++seen[t6 ? 0 : 1][r.layer == "PROG" ? 0 : 1];
    }
    for (int f = 0; f < 2; ++f)
        for (int l = 0; l < 2; ++l) EXPECT_GT(seen[f][l], 0) << "family " << f << " layer " << l;
}

class TimeCodeRollover : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

}  // namespace

TEST_F(TimeCodeRollover, TheRolloverInstants) {
    EXPECT_EQ(kTesk6Rollover, Utc(2027, 1, 5, 18, 48, 32));
    EXPECT_EQ(kTesk2Rollover, Utc(2063, 1, 19, 3, 14, 8));
}

// Weeks before and after the TESK 6 rollover: 2026-12-20 is the first cycle's
// code as it always was; on 2027-02-01 the code has started again near 0.
TEST_F(TimeCodeRollover, AudioOfEitherSideOfTheTesk6RolloverIsDatedByItsClock) {
    ExpectTrueClock(Utc(2026, 12, 20, 12, 0), 30.0);
    ExpectTrueClock(Utc(2027, 2, 1, 12, 0), 30.0);
}

// A recording that runs across the instant itself: messages on both sides,
// and the anchor correction of the callbacks working across the wrap.
TEST_F(TimeCodeRollover, AudioRunningAcrossTheRolloverIsDatedByItsClock) {
    ExpectTrueClock(kTesk6Rollover - 20, 45.0);
    ExpectTrueClock(kTesk2Rollover - 20, 45.0);
}

// Daylight saving still counts: a summer 2027 recording in New York carries
// flagged codes of the second cycle.
TEST_F(TimeCodeRollover, DaylightSavingRulesHoldAfterTheRollover) {
    setenv("TZ", "America/New_York", 1);
    tzset();
    ExpectTrueClock(Utc(2027, 7, 1, 16, 0), 30.0);
}
