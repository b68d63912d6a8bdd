// ZELT detection measurements through the whole chain: 48 kHz 16-bit audio
// into a CMeter built for "ZELTFiltered" with the application's factories and
// filtered callbacks; results are read from the host code rings.
//
//   zelt_measure false [hours]   reports per hour on white noise, pink noise
//                                and tonal music-like audio (no watermark)
//   zelt_measure sweep [seconds [kind]]
//                                lowest watermark-to-host ratio (pink noise)
//                                at which each message kind is reported with
//                                exactly its content, and the time to the
//                                first such report at -20 dB
#include <rapidjson/document.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
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
#include "generators/SignalMix.h"
#include "generators/ZeltGenerator.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::SignalMix;
using Kelvane::Generators::ZeltGenerator;

namespace {

constexpr uint32_t kStart = 1767225600u + 3 * 3600 + 17 * 60 + 20;
constexpr int kRate = 48000;

struct Record {
    int layer = 0;
    std::string id, commId;
    long long timestamp = 0;
    double seconds = 0;
    std::string text;
};

// A meter with one channel and the host rings drained after every chunk.
class Chain {
public:
    Chain() {
        for (auto& ring : reportedChannel) ring.reset();
        ReportZelt = true;
        bZeltRawOutput = false;
        m_cfg.configValid = 1;
        m_cfg.reportCallback = &m_report;
        m_cfg.reportMode = kReportModeJson;
        m_ac.channels = 1;
        m_ac.sampleRate = kRate;
        m_ac.bitsPerSample = 16;
        m_meter = std::make_unique<CMeter>(
            &m_cfg, nullptr, &m_ac, "{\"Parameters\":[{\"ZELTFiltered\":{}}]}",
            std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
            std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
    }
    void Feed(const std::vector<int16_t>& pcm) {
        for (size_t off = 0; off + 480 <= pcm.size(); off += 480) {
            m_meter->ProcessAudioBuffer(const_cast<int16_t*>(pcm.data() + off), 960, 0, kStart);
            m_fed += 480;
            if (m_fed % kRate == 0) Drain();
        }
        Drain();
    }
    std::vector<Record>& Records() { return m_records; }

private:
    void Drain() {
        char buffer[4096];
        while (hostGetAudioCodes(0, buffer, sizeof buffer) == 1) {
            Record r;
            r.text = buffer;
            r.seconds = double(m_fed) / kRate;
            rapidjson::Document doc;
            doc.Parse(buffer);
            if (!doc.HasParseError() && doc.IsObject() && doc.HasMember("ZELT")) {
                const auto& z = doc["ZELT"];
                r.layer = z["layer"].GetInt();
                r.id = z["id"].GetString();
                r.commId = z["commId"].GetString();
                r.timestamp = z["timestamp"].GetInt64();
            }
            m_records.push_back(r);
        }
    }
    CTavikReportImplementation m_report;
    SampleAppConfigurationData m_cfg{};
    Kelvane::AudioCore::AudioChannelConfiguration m_ac;
    std::unique_ptr<CMeter> m_meter;
    uint64_t m_fed = 0;
    std::vector<Record> m_records;
};

// Music-like tonal audio: notes of a pentatonic scale with harmonics and
// decaying envelopes, a bass line and sustained chords, in continuous phrases.
class TonalHost {
public:
    explicit TonalHost(uint32_t seed) : m_rng(seed) {}
    std::vector<float> Next(size_t count) {
        std::vector<float> out(count, 0.0f);
        for (size_t i = 0; i < count; ++i) {
            if (m_left == 0) NewNote();
            --m_left;
            double v = 0.0;
            for (Voice& vc : m_voices) {
                vc.env *= vc.decay;
                for (int h = 1; h <= 6; ++h)
                    v += vc.env * std::sin(vc.phase * h) / (h * h * 0.7 + 0.3);
                vc.phase += vc.step;
                if (vc.phase > 2 * M_PI * 1000) vc.phase -= 2 * M_PI * 1000;
            }
            out[i] = static_cast<float>(v * 0.05);
        }
        return out;
    }

private:
    struct Voice {
        double phase = 0, step = 0, env = 0, decay = 1;
    };
    void NewNote() {
        static const int kScale[5] = {0, 2, 4, 7, 9};
        std::uniform_int_distribution<int> deg(0, 14), len(3, 12);
        const double beat = 0.125;  // 8th notes at 120 bpm are 0.25 s; this is 16ths
        m_left = static_cast<size_t>(len(m_rng) * beat * kRate);
        auto freq = [&](int octave, int d) {
            const int semis = octave * 12 + kScale[d % 5] + 12 * (d / 5);
            return 110.0 * std::pow(2.0, semis / 12.0);
        };
        // Melody (220 .. 1760 Hz fundamental, harmonics well into the ZELT band).
        Voice mel;
        mel.step = 2 * M_PI * freq(1, deg(m_rng)) / kRate;
        mel.env = 1.0;
        mel.decay = std::exp(-1.0 / (0.6 * kRate));
        // Bass.
        Voice bass;
        bass.step = 2 * M_PI * freq(0, deg(m_rng) % 5) / kRate;
        bass.env = 0.8;
        bass.decay = std::exp(-1.0 / (1.2 * kRate));
        m_voices.clear();
        m_voices.push_back(mel);
        m_voices.push_back(bass);
        // A chord every other note.
        if (m_rng() % 2) {
            for (int k = 0; k < 3; ++k) {
                Voice c;
                c.step = 2 * M_PI * freq(1, (deg(m_rng) + 2 * k) % 10) / kRate;
                c.env = 0.4;
                c.decay = std::exp(-1.0 / (2.0 * kRate));
                m_voices.push_back(c);
            }
        }
    }
    std::mt19937 m_rng;
    size_t m_left = 0;
    std::vector<Voice> m_voices;
};

int FalseRates(double hours) {
    const char* kinds[3] = {"white noise", "pink noise", "tonal"};
    const size_t chunk = 10 * kRate;
    const int chunks = static_cast<int>(hours * 3600.0 / 10.0 + 0.5);
    for (int k = 0; k < 3; ++k) {
        Chain chain;
        TonalHost tonal(77);
        for (int c = 0; c < chunks; ++c) {
            std::vector<float> host;
            if (k == 2) {
                host = tonal.Next(chunk);
            } else {
                host = SignalMix::MakeHost(k == 0 ? HostKind::WhiteNoise : HostKind::PinkNoise,
                                           chunk, 0.1, 1000 + c);
            }
            chain.Feed(SignalMix::ToInt16(host));
        }
        std::map<std::string, int> byKind;
        int withTime = 0;
        for (const Record& r : chain.Records()) {
            // Program records whose time code decodes (the host would take them at face value).
            if (r.layer != 4 && !(r.layer == 5 && (r.id == "0x0003" || r.id == "0x0007")) &&
                r.timestamp >= 0 && r.timestamp < 40320)
                ++withTime;
            std::string key;
            if (r.layer == 4)
                key = "layer 4 (RS commercial)";
            else if (r.layer == 5 && (r.id == "0x0003" || r.id == "0x0007"))
                key = "layer 5 flags";
            else
                key = "layer " + std::to_string(r.layer) + " program";
            ++byKind[key];
        }
        const double h = chunks * 10.0 / 3600.0;
        std::printf("%s, %.2f h: %zu reports, %.2f per hour\n", kinds[k], h, chain.Records().size(),
                    chain.Records().size() / h);
        std::printf("    program records with a valid time code: %d (%.2f per hour)\n", withTime,
                    withTime / h);
        for (const auto& kv : byKind)
            std::printf("    %-26s %5d  (%.2f per hour)\n", kv.first.c_str(), kv.second,
                        kv.second / h);
        int shown = 0;
        for (const Record& r : chain.Records()) {
            if (shown++ >= 5) break;
            std::printf("    e.g. at %.1f s: %s\n", r.seconds, r.text.c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}

struct Kind {
    const char* name;
    int layer;
    std::string id, commId;
    long long timestamp;  // -2 = not checked
};

// Runs one message kind at one ratio; returns the time of the first exact
// report (negative when none) and counts the reports that carry other content.
double RunKind(const char* name, double ratioDb, double seconds, int* wrong, int* right) {
    ZeltGenerator gen(kRate);
    const uint32_t minute = ZeltGenerator::MinuteOfPosixTime(kStart);
    Kind k{name, 0, "N/A", "N/A", -2};
    char b[32];
    if (!std::strcmp(name, "program L1") || !std::strcmp(name, "program L2") ||
        !std::strcmp(name, "program L5")) {
        const int layer = name[9] - '0';
        const uint16_t id = layer == 1 ? 0x1235 : layer == 2 ? 0xA3F7 : 0x0C81;
        gen.AddProgram(layer, id, minute);
        std::snprintf(b, sizeof b, "0x%04x", id);
        k = {name, layer, b, "N/A", (long long)minute};
    } else if (!std::strcmp(name, "RS commercial")) {
        uint64_t comm = 0x5A3C96E1Dull;
        while (!CUCCValidator::IsValidCommID((long)comm)) ++comm;
        gen.AddCommercial(comm);
        std::snprintf(b, sizeof b, "0x%llx", (unsigned long long)comm);
        k = {name, 4, "N/A", b, -1};
    } else {
        const int v = name[5] - '0';
        gen.AddFlag(v);
        std::snprintf(b, sizeof b, "0x%04x", v);
        k = {name, 5, b, "N/A", -2};
    }
    const auto wm = gen.Render(seconds);
    Chain chain;
    const size_t chunk = 10 * kRate;
    for (size_t off = 0; off < wm.size(); off += chunk) {
        const size_t n = std::min(chunk, wm.size() - off);
        std::vector<float> w(wm.begin() + off, wm.begin() + off + n);
        const auto host = SignalMix::MakeHost(HostKind::PinkNoise, n, 0.1, 500 + off / chunk);
        // Scale against the whole-signal RMS of the watermark, chunk by chunk.
        const double g = 0.1 * std::pow(10.0, ratioDb / 20.0) / SignalMix::Rms(wm);
        std::vector<float> mix(n);
        for (size_t i = 0; i < n; ++i) mix[i] = host[i] + static_cast<float>(g * w[i]);
        chain.Feed(SignalMix::ToInt16(mix));
    }
    double first = -1;
    *wrong = *right = 0;
    for (const Record& r : chain.Records()) {
        const bool exact = r.layer == k.layer && r.id == k.id && r.commId == k.commId &&
                           (k.timestamp == -2 || r.timestamp == k.timestamp);
        if (exact) {
            ++*right;
            if (first < 0) first = r.seconds;
        } else if (!(r.layer == k.layer && r.id == k.id && r.timestamp == 65535)) {
            ++*wrong;
        }
    }
    return first;
}

// A level counts as confirmed when the exact message arrives: once for a
// program message (16-bit id and time code) or an identifier (36 bits), but at
// least three times for a flag, whose value noise alone produces now and then.
int Sweep(double seconds, const char* only) {
    const char* names[6] = {"program L1",    "program L2", "program L5",
                            "RS commercial", "flag 3",     "flag 7"};
    for (const char* name : names) {
        if (only != nullptr && std::strstr(name, only) == nullptr) continue;
        const int need = std::strncmp(name, "flag", 4) == 0 ? 3 : 1;
        int wrong = 0, right = 0;
        double first = RunKind(name, -20.0, seconds, &wrong, &right);
        if (right < need) first = -1;
        std::printf("%-14s -20 dB: first exact report after %.1f s of audio, %d exact, %d other\n",
                    name, first, right, wrong);
        double lowest = first >= 0 ? -20.0 : 0.0;
        if (first < 0) {
            for (double db = -19; db <= 0; db += 1) {
                if (RunKind(name, db, seconds, &wrong, &right) >= 0 && right >= need) {
                    lowest = db;
                    break;
                }
            }
        } else {
            for (double db = -21; db >= -45; db -= 1) {
                const double f = RunKind(name, db, seconds, &wrong, &right);
                if (f < 0 || right < need) break;
                lowest = db;
                std::printf("    %.0f dB: first after %.1f s, %d exact, %d other\n", db, f, right,
                            wrong);
            }
        }
        std::printf("%-14s lowest ratio with an exact report within %.0f s: %.0f dB\n", name,
                    seconds, lowest);
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "false"))
        return FalseRates(argc >= 3 ? std::atof(argv[2]) : 2.0);
    if (argc >= 2 && !std::strcmp(argv[1], "sweep"))
        return Sweep(argc >= 3 ? std::atof(argv[2]) : 60.0, argc >= 4 ? argv[3] : nullptr);
    std::fprintf(stderr, "usage: zelt_measure false [hours] | sweep [seconds [kind]]\n");
    return 2;
}
