// What the TESK 6 and TESK 2 detection filters have in common: parsing a
// detection text into a _WATERMARK_Detection_t, the ring of recent program
// and standard commercial detections with their reported marks, and the walk
// that pairs a new detection with older ones.
//
// `Family` is the filter class itself (CTesk6DCFilter, CTesk2DCFilter), which
// derives from CTeskDCFilter<Family, RingSize> and supplies its own rules:
//   static constexpr const char* kKey;           // "TESK6" / "TESK2"
//   static constexpr bool kHasTransmission;      // the text has "transmission"
//   static uint16_t DistCode(const char* text);  // "dist" text -> code
//   static void ClearDetection(_WATERMARK_Detection_t&);
//   static void emitDetection(const _WATERMARK_Detection_t&, std::vector<std::string>&);
//   static uint32_t BlockTimeMs(uint32_t sampleBlockIndex);  // block time, ms
//   int Validate(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b,
//                int allowNegative) const;      // 0 to 3, see the family's ValidateDetection
//   bool ReadsAsReedSolomon(const _WATERMARK_Detection_t&) const;
//                                                // a standard commercial reading of an RS word
//   static constexpr bool kConfirmCommercials;   // commercials need independent confirmation
//   bool ConfirmsCommercial(const _WATERMARK_Detection_t& fresh,
//                           const _WATERMARK_Detection_t& old) const;  // if the above is true
//   static constexpr bool kDropDisplacedPrograms;  // program readings out of place are dropped;
//   static constexpr int kProgramDataSymbols;       // only then: symbols compared, their
//   static void ProgramDataSymbols(const _WATERMARK_Detection_t&, uint8_t* out);  // values
//   static constexpr int kDisplacements[N][kProgramDataSymbols];  // and the misreadings
//   static void ProgramSymbolsAt(const _WATERMARK_Detection_t&, int32_t seconds,
//                                uint8_t* out);    // only then: all symbols, time code advanced
//   static constexpr int32_t kProgramPhaseModulus, kStraddlePhase,  // program message clock
//                            kSlotPhase;                         // and a message's own slot
//   static constexpr uint32_t kMaxGapMs;             // and how far apart readings may lie
//   static constexpr bool kDropHeardReedSolomonReadings;  // standard readings of an identifier
//   static bool StandardReadsIdentifier(const _WATERMARK_Detection_t& standard,
//                                       const _WATERMARK_Detection_t& rs);
//                                   // heard as a Reed-Solomon detection are dropped (only then)
//   static bool SameSlot(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b);
//                        // the two readings lie in one message slot
//   static bool SameCode(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b);
//                        // and name one code (content, and time code at their distance)
// and may supply (the default here rejects nothing):
//   bool MisreadsRingEntry(const _WATERMARK_Detection_t& d) const;
//                        // d (absolute start and end) is a misreading of what the ring holds
#ifndef TAVIK_DECODERS_TESK6_CTESKDCFILTER_H
#define TAVIK_DECODERS_TESK6_CTESKDCFILTER_H

#include <rapidjson/document.h>
#include <stdint.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audiocore/LocalJsonDocument.h"
#include "decoders/tesk6/TeskDetectionJson.h"
#include "decoders/tesk6/WatermarkDetection.h"
#include "dsp/CUCCValidator.h"
#include "dsp/CircData.h"

template <class Family, int RingSize>
class CTeskDCFilter {
public:
    static constexpr int kRingSize = RingSize;

    // Clears out, parses json into the current record and filters it; returns
    // the number of texts in out (older first). Throws the C string
    // "Failed to parse/extract json detection." when the text is not a
    // detection of the family, "Unable to parse/extract json detection." when
    // copying or converting raised an exception.
    int ProcessDetection(std::string json, std::vector<std::string>& out) {
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

    // Fills the current record from a detection text; false when the text is
    // not valid JSON, has no object under the family key or lacks a required
    // member. "sid" is 0 when absent; "commId" is read as hexadecimal.
    bool ConvertJsonStrToDetectionStruct(std::string json) {
        Kelvane::AudioCore::LocalJsonDocument local;
        auto& doc = local.doc();
        doc.Parse(json.c_str(), json.size());
        if (doc.HasParseError() || !doc.IsObject()) return false;
        auto top = doc.FindMember(Family::kKey);
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
        if constexpr (Family::kHasTransmission) {
            if (!ReadInt(o, "transmission", v)) return false;
            d.transmission = uint32_t(v);
        }
        // The decoder dated the time code against the audio clock; a re-emitted text is dated
        // in the same cycle of the wrapping code.
        if (!ReadInt(o, "systemTime", v)) return false;
        d.systemTime = uint32_t(v);

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
        d.dist = Family::DistCode(distText);

        if (!ReadInt(o, "sampleBlockIndex", v)) return false;
        d.sampleBlockIndex = uint32_t(v);
        if (!ReadInt(o, "redundantCommStd", v)) return false;
        d.redundant = uint32_t(v);
        return true;
    }

    static void CopyDetection(const _WATERMARK_Detection_t& from, _WATERMARK_Detection_t& to) {
        to = from;
    }

    const _WATERMARK_Detection_t& Current() const { return m_current; }

    // Negative gaps allowed for layers other than the program layer; current
    // record and ring cleared by the family's ClearDetection, marks cleared.
    void initDCFilter() {
        m_allowNegativeNonProg = 1;
        m_writeIndex = 0;
        Family::ClearDetection(m_current);
        for (auto& e : m_ring) {
            Family::ClearDetection(e.det);
            e.reportedSingle = 0;
            e.reportedPair = 0;
            e.used = false;
            e.inert = false;
        }
    }

protected:
    CTeskDCFilter() = default;

    // True when each of the `count` symbols `mine` is one of the `refCount` symbols `ref` at
    // the same place or the place before or after it: `mine` is `ref` read across symbol
    // boundaries (each symbol taken from the stretch where two neighbours meet).
    static bool WithinOnePlace(const uint8_t* mine, int count, const uint8_t* ref, int refCount) {
        for (int i = 0; i < count; ++i) {
            bool near = false;
            for (int j = std::max(0, i - 1); j <= std::min(refCount - 1, i + 1) && !near; ++j)
                near = mine[i] == ref[j];
            if (!near) return false;
        }
        return true;
    }

    struct Entry {
        _WATERMARK_Detection_t det;
        uint16_t reportedSingle;
        uint16_t reportedPair;
        bool used;   // false until a detection is stored in the slot
        bool inert;  // a misreading (MisreadsRingEntry): kept in the ring, never pairs
    };

    // The ring, for rules of a family that compare a new detection with what it holds (start
    // and end of its entries are absolute times).
    const Entry* Ring() const { return m_ring; }

    // Family hook: true when the detection d, with absolute start and end, is a misreading of
    // something the ring holds; it then takes its place in the ring (so the ring ages as it
    // would have) but neither pairs nor confirms.
    bool MisreadsRingEntry(const _WATERMARK_Detection_t&) const { return false; }

    // The members of a record's text that both families write the same way
    // (start and end as "firstSymAge" and "lastSymAge"); the family's
    // emitDetection adds "systemTime", "dist" and, for TESK 6, "transmission".
    static TeskDetectionText TextOf(const _WATERMARK_Detection_t& d) {
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
        t.sampleBlockIndex = d.sampleBlockIndex;
        t.redundantCommStd = d.redundant;
        return t;
    }

private:
    // Reads an integer member (any JSON number) as its 64-bit value.
    static bool ReadInt(const rapidjson::Value& obj, const char* key, int64_t& out) {
        auto it = obj.FindMember(key);
        if (it == obj.MemberEnd() || !it->value.IsNumber()) return false;
        if (it->value.IsInt64()) {
            out = it->value.GetInt64();
        } else if (it->value.IsUint64()) {
            out = int64_t(it->value.GetUint64());
        } else {
            out = TeskInt64(it->value.GetDouble());
        }
        return true;
    }

    // A valid Reed-Solomon commercial detection is emitted at once. A program
    // or standard commercial detection is stored with absolute start and end
    // times and compared with every older entry of its layer: a program pair
    // of the same content whose time codes disagree (1) reports each entry
    // once with timestamp 0xFFFFFFFF; a full match (3) reports each entry once
    // as a pair, older first.
    //
    // With Family::kConfirmCommercials, commercial detections (standard and
    // Reed-Solomon) are confirmed only by an older one that the family's
    // ConfirmsCommercial accepts: a Reed-Solomon detection is then stored and
    // paired like the others instead of being emitted at once.
    void FilterDetection(std::vector<std::string>& out) {
        _WATERMARK_Detection_t& c = m_current;
        if (c.layer == 2) {
            if (!CUCCValidator::IsValidCommID(long(c.commId))) return;
            if (!Family::kConfirmCommercials) {
                Family::emitDetection(c, out);
                return;
            }
        }
        const Family& family = static_cast<const Family&>(*this);
        // The standard reading of a Reed-Solomon message names a code that was never sent;
        // it neither pairs nor confirms.
        if (c.layer == 1 && family.ReadsAsReedSolomon(c)) return;
        constexpr bool kHeardRs = Family::kDropHeardReedSolomonReadings;
        if constexpr (kHeardRs) {
            if (c.layer == 1 && ReadsHeardIdentifier(c)) return;
        }
        const uint32_t now = Family::BlockTimeMs(c.sampleBlockIndex);
        if constexpr (Family::kDropDisplacedPrograms) {
            if (c.layer == 0 && (DisplacedProgram(c) || MisreadsReportedProgram(c, now - c.end)))
                return;
        }
        _WATERMARK_Detection_t absolute = c;
        absolute.start = now - c.start;
        absolute.end = now - c.end;
        const bool misread = family.MisreadsRingEntry(absolute);
        Entry& fresh = m_ring[m_writeIndex];
        CopyDetection(absolute, fresh.det);
        fresh.reportedSingle = 0;
        fresh.reportedPair = 0;
        fresh.used = true;
        fresh.inert = misread;
        if (misread) {
            m_writeIndex = (m_writeIndex + 1) % kRingSize;
            return;
        }

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
            // (a cleared slot's phase may lie on the phase circle).
            if (!old.used || old.inert || old.det.layer != fresh.det.layer) continue;
            if (fresh.reportedPair && old.reportedPair) continue;
            int r;
            if (c.layer == 2)
                r = family.ConfirmsCommercial(fresh.det, old.det) ? 3 : 0;
            else
                r = family.Validate(fresh.det, old.det, allowNegative);
            if (Family::kConfirmCommercials && c.layer == 1 && r == 3 &&
                !family.ConfirmsCommercial(fresh.det, old.det))
                r = 0;
            // The Reed-Solomon detection of a message can arrive after its standard reading
            // was stored (the standard block is emitted first).
            if constexpr (kHeardRs) {
                if (c.layer == 1 && r == 3 && ReadsHeardIdentifier(old.det)) r = 0;
            }
            // Another code confirmed in this slot between the two standard readings was on
            // air there meanwhile: one encoder sends one message per slot, so the two agree in
            // a misreading that repeats (a symbol the other families' tones keep pushing one
            // way), not in a code. (Reed-Solomon identifiers are left to their confirmation.)
            if (c.layer != 2 && (r == 1 || r == 3) && SlotTakenBetween(old, fresh)) r = 0;
            // The readings between the two name another code (or time line): the two agree
            // in a symbol misread the same way twice.
            if (c.layer != 2 && r == 3 && OutvotedBetween(old, fresh)) r = 0;
            if (c.layer == 0 && r == 1) {
                for (Entry* e : {&old, &fresh}) {
                    if (e->reportedSingle) continue;
                    Family::emitDetection(asReported(e->det, true), out);
                    e->reportedSingle = 1;
                }
            } else if (r == 3) {
                for (Entry* e : {&old, &fresh}) {
                    if (e->reportedPair) continue;
                    Family::emitDetection(asReported(e->det, false), out);
                    e->reportedPair = 1;
                    e->reportedSingle = 1;
                }
            }
        }
        m_writeIndex = (m_writeIndex + 1) % kRingSize;
    }

    // True when the entry e is a reading (not a misreading) in the slot of the readings `older`
    // and `fresh` (Family::SameSlot) whose last symbol lies after older's and before fresh's.
    bool InSlotBetween(const Entry& e, const Entry& older, const Entry& fresh) const {
        const Family& family = static_cast<const Family&>(*this);
        if (&e == &older || &e == &fresh || !e.used || e.inert || e.det.layer != fresh.det.layer ||
            !family.SameSlot(e.det, fresh.det))
            return false;
        return CircData_Signed_Difference(int32_t(e.det.end), int32_t(older.det.end),
                                          Family::kTimeModulusMs) > 0 &&
               CircData_Signed_Difference(int32_t(fresh.det.end), int32_t(e.det.end),
                                          Family::kTimeModulusMs) > 0;
    }

    // True when another code was on air in the slot of the readings `older` and `fresh`
    // between them: the ring holds two confirmed readings (reported in pairs) of one code
    // other than theirs in that slot (Family::SameSlot, Family::SameCode) whose last symbols
    // lie after older's and before fresh's. A real change of code at an encoder ends the old
    // code's readings before the new one's begin, so it never meets this. Unconfirmed
    // readings, or a single confirmed one, don't count: a misreading that repeats, once
    // reported, would then hold back the true code around it.
    bool SlotTakenBetween(const Entry& older, const Entry& fresh) const {
        const Family& family = static_cast<const Family&>(*this);
        auto between = [&](const Entry& e) { return InSlotBetween(e, older, fresh); };
        for (const Entry& e : m_ring) {
            if (!e.reportedPair || !between(e) || family.SameCode(e.det, fresh.det)) continue;
            for (const Entry& again : m_ring)
                if (&again != &e && again.reportedPair && between(again) &&
                    family.SameCode(again.det, e.det))
                    return true;
        }
        return false;
    }

    // True when the readings in the slot of `older` and `fresh` whose last symbols lie between
    // theirs name another code: at least three of them, of separate repetitions, agree with
    // each other and outnumber the repetitions between and including the pair that agree with
    // the pair, where
    // - a reading off the pair's time line agrees with those on its own (Family::Validate's
    //   time test), whatever content symbols each misread: one encoder sends one time line per
    //   slot, so the pair agrees in a time symbol read wrong the same way twice;
    // - a reading on the pair's time line agrees with those of its code (Family::SameCode):
    //   the pair then agrees in a content symbol read wrong the same way twice.
    // (A symbol the other families' tones keep pushing one way.) A new code or a clock set
    // anew at an encoder ends the old readings before the new ones begin, so it never meets
    // this.
    bool OutvotedBetween(const Entry& older, const Entry& fresh) const {
        const Family& family = static_cast<const Family&>(*this);
        const Entry* between[RingSize];
        bool onPairClock[RingSize];  // on the pair's time line (Family::Validate's time test)
        int n = 0;
        for (const Entry& e : m_ring) {
            if (!InSlotBetween(e, older, fresh)) continue;
            onPairClock[n] = (family.Validate(e.det, fresh.det, 1) & 2) != 0;
            between[n++] = &e;
        }
        if (n < 3) return false;
        // Repetitions among `between` that agree with `ref` (itself on the pair's time line or
        // not): readings of one repetition at several depths (last symbols within a second)
        // count once.
        auto repetitionsAgreeingWith = [&](const Entry& ref, bool refOnPairClock) {
            int32_t ends[RingSize];
            int count = 0;
            for (int i = 0; i < n; ++i) {
                const Entry& e = *between[i];
                const bool agree = refOnPairClock
                                       ? onPairClock[i] && family.SameCode(ref.det, e.det)
                                       : (family.Validate(ref.det, e.det, 1) & 2) != 0;
                if (!agree) continue;
                const int32_t end = int32_t(e.det.end);
                bool seen = false;
                for (int k = 0; k < count && !seen; ++k)
                    seen = std::abs(CircData_Signed_Difference(end, ends[k],
                                                               Family::kTimeModulusMs)) < 1000;
                if (!seen) ends[count++] = end;
            }
            return count;
        };
        const int support = 2 + repetitionsAgreeingWith(fresh, true);
        for (int i = 0; i < n; ++i) {
            if (onPairClock[i] && family.SameCode(fresh.det, between[i]->det)) continue;
            const int other = repetitionsAgreeingWith(*between[i], onPairClock[i]);
            if (other >= 3 && other > support) return true;
        }
        return false;
    }

    // True when the data symbols of the program detection d (the time code's
    // last symbol aside, which runs on) are those of another program code in
    // the ring taken out of place in one of the family's displacement
    // patterns (Family::kDisplacements: for each of d's symbols, the index of
    // the other code's symbol it repeats), and the two codes differ: d is then
    // the other code misread, and names a code never sent.
    bool DisplacedProgram(const _WATERMARK_Detection_t& d) const {
        uint8_t mine[Family::kProgramDataSymbols];
        Family::ProgramDataSymbols(d, mine);
        for (const Entry& e : m_ring) {
            if (!e.used || e.det.layer != 0) continue;
            uint8_t theirs[Family::kProgramDataSymbols];
            Family::ProgramDataSymbols(e.det, theirs);
            bool same = true;
            for (int i = 0; i < Family::kProgramDataSymbols; ++i)
                same = same && mine[i] == theirs[i];
            if (same) continue;
            for (const auto& pattern : Family::kDisplacements) {
                bool match = true;
                for (int i = 0; i < Family::kProgramDataSymbols && match; ++i)
                    match = mine[i] == theirs[pattern[i]];
                if (match) return true;
            }
        }
        return false;
    }

    // True when the program detection d, whose last symbol ended at `end` (ms, the ring's
    // clock), misreads a program code the filter has already reported (in pairs, with a time
    // code, within Family::kMaxGapMs): StraddledProgram or ShiftedProgram holds for it. Each
    // code is compared by its symbols at d's time (its time code advanced by the seconds
    // between them); one walk of the ring serves both rules.
    bool MisreadsReportedProgram(const _WATERMARK_Detection_t& d, uint32_t end) const {
        constexpr int n = Family::kProgramDataSymbols;
        constexpr int32_t modulus = Family::kProgramPhaseModulus;
        uint8_t mine[n + 1];
        Family::ProgramSymbolsAt(d, 0, mine);
        for (const Entry& e : m_ring) {
            if (!e.used || e.inert || e.det.layer != 0 || !e.reportedPair) continue;
            if (e.det.timestamp > 0x1FFFFFFFu) continue;
            const int32_t ms = int32_t(end - e.det.end);
            if (std::abs(ms) > int32_t(Family::kMaxGapMs)) continue;
            const int32_t seconds = (ms >= 0 ? ms + 500 : ms - 500) / 1000;
            // d's phase less the code's on the message clock.
            const int32_t offset = CircData_Signed_Difference(
                int32_t(d.phase % modulus), int32_t(e.det.phase % modulus), modulus);
            uint8_t theirs[n + 1];
            Family::ProgramSymbolsAt(e.det, seconds, theirs);
            if (StraddledProgram(d, mine, e.det, std::abs(offset), seconds, theirs) ||
                ShiftedProgram(mine, offset, theirs))
                return true;
        }
        return false;
    }

    // True when the program reading d (symbols `mine`) is a reading across symbol boundaries
    // of the reported code `code` (symbols `theirs` at d's time, `seconds` later, phases
    // `phase` frames apart): a reading a fraction of a symbol spacing off the true one
    // (within Family::kStraddlePhase frames on the message clock) takes each symbol from the
    // stretch where that symbol and a neighbour meet, and so reads each data symbol as the
    // true code's symbol at the same place or at the place before or after it. Such a
    // reading is weaker than the true one and names a code never sent (or the true code
    // with a wrong time code). A weaker reading in the code's own slot (Family::kSlotPhase)
    // that agrees with its time code but not its content, or whose data symbols are the
    // code's but one, is that code misread as well.
    static bool StraddledProgram(const _WATERMARK_Detection_t& d, const uint8_t* mine,
                                 const _WATERMARK_Detection_t& code, int32_t phase, int32_t seconds,
                                 const uint8_t* theirs) {
        constexpr int n = Family::kProgramDataSymbols;
        if (d.strength >= code.strength || phase > Family::kStraddlePhase) return false;
        // Another reading of the reported code itself (time within 2 s) is not straddled.
        const uint32_t advanced = (code.timestamp + uint32_t(seconds)) & 0x1FFFFFFFu;
        const int32_t late =
            int32_t(((d.timestamp - advanced) + 0x10000000u) & 0x1FFFFFFFu) - 0x10000000;
        const bool onTime = d.timestamp <= 0x1FFFFFFFu && std::abs(late) <= 2;
        if (onTime && d.sid == code.sid && d.dist == code.dist && d.dst == code.dst &&
            d.transmission == code.transmission)
            return false;
        // A weaker reading in the reported code's own slot (phase within the pairing
        // tolerance) with its time code but other content: one encoder sends one program
        // message per slot, so this is that message with a data symbol misread.
        if (onTime && phase <= Family::kSlotPhase) return true;
        // So is one there whose data symbols are the code's but one (its time code then
        // differs as well when that symbol carries time bits).
        int differ = 0;
        for (int i = 0; i < n; ++i) differ += mine[i] != theirs[i];
        if (differ <= 1 && phase <= Family::kSlotPhase) return true;
        return WithinOnePlace(mine, n, theirs, n + 1);
    }

    // True when the program reading with symbols `mine` is a reported code (symbols `theirs`
    // at the reading's time, its phase `offset` frames before the reading's) read a whole
    // symbol early or late: the phases lie one symbol spacing (Family::kSymbolFrames, within
    // Family::kSlotPhase) apart, and the reading's data symbols are the code's one place on,
    // all but one. The symbol that the shifted reading takes from beyond the message (the
    // marker, or the running last symbol) is not compared, and one other may differ: the
    // accumulation of a shifted reading misreads a further symbol now and then. An unrelated
    // code agrees so by chance about once in 27 million comparisons.
    static bool ShiftedProgram(const uint8_t* mine, int32_t offset, const uint8_t* theirs) {
        constexpr int n = Family::kProgramDataSymbols;
        if (std::abs(std::abs(offset) - Family::kSymbolFrames) > Family::kSlotPhase) return false;
        for (const int shift : {-1, 1}) {  // the reading's symbol i is the code's i + shift
            int differ = 0;
            for (int i = 0; i < n; ++i) {
                const int j = i + shift;
                if (j >= 0 && j < n) differ += mine[i] != theirs[j];
            }
            if (differ <= 1) return true;
        }
        return false;
    }

    // True when the standard commercial detection d reads the identifier of a confirmed
    // Reed-Solomon detection in the ring (the family decides which Reed-Solomon readings
    // count): the two message kinds share marker and layer, and an accumulation over
    // repetitions misreads the standard reading's running last symbol (the Reed-Solomon
    // parity does not run on), so a reading of a heard identifier with any last symbols is
    // that message, not a standard one.
    bool ReadsHeardIdentifier(const _WATERMARK_Detection_t& d) const {
        for (const Entry& e : m_ring)
            if (e.used && e.det.layer == 2 && e.reportedPair &&
                Family::StandardReadsIdentifier(d, e.det))
                return true;
        return false;
    }

    int m_allowNegativeNonProg;
    _WATERMARK_Detection_t m_current;
    Entry m_ring[RingSize];
    int m_writeIndex;
};

#endif  // TAVIK_DECODERS_TESK6_CTESKDCFILTER_H
