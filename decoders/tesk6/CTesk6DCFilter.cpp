#include "decoders/tesk6/CTesk6DCFilter.h"

#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decoders/tesk6/Tesk6DetectionText.h"
#include "decoders/tesk6/TeskDetectionJson.h"
#include "dsp/CUCCValidator.h"
#include "dsp/CircData.h"
#include "timebase/TeskTime.h"

namespace {

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

CTesk6DCFilter::CTesk6DCFilter() { initDCFilter(); }

void CTesk6DCFilter::initDCFilter() {
    m_maxGap = kMaxGapMs;
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

void CTesk6DCFilter::ClearDetection(_WATERMARK_Detection_t& d) {
    memset(&d, 0, sizeof(d));
    d.phase = 50;
    d.timestamp = 0xFFFFFFFFu;
}

void CTesk6DCFilter::CopyDetection(const _WATERMARK_Detection_t& from, _WATERMARK_Detection_t& to) {
    to = from;
}

bool CTesk6DCFilter::ConvertJsonStrToDetectionStruct(std::string json) {
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError() || !doc.IsObject()) return false;
    auto top = doc.FindMember(kTesk6Key);
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
    if (!ReadInt(o, "transmission", v)) return false;
    d.transmission = uint32_t(v);
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
    d.dist = Tesk6DistCode(distText);

    if (!ReadInt(o, "sampleBlockIndex", v)) return false;
    d.sampleBlockIndex = uint32_t(v);
    if (!ReadInt(o, "redundantCommStd", v)) return false;
    d.redundant = uint32_t(v);
    return true;
}

int CTesk6DCFilter::ProcessDetection(std::string json, std::vector<std::string>& out) {
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

int CTesk6DCFilter::ValidateDetection(const _WATERMARK_Detection_t& a,
                                      const _WATERMARK_Detection_t& b, int allowNegative,
                                      uint32_t maxGap) {
    if (CircData_Abs_Difference(a.phase, b.phase, 50) > 2) return 0;
    const int32_t gap =
        CircData_Signed_Difference(int32_t(a.start), int32_t(b.end), kTimeModulusMs);
    if ((!allowNegative && gap < 0) || (gap > 0 && uint32_t(gap) > maxGap)) return 0;
    const int same =
        (a.sid == b.sid && a.dist == b.dist && a.dst == b.dst && a.transmission == b.transmission)
            ? 1
            : 0;
    const int32_t dts =
        CircData_Signed_Difference(int32_t(a.timestamp), int32_t(b.timestamp), kTimestampModulus) -
        (CircData_Signed_Difference(int32_t(a.end), int32_t(b.end), kTimeModulusMs) + 500) / 1000;
    return same + ((dts < 3 && dts > -3) ? 2 : 0);
}

void CTesk6DCFilter::emitDetection(const _WATERMARK_Detection_t& d, std::vector<std::string>& out) {
    TeskDetectionText t;
    t.elapsedTime = d.elapsedTime;
    t.layer = TeskLayerName(d.layer);
    t.commRs = d.layer == 2;
    t.commId = d.commId;
    t.sid = d.sid;
    t.firstSymAge = int32_t(d.start);
    t.lastSymAge = int32_t(d.end);
    t.quality = d.quality;
    t.strength = d.strength;
    t.depth = d.depth;
    t.phase = d.phase;
    t.timestamp = int32_t(d.timestamp);
    t.dst = d.dst;
    t.systemTime = Tesk6ToPosix(d.timestamp, uint8_t(d.dst));
    t.dist = Tesk6DistName(d.dist);
    t.hasTransmission = true;
    t.transmission = d.transmission;
    t.sampleBlockIndex = d.sampleBlockIndex;
    t.redundantCommStd = d.redundant;
    out.push_back(TeskDetectionJson(kTesk6Key, t));
}

void CTesk6DCFilter::FilterDetection(std::vector<std::string>& out) {
    _WATERMARK_Detection_t& c = m_current;
    if (c.layer == 2) {
        if (CUCCValidator::IsValidCommID(long(c.commId))) emitDetection(c, out);
        return;
    }
    const uint32_t now = uint32_t(float(c.sampleBlockIndex) * 1000.0f * 0.032f);
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
        // Slots never written hold no detection and must never confirm one.
        if (!old.used || old.det.layer != fresh.det.layer) continue;
        if (fresh.reportedPair && old.reportedPair) continue;
        const int r = ValidateDetection(fresh.det, old.det, allowNegative, m_maxGap);
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
