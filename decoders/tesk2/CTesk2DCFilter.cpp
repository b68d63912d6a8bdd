#include "decoders/tesk2/CTesk2DCFilter.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/CUCCValidator.h"
#include "dsp/CircData.h"
#include "timebase/TeskTime.h"

namespace {

const char* DistName(uint32_t dist) {
    switch (dist) {
        case 0:
            return "COMM_STD";
        case 1:
            return "PC";
        case 2:
            return "FD";
        default:
            return "UN";
    }
}

const char* LayerName(uint32_t layer) {
    switch (layer) {
        case 0:
            return "PROG";
        case 1:
            return "COMM_STD";
        case 2:
            return "COMM_RS";
        default:
            return "UN";
    }
}

// Reads an integer member (any JSON number) as its 64-bit value.
bool ReadInt(const rapidjson::Value& obj, const char* key, int64_t& out) {
    auto it = obj.FindMember(key);
    if (it == obj.MemberEnd() || !it->value.IsNumber()) return false;
    if (it->value.IsInt64()) {
        out = it->value.GetInt64();
    } else if (it->value.IsUint64()) {
        out = int64_t(it->value.GetUint64());
    } else {
        out = int64_t(it->value.GetDouble());
    }
    return true;
}

}  // namespace

CTesk2DCFilter::CTesk2DCFilter() { initDCFilter(); }

void CTesk2DCFilter::initDCFilter() {
    m_allowNegativeNonProg = 1;
    m_writeIndex = 0;
    ClearDetection(m_current);
    for (auto& e : m_ring) {
        ClearDetection(e.det);
        e.reportedSingle = 0;
        e.reportedPair = 0;
        e.used = false;
    }
}

void CTesk2DCFilter::ClearDetection(_WATERMARK_Detection_t& d) {
    memset(&d, 0, sizeof(d));
    d.phase = 748;
    d.timestamp = 0xFFFFFFFFu;
    d.dist = 1;
    d.transmission = 2;
}

void CTesk2DCFilter::CopyDetection(const _WATERMARK_Detection_t& from, _WATERMARK_Detection_t& to) {
    to = from;
}

bool CTesk2DCFilter::ConvertJsonStrToDetectionStruct(std::string json) {
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError() || !doc.IsObject()) return false;
    auto top = doc.FindMember("TESK2");
    if (top == doc.MemberEnd() || !top->value.IsObject()) return false;
    const rapidjson::Value& o = top->value;
    _WATERMARK_Detection_t& d = m_current;

    auto et = o.FindMember("elapsedTime");
    if (et == o.MemberEnd() || !et->value.IsNumber()) return false;
    d.elapsedTime = et->value.GetDouble();

    int64_t v = 0;
    if (!ReadInt(o, "firstSymAge", v)) return false;
    d.start = uint32_t(v);
    if (!ReadInt(o, "lastSymAge", v)) return false;
    d.end = uint32_t(v);
    if (!ReadInt(o, "quality", v)) return false;
    d.quality = uint16_t(v);
    if (!ReadInt(o, "strength", v)) return false;
    d.strength = int16_t(v);
    if (!ReadInt(o, "depth", v)) return false;
    d.depth = uint16_t(v);
    if (!ReadInt(o, "phase", v)) return false;
    d.phase = uint16_t(v);
    if (!ReadInt(o, "timestamp", v)) return false;
    d.timestamp = uint32_t(v);
    if (!ReadInt(o, "dst", v)) return false;
    d.dst = uint16_t(v);
    if (!ReadInt(o, "systemTime", v)) return false;  // read, not kept

    auto layer = o.FindMember("layer");
    if (layer == o.MemberEnd() || !layer->value.IsString()) return false;
    const std::string ln = layer->value.GetString();
    d.layer = ln == "PROG" ? 0u : ln == "COMM_STD" ? 1u : ln == "COMM_RS" ? 2u : 3u;

    d.sid = ReadInt(o, "sid", v) ? uint32_t(v) : 0u;
    d.commId = 0;
    auto cid = o.FindMember("commId");
    if (cid != o.MemberEnd() && cid->value.IsString()) {
        d.commId = strtoull(cid->value.GetString(), nullptr, 16);
    }

    auto dist = o.FindMember("dist");
    if (dist == o.MemberEnd() || !dist->value.IsString()) return false;
    char distText[16];
    snprintf(distText, sizeof(distText), "%s", dist->value.GetString());
    d.dist = !strcmp(distText, "COMM_STD") ? 0
             : !strcmp(distText, "PC")     ? 1
             : !strcmp(distText, "FD")     ? 2
                                           : 3;

    if (!ReadInt(o, "sampleBlockIndex", v)) return false;
    d.sampleBlockIndex = uint32_t(v);
    if (!ReadInt(o, "redundantCommStd", v)) return false;
    d.redundant = uint32_t(v);
    return true;
}

int CTesk2DCFilter::ProcessDetection(std::string json, std::vector<std::string>& out) {
    out.clear();
    bool ok = false;
    try {
        std::string copy(json);
        ok = ConvertJsonStrToDetectionStruct(copy);
    } catch (...) {
        throw "Unable to parse/extract json detection.";
    }
    if (!ok) throw "Failed to parse/extract json detection.";
    FilterDetection(out);
    return int(out.size());
}

int CTesk2DCFilter::ValidateDetection(const _WATERMARK_Detection_t& a,
                                      const _WATERMARK_Detection_t& b, int allowNegative) {
    // Program phases run to 1495 (a 1496-frame repetition); taken as they are,
    // the circular difference on 748 could go negative and let any pair
    // through, so both phases are first brought onto the 748 circle.
    if (CircData_Abs_Difference(a.phase % kPhaseModulus, b.phase % kPhaseModulus, kPhaseModulus) >
        kMaxPhaseDifference) {
        return 0;
    }
    const int32_t gap =
        CircData_Signed_Difference(int32_t(a.start), int32_t(b.end), kTimeModulusMs);
    if (!allowNegative && gap < 0) return 0;
    const int same = (a.sid == b.sid && a.dist == b.dist && a.dst == b.dst) ? 1 : 0;
    const int32_t dts =
        CircData_Signed_Difference(int32_t(a.timestamp), int32_t(b.timestamp), kTimestampModulus) -
        (CircData_Signed_Difference(int32_t(a.end), int32_t(b.end), kTimeModulusMs) + 500) / 1000;
    return same + ((dts < 3 && dts > -3) ? 2 : 0);
}

void CTesk2DCFilter::emitDetection(const _WATERMARK_Detection_t& d, std::vector<std::string>& out) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    w.Key("TESK2");
    w.StartObject();
    w.Key("elapsedTime");
    w.Double(d.elapsedTime);
    w.Key("layer");
    w.String(LayerName(d.layer));
    if (d.layer == 2) {
        char hex[32];
        snprintf(hex, sizeof(hex), "0x%llx", (unsigned long long)d.commId);
        w.Key("commId");
        w.String(hex);
    } else {
        w.Key("sid");
        w.Uint(d.sid);
    }
    w.Key("firstSymAge");
    w.Int(int32_t(d.start));
    w.Key("lastSymAge");
    w.Int(int32_t(d.end));
    w.Key("quality");
    w.Uint(d.quality);
    w.Key("strength");
    w.Int(d.strength);
    w.Key("depth");
    w.Uint(d.depth);
    w.Key("phase");
    w.Uint(d.phase);
    w.Key("timestamp");
    w.Int(int32_t(d.timestamp));
    w.Key("dst");
    w.Uint(d.dst);
    w.Key("systemTime");
    uint8_t ambiguity = 0;
    w.Uint(Tesk2ToPosix(d.dst == 1 ? (d.timestamp | 0x80000000u) : d.timestamp, &ambiguity));
    w.Key("dist");
    w.String(DistName(d.dist));
    w.Key("sampleBlockIndex");
    w.Uint(d.sampleBlockIndex);
    w.Key("redundantCommStd");
    w.Uint(d.redundant);
    w.EndObject();
    w.EndObject();
    out.emplace_back(sb.GetString(), sb.GetSize());
}

void CTesk2DCFilter::FilterDetection(std::vector<std::string>& out) {
    _WATERMARK_Detection_t& c = m_current;
    if (c.layer == 2) {
        if (CUCCValidator::IsValidCommID(long(c.commId))) emitDetection(c, out);
        return;
    }
    const uint32_t now =
        uint32_t(double(float(c.sampleBlockIndex) * 1000.0f) * 0.0026666666666666666);
    Entry& fresh = m_ring[m_writeIndex];
    CopyDetection(c, fresh.det);
    fresh.det.start = now - c.start;
    fresh.det.end = now - c.end;
    fresh.reportedSingle = 0;
    fresh.reportedPair = 0;
    fresh.used = true;

    // Copy of an entry with its absolute times turned back into ages.
    auto asReported = [now](const _WATERMARK_Detection_t& d, bool dropTimestamp) {
        _WATERMARK_Detection_t r = d;
        r.start = now - d.start;
        r.end = now - d.end;
        if (dropTimestamp) r.timestamp = 0xFFFFFFFFu;
        return r;
    };

    const int allowNegative = (c.layer == 0) ? 0 : m_allowNegativeNonProg;
    for (int i = 1; i < kRingSize; ++i) {
        Entry& old = m_ring[(m_writeIndex - i + kRingSize) % kRingSize];
        // Slots never written hold no detection and must never confirm one
        // (a cleared slot's phase 748 lies at 0 on the 748 circle).
        if (!old.used || old.det.layer != fresh.det.layer) continue;
        if (fresh.reportedPair && old.reportedPair) continue;
        const int r = ValidateDetection(fresh.det, old.det, allowNegative);
        if (c.layer == 0 && r == 1) {
            for (Entry* e : {&old, &fresh}) {
                if (e->reportedSingle) continue;
                emitDetection(asReported(e->det, true), out);
                e->reportedSingle = 1;
            }
        } else if (r == 3) {
            for (Entry* e : {&old, &fresh}) {
                if (e->reportedPair) continue;
                emitDetection(asReported(e->det, false), out);
                e->reportedPair = 1;
                e->reportedSingle = 1;
            }
        }
    }
    m_writeIndex = (m_writeIndex + 1) % kRingSize;
}
