#include "app/CTeskFilteredCallback.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CTavikReportCallback.h"
#include "app/RunConfiguration.h"
#include "audiocore/LocalJsonDocument.h"

int CTeskFilteredCallback::ChannelFromName(const char* name) {
    if (name == nullptr) return -1;
    const size_t len = strlen(name);
    size_t digits = 0;
    while (digits < len && isdigit(static_cast<unsigned char>(name[len - 1 - digits]))) ++digits;
    if (digits == 0 || digits > 9 || len < digits + 2) return -1;
    const char* ch = name + len - digits - 2;
    if (ch[0] != 'c' || ch[1] != 'h') return -1;
    return atoi(name + len - digits);
}

bool CTeskFilteredCallback::Configure(void* config) {
    const SampleAppConfigurationData* cfg = static_cast<const SampleAppConfigurationData*>(config);
    m_report = cfg ? cfg->reportCallback : nullptr;
    if (m_report == nullptr) return false;
    m_showDateTime = cfg->displayDateTimeString;
    m_reportMode = cfg->reportMode;
    m_outputToConsole = cfg->outputToConsole;
    return true;
}

void CTeskFilteredCallback::AssignChannel(const char* name, int32_t& counter) {
    const int fromName = ChannelFromName(name);
    m_channel = fromName >= 0 ? fromName : counter;
    ++counter;
}

void CTeskFilteredCallback::LogCallback(int code, const char* text) {
    if (!m_outputToConsole) return;
    if (text != nullptr && text[0] != '\0') {
        printf("Code %d: %s\n", code, text);
    } else {
        printf("Error code %d\n", code);
    }
}

bool CTeskFilteredCallback::NeedsFiltering(bool reportFamily, bool rawOutput,
                                           const std::string& json, const char* familyKey) {
    if (!reportFamily) return false;
    if (m_report == nullptr) return false;  // unconfigured: nowhere to report
    if (rawOutput) {
        Report(json);
        return false;
    }
    return json.find(familyKey) != std::string::npos;
}

void CTeskFilteredCallback::Report(const std::string& text) {
    std::string copy(text);
    m_report->setAudioCodes(unsigned(m_channel), &copy);
}

int64_t CTeskFilteredCallback::ReadInt(const rapidjson::Value& o, const char* key) {
    auto it = o.FindMember(key);
    if (it == o.MemberEnd() || !it->value.IsNumber()) return 0;
    if (it->value.IsInt64()) return it->value.GetInt64();
    if (it->value.IsUint64()) return int64_t(it->value.GetUint64());
    return TeskInt64(it->value.GetDouble());
}

const rapidjson::Value* CTeskFilteredCallback::ReadRecord(
    Kelvane::AudioCore::LocalJsonDocument& local, const std::string& json, const char* familyKey,
    Watermark_Detection_Record_t& r) {
    auto& doc = local.doc();
    memset(&r, 0, sizeof(r));
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError() || !doc.IsObject()) return nullptr;
    auto top = doc.FindMember(familyKey);
    if (top == doc.MemberEnd() || !top->value.IsObject()) return nullptr;
    const rapidjson::Value& o = top->value;

    // The layer text is used only when shorter than 32 characters; an unknown
    // one leaves the layer at 0 (PROG).
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
    r.dst = ReadInt(o, "dst") != 0 ? 1 : 0;
    r.timestamp = int32_t(ReadInt(o, "timestamp"));
    auto et = o.FindMember("elapsedTime");
    if (et != o.MemberEnd() && et->value.IsNumber()) r.elapsedTime = et->value.GetDouble();
    r.sampleBlockIndex = uint32_t(ReadInt(o, "sampleBlockIndex"));
    r.redundantComm = uint32_t(ReadInt(o, "redundantCommStd"));
    r.systemTime = uint32_t(ReadInt(o, "systemTime"));
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
    return &o;
}

TeskDetectionText CTeskFilteredCallback::TextOf(const Watermark_Detection_Record_t& r) {
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
    t.sampleBlockIndex = r.sampleBlockIndex;
    t.redundantCommStd = r.redundantComm;
    return t;
}

CTeskFilteredCallback::AnchorSlots CTeskFilteredCallback::StoreAnchor(
    Watermark_Detection_Record_t& r) {
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
    return AnchorSlots{a0, a1, main};
}

bool CTeskFilteredCallback::RepeatedCommRs(const Watermark_Detection_Record_t& r) {
    auto it = m_lastSampleBlock.find(r.commId);
    if (it != m_lastSampleBlock.end() && it->second.sampleBlockIndex == r.sampleBlockIndex)
        return true;
    m_lastSampleBlock[r.commId] = CommSighting{r.sampleBlockIndex, r.elapsedTime};
    return false;
}

void CTeskFilteredCallback::NoteHeard(const Watermark_Detection_Record_t& r) {
    const double now = r.elapsedTime;
    if (!std::isfinite(now)) return;
    if (r.layer != 2) m_sidLastSeen[r.sid] = now;
    // Audio time that went backwards (a new stream on the same callback) restarts the sweep
    // clock; nothing is forgotten on a jump back.
    if (now < m_lastSweep) m_lastSweep = now;
    if (now - m_lastSweep < kForgetSweepSeconds) return;
    m_lastSweep = now;
    for (auto it = m_sidLastSeen.begin(); it != m_sidLastSeen.end();) {
        if (now - it->second > kForgetAfterSeconds) {
            const unsigned sid = it->first;
            it = m_sidLastSeen.erase(it);
            ForgetSid(sid);
        } else {
            ++it;
        }
    }
    for (auto it = m_lastSampleBlock.begin(); it != m_lastSampleBlock.end();) {
        if (now - it->second.heardAt > kForgetAfterSeconds) {
            it = m_lastSampleBlock.erase(it);
        } else {
            ++it;
        }
    }
}

void CTeskFilteredCallback::ForgetSid(unsigned sid) {
    m_anchor0.erase(sid);
    m_anchor1.erase(sid);
    m_mainAnchor.erase(sid);
    m_lastElapsed.erase(sid);
    m_correctionCount.erase(sid);
}

bool CTeskFilteredCallback::DuplicateStep(const Watermark_Detection_Record_t& r) {
    auto it = m_lastElapsed.find(r.sid);
    const double last = it == m_lastElapsed.end() ? 0.0 : it->second;
    const double gap = r.elapsedTime > last ? r.elapsedTime - last : 0.0;
    if (last >= 0.001 && gap < 0.3) return false;
    if (r.timestamp >= 1) m_lastElapsed[r.sid] = r.elapsedTime;
    return true;
}
