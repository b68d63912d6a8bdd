// tavikmeasure: how often the decoders report codes that were never sent, how
// often they report wrong content, and how quickly they report real codes.
//
// Audio (48 kHz, 16-bit, mono) goes through the real chain: a CMeter built
// with the application's factories for all three filtered decoders and the
// filtered report callbacks, fed in 10 ms buffers as the capture driver does;
// the codes are read back from the host code ring with hostGetAudioCodes.
//
//   false        no watermark: reports per hour on each host signal
//   wrong        all three families on one channel: codes with wrong content
//   sensitivity  each message kind alone: share reported, time to the first
//   all          the three above
//
// Work is split into items that run in forked processes (--jobs), each
// writing its counts to a temporary file that the parent adds up.
#include <rapidjson/document.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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
#include "audiocore/Parameter.h"
#include "dsp/CUCCValidator.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"
#include "timebase/TeskTime.h"
#include "tools/tavik-measure/SpeechHost.h"

using namespace Kelvane::Generators;

namespace {

constexpr int kRate = 48000;
// Audio clock of the first item: 2026-01-01 03:17:20 UTC (winter, so TESK
// time codes carry no daylight-saving flag in European zones).
constexpr uint32_t kStart = 1767225600u + 3 * 3600 + 17 * 60 + 20;
constexpr double kTesk6MessageSeconds = 8 * 6 * 512 / 16000.0;
constexpr double kTesk2MessageSeconds = (10 * 64 * 64 + 15 * 256) / 24000.0;

const char kUsage[] =
    "Usage: tavikmeasure MODE [OPTIONS]\n"
    "Measures false, wrong and missed reports of the TESK 6, TESK 2 and ZELT decoders\n"
    "through the meter, the filtered callbacks and the host code ring.\n"
    "\n"
    "Modes:\n"
    "  false        no watermark: reports per hour on each host signal\n"
    "  wrong        all three families on one channel at --ratio: wrong-content reports\n"
    "  sensitivity  each message kind alone at --ratio: share of repetitions reported\n"
    "               and time to the first report\n"
    "  all          false, wrong and sensitivity\n"
    "\n"
    "Options:\n"
    "  --hours H          false: hours per signal; wrong: hours of files in all (default 2)\n"
    "  --signals LIST     host signals, comma separated: silence,white,pink,music,tones,\n"
    "                     speech (default: all six; speech is skipped with a message when\n"
    "                     espeak-ng or sox is missing)\n"
    "  --jobs N           processes working in parallel (default 1)\n"
    "  --seed N           seed of hosts and contents (default 1)\n"
    "  --ratio DB         watermark-to-host ratio of each family (default -20)\n"
    "  --host-level DBFS  RMS level of the hosts (default -20)\n"
    "  --reps N           sensitivity: repetitions per message kind (default 40)\n"
    "  --trial-seconds S  sensitivity: audio per repetition (default 30)\n"
    "  --file-seconds S   wrong: length of one mixed-family file (default 90)\n"
    "  --segment-minutes M  false: audio per work item (default 30)\n"
    "  --speech-bed DB    pink noise under the speech, dB against it, or 'off' (default -30)\n"
    "  --cache DIR        folder of the rendered speech clips (default: beside the program)\n"
    "  --examples N       texts shown per table row (default 3)\n"
    "  --dump ITEM.FILE   wrong: mix and decode only that file (as the examples name it,\n"
    "                     e.g. 7.4), write it to wrong-seed<S>-<ITEM.FILE>.wav in the current folder\n"
    "                     and list on standard error what it carries and its start time\n"
    "  -h, --help         this text\n";

struct Options {
    std::string mode;
    double hours = 2;
    std::vector<std::string> signals = {"silence", "white", "pink", "music", "tones", "speech"};
    int jobs = 1;
    uint32_t seed = 1;
    double ratioDb = -20;
    double hostLevelDb = -20;
    int reps = 40;
    double trialSeconds = 30;
    double fileSeconds = 90;
    double segmentMinutes = 30;
    double speechBedDb = -30;
    std::string cache;
    int examples = 3;
    std::string dump;  // "ITEM.FILE" of a wrong-content file to write out
};

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "tavikmeasure: %s\nTry 'tavikmeasure --help'.\n", message.c_str());
    std::exit(2);
}

bool ParseDouble(const char* text, double* v) {
    char* end = nullptr;
    errno = 0;
    *v = std::strtod(text, &end);
    return *text != '\0' && *end == '\0' && errno == 0 && std::isfinite(*v);
}

std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        if (comma > start) out.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return out;
}

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string s(path);
    const size_t slash = s.find_last_of('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    if (argc < 2) UsageError("no mode");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) UsageError(a + " needs a value");
            return argv[++i];
        };
        auto number = [&](double lo, double hi) {
            double d = 0;
            if (!ParseDouble(value(), &d) || d < lo || d > hi)
                UsageError(a + " must be " + std::to_string(lo) + " to " + std::to_string(hi));
            return d;
        };
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "false" || a == "wrong" || a == "sensitivity" || a == "all") {
            o.mode = a;
        } else if (a == "--hours") {
            o.hours = number(1e-4, 1000);
        } else if (a == "--signals") {
            o.signals = Split(value());
            for (const auto& s : o.signals) {
                HostKind k;
                if (s != "speech" && !SignalMix::ParseHostKind(s.c_str(), &k))
                    UsageError("unknown signal '" + s + "'");
            }
            if (o.signals.empty()) UsageError("no signal");
        } else if (a == "--jobs" || a == "-j") {
            o.jobs = int(number(1, 64));
        } else if (a == "--seed") {
            o.seed = uint32_t(number(0, 4294967295.0));
        } else if (a == "--ratio") {
            o.ratioDb = number(-60, 20);
        } else if (a == "--host-level") {
            o.hostLevelDb = number(-80, 0);
        } else if (a == "--reps") {
            o.reps = int(number(1, 100000));
        } else if (a == "--trial-seconds") {
            o.trialSeconds = number(5, 3600);
        } else if (a == "--file-seconds") {
            o.fileSeconds = number(10, 3600);
        } else if (a == "--segment-minutes") {
            o.segmentMinutes = number(0.1, 1440);
        } else if (a == "--speech-bed") {
            const char* v = value();
            if (std::strcmp(v, "off") == 0) {
                o.speechBedDb = -1000;
            } else if (!ParseDouble(v, &o.speechBedDb) || o.speechBedDb > 20) {
                UsageError("--speech-bed must be dB (at most 20) or 'off'");
            }
        } else if (a == "--cache") {
            o.cache = value();
        } else if (a == "--examples") {
            o.examples = int(number(0, 1000));
        } else if (a == "--dump") {
            o.dump = value();
            int item = 0, file = 0, used = 0;
            if (std::sscanf(o.dump.c_str(), "%d.%d%n", &item, &file, &used) != 2 ||
                used != int(o.dump.size()) || item < 0 || file < 0)
                UsageError("--dump takes ITEM.FILE, e.g. 7.4");
        } else {
            UsageError("unknown option " + a);
        }
    }
    if (o.mode.empty()) UsageError("no mode (false, wrong, sensitivity or all)");
    if (o.cache.empty()) o.cache = ProgramFolder() + "/speech-cache";
    return o;
}

// ---------------------------------------------------------------------------
// Table rows: family and message kind (TESK layer, ZELT layer).

enum Row { kT6Prog, kT6CommStd, kT6CommRs, kT2Prog, kT2CommStd, kT2CommRs,
           kZ1, kZ2, kZ5, kZ4, kOther, kRows };
const char* const kRowFamily[kRows] = {"TESK 6", "TESK 6", "TESK 6", "TESK 2", "TESK 2", "TESK 2",
                                       "ZELT",   "ZELT",   "ZELT",   "ZELT",   "other"};
const char* const kRowKind[kRows] = {"PROG",    "COMM_STD",         "COMM_RS",
                                     "PROG",    "COMM_STD",         "COMM_RS",
                                     "layer 1", "layer 2",          "layer 5",
                                     "layer 4 (commercial)", "unknown text"};
int FamilyOf(int row) { return row <= kT6CommRs ? 0 : row <= kT2CommRs ? 1 : row <= kZ4 ? 2 : 3; }

// One code as the host received it.
struct Report {
    int row = kOther;
    double arrival = 0;  // audio seconds fed when it was taken from the ring
    double elapsed = 0;  // the text's elapsedTime
    unsigned sid = 0;
    std::string dist, commId, id;
    long long timestamp = 0;
    std::string text;
};

Report ParseReport(const char* text, double arrival) {
    Report r;
    r.text = text;
    r.arrival = arrival;
    rapidjson::Document d;
    d.Parse(text);
    if (d.HasParseError() || !d.IsObject()) return r;
    auto str = [](const rapidjson::Value& o, const char* k) {
        return o.HasMember(k) && o[k].IsString() ? std::string(o[k].GetString()) : std::string();
    };
    auto num = [](const rapidjson::Value& o, const char* k) {
        return o.HasMember(k) && o[k].IsNumber() ? o[k].GetDouble() : 0.0;
    };
    for (const char* family : {"TESK6", "TESK2"}) {
        if (!d.HasMember(family) || !d[family].IsObject()) continue;
        const auto& o = d[family];
        const std::string layer = str(o, "layer");
        const int base = family[4] == '6' ? kT6Prog : kT2Prog;
        if (layer == "PROG") r.row = base;
        if (layer == "COMM_STD") r.row = base + 1;
        if (layer == "COMM_RS") r.row = base + 2;
        r.elapsed = num(o, "elapsedTime");
        r.sid = unsigned(num(o, "sid"));
        r.dist = str(o, "dist");
        r.commId = str(o, "commId");
        r.timestamp = (long long)num(o, "timestamp");
    }
    if (d.HasMember("ZELT") && d["ZELT"].IsObject()) {
        const auto& o = d["ZELT"];
        const int layer = int(num(o, "layer"));
        r.row = layer == 1 ? kZ1 : layer == 2 ? kZ2 : layer == 5 ? kZ5 : layer == 4 ? kZ4 : kOther;
        r.elapsed = num(o, "elapsedTime");
        r.id = str(o, "id");
        r.commId = str(o, "commId");
        r.timestamp = (long long)num(o, "timestamp");
    }
    return r;
}

// The process's host report object, as the library keeps one: created once
// and never deleted. Its greeting on standard output is discarded so that
// the tables stay clean; decoder log lines go to standard error.
class MeasureReport : public CTavikReportImplementation {
public:
    void LogCallbackMessage(int, char* text) override {
        if (text != nullptr) std::fprintf(stderr, "decoder: %s\n", text);
    }
    static MeasureReport* Instance() {
        static MeasureReport* report = [] {
            std::fflush(stdout);
            const int saved = dup(STDOUT_FILENO);
            std::FILE* null = std::fopen("/dev/null", "w");
            if (null != nullptr) dup2(fileno(null), STDOUT_FILENO);
            auto* r = new MeasureReport;
            std::fflush(stdout);
            if (saved >= 0) dup2(saved, STDOUT_FILENO);
            if (saved >= 0) close(saved);
            if (null != nullptr) std::fclose(null);
            return r;
        }();
        return report;
    }
};

// One meter decoding one mono channel with all three filtered decoders; the
// code ring of channel 0 is drained every 100 ms of audio.
class Chain {
public:
    explicit Chain(uint32_t startTime) : start_(startTime) {
        for (auto& ring : reportedChannel) ring.reset();
        ReportT2 = ReportTw = ReportZelt = true;
        bT2RawOutput = bTwRawOutput = bZeltRawOutput = false;
        cfg_.configValid = 1;
        cfg_.reportCallback = MeasureReport::Instance();
        cfg_.reportMode = kReportModeJson;
        ac_.channels = 1;
        ac_.sampleRate = kRate;
        ac_.bitsPerSample = 16;
        const int mask =
            Parameter::kTesk2Filtered | Parameter::kTesk6Filtered | Parameter::kZeltFiltered;
        meter_ = std::make_unique<CMeter>(
            &cfg_, nullptr, &ac_,
            Parameter().createString(mask, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, false, "", ""),
            std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
            std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
    }
    void Feed(const std::vector<int16_t>& pcm) {
        for (size_t off = 0; off + 480 <= pcm.size(); off += 480) {
            meter_->ProcessAudioBuffer(const_cast<int16_t*>(pcm.data() + off), 960, 0, start_);
            fed_ += 480;
            if (fed_ % 4800 == 0) Drain();
        }
    }
    // Shuts the decoders down (which flushes them) and takes the last codes.
    std::vector<Report>& Finish() {
        meter_.reset();
        Drain();
        return reports_;
    }
    double Seconds() const { return double(fed_) / kRate; }

private:
    void Drain() {
        char buffer[4096];
        while (hostGetAudioCodes(0, buffer, sizeof buffer) == 1)
            reports_.push_back(ParseReport(buffer, Seconds()));
    }
    uint32_t start_;
    SampleAppConfigurationData cfg_{};
    Kelvane::AudioCore::AudioChannelConfiguration ac_;
    std::unique_ptr<CMeter> meter_;
    uint64_t fed_ = 0;
    std::vector<Report> reports_;
};

// ---------------------------------------------------------------------------
// Host signals.

measure::SpeechLibrary gSpeech;  // loaded in the parent before any fork

double HostRms(const Options& o) { return std::pow(10.0, o.hostLevelDb / 20.0); }

// A continuous host for hours of audio.
class LongHost {
public:
    LongHost(const std::string& signal, const Options& o, uint32_t seed) {
        HostKind kind = HostKind::Silence;
        if (signal == "speech") {
            speech_ = std::make_unique<measure::SpeechStream>(gSpeech, HostRms(o), o.speechBedDb,
                                                              seed);
        } else {
            SignalMix::ParseHostKind(signal.c_str(), &kind);
            stream_ = std::make_unique<HostStream>(kind, HostRms(o), seed, kRate);
        }
    }
    std::vector<float> Next(size_t n) {
        std::vector<float> out(n);
        if (speech_) {
            speech_->Render(out.data(), n);
        } else {
            stream_->Render(out.data(), n);
        }
        return out;
    }

private:
    std::unique_ptr<HostStream> stream_;
    std::unique_ptr<measure::SpeechStream> speech_;
};

// A host piece of one file or trial, at exactly the host level.
std::vector<float> ShortHost(const std::string& signal, const Options& o, size_t n, uint32_t seed) {
    if (signal == "speech") {
        LongHost h(signal, o, seed);
        return h.Next(n);
    }
    HostKind kind = HostKind::Silence;
    SignalMix::ParseHostKind(signal.c_str(), &kind);
    return SignalMix::MakeHost(kind, n, HostRms(o), seed, kRate);
}

// ---------------------------------------------------------------------------
// Results of one work item, written as text lines by a child process.

struct Result {
    std::map<std::string, double> sums;
    std::map<std::string, std::vector<double>> lists;
    std::vector<std::string> examples;

    void Merge(const Result& r) {
        for (const auto& [k, v] : r.sums) sums[k] += v;
        for (const auto& [k, v] : r.lists) lists[k].insert(lists[k].end(), v.begin(), v.end());
        examples.insert(examples.end(), r.examples.begin(), r.examples.end());
    }
    void Write(std::FILE* f) const {
        for (const auto& [k, v] : sums) std::fprintf(f, "S %s %.17g\n", k.c_str(), v);
        for (const auto& [k, v] : lists)
            for (double x : v) std::fprintf(f, "L %s %.17g\n", k.c_str(), x);
        for (const auto& e : examples) std::fprintf(f, "E %s\n", e.c_str());
    }
    static Result Read(std::FILE* f) {
        Result r;
        char line[8192];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            std::string s(line);
            if (!s.empty() && s.back() == '\n') s.pop_back();
            if (s.size() < 3) continue;
            if (s[0] == 'E') {
                r.examples.push_back(s.substr(2));
                continue;
            }
            const size_t sp = s.find(' ', 2);
            if (sp == std::string::npos) continue;
            const std::string key = s.substr(2, sp - 2);
            const double v = std::strtod(s.c_str() + sp + 1, nullptr);
            if (s[0] == 'S') r.sums[key] += v;
            if (s[0] == 'L') r.lists[key].push_back(v);
        }
        return r;
    }
    double Sum(const std::string& k) const {
        auto it = sums.find(k);
        return it == sums.end() ? 0.0 : it->second;
    }
};

std::string Key(const char* what, const std::string& signal, int row) {
    return std::string(what) + "/" + signal + "/" + std::to_string(row);
}

// ---------------------------------------------------------------------------
// What was sent, and whether a report matches it exactly.

struct Sent {
    int row;
    double lead = 0;  // seconds of host before the watermark starts
    Tesk6Message m6;
    Tesk2Message m2;
    std::string dist;    // expected "dist" text (program layers)
    std::string commId;  // "0x..." (Reed-Solomon kinds)
    std::string zeltId;  // "0x%04x" (ZELT program layers)
    long long minute = 0;
    bool found = false;
};

// The identifier alone matches (SID and distribution, ZELT id): a report
// that fails Matches only by its time code.
bool SameIdentity(const Sent& s, const Report& r) {
    if (s.row != r.row) return false;
    switch (s.row) {
        case kT6Prog:
        case kT6CommStd:
            return r.sid == s.m6.sid && (s.row != kT6Prog || r.dist == s.dist);
        case kT2Prog:
        case kT2CommStd:
            return r.sid == s.m2.sid && (s.row != kT2Prog || r.dist == s.dist);
        case kT6CommRs:
        case kT2CommRs:
        case kZ4:
            return r.commId == s.commId;
        default:
            return r.id == s.zeltId;
    }
}

std::string Hex(uint64_t v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", (unsigned long long)v);
    return b;
}

// What was sent, for the examples of wrong reports; the time code is the one
// expected at the report's elapsedTime.
std::string Describe(const Sent& s, const Report& r) {
    std::string d = std::string(kRowFamily[s.row]) + " " + kRowKind[s.row];
    char b[96];
    switch (s.row) {
        case kT6Prog:
        case kT6CommStd:
            std::snprintf(b, sizeof b, " sid %u%s%s code %u", s.m6.sid,
                          s.row == kT6Prog ? " dist " : "", s.row == kT6Prog ? s.dist.c_str() : "",
                          Tesk6Generator::TimestampAt(s.m6, r.elapsed - s.lead -
                                                                kTesk6MessageSeconds));
            break;
        case kT2Prog:
        case kT2CommStd:
            std::snprintf(b, sizeof b, " sid %u%s%s code %u", s.m2.sid,
                          s.row == kT2Prog ? " dist " : "", s.row == kT2Prog ? s.dist.c_str() : "",
                          Tesk2Generator::TimestampAt(s.m2, r.elapsed - s.lead -
                                                                kTesk2MessageSeconds));
            break;
        case kT6CommRs:
        case kT2CommRs:
        case kZ4:
            std::snprintf(b, sizeof b, " commId %s", s.commId.c_str());
            break;
        default:
            std::snprintf(b, sizeof b, " id %s minute %lld", s.zeltId.c_str(), s.minute);
    }
    std::snprintf(b + std::strlen(b), sizeof b - std::strlen(b), " from %.1f s", s.lead);
    return d + b;
}

bool Matches(const Sent& s, const Report& r) {
    if (s.row != r.row) return false;
    switch (s.row) {
        case kT6Prog:
        case kT6CommStd: {
            const double at = r.elapsed - s.lead - kTesk6MessageSeconds;
            return r.sid == s.m6.sid && (s.row != kT6Prog || r.dist == s.dist) &&
                   std::llabs(r.timestamp - (long long)Tesk6Generator::TimestampAt(s.m6, at)) <= 2;
        }
        case kT2Prog:
        case kT2CommStd: {
            const double at = r.elapsed - s.lead - kTesk2MessageSeconds;
            return r.sid == s.m2.sid && (s.row != kT2Prog || r.dist == s.dist) &&
                   std::llabs(r.timestamp - (long long)Tesk2Generator::TimestampAt(s.m2, at)) <= 2;
        }
        case kT6CommRs:
        case kT2CommRs:
        case kZ4:
            return r.commId == s.commId;
        default:  // ZELT program: a time code not heard (65535) is no wrong content
            return r.id == s.zeltId && (r.timestamp == s.minute || r.timestamp == 65535);
    }
}


uint64_t ValidCommId(std::mt19937& rng, int bits) {
    uint64_t id = ((uint64_t(rng()) << 32) | rng()) & ((1ull << bits) - 1);
    if (id == 0) id = 1;
    while (!CUCCValidator::IsValidCommID(long(id))) id = (id + 1) & ((1ull << bits) - 1);
    return id;
}

uint16_t ZeltProgramId(std::mt19937& rng) {
    int n[3];
    n[0] = int(rng() % 16);
    do n[1] = int(rng() % 16); while (n[1] == n[0]);
    do n[2] = int(rng() % 16); while (n[2] == n[0] || n[2] == n[1]);
    return uint16_t(n[0] << 12 | n[1] << 8 | n[2] << 4 | int(1 + rng() % 15));
}

// Builds the watermark of one message kind (`row`) with random content,
// starting `lead` seconds into `seconds` of audio, unscaled.
std::vector<float> MakeMessage(int row, std::mt19937& rng, uint32_t clock, double lead,
                               double seconds, Sent* sent) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    *sent = Sent{};
    sent->row = row;
    sent->lead = lead;
    const double len = seconds - lead;
    std::vector<float> wm;
    if (row <= kT6CommRs) {
        Tesk6Generator gen(kRate);
        Tesk6Message& m = sent->m6;
        m.kind = row == kT6Prog      ? Tesk6Kind::ProgramStandard
                 : row == kT6CommStd ? Tesk6Kind::CommercialStandard
                                     : Tesk6Kind::CommercialRs;
        m.sid = uint16_t(1 + rng() % 65535);
        m.clockFraction = unit(rng);
        uint8_t dst = 0;
        m.timestamp = PosixToTesk6(clock + uint32_t(lead), &dst);
        m.dst = dst != 0;
        m.dist = row == kT6Prog ? uint8_t(rng() % 4) : 0;
        static const char* const kDist[4] = {"PC", "FD1", "FD2", "FD3"};
        sent->dist = kDist[m.dist];
        if (row == kT6CommRs) {
            m.commId = ValidCommId(rng, 35);
            sent->commId = Hex(m.commId);
        }
        gen.Add(m);
        gen.SetStartFrame(row == kT6Prog ? 0 : 1, unsigned(rng() % 50));
        wm = gen.Synthesize(len);
    } else if (row <= kT2CommRs) {
        Tesk2Generator gen(kRate);
        Tesk2Message& m = sent->m2;
        m.kind = row == kT2Prog      ? Tesk2Kind::ProgramStandard
                 : row == kT2CommStd ? Tesk2Kind::CommercialStandard
                                     : Tesk2Kind::CommercialRs;
        m.sid = uint16_t(1 + rng() % 65535);
        m.clockFraction = unit(rng);
        const uint32_t code = PosixToTesk2(clock + uint32_t(lead));
        m.timestamp = code & ~TESK2_DST_FLAG;
        m.dst = (code & TESK2_DST_FLAG) != 0;
        m.dist = row == kT2Prog ? uint8_t(1 + rng() % 2) : 0;
        sent->dist = m.dist == 1 ? "PC" : "FD";
        if (row == kT2CommRs) {
            m.commId = ValidCommId(rng, 35);
            sent->commId = Hex(m.commId);
        }
        gen.Add(m);
        gen.SetStartFrame(row == kT2Prog ? 0 : 1, unsigned(rng() % 200));
        wm = gen.Synthesize(len);
    } else {
        ZeltGenerator gen(kRate);
        if (row == kZ4) {
            const uint64_t id = ValidCommId(rng, 36);
            gen.AddCommercial(id);
            sent->commId = Hex(id);
        } else {
            const int layer = row == kZ1 ? 1 : row == kZ2 ? 2 : 5;
            const uint16_t id = ZeltProgramId(rng);
            const uint32_t minute = ZeltGenerator::MinuteOfPosixTime(clock + int64_t(lead));
            gen.AddProgram(layer, id, minute);
            char b[16];
            std::snprintf(b, sizeof b, "0x%04x", id);
            sent->zeltId = b;
            sent->minute = minute;
        }
        wm = gen.Render(len, 0.1);
    }
    std::vector<float> out(size_t(std::llround(seconds * kRate)), 0.0f);
    const size_t at = size_t(std::llround(lead * kRate));
    for (size_t i = 0; i < wm.size() && at + i < out.size(); ++i) out[at + i] = wm[i];
    return out;
}

// ---------------------------------------------------------------------------
// Work items.

struct Item {
    std::string mode;  // "false", "wrong", "sensitivity"
    std::string signal;
    int index = 0;       // position within its mode (seeds, clocks)
    double seconds = 0;  // audio of a false or wrong item
    int row = 0;         // sensitivity: message kind
    int reps = 0;        // sensitivity: repetitions
};

void Example(Result* res, const Options& o, const std::string& key, const std::string& line) {
    if (o.examples <= 0) return;
    double& shown = res->sums["shown/" + key];
    if (shown >= o.examples) return;
    shown += 1;
    res->examples.push_back(key + " " + line);
}

Result RunFalse(const Item& it, const Options& o) {
    Result res;
    Chain chain(kStart + uint32_t(it.index) * 7200u);
    LongHost host(it.signal, o, o.seed * 100003u + uint32_t(it.index));
    const size_t total = size_t(it.seconds * kRate);
    for (size_t done = 0; done < total;) {
        const size_t n = std::min<size_t>(kRate, total - done);
        chain.Feed(SignalMix::ToInt16(host.Next(n)));
        done += n;
    }
    const double seconds = chain.Seconds();
    for (const Report& r : chain.Finish()) {
        res.sums[Key("F", it.signal, r.row)] += 1;
        char at[64];
        std::snprintf(at, sizeof at, "%s item %d at %.1f s: ", it.signal.c_str(), it.index,
                      r.arrival);
        Example(&res, o, "F/" + std::to_string(r.row), at + r.text);
    }
    res.sums["H/" + it.signal] += seconds / 3600.0;
    return res;
}

// Writes one mixed-family file as a 16-bit WAV for a closer look (tavikdecode --raw) and
// lists what it carries, with the start time that dates its codes.
void DumpFile(const Options& o, const std::vector<int16_t>& pcm, uint32_t clock,
              const std::vector<Sent>& sent) {
    const std::string path = "wrong-seed" + std::to_string(o.seed) + "-" + o.dump + ".wav";
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (f == nullptr ||
        sf_write_short(f, pcm.data(), sf_count_t(pcm.size())) != sf_count_t(pcm.size())) {
        std::fprintf(stderr, "tavikmeasure: cannot write %s: %s\n", path.c_str(), sf_strerror(f));
        if (f != nullptr) sf_close(f);
        return;
    }
    sf_close(f);
    std::fprintf(stderr, "tavikmeasure: wrote %s (decode with tavikdecode --raw --start-time %u)\n",
                 path.c_str(), clock);
    Report start;
    for (const Sent& s : sent) {
        start.elapsed = s.lead;
        std::fprintf(stderr, "  %s\n", Describe(s, start).c_str());
    }
}

// Mixed-family files: a TESK 6 program message and a commercial one, a TESK 2
// program message and a commercial one, a ZELT program layer and (every other
// file) the ZELT commercial identifier, all on one channel, each family at
// the ratio to the host.
Result RunWrong(const Item& it, const Options& o) {
    Result res;
    if (!o.dump.empty() && o.dump.compare(0, std::to_string(it.index).size() + 1,
                                          std::to_string(it.index) + ".") != 0)
        return res;
    const int files = std::max(1, int(std::lround(it.seconds / o.fileSeconds)));
    const double fileSeconds = it.seconds / files;
    std::mt19937 rng(o.seed * 7919u + uint32_t(it.index) * 104729u + 17u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int f = 0; f < files; ++f) {
        const uint32_t clock = kStart + uint32_t(it.index * 100 + f) * 613u;
        const double lead = 2.0 * unit(rng);
        const size_t n = size_t(std::llround(fileSeconds * kRate));
        std::vector<Sent> sent(5);
        std::vector<std::vector<float>> wms(3);
        std::vector<float> parts[5];
        const int rows[5] = {kT6Prog, rng() % 2 ? kT6CommStd : kT6CommRs, kT2Prog,
                             rng() % 2 ? kT2CommStd : kT2CommRs, int(kZ1 + rng() % 3)};
        for (int k = 0; k < 5; ++k)
            parts[k] = MakeMessage(rows[k], rng, clock, lead, fileSeconds, &sent[size_t(k)]);
        wms[0] = parts[0];
        wms[1] = parts[2];
        wms[2] = parts[4];
        for (size_t i = 0; i < n; ++i) {
            wms[0][i] += parts[1][i];
            wms[1][i] += parts[3][i];
        }
        if (f % 2 == 1) {
            Sent zc;
            auto z = MakeMessage(kZ4, rng, clock, lead, fileSeconds, &zc);
            // The ZELT commercial and program layers come from one generator
            // in practice; here they are added at equal levels.
            for (size_t i = 0; i < n; ++i) wms[2][i] += z[i];
            sent.push_back(zc);
        }
        // With --dump only that one file is mixed and decoded; the others still draw their
        // messages so that every file's content stays what the full run gives it.
        const std::string name = std::to_string(it.index) + "." + std::to_string(f);
        if (!o.dump.empty() && o.dump != name) continue;
        const auto host = ShortHost(it.signal, o, n, o.seed * 31337u + uint32_t(it.index * 1000 + f));
        const auto mix =
            SignalMix::MixSeveral(host, wms, {o.ratioDb, o.ratioDb, o.ratioDb}, HostRms(o));
        if (o.dump == name) DumpFile(o, SignalMix::ToInt16(mix), clock, sent);
        Chain chain(clock);
        chain.Feed(SignalMix::ToInt16(mix));
        const double seconds = chain.Seconds();
        for (const Report& r : chain.Finish()) {
            bool exact = false;
            for (Sent& s : sent) {
                if (Matches(s, r)) {
                    exact = true;
                    s.found = true;
                }
            }
            if (!exact) {
                res.sums[Key("W", "all", r.row)] += 1;
                bool identity = false;
                for (const Sent& s : sent) identity = identity || SameIdentity(s, r);
                if (identity) res.sums[Key("I", "all", r.row)] += 1;
                char at[96];
                std::snprintf(at, sizeof at, "%s file %d.%d at %.1f s: ", it.signal.c_str(),
                              it.index, f, r.arrival);
                std::string sentText;
                for (const Sent& s : sent)
                    if (FamilyOf(s.row) == FamilyOf(r.row))
                        sentText += (sentText.empty() ? "" : "; ") + Describe(s, r);
                Example(&res, o, "W/" + std::to_string(r.row),
                        at + r.text + " (sent: " + sentText + ")");
            } else {
                res.sums[Key("X", "all", r.row)] += 1;
            }
        }
        for (const Sent& s : sent) {
            res.sums[Key("N", "all", s.row)] += 1;
            if (s.found) continue;
            res.sums[Key("M", "all", s.row)] += 1;
            char at[96];
            std::snprintf(at, sizeof at, "%s file %d.%d: ", it.signal.c_str(), it.index, f);
            Report start;
            start.elapsed = s.lead;
            Example(&res, o, "M/" + std::to_string(s.row), at + Describe(s, start));
        }
        res.sums["H/all"] += seconds / 3600.0;
    }
    return res;
}

// Repetitions of one message kind alone, each with its own content, host
// (cycling through the signals), lead and encoder clock phase.
Result RunSensitivity(const Item& it, const Options& o) {
    Result res;
    std::mt19937 rng(o.seed * 65537u + uint32_t(it.index) * 1009u + 5u);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int rep = 0; rep < it.reps; ++rep) {
        const std::string& signal = o.signals[size_t(rep) % o.signals.size()];
        const uint32_t clock = kStart + uint32_t(it.index * 10000 + rep * 97);
        const double lead = 3.0 * unit(rng);
        Sent sent;
        const auto wm = MakeMessage(it.row, rng, clock, lead, o.trialSeconds, &sent);
        const auto host =
            ShortHost(signal, o, wm.size(), o.seed * 4099u + uint32_t(it.index * 10000 + rep));
        const auto mix = SignalMix::MixSeveral(host, {wm}, {o.ratioDb}, HostRms(o));
        Chain chain(clock);
        chain.Feed(SignalMix::ToInt16(mix));
        double first = -1;
        for (const Report& r : chain.Finish()) {
            if (Matches(sent, r)) {
                if (first < 0) first = std::max(0.0, r.arrival - lead);
            } else {
                res.sums["O/" + std::to_string(it.row)] += 1;
                char at[96];
                std::snprintf(at, sizeof at, "%s rep %d at %.1f s: ", signal.c_str(), rep,
                              r.arrival);
                Example(&res, o, "O/" + std::to_string(r.row), at + r.text);
            }
        }
        res.lists["T/" + std::to_string(it.row)].push_back(first);
    }
    return res;
}

Result RunItem(const Item& it, const Options& o) {
    if (it.mode == "false") return RunFalse(it, o);
    if (it.mode == "wrong") return RunWrong(it, o);
    return RunSensitivity(it, o);
}

// Runs every item, at most `jobs` at a time in forked processes.
Result RunAll(const std::vector<Item>& items, const Options& o) {
    Result total;
    if (o.jobs <= 1) {
        for (size_t i = 0; i < items.size(); ++i) {
            total.Merge(RunItem(items[i], o));
            std::fprintf(stderr, "\r  %zu/%zu items done", i + 1, items.size());
        }
        std::fputc('\n', stderr);
        return total;
    }
    std::map<pid_t, std::FILE*> running;
    size_t next = 0, done = 0;
    bool failed = false;
    while (next < items.size() || !running.empty()) {
        while (next < items.size() && running.size() < size_t(o.jobs)) {
            std::FILE* out = std::tmpfile();
            if (out == nullptr) {
                std::perror("tavikmeasure: tmpfile");
                std::exit(1);
            }
            std::fflush(nullptr);
            const pid_t pid = fork();
            if (pid < 0) {
                std::perror("tavikmeasure: fork");
                std::exit(1);
            }
            if (pid == 0) {
                RunItem(items[next], o).Write(out);
                std::fflush(out);
                _exit(0);
            }
            running[pid] = out;
            ++next;
        }
        int status = 0;
        const pid_t pid = wait(&status);
        if (pid < 0) break;
        auto it = running.find(pid);
        if (it == running.end()) continue;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failed = true;
        std::rewind(it->second);
        total.Merge(Result::Read(it->second));
        std::fclose(it->second);
        running.erase(it);
        std::fprintf(stderr, "\r  %zu/%zu items done", ++done, items.size());
    }
    std::fputc('\n', stderr);
    if (failed) {
        std::fprintf(stderr, "tavikmeasure: a worker process failed\n");
        std::exit(1);
    }
    return total;
}

// ---------------------------------------------------------------------------
// Tables (Markdown, so they paste into notes as they are).

// At most `limit` examples per row: each work item keeps that many of its own.
void PrintExamples(const Result& r, const char* prefix, int limit) {
    std::map<int, int> shown;
    for (const auto& e : r.examples) {
        if (e.compare(0, std::strlen(prefix), prefix) != 0) continue;
        const size_t sp = e.find(' ');
        const int row = std::atoi(e.c_str() + std::strlen(prefix));
        if (row < 0 || row >= kRows || shown[row]++ >= limit) continue;
        std::printf("- %s %s: %s\n", kRowFamily[row], kRowKind[row], e.c_str() + sp + 1);
    }
}

std::string Fixed(double v, int decimals) {
    char b[32];
    std::snprintf(b, sizeof b, "%.*f", decimals, v);
    return b;
}

void FalseTable(const Options& o, const std::vector<std::string>& signals) {
    std::vector<Item> items;
    const double total = o.hours * 3600.0, segment = o.segmentMinutes * 60.0;
    const int perSignal = std::max(1, int(std::ceil(total / segment - 1e-9)));
    int index = 0;
    for (const auto& s : signals)
        for (int k = 0; k < perSignal; ++k)
            items.push_back({"false", s, index++, total / perSignal, 0, 0});
    std::fprintf(stderr, "tavikmeasure: false reports, %.2f h on each of %zu signals\n", o.hours,
                 signals.size());
    const Result r = RunAll(items, o);

    double hours = 0;
    for (const auto& s : signals) hours += r.Sum("H/" + s);
    std::printf("\n### False reports (no watermark)\n\n");
    std::printf("Host at %.0f dBFS RMS, 48 kHz 16-bit, one channel, TESK 6 + TESK 2 + ZELT "
                "decoded, filtered display; hours per signal:",
                o.hostLevelDb);
    for (const auto& s : signals) std::printf(" %s %.2f", s.c_str(), r.Sum("H/" + s));
    std::printf(".\n\n| family | kind |");
    for (const auto& s : signals) std::printf(" %s |", s.c_str());
    std::printf(" hours | reports | per hour | per 24 h per channel |\n|---|---|");
    for (size_t i = 0; i < signals.size(); ++i) std::printf("---:|");
    std::printf("---:|---:|---:|---:|\n");
    double familyTotal[4] = {0, 0, 0, 0};
    for (int row = 0; row < kRows; ++row) {
        double n = 0;
        for (const auto& s : signals) n += r.Sum(Key("F", s, row));
        familyTotal[FamilyOf(row)] += n;
        if (row == kOther && n == 0) continue;
        std::printf("| %s | %s |", kRowFamily[row], kRowKind[row]);
        for (const auto& s : signals) std::printf(" %.0f |", r.Sum(Key("F", s, row)));
        std::printf(" %.2f | %.0f | %s | %s |\n", hours, n, Fixed(n / hours, 2).c_str(),
                    FamilyOf(row) == 2 ? Fixed(24 * n / hours, 1).c_str() : "-");
    }
    for (int fam = 0; fam < 3; ++fam) {
        const double n = familyTotal[fam];
        std::printf("| %s | all kinds |", fam == 0 ? "TESK 6" : fam == 1 ? "TESK 2" : "ZELT");
        for (const auto& s : signals) {
            double m = 0;
            for (int row = 0; row < kOther; ++row)
                if (FamilyOf(row) == fam) m += r.Sum(Key("F", s, row));
            std::printf(" %.0f |", m);
        }
        std::printf(" %.2f | %.0f | %s | %s |\n", hours, n, Fixed(n / hours, 2).c_str(),
                    Fixed(24 * n / hours, 1).c_str());
    }
    if (o.examples > 0 && !r.examples.empty()) {
        std::printf("\nExamples:\n\n");
        PrintExamples(r, "F/", o.examples);
    }
    std::fflush(stdout);
}

void WrongTable(const Options& o, const std::vector<std::string>& signals) {
    std::vector<Item> items;
    // Work items of about ten files, spread evenly over the signals.
    const double total = o.hours * 3600.0;
    const int count = std::max(int(signals.size()), int(std::ceil(total / (10 * o.fileSeconds))));
    for (int k = 0; k < count; ++k)
        items.push_back({"wrong", signals[size_t(k) % signals.size()], k, total / count, 0, 0});
    std::fprintf(stderr, "tavikmeasure: wrong content, %.2f h of mixed-family files\n", o.hours);
    const Result r = RunAll(items, o);
    const double hours = r.Sum("H/all");
    std::printf("\n### Wrong content (all three families on one channel)\n\n");
    std::printf("Files of %.0f s, each family at %.0f dB to the host; hosts:", o.fileSeconds,
                o.ratioDb);
    for (const auto& s : signals) std::printf(" %s", s.c_str());
    std::printf("; %.2f h in all.\n\n", hours);
    std::printf("| family | kind | hours | codes sent | exact reports | wrong content | of which "
                "only the time code | wrong per hour | missing |\n"
                "|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int row = 0; row < kRows; ++row) {
        const double sent = r.Sum(Key("N", "all", row)), wrong = r.Sum(Key("W", "all", row));
        if (row == kOther && wrong == 0) continue;
        std::printf("| %s | %s | %.2f | %.0f | %.0f | %.0f | %.0f | %s | %.0f |\n",
                    kRowFamily[row], kRowKind[row], hours, sent, r.Sum(Key("X", "all", row)),
                    wrong, r.Sum(Key("I", "all", row)), Fixed(wrong / hours, 2).c_str(),
                    r.Sum(Key("M", "all", row)));
    }
    if (o.examples > 0 && !r.examples.empty()) {
        std::printf("\nExamples of wrong content:\n\n");
        PrintExamples(r, "W/", o.examples);
        std::printf("\nExamples of codes never reported exactly:\n\n");
        PrintExamples(r, "M/", o.examples);
    }
    std::fflush(stdout);
}

void SensitivityTable(const Options& o, const std::vector<std::string>& signals) {
    std::vector<Item> items;
    // Each kind's repetitions in a few items, so both cores stay busy; the
    // items of one kind differ in their seeds through their index.
    const int chunks = std::max(1, std::min(o.reps, 4));
    for (int row = 0; row < kOther; ++row)
        for (int c = 0; c < chunks; ++c) {
            const int reps = o.reps / chunks + (c < o.reps % chunks ? 1 : 0);
            if (reps > 0) items.push_back({"sensitivity", "", row * 10 + c, 0, row, reps});
        }
    std::fprintf(stderr, "tavikmeasure: sensitivity, %d repetitions of %.0f s per kind\n", o.reps,
                 o.trialSeconds);
    Options so = o;
    so.signals = signals;
    const Result r = RunAll(items, so);
    std::printf("\n### Sensitivity (each kind alone)\n\n");
    std::printf("%d repetitions of %.0f s per kind at %.0f dB to the host, each with its own "
                "content, lead of 0-3 s and clock phase; hosts in turn:",
                o.reps, o.trialSeconds, o.ratioDb);
    for (const auto& s : signals) std::printf(" %s", s.c_str());
    std::printf(". Time from the start of the watermark to the first exact report.\n\n");
    std::printf("| family | kind | repetitions | reported | share | median first (s) | max first "
                "(s) | other reports |\n|---|---|---:|---:|---:|---:|---:|---:|\n");
    for (int row = 0; row < kOther; ++row) {
        auto it = r.lists.find("T/" + std::to_string(row));
        std::vector<double> t;
        int n = 0;
        if (it != r.lists.end()) {
            n = int(it->second.size());
            for (double x : it->second)
                if (x >= 0) t.push_back(x);
        }
        std::sort(t.begin(), t.end());
        const std::string median = t.empty() ? "-" : Fixed(t[t.size() / 2], 1);
        const std::string worst = t.empty() ? "-" : Fixed(t.back(), 1);
        std::printf("| %s | %s | %d | %zu | %s%% | %s | %s | %.0f |\n", kRowFamily[row],
                    kRowKind[row], n, t.size(), Fixed(n ? 100.0 * t.size() / n : 0, 0).c_str(),
                    median.c_str(), worst.c_str(), r.Sum("O/" + std::to_string(row)));
    }
    if (o.examples > 0 && !r.examples.empty()) {
        std::printf("\nExamples of other reports:\n\n");
        PrintExamples(r, "O/", o.examples);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    std::vector<std::string> signals;
    for (const auto& s : o.signals) {
        if (s == "speech") {
            std::string why;
            if (!measure::SpeechLibrary::Prepare(o.cache, &why) || !gSpeech.Load(o.cache, &why)) {
                std::fprintf(stderr, "tavikmeasure: speech skipped: %s\n", why.c_str());
                std::printf("Speech skipped: %s.\n", why.c_str());
                continue;
            }
        }
        signals.push_back(s);
    }
    if (signals.empty()) {
        std::fprintf(stderr, "tavikmeasure: no signal left to measure\n");
        return 1;
    }
    MeasureReport::Instance();  // created before any fork, as the library does once
    std::printf("tavikmeasure %s: seed %u, ratio %.0f dB, host level %.0f dBFS\n", o.mode.c_str(),
                o.seed, o.ratioDb, o.hostLevelDb);
    if (o.mode == "false" || o.mode == "all") FalseTable(o, signals);
    if (o.mode == "wrong" || o.mode == "all") WrongTable(o, signals);
    if (o.mode == "sensitivity" || o.mode == "all") SensitivityTable(o, signals);
    return 0;
}
