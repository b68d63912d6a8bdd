#include "app/CTesk6DecoderFilteredCallback.h"

#include <rapidjson/document.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "app/CTavikReportCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "decoders/tesk6/Tesk6DetectionText.h"
#include "decoders/tesk6/TeskDetectionJson.h"
#include "timebase/TeskTime.h"

int32_t CTesk6DecoderFilteredCallback::m_nTesk6ChannelSelection = 0;

namespace {

const char* kInvalidJson = "Received invalid JSON format for TESK 6 parameters";

int64_t ReadInt(const rapidjson::Value& o, const char* key) {
    auto it = o.FindMember(key);
    if (it == o.MemberEnd() || !it->value.IsNumber()) return 0;
    if (it->value.IsInt64()) return it->value.GetInt64();
    if (it->value.IsUint64()) return int64_t(it->value.GetUint64());
    return int64_t(it->value.GetDouble());
}

}  // namespace

CTesk6DecoderFilteredCallback::CTesk6DecoderFilteredCallback() = default;
CTesk6DecoderFilteredCallback::~CTesk6DecoderFilteredCallback() = default;

int CTesk6DecoderFilteredCallback::ChannelFromName(const char* name) {
    if (name == nullptr) return -1;
    const size_t len = strlen(name);
    size_t digits = 0;
    while (digits < len && isdigit(static_cast<unsigned char>(name[len - 1 - digits]))) ++digits;
    if (digits == 0 || digits > 9 || len < digits + 2) return -1;
    const char* ch = name + len - digits - 2;
    if (ch[0] != 'c' || ch[1] != 'h') return -1;
    return atoi(name + len - digits);
}

void CTesk6DecoderFilteredCallback::init(void* config, int major, int minor, int patch,
                                         char* name) {
    const SampleAppConfigurationData* cfg = static_cast<const SampleAppConfigurationData*>(config);
    m_report = cfg ? cfg->reportCallback : nullptr;
    if (m_report == nullptr) return;
    m_showDateTime = cfg->displayDateTimeString;
    m_reportMode = cfg->reportMode;
    m_outputToConsole = cfg->outputToConsole;
    if (m_outputToConsole) printf("TESK 6 decoder, version %d.%d.%d.\n\n", major, minor, patch);
    m_filter.initDCFilter();
    const int fromName = ChannelFromName(name);
    m_channel = fromName >= 0 ? fromName : m_nTesk6ChannelSelection;
    ++m_nTesk6ChannelSelection;
}

void CTesk6DecoderFilteredCallback::LogCallback(int code, const char* text) {
    if (!m_outputToConsole) return;
    if (text != nullptr && text[0] != '\0') {
        printf("Code %d: %s\n", code, text);
    } else {
        printf("Error code %d\n", code);
    }
}

void CTesk6DecoderFilteredCallback::Report(const std::string& text) {
    std::string copy(text);
    m_report->setAudioCodes(unsigned(m_channel), &copy);
}

void CTesk6DecoderFilteredCallback::ResultCallback(std::string json) {
    if (!ReportTw) return;
    if (m_report == nullptr) return;  // unconfigured: nowhere to report
    if (bTwRawOutput) {
        Report(json);
        return;
    }
    if (json.find("TESK6") == std::string::npos) return;
    {
        rapidjson::Document doc;
        doc.Parse(json.c_str(), json.size());
        if (doc.HasParseError()) throw std::runtime_error(kInvalidJson);
        if (doc.IsObject()) {
            auto t = doc.FindMember("TESK6");
            if (t != doc.MemberEnd() && t->value.IsObject()) {
                auto r = t->value.FindMember("redundantCommStd");
                if (r != t->value.MemberEnd() && r->value.IsNumber() && r->value.GetDouble() == 1.0)
                    return;
            }
        }
    }
    if (m_filter.ProcessDetection(json, m_filterOutput) > 0) {
        const std::vector<std::string> released = m_filterOutput;
        for (const std::string& text : released) HandleFiltered(text);
    }
}

void CTesk6DecoderFilteredCallback::HandleFiltered(const std::string& text) {
    Watermark_Detection_Record_t r;
    if (!ExtractRecord(text, r)) throw std::runtime_error(kInvalidJson);
    if (r.layer == 2) {
        auto it = m_lastSampleBlock.find(r.commId);
        if (it != m_lastSampleBlock.end() && it->second == r.sampleBlockIndex) return;
        m_lastSampleBlock[r.commId] = r.sampleBlockIndex;
    } else {
        AnchorStep(r);
        if (!DuplicateStep(r)) return;
    }
    Report(BuildOutput(r));
}

bool CTesk6DecoderFilteredCallback::ExtractRecord(const std::string& json,
                                                  Watermark_Detection_Record_t& r) {
    memset(&r, 0, sizeof(r));
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError() || !doc.IsObject()) return false;
    auto top = doc.FindMember("TESK6");
    if (top == doc.MemberEnd() || !top->value.IsObject()) return false;
    const rapidjson::Value& o = top->value;

    auto layer = o.FindMember("layer");
    if (layer != o.MemberEnd() && layer->value.IsString() && layer->value.GetStringLength() < 32) {
        const std::string ln = layer->value.GetString();
        if (ln == "COMM_STD") r.layer = 1;
        if (ln == "COMM_RS") r.layer = 2;
    }
    r.firstSymAge = int32_t(ReadInt(o, "firstSymAge"));
    r.lastSymAge = int32_t(ReadInt(o, "lastSymAge"));
    r.quality = uint16_t(ReadInt(o, "quality"));
    r.strength = int16_t(ReadInt(o, "strength"));
    r.depth = uint16_t(ReadInt(o, "depth"));
    r.phase = uint16_t(ReadInt(o, "phase"));
    r.timestamp = int32_t(ReadInt(o, "timestamp"));
    r.distribution = 4;
    auto dist = o.FindMember("dist");
    if (dist != o.MemberEnd() && dist->value.IsString() && dist->value.GetStringLength() < 16) {
        r.distribution = Tesk6DistCode(dist->value.GetString());
    }
    r.dst = ReadInt(o, "dst") != 0 ? 1 : 0;
    const int64_t tr = ReadInt(o, "transmission");
    r.transmission = tr <= 0 ? 0u : tr == 1 ? 1u : 2u;
    auto et = o.FindMember("elapsedTime");
    if (et != o.MemberEnd() && et->value.IsNumber()) r.elapsedTime = et->value.GetDouble();
    r.sampleBlockIndex = uint32_t(ReadInt(o, "sampleBlockIndex"));
    r.redundantComm = uint32_t(ReadInt(o, "redundantCommStd"));
    if (r.layer == 2) {
        r.commRs = 1;
        auto c = o.FindMember("commId");
        if (c != o.MemberEnd() && c->value.IsString()) {
            char buf[33];
            snprintf(buf, sizeof(buf), "%s", c->value.GetString());
            r.commId = strtoull(buf, nullptr, 16);
        }
        r.sid = 0;
    } else {
        r.sid = uint16_t(ReadInt(o, "sid"));
        r.commId = 0;
    }
    return true;
}

void CTesk6DecoderFilteredCallback::AnchorStep(Watermark_Detection_Record_t& r) {
    const unsigned s = r.sid;
    if (r.timestamp < 0) r.noAnchor = 1;
    RecordPtr& a0 = m_anchor0[s];
    RecordPtr& a1 = m_anchor1[s];
    RecordPtr& main = m_mainAnchor[s];
    if (!r.noAnchor) {
        if (!a0) {
            a0.reset(new Watermark_Detection_Record_t(r));
        } else if (!a1) {
            a1.reset(new Watermark_Detection_Record_t(r));
        }
    }
    if (a0 && a1) {
        const int64_t de = int64_t(a1->elapsedTime - a0->elapsedTime);
        const int64_t dt = int64_t(a1->timestamp) - int64_t(a0->timestamp);
        if (std::llabs(de - dt) < 3) main.reset(new Watermark_Detection_Record_t(*a1));
        a0.reset(new Watermark_Detection_Record_t(*a1));
        a1.reset();
    }
    if (!main) return;
    const int64_t d = int64_t(r.elapsedTime - main->elapsedTime);
    const int64_t candidate = int64_t(main->timestamp) + d;
    int32_t& count = m_correctionCount[s];
    if (count > 1) {
        main.reset();
        count = 0;
        return;
    }
    if (!(std::llabs(d) <= 25 && candidate >= 0 && candidate < 0x20000000)) {
        main.reset();
        return;
    }
    if (std::llabs(int64_t(r.timestamp) - candidate) > 1) {
        r.timestamp = int32_t(candidate);
        if (a0) *a0 = r;
        r.corrected = 1;
        ++count;
    }
}

bool CTesk6DecoderFilteredCallback::DuplicateStep(const Watermark_Detection_Record_t& r) {
    auto it = m_lastElapsed.find(r.sid);
    const double last = it == m_lastElapsed.end() ? 0.0 : it->second;
    const double gap = r.elapsedTime > last ? r.elapsedTime - last : 0.0;
    if (last >= 0.001 && gap < 0.3) return false;
    if (r.timestamp >= 1) m_lastElapsed[r.sid] = r.elapsedTime;
    return true;
}

std::string CTesk6DecoderFilteredCallback::BuildOutput(const Watermark_Detection_Record_t& r) {
    TeskDetectionText t;
    t.elapsedTime = r.elapsedTime;
    t.layer = r.layer == 2 ? "COMM_RS" : r.layer == 1 ? "COMM_STD" : "PROG";
    t.commRs = r.layer == 2;
    t.commId = r.commId;
    t.sid = r.sid;
    t.firstSymAge = r.firstSymAge;
    t.lastSymAge = r.lastSymAge;
    t.quality = r.quality;
    t.strength = r.strength;
    t.depth = r.depth;
    t.phase = r.phase;
    t.timestamp = r.timestamp;
    t.dst = r.dst;
    t.systemTime = Tesk6ToPosix(uint32_t(r.timestamp), uint8_t(r.dst));
    t.dist = Tesk6DistName(r.distribution);
    t.hasTransmission = true;
    t.transmission = r.transmission;
    t.sampleBlockIndex = r.sampleBlockIndex;
    t.redundantCommStd = r.redundantComm;
    return TeskDetectionJson(kTesk6Key, t);
}
