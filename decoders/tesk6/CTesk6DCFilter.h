// Confirmation filter for TESK 6 detections.
//
// ProcessDetection takes one detection JSON text of the TESK 6 decoder and
// returns the texts to report: a detection is reported only when an earlier
// detection of the same layer (among the last 127) agrees with it in phase,
// time and content, and then both are reported, each at most once. A
// Reed-Solomon commercial detection needs a valid commId and the same commId
// again; commercial pairs must come from separate stretches of audio. Program
// pairs whose time codes disagree are reported with "timestamp" -1. A standard
// commercial detection whose seven symbols form a Reed-Solomon code word with a
// valid commercial identifier is the standard reading of a Reed-Solomon message
// and is never paired; so is one whose first five symbols are the identifier of a
// confirmed Reed-Solomon detection in the ring. A weaker program reading a few
// frames off a reported code, each of whose symbols is that code's at the same or
// a neighbouring place, is a reading across symbol boundaries and is dropped; so is a
// weaker one in the code's own slot with its time code and other content, or one data
// symbol off, and a reading a whole symbol early or late. A Reed-Solomon reading
// decoded with a correction whose code word is a confirmed standard commercial message,
// as read or displaced, never pairs (MisreadsRingEntry), and two readings of one code
// don't pair when another code was confirmed in their slot between them, or when the
// readings between them name another code or time line more often than the pair's.
#ifndef TAVIK_DECODERS_TESK6_CTESK6DCFILTER_H
#define TAVIK_DECODERS_TESK6_CTESK6DCFILTER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "decoders/tesk6/CTeskDCFilter.h"
#include "decoders/tesk6/Tesk6DetectionText.h"
#include "decoders/tesk6/WatermarkDetection.h"
#include "dsp/ReedSolomon.h"

// Parsing, ring and pairing walk come from CTeskDCFilter (ProcessDetection,
// ConvertJsonStrToDetectionStruct, CopyDetection, Current); this class holds
// the TESK 6 rules: a ring of 128, the 50-frame phase circle, the maximum
// gap, the content compared and the 32 ms block time.
class CTesk6DCFilter : public CTeskDCFilter<CTesk6DCFilter, 128> {
public:
    static constexpr uint32_t kMaxGapMs = 56488;
    static constexpr int32_t kTimeModulusMs = 673200000;  // one frame-counter cycle
    static constexpr int32_t kTimestampModulus = 1 << 29;

    CTesk6DCFilter();

    // Resets settings (maximum gap 56488 ms), ring and marks.
    void initDCFilter();

    // All fields 0 except phase 50 and timestamp 0xFFFFFFFF.
    static void ClearDetection(_WATERMARK_Detection_t& d);

    // 0 when the phases differ by more than 2 (mod 50) or the gap from b's end
    // to a's start is above maxGap (or negative without allowNegative);
    // otherwise (same SID, distribution, DST and transmission ? 1 : 0) +
    // (time codes agree with the elapsed time within 2 s ? 2 : 0).
    static int ValidateDetection(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b,
                                 int allowNegative, uint32_t maxGap);

    // True when the standard fields of d (SID, transmission, distribution,
    // DST, 29-bit time code) are the seven data symbols of a (7, 5)
    // Reed-Solomon code word whose commercial identifier is valid, for the
    // time code as read or with any advance (1 to 5) a deeper accumulation
    // adds to its last symbol taken back. Both message kinds share marker and
    // layer, so every Reed-Solomon message also reads as some standard one;
    // a true standard message is a code word only by chance (1 in 16384 per
    // candidate word).
    bool ReadsAsReedSolomon(const _WATERMARK_Detection_t& d) const;

    // True when b confirms the commercial detection a as an independent
    // reading: a's accumulated span (from its first symbol, "firstSymAge"
    // before the decode, to its last symbol at "elapsedTime") begins after
    // b's last symbol and at most maxGap later, the phases are within 2
    // (mod 50), and a Reed-Solomon pair carries the same commId. A deeper
    // detection accumulates earlier repetitions from the same history, so
    // detections whose spans overlap share audio and are not two readings.
    static bool IndependentCommercial(const _WATERMARK_Detection_t& a,
                                      const _WATERMARK_Detection_t& b, uint32_t maxGap);

    // Standard commercial readings whose data symbols are those of a Reed-Solomon identifier
    // in the ring are dropped (see StandardReadsIdentifier).
    static constexpr bool kDropHeardReedSolomonReadings = true;

    // True when symbols 1 to 5 of the standard reading d (SID, transmission, distribution,
    // DST and time code down to bit 14) are the five data symbols of the Reed-Solomon
    // detection rs, and rs was decoded without a correction (quality 50000 or more). An
    // unrelated standard message matches a given identifier about once in 128^5. The
    // Reed-Solomon block also reads standard messages, as code words one symbol off (a
    // correction, often of the running last symbol); only a word read as it stands
    // identifies a Reed-Solomon message on air. A standard reading across symbol boundaries
    // of the identifier (each of its symbols 1 to 6 one of the identifier's at the same place
    // or the place before or after it; unrelated readings agree so about once in 10^10) is
    // that message too.
    static bool StandardReadsIdentifier(const _WATERMARK_Detection_t& d,
                                        const _WATERMARK_Detection_t& rs);

    // True when the Reed-Solomon detection d (start and end as absolute times, like the
    // ring's) was decoded with a correction (quality below 50000) and its code word is a
    // standard commercial message confirmed at most kMaxGapMs away, in a slot that overlaps
    // d's (phases within kMaxDisplacement symbols of 6 frames, plus the pairing tolerance),
    // read as it stands or displaced by up to kMaxDisplacement places: at least four of the
    // word's symbols are the message's symbols at the same or the displaced place (the
    // running last symbol left out). Both kinds share marker and layer, so two such
    // messages can't both be on air there, and a standard message one symbol off a code
    // word decodes with one correction; while its running last symbol passes through the
    // word's parity it does so again and again with the same identifier. An unrelated
    // identifier agrees so by chance about once in 3.6 million comparisons. Such a reading
    // neither pairs nor confirms.
    bool MisreadsRingEntry(const _WATERMARK_Detection_t& d) const;

    // True when the readings a and b lie in one message slot: phases within 2 frames on the
    // layer's repetition (150 frames for programs, 50 for commercials).
    static bool SameSlot(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b);
    // True when a and b name one code: the same commId (Reed-Solomon), or the same SID,
    // distribution and flags with time codes that agree with the time between them within
    // 2 s.
    static bool SameCode(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b);

    // Appends the record as one detection text (decoder format).
    static void emitDetection(const _WATERMARK_Detection_t& d, std::vector<std::string>& out);

private:
    friend class CTeskDCFilter<CTesk6DCFilter, 128>;

    static constexpr const char* kKey = kTesk6Key;
    static constexpr bool kHasTransmission = true;
    // "dist": "PC" 0, "FD1" 1, "FD2" 2, "FD3" 3, any other text 4.
    static uint16_t DistCode(const char* text) { return Tesk6DistCode(text); }
    // Time of a 32 ms sample block in ms (single precision, truncated),
    // modulo 2^32 like the rest of the filter's time arithmetic (indices from
    // 2^27 on give more than 32 bits of ms).
    static uint32_t BlockTimeMs(uint32_t sampleBlockIndex) {
        return uint32_t(uint64_t(float(sampleBlockIndex) * 1000.0f * 0.032f));
    }
    int Validate(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b,
                 int allowNegative) const {
        return ValidateDetection(a, b, allowNegative, m_maxGap);
    }
    // Noise yields commercial readings that a second reading of the same,
    // accumulated audio repeats; each needs one from audio of its own.
    static constexpr bool kConfirmCommercials = true;
    bool ConfirmsCommercial(const _WATERMARK_Detection_t& fresh,
                            const _WATERMARK_Detection_t& old) const {
        return IndependentCommercial(fresh, old, m_maxGap);
    }

    // A program message read one symbol spacing late or from every second
    // symbol, seen beside a standard commercial message of the same clock, is
    // dropped while the true code is in the ring.
    static constexpr bool kDropDisplacedPrograms = true;
    // Symbols 1 to 6 of the seven 7-bit symbols (the seventh is the running
    // low part of the time code).
    static constexpr int kProgramDataSymbols = 6;
    static void ProgramDataSymbols(const _WATERMARK_Detection_t& d, uint8_t* out);
    // Symbol i of the misreading repeats symbol kDisplacements[p][i] of the
    // true code: the first symbol twice and the rest one place late; every
    // second symbol twice. An unrelated code matches a pattern by chance
    // about once in 128^5.
    static constexpr int kDisplacements[2][kProgramDataSymbols] = {{0, 0, 1, 2, 3, 4},
                                                                   {1, 1, 3, 3, 5, 5}};
    // All seven symbols of d's program message `seconds` later (its time code advanced on the
    // 29-bit cycle).
    static void ProgramSymbolsAt(const _WATERMARK_Detection_t& d, int32_t seconds, uint8_t* out);
    // Program messages repeat every 150 frames, their symbols 6 frames apart: a reading less
    // than a symbol spacing off the true one lies within 5 frames of its phase.
    static constexpr int32_t kProgramPhaseModulus = 150;
    static constexpr int32_t kStraddlePhase = 5;
    // Readings of one message in one slot: phases within the pairing tolerance.
    static constexpr int32_t kSlotPhase = 2;
    // A message's symbols lie 6 frames apart.
    static constexpr int32_t kSymbolFrames = 6;
    // Largest number of symbol places by which a Reed-Solomon reading of a standard message
    // can stand off it (a decoding that takes a candidate next to the marker for it).
    static constexpr int kMaxDisplacement = 2;

    uint32_t m_maxGap;
    RsCodeParams m_rs;
};

#endif  // TAVIK_DECODERS_TESK6_CTESK6DCFILTER_H
