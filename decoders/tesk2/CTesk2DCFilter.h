// Detection filter of the filtered TESK 2 callback. ProcessDetection parses one
// TESK 2 detection text of the hybrid decoder and reports detections only in
// confirmed pairs: an older detection of the same layer (one of the last 31)
// must agree in phase (within 6 frames on the 748-frame circle), in content
// (SID, distribution code, DST flag) and in time (time code difference minus
// elapsed seconds within +-2). Then both are reported, each at most once. A
// program pair whose content agrees but whose time codes do not is reported
// with timestamp -1. Commercial detections (standard, and Reed-Solomon ones
// with a valid commId) are confirmed only by one read from separate audio
// with the same content (IndependentCommercial). A reading that contradicts a
// code confirmed in the same message slot (MisreadsRingEntry) is dropped, and two
// readings of one code don't pair when another code was confirmed in their slot
// between them (SameSlot, SameCode) or when the readings between them name
// another code or time line more often than the pair's (OutvotedBetween).
#ifndef TAVIK_DECODERS_TESK2_CTESK2DCFILTER_H
#define TAVIK_DECODERS_TESK2_CTESK2DCFILTER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "decoders/tesk2/Tesk2DetectionText.h"
#include "decoders/tesk6/CTeskDCFilter.h"
#include "decoders/tesk6/WatermarkDetection.h"
#include "dsp/ReedSolomon.h"

// Parsing, ring and pairing walk come from CTeskDCFilter (ProcessDetection,
// ConvertJsonStrToDetectionStruct, CopyDetection, Current, initDCFilter);
// this class holds the TESK 2 rules: a ring of 32, the 748-frame phase
// circle, no maximum gap, the content compared (no transmission), the 31-bit
// time codes and the 2.667 ms block time. "dist": "COMM_STD" 0, "PC" 1,
// "FD" 2, other 3.
class CTesk2DCFilter : public CTeskDCFilter<CTesk2DCFilter, 32> {
public:
    static constexpr int32_t kPhaseModulus = 748;
    static constexpr int32_t kMaxPhaseDifference = 6;
    static constexpr int32_t kTimeModulusMs = 673200000;  // one frame-counter cycle
    static constexpr int32_t kTimestampModulus = 2147483647;

    CTesk2DCFilter();

    // All fields 0 except phase 748, timestamp 0xFFFFFFFF, dist 1, transmission 2.
    static void ClearDetection(_WATERMARK_Detection_t& d);

    // 0 phases too far apart (or a negative gap where not allowed); otherwise
    // (same content ? 1 : 0) + (time codes agree ? 2 : 0).
    static int ValidateDetection(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b,
                                 int allowNegative);

    // Longest time from the last symbol of a commercial detection to the first
    // symbol of the independent one that confirms it.
    static constexpr uint32_t kCommMaxGapMs = 60000;

    // True when b confirms the commercial detection a as an independent
    // reading: a's accumulated span (from its first symbol, "firstSymAge"
    // before the decode, to its last symbol at "elapsedTime") begins after
    // b's last symbol and at most maxGap later, the phases are within 6 on
    // the 748-frame circle, and a Reed-Solomon pair carries the same commId.
    // Start and end are the filter's stored absolute times (block time less
    // the ages).
    static bool IndependentCommercial(const _WATERMARK_Detection_t& a,
                                      const _WATERMARK_Detection_t& b, uint32_t maxGap);

    // True when the standard commercial fields of d (SID, DST flag, 31-bit
    // time code, distribution field) are the ten transmitted symbols of an
    // (11, 7) Reed-Solomon code word whose commercial identifier is valid, for
    // the time symbols as read or with the advance a deeper accumulation adds
    // (8, 16 or 24 on the 30-bit value of symbols 5 to 10) taken back. Both
    // message kinds share the commercial layer's tones and marker, so every
    // Reed-Solomon message also reads as some standard one; a true standard
    // message is a code word only by chance (1 in 32768 per candidate word).
    bool ReadsAsReedSolomon(const _WATERMARK_Detection_t& d) const;

    // True when the detection d (start and end as absolute times, like the ring's) misreads a
    // code the filter has confirmed in the same message slot: the ring holds a reported pair
    // entry whose audio overlaps d's or is at most one repetition of the layer away
    // (AdjacentMs), and
    //  - d is a program or standard commercial reading at the entry's phase (within 6 frames)
    //    whose time code agrees with the entry's (as a pair's must) but whose content (SID,
    //    distribution, DST flag) differs: one encoder sends one message per slot, so the two
    //    cannot both be on air (a program SID read now PC, now FD is not a contradiction: the
    //    callback's distribution tally settles those), or a standard commercial reading with
    //    the entry's content and another time code (its time symbols misread);
    //  - or d is a program or standard commercial reading at the entry's phase whose content
    //    and time code both differ from the entry's but whose symbols are the entry's (time
    //    code advanced to d's time, within two seconds) but one (OneSymbolOff);
    //  - or d and the entry are the two commercial kinds, a Reed-Solomon code word and a
    //    standard message, that SameCommercialWord finds to be one reading of the other.
    //    Both kinds share the commercial tones and marker: a Reed-Solomon message reads as a
    //    standard one whose time symbols the accumulation's advance has moved, and a standard
    //    message, with the untransmitted symbol and one more erased and one error corrected,
    //    decodes as some code word for about a quarter of all words, again from the next
    //    repetitions while its slower symbols stay.
    // Such a reading neither pairs nor confirms.
    bool MisreadsRingEntry(const _WATERMARK_Detection_t& d) const;

    // Largest number of symbol places by which the marker of a commercial reading of one kind
    // can stand off the other kind's (a decoding that takes a candidate next to the marker for
    // it and repairs the first or last places).
    static constexpr int kMaxDisplacement = 2;

    // True when the Reed-Solomon code word rsWord (transmitted symbols 1 to 10) read at
    // rsPhase is the standard message stdSym (symbols 1 to 10) read at stdPhase, as read or
    // displaced by up to kMaxDisplacement places (its phase then that many 64-frame symbols
    // off): of the standard symbols 1 to 8 (the ones that change slowest with the time code)
    // that the word covers, at least six, and all but (covered - 6) agree. An unrelated pair
    // agrees so by chance about once in 40 million comparisons.
    static bool SameCommercialWord(const uint32_t rsWord[10], int32_t rsPhase,
                                   const uint32_t stdSym[10], int32_t stdPhase);

    // True when the standard symbols `mine` (1 to 10) of the reading d differ in exactly one
    // place from those of the standard reading `code` with its time code advanced to d's
    // time (by the seconds between their last symbols, give or take two).
    static bool OneSymbolOff(const uint32_t mine[10], const _WATERMARK_Detection_t& code,
                             const _WATERMARK_Detection_t& d);

    // Transmitted symbols 1 to 10 of the Reed-Solomon code word of commId.
    void ReedSolomonWord(uint64_t commId, uint32_t word[10]) const;

    // Largest time from the end of one reading to the start of another for them to be the
    // same or the next repetition of a message of the layer (program 0, commercial 1): one
    // repetition period less half a message, so the repetition after next never counts.
    static constexpr int32_t AdjacentMs(uint32_t layer) {
        return (int32_t(layer == 0 ? 2 : 1) * 748 - 704 / 2) * 8 / 3;
    }

    // True when the readings a and b lie in one message slot: phases within 6 frames on the
    // layer's repetition (1496 frames for programs, 748 for commercials).
    static bool SameSlot(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b);
    // True when a and b name one code: the same commId (Reed-Solomon), or the same SID,
    // distribution and DST flag with time codes that agree with the time between them within
    // 2 s. A program SID read now PC, now FD is one code (the callback's distribution tally
    // settles it).
    static bool SameCode(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b);

    // Transmitted symbols 1 to 10 of the standard message whose fields d holds.
    static void StandardSymbols(const _WATERMARK_Detection_t& d, uint32_t sym[10]);

    // Appends the TESK 2 detection text of a record (start and end written as
    // "firstSymAge" and "lastSymAge").
    static void emitDetection(const _WATERMARK_Detection_t& d, std::vector<std::string>& out);

private:
    friend class CTeskDCFilter<CTesk2DCFilter, 32>;

    static constexpr const char* kKey = kTesk2Key;
    static constexpr bool kHasTransmission = false;
    // Noise, program messages and the other families yield commercial readings (valid
    // Reed-Solomon identifiers, standard commercial SIDs) that a deeper reading of the same,
    // accumulated audio repeats; each needs one from audio of its own.
    static constexpr bool kConfirmCommercials = true;
    bool ConfirmsCommercial(const _WATERMARK_Detection_t& fresh,
                            const _WATERMARK_Detection_t& old) const {
        return IndependentCommercial(fresh, old, kCommMaxGapMs);
    }
    static uint16_t DistCode(const char* text) { return Tesk2DistCode(text); }
    // Time of a 64-sample block at 24 kHz in ms, truncated, modulo 2^32 like
    // the rest of the filter's time arithmetic.
    static uint32_t BlockTimeMs(uint32_t sampleBlockIndex) {
        return uint32_t(
            uint64_t(double(float(sampleBlockIndex) * 1000.0f) * 0.0026666666666666666));
    }

    int Validate(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b,
                 int allowNegative) const {
        return ValidateDetection(a, b, allowNegative);
    }

    // No displaced program readings were seen in TESK 2 (the rule's other members are then
    // not needed).
    static constexpr bool kDropDisplacedPrograms = false;
    // Standard readings of a heard Reed-Solomon identifier are dropped by MisreadsRingEntry.
    static constexpr bool kDropHeardReedSolomonReadings = false;

    RsCodeParams m_rs;
};

#endif  // TAVIK_DECODERS_TESK2_CTESK2DCFILTER_H
