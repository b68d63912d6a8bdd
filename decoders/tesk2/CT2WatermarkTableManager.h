// Table of the TESK 2 detections of one audio block (at most 20). The decoder
// fills it through the reporter while the engine runs, marks redundant
// standard commercial records, reports every record and resets it.
#ifndef TAVIK_DECODERS_TESK2_CT2WATERMARKTABLEMANAGER_H
#define TAVIK_DECODERS_TESK2_CT2WATERMARKTABLEMANAGER_H

#include <stdint.h>

#include "decoders/tesk2/T2MsgDecode.h"

typedef struct Tesk2Record_t {
    _T2M_Detection_t detection;
    uint32_t frame;  // core frame counter delivered with the detection
    uint8_t status;  // 1 report normally, 0 redundant
} Tesk2Record_t;

class CT2WatermarkTableManager {
public:
    static constexpr uint32_t kMaxRecords = 20;
    // A valid commercial identifier found at depth 0 with at least this
    // quality makes every standard commercial record of the block redundant.
    static constexpr uint32_t kStrongUccQuality = 50000;

    struct UccEntry {
        uint32_t index;
        uint32_t depth;
        uint32_t quality;
    };

    CT2WatermarkTableManager();

    // Count and UCC count 0; every record zeroed with status 1 and frame
    // 0xFFFFFFFF; all UCC entries 0xFFFFFFFF.
    void Reset();

    // Copies a detection into the next record (a 21st detection of one block
    // is dropped).
    void AddWatermark(const _T2M_Detection_t* detection, uint32_t frame);

    // Status 1; a Reed-Solomon record whose commId passes
    // CUCCValidator::IsValidCommID is added to the valid UCC list.
    void InitializeStatus(uint32_t index);

    // Without a valid UCC entry nothing changes. Otherwise every standard
    // commercial record goes through SetCcRecordStatus with the flag "some
    // valid UCC entry has depth 0 and quality >= 50000".
    void SetStatusOfWatermarkTableRecords();

    // flag set: status 0; flag clear: status 0 only when the record's 2-bit
    // distribution field is greater than 1.
    void SetCcRecordStatus(uint32_t index, bool strongUcc);

    // Ignored beyond 20 entries.
    void AddValidUccToArray(uint32_t index, uint32_t depth, uint32_t quality);

    uint32_t Count() const { return m_count; }
    const Tesk2Record_t& Record(uint32_t index) const { return m_records[index]; }
    uint32_t ValidUccCount() const { return m_validUccCount; }

private:
    uint32_t m_count;
    Tesk2Record_t m_records[kMaxRecords];
    uint32_t m_validUccCount;
    UccEntry m_validUcc[kMaxRecords];
};

#endif  // TAVIK_DECODERS_TESK2_CT2WATERMARKTABLEMANAGER_H
