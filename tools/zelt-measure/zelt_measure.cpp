// ZELT detection measurements through the whole chain: 16-bit audio into a
// CMeter built for "ZELTFiltered" with the application's factories and
// filtered callbacks; results are read from the host code rings.
//
//   zelt_measure false [hours]   reports per hour (and per 24 h) on silence,
//                                white noise, pink noise, tonal music-like
//                                audio, swept sines and chords, and speech
//                                (espeak-ng), no watermark
//   zelt_measure wrong [reps [seconds]]
//                                each message kind at -20 dB, alone and with
//                                TESK 6 and TESK 2 on the same channel, over
//                                varied hosts, seeds, ids, start times and
//                                sub-second offsets: share of repetitions with
//                                an exact report, time to the first one, and
//                                every report with other content
//   zelt_measure sweep [seconds [kind]]
//                                lowest watermark-to-host ratio (pink noise)
//                                at which each message kind is reported with
//                                exactly its content, and the time to the
//                                first such report at -20 dB
#include <rapidjson/document.h>

#include <algorithm>
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
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::SignalMix;
using Kelvane::Generators::Tesk2Generator;
using Kelvane::Generators::Tesk2Message;
using Kelvane::Generators::Tesk6Generator;
using Kelvane::Generators::Tesk6Message;
using Kelvane::Generators::ZeltGenerator;

namespace {

constexpr uint32_t kStart = 1767225600u + 3 * 3600 + 17 * 60 + 20;
constexpr int kRate = 48000;

struct Record {
    int layer = 0;
    std::string id, commId;
    long long timestamp = 0;
    unsigned firstSymAge = 0;
    double seconds = 0;  // audio fed when the record was taken from the ring
    std::string text;
};

// A meter with one channel at `rate`; the host ring is drained after every
// 10 ms block, so a record's time is that of the block that produced it.
class Chain {
public:
    explicit Chain(int rate = kRate, uint32_t start = kStart) : m_rate(rate), m_start(start) {
        for (auto& ring : reportedChannel) ring.reset();
        ReportZelt = true;
        bZeltRawOutput = false;
        m_cfg.configValid = 1;
        m_cfg.reportCallback = &m_report;
        m_cfg.reportMode = kReportModeJson;
        m_ac.channels = 1;
        m_ac.sampleRate = rate;
        m_ac.bitsPerSample = 16;
        m_meter = std::make_unique<CMeter>(
            &m_cfg, nullptr, &m_ac, "{\"Parameters\":[{\"ZELTFiltered\":{}}]}",
            std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
            std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
    }
    void Feed(const std::vector<int16_t>& pcm) {
        const size_t block = m_rate / 100;
        for (size_t off = 0; off + block <= pcm.size(); off += block) {
            m_meter->ProcessAudioBuffer(const_cast<int16_t*>(pcm.data() + off),
                                        static_cast<int>(2 * block), 0, m_start);
            m_fed += block;
            Drain();
        }
    }
    void Flush() {
        m_meter->FlushData(0);
        Drain();
    }
    double Seconds() const { return double(m_fed) / m_rate; }
    std::vector<Record>& Records() { return m_records; }

private:
    void Drain() {
        char buffer[4096];
        while (hostGetAudioCodes(0, buffer, sizeof buffer) == 1) {
            Record r;
            r.text = buffer;
            r.seconds = Seconds();
            rapidjson::Document doc;
            doc.Parse(buffer);
            if (!doc.HasParseError() && doc.IsObject() && doc.HasMember("ZELT")) {
                const auto& z = doc["ZELT"];
                r.layer = z["layer"].GetInt();
                r.id = z["id"].GetString();
                r.commId = z["commId"].GetString();
                r.timestamp = z["timestamp"].GetInt64();
                r.firstSymAge = z["firstSymAge"].GetUint();
            }
            m_records.push_back(r);
        }
    }
    int m_rate;
    uint32_t m_start;
    CTavikReportImplementation m_report;
    SampleAppConfigurationData m_cfg{};
    Kelvane::AudioCore::AudioChannelConfiguration m_ac;
    std::unique_ptr<CMeter> m_meter;
    uint64_t m_fed = 0;
    std::vector<Record> m_records;
};

// Sine oscillator by complex rotation (cheap per sample, renormalised now and then).
struct Osc {
    double re = 1, im = 0, cr = 1, ci = 0;
    int n = 0;
    void Set(double hz, int rate) {
        cr = std::cos(2 * M_PI * hz / rate);
        ci = std::sin(2 * M_PI * hz / rate);
    }
    double Next() {
        const double r = re * cr - im * ci;
        im = re * ci + im * cr;
        re = r;
        if (++n == 4096) {
            const double g = 1.0 / std::sqrt(re * re + im * im);
            re *= g;
            im *= g;
            n = 0;
        }
        return im;
    }
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
                for (int h = 0; h < vc.harmonics; ++h)
                    v += vc.env * vc.osc[h].Next() / ((h + 1) * (h + 1) * 0.7 + 0.3);
            }
            out[i] = static_cast<float>(v * 0.05);
        }
        return out;
    }

private:
    struct Voice {
        Osc osc[6];
        int harmonics = 0;
        double env = 0, decay = 1;
    };
    void Add(double hz, double env, double decaySeconds) {
        Voice v;
        for (int h = 0; h < 6 && (h + 1) * hz < 0.45 * kRate; ++h) {
            v.osc[h].Set((h + 1) * hz, kRate);
            v.harmonics = h + 1;
        }
        v.env = env;
        v.decay = std::exp(-1.0 / (decaySeconds * kRate));
        m_voices.push_back(v);
    }
    void NewNote() {
        static const int kScale[5] = {0, 2, 4, 7, 9};
        std::uniform_int_distribution<int> deg(0, 14), len(3, 12);
        const double beat = 0.125;
        m_left = static_cast<size_t>(len(m_rng) * beat * kRate);
        auto freq = [&](int octave, int d) {
            const int semis = octave * 12 + kScale[d % 5] + 12 * (d / 5);
            return 110.0 * std::pow(2.0, semis / 12.0);
        };
        m_voices.clear();
        Add(freq(1, deg(m_rng)), 1.0, 0.6);      // melody, harmonics into the ZELT band
        Add(freq(0, deg(m_rng) % 5), 0.8, 1.2);  // bass
        if (m_rng() % 2)                         // a chord every other note
            for (int k = 0; k < 3; ++k) Add(freq(1, (deg(m_rng) + 2 * k) % 10), 0.4, 2.0);
    }
    std::mt19937 m_rng;
    size_t m_left = 0;
    std::vector<Voice> m_voices;
};

// Swept sines, steady tones and chords across 200 .. 4000 Hz: segments of
// 0.3 .. 8 s, each a linear or logarithmic sweep, a held tone or a chord of
// three or four tones.
class SweepHost {
public:
    explicit SweepHost(uint32_t seed) : m_rng(seed) {}
    std::vector<float> Next(size_t count) {
        std::vector<float> out(count, 0.0f);
        for (size_t i = 0; i < count; ++i) {
            if (m_left == 0) NewSegment();
            const double t = double(m_len - m_left) / m_len;
            --m_left;
            double v = 0;
            for (size_t k = 0; k < m_tones; ++k) {
                double f = m_f0[k];
                if (m_sweep == 1) f = m_f0[k] + (m_f1[k] - m_f0[k]) * t;
                if (m_sweep == 2) f = m_f0[k] * std::pow(m_f1[k] / m_f0[k], t);
                m_phase[k] += 2 * M_PI * f / kRate;
                if (m_phase[k] > 2 * M_PI) m_phase[k] -= 2 * M_PI;
                v += std::sin(m_phase[k]);
            }
            out[i] = static_cast<float>(0.1 * v / std::sqrt(double(m_tones)));
        }
        return out;
    }

private:
    void NewSegment() {
        std::uniform_real_distribution<double> len(0.3, 8.0), lf(std::log(200.0), std::log(4000.0));
        m_len = m_left = static_cast<size_t>(len(m_rng) * kRate);
        const int kind =
            static_cast<int>(m_rng() % 4);  // 0 tone, 1 lin sweep, 2 log sweep, 3 chord
        m_sweep = kind == 1 || kind == 2 ? kind : 0;
        m_tones = kind == 3 ? 3 + m_rng() % 2 : 1;
        for (size_t k = 0; k < m_tones; ++k) {
            m_f0[k] = std::exp(lf(m_rng));
            m_f1[k] = std::exp(lf(m_rng));
        }
    }
    std::mt19937 m_rng;
    size_t m_left = 0, m_len = 1, m_tones = 1;
    int m_sweep = 0;
    double m_f0[4] = {}, m_f1[4] = {}, m_phase[4] = {};
};

// Speech from espeak-ng (22050 Hz mono), random sentences in several voices,
// speeds and pitches.
class SpeechHost {
public:
    explicit SpeechHost(uint32_t seed) : m_rng(seed) {}
    bool Next(size_t count, std::vector<int16_t>* out) {
        out->clear();
        while (out->size() < count) {
            if (m_pos >= m_pcm.size() && !Speak()) return false;
            const size_t n = std::min(count - out->size(), m_pcm.size() - m_pos);
            out->insert(out->end(), m_pcm.begin() + m_pos, m_pcm.begin() + m_pos + n);
            m_pos += n;
        }
        return true;
    }

private:
    bool Speak() {
        static const char* kWords[] = {
            "the",      "news",    "at",      "nine",       "weather",   "tonight",   "rain",
            "across",   "the",     "north",   "sunny",      "spells",    "later",     "market",
            "prices",   "rose",    "sharply", "government", "minister",  "said",      "today",
            "football", "match",   "ended",   "two",        "one",       "after",     "extra",
            "time",     "traffic", "heavy",   "on",         "motorway",  "listeners", "call",
            "us",       "music",   "next",    "hour",       "interview", "with",      "author",
            "about",    "her",     "new",     "book",       "thank",     "you",       "very",
            "much",     "and",     "now",     "sport",      "report",    "from",      "stadium"};
        static const char* kVoices[] = {"en", "en-us", "en+f3", "en+m3", "de",
                                        "fr", "es",    "it",    "en+f2", "en-us+m1"};
        std::string text;
        for (int sentence = 0; sentence < 6; ++sentence) {
            const int words = 5 + static_cast<int>(m_rng() % 12);
            for (int w = 0; w < words; ++w) {
                text += kWords[m_rng() % (sizeof kWords / sizeof *kWords)];
                text += ' ';
            }
            text += ". ";
        }
        char cmd[256];
        std::snprintf(cmd, sizeof cmd, "espeak-ng -v %s -s %d -p %d --stdout \"",
                      kVoices[m_rng() % (sizeof kVoices / sizeof *kVoices)],
                      130 + static_cast<int>(m_rng() % 70), 30 + static_cast<int>(m_rng() % 40));
        FILE* f = popen((cmd + text + "\" 2>/dev/null").c_str(), "r");
        if (f == nullptr) return false;
        std::vector<unsigned char> bytes;
        unsigned char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
        pclose(f);
        // The samples follow the "data" chunk header.
        size_t data = 12;
        while (data + 8 <= bytes.size() && std::memcmp(&bytes[data], "data", 4) != 0) {
            const uint32_t len = bytes[data + 4] | bytes[data + 5] << 8 | bytes[data + 6] << 16 |
                                 uint32_t(bytes[data + 7]) << 24;
            data += 8 + len;
        }
        if (data + 8 > bytes.size()) return false;
        m_pcm.clear();
        for (size_t i = data + 8; i + 1 < bytes.size(); i += 2)
            m_pcm.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
        m_pos = 0;
        return !m_pcm.empty();
    }
    std::mt19937 m_rng;
    std::vector<int16_t> m_pcm;
    size_t m_pos = 0;
};

bool IsFlag(const Record& r) { return r.layer == 5 && (r.id == "0x0003" || r.id == "0x0007"); }

void PrintRates(const char* name, const std::vector<Record>& recs, double hours) {
    std::map<std::string, int> byKind;
    for (const Record& r : recs) {
        std::string key;
        if (r.layer == 4)
            key = "layer 4 (RS commercial)";
        else if (IsFlag(r))
            key = "layer 5 flags";
        else
            key = "layer " + std::to_string(r.layer) + " program";
        ++byKind[key];
    }
    std::printf("%-14s %6.2f h: %4zu reports, %7.2f per hour, %7.2f per 24 h\n", name, hours,
                recs.size(), recs.size() / hours, 24.0 * recs.size() / hours);
    for (const auto& kv : byKind)
        std::printf("    %-26s %5d  (%.2f per hour)\n", kv.first.c_str(), kv.second,
                    kv.second / hours);
    int shown = 0;
    for (const Record& r : recs) {
        if (shown++ >= 5) break;
        std::printf("    e.g. at %.1f s: %s\n", r.seconds, r.text.c_str());
    }
    std::fflush(stdout);
}

int FalseRates(double hours) {
    const char* kinds[6] = {"silence",     "white noise",   "pink noise",
                            "tonal music", "sweeps+chords", "speech"};
    const size_t chunkSeconds = 10;
    const int chunks = static_cast<int>(hours * 3600.0 / chunkSeconds + 0.5);
    const double h = chunks * double(chunkSeconds) / 3600.0;
    double total = 0;
    size_t totalReports = 0;
    for (int k = 0; k < 6; ++k) {
        const int rate = k == 5 ? 22050 : kRate;
        Chain chain(rate);
        TonalHost tonal(77);
        SweepHost sweeps(78);
        SpeechHost speech(79);
        bool ok = true;
        for (int c = 0; c < chunks && ok; ++c) {
            const size_t n = chunkSeconds * rate;
            std::vector<float> host;
            std::vector<int16_t> pcm;
            switch (k) {
                case 0:
                    pcm.assign(n, 0);
                    break;
                case 1:
                    host = SignalMix::MakeHost(HostKind::WhiteNoise, n, 0.1, 1000 + c);
                    break;
                case 2:
                    host = SignalMix::MakeHost(HostKind::PinkNoise, n, 0.1, 900000 + c);
                    break;
                case 3:
                    host = tonal.Next(n);
                    break;
                case 4:
                    host = sweeps.Next(n);
                    break;
                default:
                    ok = speech.Next(n, &pcm);
                    break;
            }
            if (!host.empty()) pcm = SignalMix::ToInt16(host);
            chain.Feed(pcm);
        }
        if (!ok) {
            std::printf("%-14s espeak-ng not available, skipped\n", kinds[k]);
            continue;
        }
        chain.Flush();
        PrintRates(kinds[k], chain.Records(), h);
        total += h;
        totalReports += chain.Records().size();
    }
    std::printf("all signals    %6.2f h: %4zu reports, %.2f per 24 h\n", total, totalReports,
                total > 0 ? 24.0 * totalReports / total : 0.0);
    return 0;
}

// One watermarked file of the wrong-report measurement.
struct Trial {
    const char* kind;  // "program L1", ..., "RS commercial", "flag 3", "flag 7"
    bool mixed;        // TESK 6 and TESK 2 programs on the same channel
    uint32_t seed;
};

struct TrialResult {
    double first = -1;  // seconds from the watermark's start to the first exact report
    int exact = 0, noTime = 0;
    std::vector<std::string> wrong;
};

TrialResult RunTrial(const Trial& t, double seconds) {
    std::mt19937 rng(t.seed);
    const bool white = t.seed % 2;
    // Start time and lead-in vary the minute, its sub-minute phase and the
    // message's place against the decoder's 100 ms frames.
    const uint32_t start = kStart + rng() % (30 * 86400);
    const size_t lead = rng() % (5 * kRate);
    const size_t total = lead + static_cast<size_t>(seconds * kRate);
    std::vector<float> wm(total, 0.0f);
    int layer = 0;
    uint16_t id = 0;
    uint64_t comm = 0;
    int flag = 0;
    std::vector<uint32_t> periodMinute;  // program: minute carried by each 4.8 s period
    if (!std::strncmp(t.kind, "program", 7)) {
        layer = t.kind[9] - '0';
        do {
            id = static_cast<uint16_t>(rng());
        } while ((id & 15) == 0 || ((id >> 12) & 15) == ((id >> 8) & 15) ||
                 ((id >> 12) & 15) == ((id >> 4) & 15) || ((id >> 8) & 15) == ((id >> 4) & 15));
        const size_t period = static_cast<size_t>(4.8 * kRate);
        for (size_t p = 0; lead + p * period < total; ++p) {
            const double at = start + double(lead + p * period) / kRate;
            const uint32_t minute = ZeltGenerator::MinuteOfPosixTime(static_cast<int64_t>(at));
            periodMinute.push_back(minute);
            ZeltGenerator g(kRate);
            g.AddProgram(layer, id, minute);
            const auto seg = g.Render(4.8);
            for (size_t i = 0; i < seg.size() && lead + p * period + i < total; ++i)
                wm[lead + p * period + i] = seg[i];
        }
    } else {
        ZeltGenerator g(kRate);
        if (!std::strcmp(t.kind, "RS commercial")) {
            do {
                comm = (uint64_t(rng()) << 4 ^ rng()) & ((uint64_t(1) << 36) - 1);
            } while (!CUCCValidator::IsValidCommID(static_cast<long>(comm)));
            g.AddCommercial(comm);
        } else {
            flag = t.kind[5] - '0';
            g.AddFlag(flag);
        }
        const auto seg = g.Render(seconds);
        std::copy(seg.begin(), seg.end(), wm.begin() + lead);
    }
    const auto host =
        SignalMix::MakeHost(white ? HostKind::WhiteNoise : HostKind::PinkNoise, total, 0.1, t.seed);
    std::vector<std::vector<float>> marks = {wm};
    std::vector<double> ratios = {-20.0};
    if (t.mixed) {
        Tesk6Generator t6(kRate);
        Tesk6Message m6;
        m6.sid = static_cast<uint16_t>(rng());
        m6.timestamp = 500000000 + rng() % 10000000;
        m6.clockFraction = (rng() % 1000) / 1000.0;
        t6.Add(m6);
        t6.SetStartFrame(0, rng() % 150);
        Tesk2Generator t2(kRate);
        Tesk2Message m2;
        m2.sid = static_cast<uint16_t>(rng());
        m2.timestamp = 900000000 + rng() % 10000000;
        m2.clockFraction = (rng() % 1000) / 1000.0;
        t2.Add(m2);
        t2.SetStartFrame(0, rng() % 1496);
        marks.push_back(t6.Synthesize(double(total) / kRate));
        marks.push_back(t2.Synthesize(double(total) / kRate));
        ratios.push_back(-20.0);
        ratios.push_back(-20.0);
    }
    Chain chain(kRate, start);
    chain.Feed(SignalMix::ToInt16(SignalMix::MixSeveral(host, marks, ratios, 0.1)));
    chain.Flush();

    TrialResult res;
    char want[32];
    for (const Record& r : chain.Records()) {
        bool exact = false;
        const double at = r.seconds - double(lead) / kRate;  // from the watermark's start
        if (layer != 0) {
            std::snprintf(want, sizeof want, "0x%04x", id);
            if (r.layer == layer && r.id == want && r.commId == "N/A") {
                if (r.timestamp == 65535) {
                    ++res.noTime;
                    continue;
                }
                // Any minute carried by the periods the detection accumulated.
                const double from = at - r.firstSymAge / 1000.0 - 5.0;
                for (size_t p = 0; p < periodMinute.size(); ++p) {
                    const double ps = p * 4.8;
                    if (ps + 4.8 >= from && ps <= at + 0.1 && r.timestamp == periodMinute[p])
                        exact = true;
                }
            }
        } else if (comm != 0) {
            std::snprintf(want, sizeof want, "0x%llx", static_cast<unsigned long long>(comm));
            exact = r.layer == 4 && r.commId == want;
        } else {
            std::snprintf(want, sizeof want, "0x%04x", flag);
            exact = r.layer == 5 && r.id == want;
        }
        if (exact) {
            ++res.exact;
            if (res.first < 0) res.first = at;
        } else {
            res.wrong.push_back(r.text);
        }
    }
    return res;
}

int WrongReports(int reps, double seconds) {
    const char* kinds[6] = {"program L1",    "program L2", "program L5",
                            "RS commercial", "flag 3",     "flag 7"};
    int allWrong = 0, allTrials = 0;
    double allHours = 0;
    for (int mixed = 0; mixed < 2; ++mixed)
        for (const char* kind : kinds) {
            std::vector<double> firsts;
            int withReport = 0, wrong = 0, noTime = 0, exact = 0;
            std::vector<std::string> examples;
            for (int r = 0; r < reps; ++r) {
                const Trial t{kind, mixed == 1, 1000u * (mixed + 1) + 17u * r + kind[9]};
                const TrialResult res = RunTrial(t, seconds);
                if (res.first >= 0) {
                    ++withReport;
                    firsts.push_back(res.first);
                }
                exact += res.exact;
                noTime += res.noTime;
                wrong += static_cast<int>(res.wrong.size());
                for (const auto& w : res.wrong)
                    if (examples.size() < 3) examples.push_back(w);
            }
            std::sort(firsts.begin(), firsts.end());
            const double median = firsts.empty() ? -1 : firsts[firsts.size() / 2];
            const double worst = firsts.empty() ? -1 : firsts.back();
            std::printf(
                "%-14s %-17s %3d/%d with a report (%3.0f%%), first after median %.1f s, "
                "worst %.1f s; %d exact, %d without time code, %d wrong\n",
                kind, mixed ? "+TESK 6 +TESK 2" : "alone", withReport, reps,
                100.0 * withReport / reps, median, worst, exact, noTime, wrong);
            for (const auto& e : examples) std::printf("    wrong: %s\n", e.c_str());
            std::fflush(stdout);
            allWrong += wrong;
            allTrials += reps;
            allHours += reps * seconds / 3600.0;
        }
    std::printf("all: %d files, %.2f h, %d wrong reports\n", allTrials, allHours, allWrong);
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
    if (argc >= 2 && !std::strcmp(argv[1], "wrong"))
        return WrongReports(argc >= 3 ? std::atoi(argv[2]) : 10,
                            argc >= 4 ? std::atof(argv[3]) : 90.0);
    if (argc >= 2 && !std::strcmp(argv[1], "sweep"))
        return Sweep(argc >= 3 ? std::atof(argv[2]) : 60.0, argc >= 4 ? argv[3] : nullptr);
    std::fprintf(
        stderr,
        "usage: zelt_measure false [hours] | wrong [reps [seconds]] | sweep [seconds [kind]]\n");
    return 2;
}
