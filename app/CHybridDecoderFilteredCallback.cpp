#include "app/CHybridDecoderFilteredCallback.h"

#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "app/HostInterface.h"
#include "audiocore/LocalJsonDocument.h"
#include "decoders/tesk2/Tesk2DetectionText.h"
#include "timebase/TeskTime.h"

int32_t CHybridDecoderFilteredCallback::m_nHybridChannelSelection = 0;

namespace {

const char* kInvalidJson = "Received invalid JSON format for TESK 2 parameters";

// Parses a text and tells whether it is a redundant standard commercial
// detection; a text that does not parse counts as redundant.
bool IsRedundant(const std::string& json) {
    Kelvane::AudioCore::LocalJsonDocument local;
    auto& doc = local.doc();
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError()) return true;
    if (!doc.IsObject()) return false;
    auto t = doc.FindMember("TESK2");
    if (t == doc.MemberEnd() || !t->value.IsObject()) return false;
    auto r = t->value.FindMember("redundantCommStd");
    return r != t->value.MemberEnd() && r->value.IsNumber() && r->value.GetDouble() == 1.0;
}

}  // namespace

CHybridDecoderFilteredCallback::CHybridDecoderFilteredCallback() = default;
CHybridDecoderFilteredCallback::~CHybridDecoderFilteredCallback() = default;

void CHybridDecoderFilteredCallback::init(void* config, int major, int minor, int patch,
                                          char* name) {
    if (!Configure(config)) return;
    if (m_outputToConsole)
        printf("Kelvane Hybrid Decoder, version %d.%d.%d\n\n", major, minor, patch);
    m_filter.initDCFilter();
    AssignChannel(name, m_nHybridChannelSelection);
}

void CHybridDecoderFilteredCallback::ResultCallback(std::string json) {
    if (!NeedsFiltering(ReportT2, bT2RawOutput, json, kTesk2Key)) return;
    if (IsRedundant(json)) return;
    int released = 0;
    try {
        released = m_filter.ProcessDetection(json, m_filterOutput);
    } catch (const char* e) {
        // A text that parses but is not a complete detection: the filter's
        // C-string exception would end the decoding thread, so it is reported
        // here and the text dropped.
        fprintf(stderr, "TESK 2 filtered callback: %s\n", e);
        return;
    }
    if (released > 0) {
        const std::vector<std::string> texts = m_filterOutput;
        for (const std::string& text : texts) HandleFiltered(text);
    }
}

void CHybridDecoderFilteredCallback::HandleFiltered(const std::string& text) {
    Watermark_Detection_Record_t r;
    try {
        if (!ExtractRecord(text, r)) throw std::runtime_error(kInvalidJson);
    } catch (const std::exception& e) {
        fprintf(stderr,
                "Audio SDK exception caught in ExtractWatermarkFieldsFromTesk2JsonString in "
                "Filtered Callback.\n%s\n",
                e.what());
    }
    NoteHeard(r);
    if (r.layer == 0) DistributionFix(r);
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

bool CHybridDecoderFilteredCallback::ExtractRecord(const std::string& json,
                                                   Watermark_Detection_Record_t& r) {
    Kelvane::AudioCore::LocalJsonDocument doc;
    const rapidjson::Value* o = ReadRecord(doc, json, kTesk2Key, r);
    if (o == nullptr) return false;
    if (r.timestamp == -1 && r.layer != 2) r.noAnchor = 1;
    r.distribution = 3;
    auto dist = o->FindMember("dist");
    if (dist != o->MemberEnd() && dist->value.IsString() && dist->value.GetStringLength() < 16) {
        r.distribution = Tesk2DistCode(dist->value.GetString());
    }
    r.transmission = 0;
    return true;
}

void CHybridDecoderFilteredCallback::ForgetSid(unsigned sid) {
    CTeskFilteredCallback::ForgetSid(sid);
    m_distTally.erase(sid);
}

void CHybridDecoderFilteredCallback::DistributionFix(Watermark_Detection_Record_t& r) {
    DistTally& t = m_distTally[r.sid];
    if (r.distribution == 1) {
        ++t.pc;
    } else if (r.distribution == 2) {
        ++t.fd;
    } else {
        ++t.other;
    }
    if (t.pc + t.fd > 20 && t.pc != t.fd) r.distribution = t.pc > t.fd ? 1 : 2;
}

void CHybridDecoderFilteredCallback::AnchorStep(Watermark_Detection_Record_t& r) {
    m_mainAnchorReplaced = false;
    const unsigned s = r.sid;
    const AnchorSlots slots = StoreAnchor(r);
    RecordPtr& a0 = slots.anchor0;
    RecordPtr& a1 = slots.anchor1;
    RecordPtr& main = slots.main;
    if (a0 && a1) {
        const int64_t e0 = TeskElapsedSeconds(a0->elapsedTime);
        const int64_t e1 = TeskElapsedSeconds(a1->elapsedTime);
        const int64_t t0 = int64_t(uint32_t(a0->timestamp));
        const int64_t t1 = int64_t(uint32_t(a1->timestamp));
        const int64_t de = e1 < e0 ? e0 - e1 : e1 - e0;
        // Codes of the same daylight-saving flag are compared on the 31-bit cycle, so two
        // anchors on either side of the rollover (2063) still agree.
        const bool sameFlag = ((t0 ^ t1) & 0x80000000) == 0;
        const uint32_t s0 = uint32_t(t0) & 0x7FFFFFFFu, s1 = uint32_t(t1) & 0x7FFFFFFFu;
        const int64_t dt = !sameFlag ? (e1 < e0 ? t0 - t1 : t1 - t0)
                           : e1 < e0 ? TeskCodeDifference(s0, s1, TESK2_CODE_CYCLE)
                                     : TeskCodeDifference(s1, s0, TESK2_CODE_CYCLE);
        if (std::llabs(de - dt) <= 2) {
            main.reset(new Watermark_Detection_Record_t(*a1));
            m_mainAnchorReplaced = true;
        }
        a0.reset(new Watermark_Detection_Record_t(*a1));
        a1.reset();
    }
    if (!main || m_mainAnchorReplaced) return;
    // Bit 31 of the anchor's time code is the daylight-saving flag.
    const uint32_t anchorTs = uint32_t(main->timestamp);
    const int64_t d = TeskElapsedSeconds(r.elapsedTime - main->elapsedTime);
    // The anchor's seconds advanced on the 31-bit cycle: a correction across the rollover
    // continues from 0.
    const uint32_t candidate = TeskCodeAdvance(anchorTs & 0x7FFFFFFFu, d, TESK2_CODE_CYCLE);
    // A corrected code is dated like the anchor it came from (a record without a time code
    // has no reference of its own); taken now, as the anchor may be removed below.
    const uint32_t anchorDate = uint32_t(int64_t(main->systemTime) + d);
    int32_t& count = m_correctionCount[s];
    if (count > 1) {
        main.reset();
        count = 0;
    }
    if (std::llabs(d) > 25) {
        main.reset();
        return;
    }
    const uint32_t corrected = candidate | (anchorTs & 0x80000000u);
    const uint32_t own = uint32_t(r.timestamp);
    const bool agrees =
        r.timestamp >= 0 && ((own ^ corrected) & 0x80000000u) == 0 &&
        std::llabs(TeskCodeDifference(own & 0x7FFFFFFFu, candidate, TESK2_CODE_CYCLE)) <= 1;
    if (!agrees) {
        r.timestamp = int32_t(corrected);
        r.systemTime = anchorDate;
        if (a0) *a0 = r;
        r.corrected = 1;
        ++count;
    }
}

std::string CHybridDecoderFilteredCallback::BuildOutput(const Watermark_Detection_Record_t& r) {
    TeskDetectionText t = TextOf(r);
    // The daylight-saving flag travels in its own member; it is put back into
    // bit 31 so the POSIX time matches the decoder's raw text.
    uint8_t ambiguity = 0;
    const uint32_t code = uint32_t(r.timestamp) | (r.dst && r.timestamp >= 0 ? 0x80000000u : 0u);
    t.systemTime = Tesk2ToPosix(code, &ambiguity, r.systemTime);
    t.dist = Tesk2DistName(r.distribution);
    return TeskDetectionJson(kTesk2Key, t);
}
