#include "app/ZELTDecoderFilteredCallback.h"

#include <rapidjson/document.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CTavikReportCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "audiocore/LocalJsonDocument.h"
#include "decoders/zelt/ZeltDecoder.h"
#include "dsp/CUCCValidator.h"

int32_t ZELTDecoderFilteredCallback::m_nZeltChannelSelection = 0;

namespace {

constexpr int64_t kMaxPairGapFrames = 1800;  // 3 minutes between the two ends
// A flag is sent in every 2.4 s period of a commercial: a confirming reading
// ends at most two periods (4.8 s) after the one it confirms.
constexpr int64_t kMaxFlagPairGapFrames = 48;
constexpr int64_t kTrackLifeFrames = 6000;      // 10 minutes without a record
constexpr double kMinuteToleranceSeconds = 90;  // minute difference against audio time
constexpr int32_t kMinutesPerCycle = 40320;     // 28 days

// Circular distance of two slots of a period.
uint32_t SlotDistance(uint32_t a, uint32_t b, uint32_t period) {
    const uint32_t d = (a + period - b % period) % period;
    return d > period / 2 ? period - d : d;
}

// Two detections of one message place it within half a symbol of each other
// (the search of a partly filled period can be off by two slots).
bool SamePlace(uint32_t a, uint32_t b, bool flag) {
    return flag ? SlotDistance(a, b, 24) <= 1 : SlotDistance(a, b, 48) <= 2;
}

// Two flag readings of one 2.4 s period each that sit at the same place of a
// 4.8 s span: the pattern may be a program message's symbols, which repeat
// every 4.8 s only.
bool SameHalfOfProgramPeriod(const ZeltConfirmation::Code& a, const ZeltConfirmation::Code& b) {
    return a.place48 >= 0 && b.place48 >= 0 &&
           SlotDistance(static_cast<uint32_t>(a.place48), static_cast<uint32_t>(b.place48), 48) <=
               1;
}

}  // namespace

void ZeltConfirmation::NoteCommercial(int64_t start, int64_t end) {
    m_haveComm = true;
    m_commStart = start;
    m_commEnd = end;
    for (int i = 0; i < m_sightingCount; ++i) {
        Code& s = m_sightings[i];
        if (s.flag && s.end >= start && s.start <= end) s.layer = 0;  // never agrees again
    }
}

int64_t ZeltConfirmation::Unwrap(uint32_t sampleBlockIndex) {
    const int64_t m = ZELT_FRAME_MODULUS;
    if (!m_haveBase) {
        m_haveBase = true;
        m_lastEnd = sampleBlockIndex;
    } else {
        int64_t d = (static_cast<int64_t>(sampleBlockIndex) - m_lastIndex) % m;
        if (d < 0) d += m;
        if (d > m / 2) d -= m;
        m_lastEnd += d;
    }
    m_lastIndex = sampleBlockIndex;
    return m_lastEnd;
}

bool ZeltConfirmation::Agrees(const Code& earlier, const Code& later) const {
    if (earlier.layer != later.layer || earlier.flag != later.flag || earlier.id != later.id)
        return false;
    if (!SamePlace(earlier.phase, later.phase, later.flag)) return false;
    if (later.flag) return true;
    if (earlier.minute < 0 || later.minute < 0) return false;
    int32_t dm = (later.minute - earlier.minute) % kMinutesPerCycle;
    if (dm < 0) dm += kMinutesPerCycle;
    if (dm > kMinutesPerCycle / 2) dm -= kMinutesPerCycle;
    const double seconds = (later.end - earlier.end) / 10.0;
    return std::fabs(dm * 60.0 - seconds) <= kMinuteToleranceSeconds;
}

void ZeltConfirmation::Remember(const Code& code) {
    m_sightings[m_nextSighting] = code;
    m_nextSighting = (m_nextSighting + 1) % kSightings;
    if (m_sightingCount < kSightings) ++m_sightingCount;
}

bool ZeltConfirmation::Accept(const Code& code) {
    if (code.flag && m_haveComm && code.end >= m_commStart && code.start <= m_commEnd) return false;
    Track* same = nullptr;  // live track of this layer, id and phase
    for (Track& t : m_tracks) {
        if (!t.live) continue;
        if (code.end - t.lastSeen > kTrackLifeFrames) {
            t.live = false;
            continue;
        }
        if (t.last.layer == code.layer && t.last.flag == code.flag && t.last.id == code.id &&
            SamePlace(t.last.phase, code.phase, code.flag))
            same = &t;
    }
    if (same != nullptr) {
        if (!code.flag && code.minute < 0) {  // no time code: the id is known
            same->lastSeen = code.end;
            return true;
        }
        if (Agrees(same->last, code)) {
            same->last = code;
            same->lastSeen = code.end;
            return true;
        }
    }
    if (!code.flag && code.minute < 0) return false;

    for (int i = 0; i < m_sightingCount; ++i) {
        const Code& s = m_sightings[i];
        if (s.end > code.start ||
            code.end - s.end > (code.flag ? kMaxFlagPairGapFrames : kMaxPairGapFrames))
            continue;
        if (!Agrees(s, code)) continue;
        if (code.flag && SameHalfOfProgramPeriod(s, code)) continue;
        // Confirmed: a new track (in place of a disagreeing one of the same code).
        Track* t = same;
        if (t == nullptr) {
            for (Track& c : m_tracks)
                if (!c.live) {
                    t = &c;
                    break;
                }
        }
        if (t == nullptr) {
            t = &m_tracks[m_nextTrack];
            m_nextTrack = (m_nextTrack + 1) % kTracks;
        }
        t->live = true;
        t->last = code;
        t->lastSeen = code.end;
        return true;
    }
    Remember(code);
    return false;
}

int ZELTDecoderFilteredCallback::ChannelFromName(const char* name) {
    if (name == nullptr) return -1;
    const size_t len = std::strlen(name);
    size_t digits = 0;
    while (digits < len && std::isdigit(static_cast<unsigned char>(name[len - 1 - digits])))
        ++digits;
    if (digits == 0 || digits > 9 || len < digits + 2) return -1;
    const char* ch = name + len - digits - 2;
    if (ch[0] != 'c' || ch[1] != 'h') return -1;
    return std::atoi(name + len - digits);
}

int64_t ZELTDecoderFilteredCallback::ParseCommId(const std::string& text) {
    if (text.empty()) return 0;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') return 0;
    return static_cast<int64_t>(v);
}

void ZELTDecoderFilteredCallback::init(void* config, int major, int minor, int patch, char* name) {
    const SampleAppConfigurationData* cfg = static_cast<const SampleAppConfigurationData*>(config);
    if (cfg == nullptr) return;
    m_outputToConsole = cfg->outputToConsole;
    m_reportMode = cfg->reportMode;
    m_report = cfg->reportCallback;
    if (m_report == nullptr) return;
    m_major = static_cast<uint32_t>(major);
    m_minor = static_cast<uint32_t>(minor);
    m_patch = static_cast<uint32_t>(patch);
    if (m_nZeltChannelSelection == 0)
        postDiagMessage("\nZELT Decoder Version: %d.%d.%d", major, minor, patch);
    const int fromName = ChannelFromName(name);
    m_channel = static_cast<uint32_t>(fromName >= 0 ? fromName : m_nZeltChannelSelection);
    ++m_nZeltChannelSelection;
}

void ZELTDecoderFilteredCallback::LogCallback(int code, const char* text) {
    if (!m_outputToConsole) return;
    if (text != nullptr && text[0] != '\0')
        std::printf("Code %d: %s\n", code, text);
    else
        std::printf("Error code %d\n", code);
}

bool ZELTDecoderFilteredCallback::Confirmed(const rapidjson::Value& obj, int layer,
                                            uint32_t sampleBlockIndex) {
    const auto first = obj.FindMember("firstSymAge");
    const auto last = obj.FindMember("lastSymAge");
    const auto ph = obj.FindMember("phase");
    const auto dep = obj.FindMember("depth");
    const auto idm = obj.FindMember("id");
    const auto ts = obj.FindMember("timestamp");
    if (first == obj.MemberEnd() || !first->value.IsUint() || last == obj.MemberEnd() ||
        !last->value.IsUint() || ph == obj.MemberEnd() || !ph->value.IsUint() ||
        dep == obj.MemberEnd() || !dep->value.IsUint() || idm == obj.MemberEnd() ||
        !idm->value.IsString() || ts == obj.MemberEnd() || !ts->value.IsInt64())
        return false;
    const int64_t id = ParseCommId(idm->value.GetString());
    if (id <= 0 || id > 0xFFFF) return false;
    ZeltConfirmation::Code code;
    code.layer = layer;
    code.id = static_cast<uint32_t>(id);
    code.flag = layer == 5 && (id == 3 || id == 7);
    code.end = m_confirm.Unwrap(sampleBlockIndex);
    const int64_t span =
        (static_cast<int64_t>(first->value.GetUint()) - last->value.GetUint()) / 100;
    // The first symbol lasts 4 frames (program) or 3 (commercial layers).
    code.start = code.end - span - (code.flag ? 3 : 4);
    if (code.flag) {
        // The evaluation buffer's slot j holds frame (end - depth - 23 + j) modulo 24.
        const int64_t slot = code.end - dep->value.GetUint() - 23 + ph->value.GetUint();
        code.phase = static_cast<uint32_t>(((slot % 24) + 24) % 24);
        // At depth 0 that frame is exact (one period was read).
        if (dep->value.GetUint() == 0) code.place48 = static_cast<int32_t>(((slot % 48) + 48) % 48);
    } else {
        code.phase = ph->value.GetUint() % 48;
        const int64_t minute = ts->value.GetInt64();
        if (minute == ZELT_NO_TIMESTAMP) {
            code.minute = -1;
        } else if (minute >= 0 && minute < kMinutesPerCycle) {
            code.minute = static_cast<int32_t>(minute);
        } else {
            return false;  // no minute has these time symbols: they were misread
        }
    }
    return m_confirm.Accept(code);
}

bool ZeltCommConfirmation::Accept(int64_t commId, int64_t start, int64_t end) {
    for (Track& t : m_tracks) {
        if (t.live && t.commId == commId && end - t.lastSeen <= kTrackEndFrames) {
            if (end > t.lastSeen) t.lastSeen = end;
            return true;
        }
    }
    bool confirmed = false;
    for (const Sighting& s : m_sightings) {
        if (s.used && s.commId == commId && s.end <= start && end - s.end <= kMaxGapFrames) {
            confirmed = true;
            break;
        }
    }
    if (confirmed) {
        m_tracks[m_nextTrack] = Track{true, commId, end};
        m_nextTrack = (m_nextTrack + 1) % kTracks;
        return true;
    }
    m_sightings[m_nextSighting] = Sighting{true, commId, end};
    m_nextSighting = (m_nextSighting + 1) % kSightings;
    return false;
}

bool ZELTDecoderFilteredCallback::CommConfirmed(const rapidjson::Value& obj, int64_t commId,
                                                uint32_t sampleBlockIndex) {
    const auto first = obj.FindMember("firstSymAge");
    const auto last = obj.FindMember("lastSymAge");
    if (first == obj.MemberEnd() || !first->value.IsUint() || last == obj.MemberEnd() ||
        !last->value.IsUint())
        return false;
    const int64_t end = m_confirm.Unwrap(sampleBlockIndex);
    const int64_t span =
        (static_cast<int64_t>(first->value.GetUint()) - last->value.GetUint()) / 100;
    // The first symbol of a commercial message lasts 3 frames.
    m_confirm.NoteCommercial(end - span - 3, end);
    return m_commConfirm.Accept(commId, end - span - 3, end);
}

bool ZELTDecoderFilteredCallback::RepeatedCommId(int64_t commId, uint32_t sampleBlockIndex) {
    const auto it = m_lastBlockOfCommId.find(commId);
    if (it != m_lastBlockOfCommId.end() && it->second.sampleBlockIndex == sampleBlockIndex)
        return true;
    ++m_commRecords;
    m_lastBlockOfCommId[commId] = CommSighting{sampleBlockIndex, m_commRecords};
    if (m_commRecords % kForgetAfterCommRecords == 0) {
        for (auto i = m_lastBlockOfCommId.begin(); i != m_lastBlockOfCommId.end();) {
            if (m_commRecords - i->second.recordNumber >= kForgetAfterCommRecords) {
                i = m_lastBlockOfCommId.erase(i);
            } else {
                ++i;
            }
        }
    }
    return false;
}

void ZELTDecoderFilteredCallback::ResultCallback(std::string record) {
    if (!ReportZelt) return;
    if (m_report == nullptr) return;  // unconfigured: nowhere to report
    if (bZeltRawOutput) {
        m_report->setAudioCodes(m_channel, &record);
        return;
    }
    if (record.find("ZELT") == std::string::npos) return;

    Kelvane::AudioCore::LocalJsonDocument local;
    auto& doc = local.doc();
    doc.Parse(record.c_str(), record.size());
    if (doc.HasParseError()) {
        std::fprintf(stderr, "*** error: could not parse JSON\n");
        return;
    }
    // A detection text is one object with the one member "ZELT"; the host gets it verbatim,
    // so anything else (other members beside it) is not passed on.
    if (!doc.IsObject() || doc.MemberCount() != 1) return;
    const auto z = doc.FindMember("ZELT");
    if (z == doc.MemberEnd() || !z->value.IsObject()) return;
    const auto& obj = z->value;
    const auto sbi = obj.FindMember("sampleBlockIndex");
    const auto lay = obj.FindMember("layer");
    if (sbi == obj.MemberEnd() || !sbi->value.IsUint()) return;
    if (lay == obj.MemberEnd() || !lay->value.IsInt()) return;
    const uint32_t sampleBlockIndex = sbi->value.GetUint();
    const int layer = lay->value.GetInt();
    if (layer < 1 || layer > 5) return;

    if (layer == 4) {
        const auto c = obj.FindMember("commId");
        if (c == obj.MemberEnd() || !c->value.IsString()) return;
        const int64_t commId = ParseCommId(c->value.GetString());
        if (!CUCCValidator::IsValidCommID(static_cast<long>(commId))) return;
        if (RepeatedCommId(commId, sampleBlockIndex)) return;
        if (!CommConfirmed(obj, commId, sampleBlockIndex)) return;
    } else if (layer != 3 && !Confirmed(obj, layer, sampleBlockIndex)) {
        return;
    }

    if (m_reportMode == 1) {
        m_report->setAudioCodes(m_channel, &record);
    } else if (m_outputToConsole) {
        std::printf("%s\n", record.c_str());
    }
}
