// Test helper: the real decoding path from 16-bit audio to the host code
// rings. A CMeter built from a parameters document naming the TESK 6 decoder,
// with the application's factories and report object, is fed in 10 ms blocks;
// after every block the host rings are drained with the host's polling call.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <cstring>
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
#include "audiocore/IAudioConsumerCallback.h"

namespace t6test {

// One text taken from a host ring.
struct HostCode {
    int channel;
    double audioSeconds;  // audio fed when the text was taken
    std::string text;
};

// Fields of a TESK 6 host text.
struct Code {
    std::string layer;
    unsigned sid = 0;
    std::string commId;
    int64_t timestamp = 0;
    std::string dist;
    double elapsedTime = 0;
    bool ok = false;
};

inline Code ParseCode(const std::string& text) {
    Code c;
    rapidjson::Document d;
    d.Parse(text.c_str());
    if (d.HasParseError() || !d.IsObject() || !d.HasMember("TESK6")) return c;
    const auto& o = d["TESK6"];
    c.layer = o["layer"].GetString();
    if (o.HasMember("sid")) c.sid = o["sid"].GetUint();
    if (o.HasMember("commId")) c.commId = o["commId"].GetString();
    c.timestamp = o["timestamp"].GetInt64();
    c.dist = o["dist"].GetString();
    c.elapsedTime = o["elapsedTime"].GetDouble();
    c.ok = true;
    return c;
}

// Collects what a decoder hands to its callbacks.
class Capture : public Kelvane::AudioCore::IAudioConsumerCallback {
public:
    void init(void*, int, int, int, char*) override {}
    void ResultCallback(std::string json) override { texts.push_back(json); }
    void LogCallback(int code, const char* text) override {
        logs.push_back(std::to_string(code) + " " + text);
    }
    void Shutdown() override {}
    std::vector<std::string> texts;
    std::vector<std::string> logs;
};

class MeterHarness {
public:
    // channels: audio channels of the meter; decoder: name in the parameters
    // document; rate: input sample rate.
    explicit MeterHarness(int channels, const std::string& decoder = "TESK6Filtered",
                          int rate = 48000)
        : channels_(channels), rate_(rate) {
        std::vector<HostCode> stale;  // left over from an earlier meter
        Take(stale);
        memset(&config_, 0, sizeof(config_));
        config_.configValid = 1;
        config_.reportCallback = &report_;
        config_.reportMode = kReportModeJson;
        Kelvane::AudioCore::AudioChannelConfiguration ac;
        ac.channels = channels;
        ac.sampleRate = rate;
        ac.bitsPerSample = 16;
        ac.packingMode = Kelvane::AudioCore::PACKING_MODE_NOT_USED;
        const std::string doc = "{\"Parameters\":[{\"" + decoder + "\":{}}]}";
        meter_.reset(
            new CMeter(&config_, nullptr, &ac, doc,
                       std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                       std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>()));
    }

    // Feeds per-channel mono signals (equal lengths) in 10 ms blocks, then
    // flushes when `flush` is set. Returns every host text taken.
    std::vector<HostCode> Feed(const std::vector<std::vector<int16_t>>& signals,
                               bool flush = false) {
        std::vector<HostCode> out;
        const size_t block = size_t(rate_ / 100);
        const size_t n = signals.empty() ? 0 : signals[0].size();
        for (size_t pos = 0; pos < n; pos += block) {
            const size_t len = std::min(block, n - pos);
            for (int ch = 0; ch < channels_; ++ch) {
                meter_->ProcessAudioBuffer(const_cast<int16_t*>(signals[ch].data() + pos),
                                           int(len * 2), ch, 0);
            }
            fed_ += double(len) / rate_;
            Take(out);
        }
        if (flush) {
            for (int ch = 0; ch < channels_; ++ch) meter_->FlushData(ch);
            Take(out);
        }
        return out;
    }

private:
    void Take(std::vector<HostCode>& out) const {
        char buf[1024];
        for (int ch = 0; ch < int(kReportChannels); ++ch)
            while (hostGetAudioCodes(unsigned(ch), buf, sizeof(buf)))
                out.push_back({ch, fed_, std::string(buf)});
    }
    int channels_;
    int rate_;
    double fed_ = 0.0;
    CTavikReportImplementation report_;
    SampleAppConfigurationData config_;
    std::unique_ptr<CMeter> meter_;
};

}  // namespace t6test
