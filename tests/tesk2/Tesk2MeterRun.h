// End-to-end harness of the TESK 2 tests: generated audio goes through a real
// CMeter built from a parameters document naming "TESK2Filtered", with the
// application's factories and filtered callbacks; the texts are read back from
// the host rings with hostGetAudioCodes while the audio is fed.
#ifndef TAVIK_TESTS_TESK2_TESK2METERRUN_H
#define TAVIK_TESTS_TESK2_TESK2METERRUN_H

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
#include "audiocore/Parameter.h"
#include "dsp/CUCCValidator.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"

namespace tesk2test {
using namespace Kelvane::Generators;

struct HostReport {
    int channel;
    double arrivalSeconds;  // audio fed to the meter when the text was taken
    std::string text;
};

struct Parsed {  // a "TESK2" host text
    bool ok = false;
    double elapsed = 0;
    std::string layer, dist, commId;
    unsigned sid = 0, redundant = 0;
    int64_t timestamp = 0;
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
    p.redundant = o["redundantCommStd"].GetUint();
    p.ok = true;
    return p;
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
    auto drain = [&](double now) {
        char buf[2048];
        for (size_t c = 0; c < channels.size(); ++c)
            while (hostGetAudioCodes(unsigned(c), buf, sizeof buf) == 1)
                out.push_back({int(c), now, buf});
    };
    const size_t n = channels.empty() ? 0 : channels[0].size();
    {
        CMeter meter(&cfg, nullptr, &acc, doc,
                     std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                     std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
        const size_t block = size_t(rate / 100);
        for (size_t pos = 0; pos < n; pos += block) {
            const size_t len = std::min(block, n - pos);
            for (size_t c = 0; c < channels.size(); ++c)
                meter.ProcessAudioBuffer(const_cast<int16_t*>(channels[c].data() + pos),
                                         int(len * 2), int(c), 0);
            drain(double(pos + len) / rate);
        }
    }  // teardown flushes what is still being accumulated
    drain(double(n) / rate);
    return out;
}

// A watermark of `seconds` mixed into pink noise at `ratioDb`, as 16-bit.
inline std::vector<int16_t> MakeChannel(const Tesk2Generator& gen, double seconds, double ratioDb,
                                        uint32_t seed) {
    const std::vector<float> wm = gen.Synthesize(seconds);
    return SignalMix::ToInt16(SignalMix::Mix(
        wm, SignalMix::MakeHost(HostKind::PinkNoise, wm.size(), 0.1, seed), ratioDb));
}

struct Expected {
    Tesk2Message msg;
    std::string layer, dist, commId;
    Tesk2Generator Generator(int rate) const {
        Tesk2Generator g(rate);
        g.Add(msg);
        return g;
    }
};

// A layer 0 program message, a layer 1 standard commercial message and a
// Reed-Solomon commercial message with a valid identifier.
inline std::vector<Expected> ThreeKinds() {
    std::vector<Expected> e = {
        {{Tesk2Kind::ProgramStandard, 0x5A3C, 946000000, 0.5, 1}, "PROG", "PC", ""},
        {{Tesk2Kind::CommercialStandard, 0x1234, 946123456, 0.5, 0}, "COMM_STD", "COMM_STD", ""},
        {{Tesk2Kind::CommercialRs}, "COMM_RS", "UN", ""}};
    e[2].msg.commId = 0x2B5C3D1E7ull;
    while (!CUCCValidator::IsValidCommID(long(e[2].msg.commId))) ++e[2].msg.commId;
    char hex[32];
    snprintf(hex, sizeof hex, "0x%llx", (unsigned long long)e[2].msg.commId);
    e[2].commId = hex;
    return e;
}

// Time code the generator sends with the repetition whose last symbol ends at
// `endSeconds` (a message lasts 1.877 s).
inline int64_t ExpectedTimestamp(const Tesk2Message& m, double endSeconds) {
    const double msg = (10 * 64 * 64 + 15 * 256) / 24000.0;
    return int64_t(Tesk2Generator::TimestampAt(m, endSeconds - msg));
}

// Empty when every text of the channel carries exactly the expected identity
// and distribution and the first arrives within 20 s (and, unless only the
// identity is asked for, no redundancy mark and a time code within 2 s of the
// one the generator sent); else the fault.
inline std::string ChannelFault(const std::vector<HostReport>& all, int channel, const Expected& e,
                                double* firstArrival, bool identityOnly = false) {
    int count = 0;
    for (const HostReport& r : all) {
        if (r.channel != channel) continue;
        const Parsed p = Parse(r.text);
        if (count++ == 0) *firstArrival = r.arrivalSeconds;
        const bool timeOk =
            identityOnly || (p.redundant == 0 &&
                             (e.layer == "COMM_RS" ||
                              std::llabs(p.timestamp - ExpectedTimestamp(e.msg, p.elapsed)) <= 2));
        if (!p.ok || p.layer != e.layer || p.dist != e.dist || !timeOk ||
            (e.layer == "COMM_RS" ? p.commId != e.commId : p.sid != e.msg.sid))
            return "wrong text: " + r.text;
    }
    if (count == 0) return "no report";
    if (*firstArrival > 20.0) return "first report after " + std::to_string(*firstArrival);
    return "";
}

// Tonal, music-like host without a watermark: notes of 120-600 ms made of one
// to three partials between 4.5 and 7.5 kHz, some gliding, with attack and
// decay, over a continuous tone sweeping the band up and down every 8 s.
inline std::vector<int16_t> MusicLikeTones(double seconds, int rate, uint32_t seed) {
    const size_t n = size_t(seconds * rate);
    std::vector<float> x(n, 0.0f);
    uint32_t s = seed * 2654435761u + 1;
    auto rnd = [&s]() {
        s = s * 1664525u + 1013904223u;
        return double(s >> 8) / double(1u << 24);
    };
    double sweepPhase = 0;
    for (size_t i = 0; i < n; ++i) {
        const double u = std::fmod(double(i) / rate, 8.0) / 8.0;
        sweepPhase += 2 * M_PI * (4500.0 + 3000.0 * (u < 0.5 ? 2 * u : 2 - 2 * u)) / rate;
        x[i] = float(0.03 * std::sin(sweepPhase));
    }
    for (size_t pos = 0; pos < n;) {
        const size_t len = std::min(n - pos, size_t((0.12 + 0.48 * rnd()) * rate));
        for (int p = 0, partials = 1 + int(rnd() * 3); p < partials; ++p) {
            const double f0 = 4500.0 + 3000.0 * rnd();
            const double f1 = rnd() < 0.3 ? 4500.0 + 3000.0 * rnd() : f0;
            const double amp = 0.02 + 0.05 * rnd();
            double ph = rnd() * 6.28;
            for (size_t i = 0; i < len; ++i) {
                const double a = double(i) / double(len);
                ph += 2 * M_PI * (f0 + (f1 - f0) * a) / rate;
                x[pos + i] +=
                    float(amp * std::min(1.0, a * 20.0) * std::exp(-3.0 * a) * std::sin(ph));
            }
        }
        pos += len;
    }
    return SignalMix::ToInt16(x);
}

// Hosts without a watermark, one per channel: silence, pink noise, white noise
// and music-like tones. Filtered display must report nothing for any of them.
inline void ExpectNoReportWithoutWatermark(double seconds) {
    const size_t n = size_t(seconds * 48000);
    const auto reports =
        RunMeter({SignalMix::ToInt16(SignalMix::MakeHost(HostKind::Silence, n)),
                  SignalMix::ToInt16(SignalMix::MakeHost(HostKind::PinkNoise, n, 0.2, 5)),
                  SignalMix::ToInt16(SignalMix::MakeHost(HostKind::WhiteNoise, n, 0.2, 6)),
                  MusicLikeTones(seconds, 48000, 7)},
                 48000);
    for (const auto& r : reports) ADD_FAILURE() << "channel " << r.channel << ": " << r.text;
}
}  // namespace tesk2test

#endif  // TAVIK_TESTS_TESK2_TESK2METERRUN_H
