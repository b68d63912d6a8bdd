// Detection filter of the filtered TESK 2 callback. ProcessDetection parses one
// TESK 2 detection text of the hybrid decoder, passes a Reed-Solomon
// commercial detection at once when its commId is valid, and reports program
// and standard commercial detections only in confirmed pairs: an older
// detection of the same layer (one of the last 31) must agree in phase (within
// 6 frames on the 748-frame circle), in content (SID, distribution code, DST
// flag) and in time (time code difference minus elapsed seconds within +-2).
// Then both are reported, each at most once. A program pair whose content
// agrees but whose time codes do not is reported with timestamp -1.
#ifndef TAVIK_DECODERS_TESK2_CTESK2DCFILTER_H
#define TAVIK_DECODERS_TESK2_CTESK2DCFILTER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "decoders/tesk6/WatermarkDetection.h"

class CTesk2DCFilter {
public:
    static constexpr int kRingSize = 32;
    static constexpr int32_t kPhaseModulus = 748;
    static constexpr int32_t kMaxPhaseDifference = 6;
    static constexpr int32_t kTimeModulusMs = 673200000;  // one frame-counter cycle
    static constexpr int32_t kTimestampModulus = 2147483647;

    CTesk2DCFilter();

    // Negative gaps allowed for layers other than the program layer; ring and
    // marks cleared, every record cleared by ClearDetection.
    void initDCFilter();

    // Clears out, parses json into the current record and filters it; returns
    // the number of texts in out (in emission order). Throws the C string
    // "Failed to parse/extract json detection." when the text is not a TESK 2
    // detection, "Unable to parse/extract json detection." when copying or
    // converting raised an exception.
    int ProcessDetection(std::string json, std::vector<std::string>& out);

    // Parses a TESK 2 detection text into the current record; false when the
    // text does not parse or lacks a member. "dist": "COMM_STD" 0, "PC" 1,
    // "FD" 2, other 3; "sid" 0 when absent; "commId" read as hexadecimal.
    bool ConvertJsonStrToDetectionStruct(std::string json);

    static void CopyDetection(const _WATERMARK_Detection_t& from, _WATERMARK_Detection_t& to);
    // All fields 0 except phase 748, timestamp 0xFFFFFFFF, dist 1, transmission 2.
    static void ClearDetection(_WATERMARK_Detection_t& d);

    // 0 phases too far apart (or a negative gap where not allowed); otherwise
    // (same content ? 1 : 0) + (time codes agree ? 2 : 0).
    static int ValidateDetection(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b,
                                 int allowNegative);

    // Appends the TESK 2 detection text of a record (start and end written as
    // "firstSymAge" and "lastSymAge").
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

    int m_allowNegativeNonProg;
    _WATERMARK_Detection_t m_current;
    Entry m_ring[kRingSize];
    int m_writeIndex;
};

#endif  // TAVIK_DECODERS_TESK2_CTESK2DCFILTER_H
