// Confirmation filter for TESK 6 detections.
//
// ProcessDetection takes one detection JSON text of the TESK 6 decoder and
// returns the texts to report: a Reed-Solomon commercial detection passes at
// once when its commId is valid; a program or standard commercial detection is
// reported only when an earlier detection of the same layer (among the last
// 127) agrees with it in phase, time and content, and then both are reported,
// each at most once. Program pairs whose time codes disagree are reported
// with "timestamp" -1.
#ifndef TAVIK_DECODERS_TESK6_CTESK6DCFILTER_H
#define TAVIK_DECODERS_TESK6_CTESK6DCFILTER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "decoders/tesk6/WatermarkDetection.h"

class CTesk6DCFilter {
public:
    static constexpr int kRingSize = 128;
    static constexpr uint32_t kMaxGapMs = 56488;
    static constexpr int32_t kTimeModulusMs = 673200000;  // one frame-counter cycle
    static constexpr int32_t kTimestampModulus = 1 << 29;

    CTesk6DCFilter();

    // Resets settings, ring and marks.
    void initDCFilter();

    // Parses `json` and filters it; `out` is cleared and receives the texts to
    // report (older first). Returns out.size(). Throws the C string
    // "Failed to parse/extract json detection." when the text is not a TESK 6
    // detection, and "Unable to parse/extract json detection." when parsing
    // raised an exception.
    int ProcessDetection(std::string json, std::vector<std::string>& out);

    // Fills the current record from a detection text; false when the text is
    // not valid JSON, has no "TESK6" object or lacks a required member.
    bool ConvertJsonStrToDetectionStruct(std::string json);

    static void CopyDetection(const _WATERMARK_Detection_t& from, _WATERMARK_Detection_t& to);
    // All fields 0 except phase 50 and timestamp 0xFFFFFFFF.
    static void ClearDetection(_WATERMARK_Detection_t& d);

    // 0 when the phases differ by more than 2 (mod 50) or the gap from b's end
    // to a's start is above maxGap (or negative without allowNegative);
    // otherwise (same SID, distribution, DST and transmission ? 1 : 0) +
    // (time codes agree with the elapsed time within 2 s ? 2 : 0).
    static int ValidateDetection(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b,
                                 int allowNegative, uint32_t maxGap);

    // Appends the record as one detection text (decoder format).
    static void emitDetection(const _WATERMARK_Detection_t& d, std::vector<std::string>& out);

    const _WATERMARK_Detection_t& Current() const { return m_current; }

private:
    struct Entry {
        _WATERMARK_Detection_t det;
        uint16_t reportedSingle;
        uint16_t reportedPair;
        bool used;  // false until a detection is stored in the slot
    };

    void FilterDetection(std::vector<std::string>& out);

    uint32_t m_maxGap;
    int m_allowNegativeNonProg;
    _WATERMARK_Detection_t m_current;
    Entry m_ring[kRingSize];
    int m_writeIndex;
};

#endif  // TAVIK_DECODERS_TESK6_CTESK6DCFILTER_H
