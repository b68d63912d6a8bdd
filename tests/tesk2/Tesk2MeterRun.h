// End-to-end harness for the TESK 2 tests: generated audio goes through a real
// CMeter built from a parameters document naming "TESK2Filtered", with the
// application's factories and filtered callbacks, and the texts are read back
// from the host rings with hostGetAudioCodes while the audio is fed.
#ifndef TAVIK_TESTS_TESK2_TESK2METERRUN_H
#define TAVIK_TESTS_TESK2_TESK2METERRUN_H

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "app/CTavikReportImplementation.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/AudioChannelConfiguration.h"
#include "audiocore/CMeter.h"
#include "audiocore/Parameter.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"

namespace tesk2test {

struct HostReport {
    int channel;
    double arrivalSeconds;  // audio fed to the meter when the text was taken
    std::string text;
};

// A parsed "TESK2" text.
struct Parsed {
    bool ok = false;
    double elapsed = 0;
    std::string layer, dist, commId;
    unsigned sid = 0;
    int64_t timestamp = 0;
    unsigned quality = 0, depth = 0, redundant = 0;
};

inline Parsed Parse(const std::string& text) {
    Parsed p;
    rapidjson::Document d;
    d.Parse(text.c_str());
    if (d.HasParseError() || !d.IsObject() || !d.HasMember("TESK2")) return p;
    const auto& o = d["TESK2"];
    p.elapsed = o["elapsedTime"].GetDouble();
    p.layer = o["layer"].GetString();
    p.dist = o["dist"].GetString();
    if (o.HasMember("sid")) p.sid = o["sid"].GetUint();
    if (o.HasMember("commId")) p.commId = o["commId"].GetString();
    p.timestamp = o["timestamp"].GetInt64();
    p.quality = o["quality"].GetUint();
    p.depth = o["depth"].GetUint();
    p.redundant = o["redundantCommStd"].GetUint();
    p.ok = true;
    return p;
}

inline void DrainRings(int channels, double now, std::vector<HostReport>& out) {
    char buf[2048];
    for (int c = 0; c < channels; ++c) {
        while (hostGetAudioCodes(unsigned(c), buf, sizeof buf) == 1) out.push_back({c, now, buf});
    }
}

// Runs mono 16-bit channels (equal length) at `rate` through one meter in
// 10 ms buffers, as the capture driver does, and returns every host text.
inline std::vector<HostReport> RunMeter(const std::vector<std::vector<int16_t>>& channels,
                                        int rate) {
    static CTavikReportImplementation report;  // the process has one host report object
    for (auto& ring : reportedChannel) ring.reset();
    ReportT2 = true;
    bT2RawOutput = false;

    SampleAppConfigurationData cfg{};
    cfg.reportCallback = &report;
    cfg.reportMode = 1;
    Kelvane::AudioCore::AudioChannelConfiguration acc;
    acc.channels = int(channels.size());
    acc.sampleRate = rate;
    acc.bitsPerSample = 16;
    acc.packingMode = Kelvane::AudioCore::PACKING_MODE_NOT_USED;
    const std::string doc = Parameter().createString(Parameter::kTesk2Filtered, 0, 0, 0, 0, 0, 0, 0,
                                                     0, 0, 0, 0, 0, false, "", "");
    std::vector<HostReport> out;
    {
        CMeter meter(&cfg, nullptr, &acc, doc,
                     std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                     std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
        const size_t block = size_t(rate / 100);
        const size_t n = channels.empty() ? 0 : channels[0].size();
        for (size_t pos = 0; pos < n; pos += block) {
            const size_t len = std::min(block, n - pos);
            for (size_t c = 0; c < channels.size(); ++c) {
                meter.ProcessAudioBuffer(const_cast<int16_t*>(channels[c].data() + pos),
                                         int(len * 2), int(c), 0);
            }
            DrainRings(int(channels.size()), double(pos + len) / rate, out);
        }
    }  // teardown flushes what is still being accumulated
    DrainRings(int(channels.size()), double(channels.empty() ? 0 : channels[0].size()) / rate,
               out);
    return out;
}

// A watermark of `seconds` mixed into pink noise at `ratioDb`, as 16-bit.
inline std::vector<int16_t> MakeChannel(const Kelvane::Generators::Tesk2Generator& gen,
                                        double seconds, double ratioDb, uint32_t seed) {
    using Kelvane::Generators::SignalMix;
    const std::vector<float> wm = gen.Synthesize(seconds);
    const std::vector<float> host =
        SignalMix::MakeHost(Kelvane::Generators::HostKind::PinkNoise, wm.size(), 0.1, seed);
    return SignalMix::ToInt16(SignalMix::Mix(wm, host, ratioDb));
}

}  // namespace tesk2test

#endif  // TAVIK_TESTS_TESK2_TESK2METERRUN_H
