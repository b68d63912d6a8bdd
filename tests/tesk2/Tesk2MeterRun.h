// End-to-end harness for the TESK 2 tests: generated audio goes through a real
// CMeter built from a parameters document naming "TESK2Filtered", with the
// application's factories and filtered callbacks, and the texts are read back
// from the host rings with hostGetAudioCodes while the audio is fed.
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
    DrainRings(int(channels.size()), double(channels.empty() ? 0 : channels[0].size()) / rate, out);
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

inline uint64_t ValidCommId(uint64_t from) {
    for (uint64_t id = from;; ++id) {
        if (CUCCValidator::IsValidCommID(long(id & 0x7FFFFFFFFull))) return id & 0x7FFFFFFFFull;
    }
}

struct Expected {
    Kelvane::Generators::Tesk2Message msg;
    std::string layer, dist, commId;
};

inline Expected Program() {
    Expected e;
    e.msg.kind = Kelvane::Generators::Tesk2Kind::ProgramStandard;
    e.msg.sid = 0x5A3C;
    e.msg.timestamp = 946000000;
    e.msg.dist = 1;
    e.layer = "PROG";
    e.dist = "PC";
    return e;
}

inline Expected CommercialStd() {
    Expected e;
    e.msg.kind = Kelvane::Generators::Tesk2Kind::CommercialStandard;
    e.msg.sid = 0x1234;
    e.msg.timestamp = 946123456;
    e.msg.dist = 0;
    e.layer = "COMM_STD";
    e.dist = "COMM_STD";
    return e;
}

inline Expected CommercialRs() {
    Expected e;
    e.msg.kind = Kelvane::Generators::Tesk2Kind::CommercialRs;
    e.msg.commId = ValidCommId(0x2B5C3D1E7ull);
    char hex[32];
    snprintf(hex, sizeof hex, "0x%llx", (unsigned long long)e.msg.commId);
    e.commId = hex;
    e.layer = "COMM_RS";
    e.dist = "UN";
    return e;
}

inline Kelvane::Generators::Tesk2Generator Generator(const Expected& e, int rate) {
    Kelvane::Generators::Tesk2Generator g(rate);
    g.Add(e.msg);
    return g;
}

// Every text of the channel carries exactly the expected identity and a time
// code within 2 s of the one the generator sent; the first arrives within 20 s.
// Time code the generator sends with the repetition whose last symbol ends at
// `endSeconds` (a message lasts 1.877 s).
inline int64_t ExpectedTimestamp(const Kelvane::Generators::Tesk2Message& m, double endSeconds) {
    const double msg = (10 * 64 * 64 + 15 * 256) / 24000.0;
    return int64_t(Kelvane::Generators::Tesk2Generator::TimestampAt(m, endSeconds - msg));
}

// Returns the number of texts of the channel; every failure is a test failure.
inline int CheckChannel(const std::vector<HostReport>& all, int channel, const Expected& e,
                        double* firstArrival, double maxFirst = 20.0) {
    int count = 0;
    for (const HostReport& r : all) {
        if (r.channel != channel) continue;
        const Parsed p = Parse(r.text);
        EXPECT_TRUE(p.ok) << r.text;
        if (!p.ok) continue;
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
        // The generator's clock at the start of the repetition that ended at
        // the reported time.
        EXPECT_LE(std::llabs(p.timestamp - ExpectedTimestamp(e.msg, p.elapsed)), 2) << r.text;
    }
    EXPECT_GT(count, 0) << "no report on channel " << channel;
    EXPECT_LE(*firstArrival, maxFirst) << "channel " << channel;
    return count;
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
        const double t = double(i) / rate;
        const double u = std::fmod(t, 8.0) / 8.0;
        const double f = 4500.0 + 3000.0 * (u < 0.5 ? 2 * u : 2 - 2 * u);
        sweepPhase += 2 * M_PI * f / rate;
        x[i] = float(0.03 * std::sin(sweepPhase));
    }
    size_t pos = 0;
    while (pos < n) {
        const size_t len = std::min(n - pos, size_t((0.12 + 0.48 * rnd()) * rate));
        const int partials = 1 + int(rnd() * 3);
        for (int p = 0; p < partials; ++p) {
            const double f0 = 4500.0 + 3000.0 * rnd();
            const double f1 = rnd() < 0.3 ? 4500.0 + 3000.0 * rnd() : f0;
            const double amp = 0.02 + 0.05 * rnd();
            double ph = rnd() * 6.28;
            for (size_t i = 0; i < len; ++i) {
                const double a = double(i) / double(len);
                const double env = std::min(1.0, a * 20.0) * std::exp(-3.0 * a);
                ph += 2 * M_PI * (f0 + (f1 - f0) * a) / rate;
                x[pos + i] += float(amp * env * std::sin(ph));
            }
        }
        pos += len;
    }
    return Kelvane::Generators::SignalMix::ToInt16(x);
}

// Host signals without a watermark: silence, pink noise, white noise and
// music-like tones, one per channel.
inline std::vector<std::vector<int16_t>> NegativeHosts(double seconds, int rate) {
    using Kelvane::Generators::HostKind;
    using Kelvane::Generators::SignalMix;
    const size_t n = size_t(seconds * rate);
    return {SignalMix::ToInt16(SignalMix::MakeHost(HostKind::Silence, n)),
            SignalMix::ToInt16(SignalMix::MakeHost(HostKind::PinkNoise, n, 0.2, 5)),
            SignalMix::ToInt16(SignalMix::MakeHost(HostKind::WhiteNoise, n, 0.2, 6)),
            MusicLikeTones(seconds, rate, 7)};
}
}  // namespace tesk2test

#endif  // TAVIK_TESTS_TESK2_TESK2METERRUN_H
