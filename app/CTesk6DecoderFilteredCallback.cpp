#include "app/CTesk6DecoderFilteredCallback.h"

#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "app/HostInterface.h"
#include "audiocore/LocalJsonDocument.h"
#include "decoders/tesk6/Tesk6DetectionText.h"
#include "timebase/TeskTime.h"

int32_t CTesk6DecoderFilteredCallback::m_nTesk6ChannelSelection = 0;

namespace {

const char* kInvalidJson = "Received invalid JSON format for TESK 6 parameters";

}  // namespace

CTesk6DecoderFilteredCallback::CTesk6DecoderFilteredCallback() = default;
CTesk6DecoderFilteredCallback::~CTesk6DecoderFilteredCallback() = default;

void CTesk6DecoderFilteredCallback::init(void* config, int major, int minor, int patch,
                                         char* name) {
    if (!Configure(config)) return;
    if (m_outputToConsole) printf("TESK 6 decoder, version %d.%d.%d.\n\n", major, minor, patch);
    m_filter.initDCFilter();
    AssignChannel(name, m_nTesk6ChannelSelection);
}

void CTesk6DecoderFilteredCallback::ResultCallback(std::string json) {
    if (!NeedsFiltering(ReportTw, bTwRawOutput, json, kTesk6Key)) return;
    {
        Kelvane::AudioCore::LocalJsonDocument local;
        auto& doc = local.doc();
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
    NoteHeard(r);
    if (r.layer == 2) {
        if (RepeatedCommRs(r)) return;
    } else {
        AnchorStep(r);
        // Two readings of a program SID whose time codes disagree, and no anchor of the SID
        // to date them: at least one of the two is a misreading, and the SID itself is then
        // as likely misread as not, so no code reaches the host.
        if (r.layer == 0 && r.timestamp < 0) return;
        if (!DuplicateStep(r)) return;
    }
    Report(BuildOutput(r));
}

bool CTesk6DecoderFilteredCallback::ExtractRecord(const std::string& json,
                                                  Watermark_Detection_Record_t& r) {
    Kelvane::AudioCore::LocalJsonDocument doc;
    const rapidjson::Value* o = ReadRecord(doc, json, kTesk6Key, r);
    if (o == nullptr) return false;
    r.distribution = 4;
    auto dist = o->FindMember("dist");
    if (dist != o->MemberEnd() && dist->value.IsString() && dist->value.GetStringLength() < 16) {
        r.distribution = Tesk6DistCode(dist->value.GetString());
    }
    const int64_t tr = ReadInt(*o, "transmission");
    r.transmission = tr <= 0 ? 0u : tr == 1 ? 1u : 2u;
    return true;
}

void CTesk6DecoderFilteredCallback::AnchorStep(Watermark_Detection_Record_t& r) {
    const unsigned s = r.sid;
    const AnchorSlots slots = StoreAnchor(r);
    RecordPtr& a0 = slots.anchor0;
    RecordPtr& a1 = slots.anchor1;
    RecordPtr& main = slots.main;
    if (a0 && a1) {
        const int64_t de = TeskElapsedSeconds(a1->elapsedTime - a0->elapsedTime);
        // Time codes wrap at 2^29 s (2027-01-05): differences are taken on the cycle.
        const int64_t dt =
            TeskCodeDifference(uint32_t(a1->timestamp), uint32_t(a0->timestamp), TESK6_CODE_CYCLE);
        if (std::llabs(de - dt) < 3) main.reset(new Watermark_Detection_Record_t(*a1));
        a0.reset(new Watermark_Detection_Record_t(*a1));
        a1.reset();
    }
    if (!main) return;
    const int64_t d = TeskElapsedSeconds(r.elapsedTime - main->elapsedTime);
    int32_t& count = m_correctionCount[s];
    if (count > 1) {
        main.reset();
        count = 0;
        return;
    }
    if (std::llabs(d) > 25 || main->timestamp < 0 ||
        uint32_t(main->timestamp) >= TESK6_CODE_CYCLE) {
        main.reset();
        return;
    }
    // The anchor's code advanced by the elapsed seconds, on the 29-bit cycle: a correction
    // across the rollover continues from 0 instead of leaving the code range.
    const uint32_t candidate = TeskCodeAdvance(uint32_t(main->timestamp), d, TESK6_CODE_CYCLE);
    if (r.timestamp < 0 ||
        std::llabs(TeskCodeDifference(uint32_t(r.timestamp), candidate, TESK6_CODE_CYCLE)) > 1) {
        r.timestamp = int32_t(candidate);
        // The corrected code is dated like the anchor it came from (a record without a time
        // code carries no usable reference of its own).
        r.systemTime = uint32_t(int64_t(main->systemTime) + d);
        if (a0) *a0 = r;
        r.corrected = 1;
        ++count;
    }
}

std::string CTesk6DecoderFilteredCallback::BuildOutput(const Watermark_Detection_Record_t& r) {
    TeskDetectionText t = TextOf(r);
    t.systemTime = Tesk6ToPosix(uint32_t(r.timestamp), uint8_t(r.dst), r.systemTime);
    t.dist = Tesk6DistName(r.distribution);
    t.hasTransmission = true;
    t.transmission = r.transmission;
    return TeskDetectionJson(kTesk6Key, t);
}
