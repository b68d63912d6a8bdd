// ZELT from audio to the host rings: generated messages at -20 dB in pink
// noise through a real CMeter ("ZELTFiltered"), the application's factories,
// host report object and filtered callbacks, read back with the host's
// code-ring reader.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/CTavikReportImplementation.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/AudioChannelConfiguration.h"
#include "audiocore/CMeter.h"
#include "dsp/CUCCValidator.h"
#include "generators/ZeltGenerator.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::ZeltGenerator;

namespace {

struct HostRecord {
    unsigned channel = 0;
    std::string text;
    int layer = 0;
    std::string id, commId;
    int64_t timestamp = 0;
    uint64_t systemTime = 0;
    int64_t sampleBlockIndex = 0;
    double seconds = 0;  // audio fed when the record was taken from the ring
};

void DrainRings(std::vector<HostRecord>& out, double seconds) {
    char buffer[4096];
    for (unsigned ch = 0; ch < kReportChannels; ++ch)
        while (hostGetAudioCodes(ch, buffer, sizeof buffer) == 1) {
            HostRecord r;
            r.channel = ch;
            r.text = buffer;
            r.seconds = seconds;
            rapidjson::Document doc;
            doc.Parse(buffer);
            if (!doc.HasParseError() && doc.IsObject() && doc.HasMember("ZELT")) {
                const auto& z = doc["ZELT"];
                r.layer = z["layer"].GetInt();
                r.id = z["id"].GetString();
                r.commId = z["commId"].GetString();
                r.timestamp = z["timestamp"].GetInt64();
                r.systemTime = z["systemTime"].GetUint64();
                r.sampleBlockIndex = z["sampleBlockIndex"].GetInt64();
            }
            out.push_back(r);
        }
}

// Feeds 48 kHz 16-bit mono signals of one length, one per meter channel, in
// 10 ms blocks with capture start time `startTime`, flushes, and returns the
// host records in arrival order.
std::vector<HostRecord> RunMeter(const std::vector<std::vector<int16_t>>& channels,
                                 uint32_t startTime, bool raw = false) {
    for (auto& ring : reportedChannel) ring.reset();
    ReportZelt = true;
    bZeltRawOutput = raw;
    static CTavikReportImplementation report;  // the host report object lives for the process
    SampleAppConfigurationData cfg{};
    cfg.configValid = 1;
    cfg.reportCallback = &report;
    cfg.reportMode = kReportModeJson;
    Kelvane::AudioCore::AudioChannelConfiguration ac;
    ac.channels = static_cast<int32_t>(channels.size());
    ac.sampleRate = 48000;
    ac.bitsPerSample = 16;
    std::vector<HostRecord> out;
    const size_t n = channels[0].size();
    {
        CMeter meter(&cfg, nullptr, &ac, "{\"Parameters\":[{\"ZELTFiltered\":{}}]}",
                     std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                     std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
        for (size_t off = 0; off + 480 <= n; off += 480) {
            for (size_t c = 0; c < channels.size(); ++c)
                meter.ProcessAudioBuffer(const_cast<int16_t*>(channels[c].data() + off), 960,
                                         static_cast<int>(c), startTime);
            if (off % 48000 == 0) DrainRings(out, off / 48000.0);
        }
        for (size_t c = 0; c < channels.size(); ++c) meter.FlushData(static_cast<int>(c));
    }
    DrainRings(out, n / 48000.0);
    bZeltRawOutput = true;
    return out;
}

constexpr uint32_t kStart = 1767225600u + 3 * 3600 + 17 * 60 + 20;  // 2026-01-01 03:17:20 UTC
constexpr double kSeconds = 60.0;
constexpr double kRatioDb = -20.0;

std::string Hex(unsigned long long v, const char* format = "0x%llx") {
    char b[32];
    std::snprintf(b, sizeof b, format, v);
    return b;
}

uint64_t AcceptedCommId(uint64_t from, bool valid) {
    for (uint64_t id = from;; ++id)
        if (CUCCValidator::IsValidCommID(static_cast<long>(id)) == valid) return id;
}

std::vector<HostRecord> RunOne(const ZeltGenerator& gen, bool raw = false, uint32_t seed = 11) {
    return RunMeter({gen.RenderMixed(kSeconds, HostKind::PinkNoise, kRatioDb, seed)}, kStart, raw);
}

TEST(ZeltEndToEnd, ProgramMessagesOnLayersOneTwoAndFive) {
    const int layers[3] = {1, 2, 5};
    const uint16_t ids[3] = {0x1235, 0xA3F7, 0x0C81};
    const uint32_t base = ZeltGenerator::MinuteOfPosixTime(kStart);
    for (int i = 0; i < 3; ++i) {
        const uint32_t minute = base + 7 * i;
        ZeltGenerator gen(48000);
        gen.AddProgram(layers[i], ids[i], minute);
        // The message on channel 1 of a two-channel meter; channel 0 is silent.
        const auto wm = gen.RenderMixed(kSeconds, HostKind::PinkNoise, kRatioDb, 11 + i);
        const auto recs = RunMeter({std::vector<int16_t>(wm.size(), 0), wm}, kStart);
        int exact = 0;
        double first = -1;
        for (const auto& r : recs) {
            EXPECT_EQ(r.channel, 1u) << r.text;
            if (r.layer != layers[i] || r.id != Hex(ids[i], "0x%04llx")) continue;
            EXPECT_EQ(r.commId, "N/A");
            // A message found in the first, partial period may lack its time code.
            if (r.timestamp == 65535) continue;
            EXPECT_EQ(r.timestamp, (int64_t)minute) << r.text;
            EXPECT_EQ(r.systemTime, (uint64_t)ZeltGenerator::PosixTimeOfMinute(kStart, minute));
            if (first < 0) first = r.seconds;
            ++exact;
        }
        EXPECT_GE(exact, 5) << "layer " << layers[i];
        RecordProperty("first_report_s_layer" + std::to_string(layers[i]), std::to_string(first));
    }
}

TEST(ZeltEndToEnd, CommercialReedSolomonMessage) {
    const uint64_t comm = AcceptedCommId(0x5A3C96E1Dull, true);
    ZeltGenerator gen(48000);
    gen.AddCommercial(comm);
    const auto recs = RunOne(gen);
    int found = 0;
    std::set<std::pair<std::string, int64_t>> seen;
    for (const auto& r : recs) {
        if (r.layer != 4) continue;
        EXPECT_EQ(r.commId, Hex(comm)) << r.text;
        EXPECT_EQ(r.id, "N/A");
        EXPECT_EQ(r.timestamp, -1);
        EXPECT_EQ(r.systemTime, 0u);
        // The duplicate rule: one record per identifier and sample block.
        EXPECT_TRUE(seen.insert({r.commId, r.sampleBlockIndex}).second) << r.text;
        ++found;
    }
    EXPECT_GE(found, 10);
}

TEST(ZeltEndToEnd, IdentifierRejectedByTheValidatorNeverReachesTheHost) {
    const uint64_t comm = AcceptedCommId(0x5A3C96E1Dull, false);
    ZeltGenerator gen(48000);
    gen.AddCommercial(comm);
    const auto wm = gen.RenderMixed(20.0, HostKind::PinkNoise, kRatioDb, 5);
    const auto filtered = RunMeter({wm}, kStart, false);
    for (const auto& r : filtered) EXPECT_NE(r.layer, 4) << r.text;
    // The decoder does find it: raw display shows it.
    const auto raw = RunMeter({wm}, kStart, true);
    int rawComm = 0;
    for (const auto& r : raw) rawComm += r.layer == 4 && r.commId == Hex(comm);
    EXPECT_GT(rawComm, 0);
}

TEST(ZeltEndToEnd, CommercialFlagPatterns) {
    for (int value : {3, 7}) {
        ZeltGenerator gen(48000);
        gen.AddFlag(value);
        const auto recs = RunOne(gen, false, 20 + value);
        int found = 0;
        for (const auto& r : recs) {
            EXPECT_NE(r.layer, 4) << r.text;
            if (r.layer == 5 && r.id == Hex(value, "0x%04llx")) {
                EXPECT_EQ(r.commId, "N/A");
                // Flags carry minutes of decoding (frames / 600) as their time.
                EXPECT_GE(r.timestamp, 0);
                EXPECT_LE(r.timestamp, 1);
                ++found;
            }
        }
        EXPECT_GE(found, 20) << value;
    }
}

TEST(ZeltEndToEnd, SilenceGivesNoReport) {
    const std::vector<int16_t> silence(48000 * 60, 0);
    EXPECT_TRUE(RunMeter({silence, silence}, kStart).empty());
}

}  // namespace
