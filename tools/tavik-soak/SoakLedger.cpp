#include "tools/tavik-soak/SoakLedger.h"

#include <rapidjson/document.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace soak {

namespace {

// How far a reported time may lie from the audio clock at the report: TESK
// time codes follow the encoder clock to the second (the report comes a few
// seconds after the message); a ZELT time names the minute of the message.
constexpr double kTeskTimeTolerance = 30.0;
constexpr double kZeltTimeTolerance = 300.0;
// Repeats closer than this are the same message (the filter drops program
// repeats; commercial identifiers come once per depth that found them).
constexpr double kRepeatSeconds = 0.3;
// Texts remembered per channel to find a detection delivered twice.
constexpr size_t kRecentTexts = 256;
constexpr int kExamplesPerKind = 3;

uint64_t Hex(const rapidjson::Value& v) {
    return v.IsString() ? std::strtoull(v.GetString(), nullptr, 16) : 0;
}

}  // namespace

const char* KindName(int kind) {
    static const char* const names[kKindCount] = {"TESK 6 program",  "TESK 6 commercial RS",
                                                  "TESK 2 program",  "TESK 2 commercial RS",
                                                  "ZELT program",    "ZELT commercial"};
    return kind >= 0 && kind < kKindCount ? names[kind] : "?";
}

std::string CodeKey(int kind, uint64_t value, int zeltLayer) {
    char b[48];
    switch (kind) {
        case kT6Prog: std::snprintf(b, sizeof b, "T6P:%llu", (unsigned long long)value); break;
        case kT6Rs: std::snprintf(b, sizeof b, "T6R:0x%llx", (unsigned long long)value); break;
        case kT2Prog: std::snprintf(b, sizeof b, "T2P:%llu", (unsigned long long)value); break;
        case kT2Rs: std::snprintf(b, sizeof b, "T2R:0x%llx", (unsigned long long)value); break;
        case kZeltProg:
            std::snprintf(b, sizeof b, "ZP%d:0x%04llx", zeltLayer, (unsigned long long)value);
            break;
        default: std::snprintf(b, sizeof b, "ZR:0x%llx", (unsigned long long)value); break;
    }
    return b;
}

ParsedReport ParseDetection(const char* text) {
    ParsedReport r;
    rapidjson::Document doc;
    doc.Parse(text);
    if (doc.HasParseError() || !doc.IsObject() || doc.MemberCount() != 1) {
        r.problem = "not a detection text";
        return r;
    }
    const auto& member = *doc.MemberBegin();
    const std::string family = member.name.GetString();
    const rapidjson::Value& d = member.value;
    if (!d.IsObject() || !d.HasMember("layer") || !d.HasMember("elapsedTime")) {
        r.problem = family + " without layer";
        return r;
    }
    r.elapsed = d["elapsedTime"].GetDouble();
    if (family == "TESK6" || family == "TESK2") {
        const bool six = family == "TESK6";
        const std::string layer = d["layer"].IsString() ? d["layer"].GetString() : "";
        if (layer == "PROG" && d.HasMember("sid")) {
            r.kind = six ? kT6Prog : kT2Prog;
            r.key = CodeKey(r.kind, d["sid"].GetUint());
            r.hasTime = true;
            r.timestamp = d["timestamp"].GetInt64();
            r.systemTime = d["systemTime"].GetInt64();
        } else if (layer == "COMM_RS" && d.HasMember("commId")) {
            r.kind = six ? kT6Rs : kT2Rs;
            r.key = CodeKey(r.kind, Hex(d["commId"]));
        } else {
            r.problem = family + " " + layer;
            return r;
        }
    } else if (family == "ZELT") {
        const int layer = d["layer"].GetInt();
        if (layer == 4) {
            r.kind = kZeltRs;
            r.key = CodeKey(r.kind, Hex(d["commId"]));
        } else if (layer == 1 || layer == 2 || layer == 5) {
            r.kind = kZeltProg;
            r.key = CodeKey(r.kind, Hex(d["id"]), layer);
            r.timestamp = d["timestamp"].GetInt64();
            r.hasTime = r.timestamp >= 0 && r.timestamp < 40320;  // 65535: time not heard
            r.systemTime = d["systemTime"].GetInt64();
        } else {
            r.problem = "ZELT layer " + std::to_string(layer);
            return r;
        }
    } else {
        r.problem = "family " + family;
        return r;
    }
    r.ok = true;
    return r;
}

uint64_t Totals::Expected() const {
    uint64_t n = 0;
    for (uint64_t v : expected) n += v;
    return n;
}
uint64_t Totals::Received() const {
    uint64_t n = 0;
    for (uint64_t v : received) n += v;
    return n;
}
uint64_t Totals::Missing() const {
    uint64_t n = 0;
    for (uint64_t v : missing) n += v;
    return n;
}

SoakLedger::SoakLedger(unsigned channels, uint32_t startPosix, double needSeconds,
                       double graceSeconds)
    : channels_(channels), startPosix_(startPosix), need_(needSeconds), grace_(graceSeconds) {}

void SoakLedger::Close(Segment& s, double end) {
    if (!s.open) return;
    for (const Code& c : s.codes) {
        if (end - c.code.onAirFrom >= need_) {
            ++totals_.expected[c.code.kind];
            if (c.reports > 0)
                ++totals_.received[c.code.kind];
            else
                ++totals_.missing[c.code.kind];
        } else {
            ++totals_.shortOnAir;
            if (c.reports > 0) ++totals_.shortReported;
        }
    }
    s = Segment();
}

void SoakLedger::StartSegment(unsigned channel, double t, std::vector<ExpectedCode> codes) {
    if (channel >= channels_.size()) return;
    Channel& ch = channels_[channel];
    // The segment before the previous one can no longer receive reports.
    Close(ch.previous, ch.previous.end);
    if (ch.current.open) {
        ch.current.end = t;
        ch.previous = std::move(ch.current);
    }
    ch.current = Segment();
    ch.current.open = true;
    ch.current.start = t;
    for (ExpectedCode& c : codes) ch.current.codes.push_back(Code{std::move(c)});
}

SoakLedger::Code* SoakLedger::Find(Segment& s, const std::string& key) {
    if (!s.open) return nullptr;
    for (Code& c : s.codes)
        if (c.code.key == key) return &c;
    return nullptr;
}

void SoakLedger::Wrong(uint64_t& counter, unsigned channel, double t, const std::string& why,
                       const char* text) {
    ++counter;
    // A few examples of each kind of wrong report.
    int& shown = examplesShown_[&counter];
    if (shown < kExamplesPerKind) {
        ++shown;
        char b[96];
        std::snprintf(b, sizeof b, "channel %u at %.1f s: %s: ", channel, t, why.c_str());
        totals_.wrongExamples.push_back(b + std::string(text));
    }
}

void SoakLedger::Report(unsigned channel, double t, const char* text) {
    ++totals_.reports;
    if (channel >= channels_.size()) {
        Wrong(totals_.wrongChannel, channel, t, "channel not fed", text);
        return;
    }
    Channel& ch = channels_[channel];

    const std::string whole(text);
    if (ch.recentSet.count(whole)) {
        ++totals_.duplicates;
        return;
    }
    ch.recent.push_back(whole);
    ch.recentSet.insert(whole);
    if (ch.recent.size() > kRecentTexts) {
        ch.recentSet.erase(ch.recent.front());
        ch.recent.pop_front();
    }

    const ParsedReport r = ParseDetection(text);
    if (!r.ok) {
        const bool commStd = r.problem.find("COMM_STD") != std::string::npos;
        Wrong(commStd ? totals_.wrongCommStd : totals_.wrongUnknown, channel, t, r.problem, text);
        return;
    }
    Code* code = Find(ch.current, r.key);
    if (code == nullptr) {
        code = Find(ch.previous, r.key);
        if (code != nullptr && t - ch.previous.end > grace_) {
            Wrong(totals_.wrongLate, channel, t, "late", text);
            return;
        }
    }
    if (code == nullptr) {
        for (size_t other = 0; other < channels_.size(); ++other) {
            if (other == channel) continue;
            if (Find(channels_[other].current, r.key) || Find(channels_[other].previous, r.key)) {
                Wrong(totals_.wrongChannel, channel, t, "sent on channel " + std::to_string(other),
                      text);
                return;
            }
        }
        Wrong(totals_.wrongUnknown, channel, t, "never sent", text);
        return;
    }
    if ((r.kind == kT6Prog || r.kind == kT2Prog) && r.timestamp < 0) {
        ++totals_.withoutTime;
        ++code->reports;
        return;
    }
    if (r.hasTime) {
        const double clock = startPosix_ + r.elapsed;
        const double tolerance = r.kind == kZeltProg ? kZeltTimeTolerance : kTeskTimeTolerance;
        if (std::fabs(double(r.systemTime) - clock) > tolerance) {
            Wrong(totals_.wrongTime, channel, t, "time off the clock", text);
            return;
        }
    }
    if (std::fabs(r.elapsed - code->lastElapsed) < kRepeatSeconds) {
        if (r.kind == kT6Prog || r.kind == kT2Prog)
            ++totals_.nearRepeats;
        else
            ++totals_.copies;
    }
    code->lastElapsed = r.elapsed;
    ++code->reports;
}

void SoakLedger::Finish(double t) {
    for (Channel& ch : channels_) {
        Close(ch.previous, ch.previous.end);
        Close(ch.current, t);
    }
}

}  // namespace soak
