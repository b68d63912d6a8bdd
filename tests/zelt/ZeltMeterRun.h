// Runs 48 kHz 16-bit audio through a real CMeter built from a parameters
// document naming "ZELTFiltered", with the application's factories and host
// report object, and collects what reaches the host rings.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
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

namespace zelt_test {

struct HostRecord {
    unsigned channel;
    std::string text;
    int layer = 0;
    std::string id, commId;
    int64_t timestamp = 0;
    uint64_t systemTime = 0;
    int64_t sampleBlockIndex = 0;
    uint32_t lastSymAge = 0;
    double seconds = 0;  // audio fed when the record was taken from the ring
};

inline void DrainRings(std::vector<HostRecord>& out, double seconds) {
    char buffer[4096];
    for (unsigned ch = 0; ch < kReportChannels; ++ch) {
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
                r.lastSymAge = z["lastSymAge"].GetUint();
            }
            out.push_back(r);
        }
    }
}

// Feeds `channels` mono signals (same length) in 10 ms blocks of 480 samples
// with capture start time `startTime`; flushes at the end.  Returns the host
// records in arrival order.
inline std::vector<HostRecord> RunMeter(const std::vector<std::vector<int16_t>>& channels,
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
    {
        CMeter meter(&cfg, nullptr, &ac, "{\"Parameters\":[{\"ZELTFiltered\":{}}]}",
                     std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                     std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
        const size_t n = channels.empty() ? 0 : channels[0].size();
        for (size_t off = 0; off + 480 <= n; off += 480) {
            for (size_t c = 0; c < channels.size(); ++c)
                meter.ProcessAudioBuffer(const_cast<int16_t*>(channels[c].data() + off), 960,
                                         static_cast<int>(c), startTime);
            if (off % 48000 == 0) DrainRings(out, off / 48000.0);
        }
        for (size_t c = 0; c < channels.size(); ++c) meter.FlushData(static_cast<int>(c));
        DrainRings(out, n / 48000.0);
    }
    DrainRings(out, channels.empty() ? 0 : channels[0].size() / 48000.0);
    bZeltRawOutput = true;
    return out;
}

}  // namespace zelt_test
