// Table of the TESK 6 detections of one audio block (at most 20). The
// decoder fills it through the reporter while the engine runs, marks
// redundant standard commercial records, reports every record and resets it.
#ifndef TAVIK_DECODERS_TESK6_CT6WATERMARKTABLEMANAGER_H
#define TAVIK_DECODERS_TESK6_CT6WATERMARKTABLEMANAGER_H

#include <stdint.h>

#include "decoders/tesk6/T6Msg.h"

typedef struct Tesk6Record_t {
    _T6M_Detection_t detection;
    uint32_t frame;  // core frame counter delivered with the detection
    uint8_t status;  // 1 report normally, 0 redundant
} Tesk6Record_t;

class CT6WatermarkTableManager {
public:
    static constexpr uint32_t kMaxRecords = 20;

    CT6WatermarkTableManager();

    // Count and both index counts 0; every record zeroed with status 1 and
    // frame 0xFFFFFFFF (-1); all index entries -1.
    void Reset();

    // Copies a detection into the next record (a 21st detection of one block
    // is dropped).
    void AddWatermark(const _T6M_Detection_t* detection, uint32_t frame);

    // Status 1; records a Reed-Solomon record with a valid commId as valid
    // UCC and a standard commercial record with distribution code 0 and
    // transmission flag 1 as valid TWCC (each list holds at most 20).
    void InitializeStatus(uint32_t index);

    // When at least one valid UCC or TWCC record exists, every standard
    // commercial record other than the TWCC kind (distribution 0,
    // transmission 1) is marked redundant (status 0).
    void SetStatusOfWatermarkTableRecords();
    void SetCcRecordStatus(uint32_t index);

    void AddValidUccToArray(uint32_t index);
    void AddValidTwccToArray(uint32_t index);

    uint32_t Count() const { return m_count; }
    const Tesk6Record_t& Record(uint32_t index) const { return m_records[index]; }
    uint32_t ValidUccCount() const { return m_validUccCount; }
    uint32_t ValidTwccCount() const { return m_validTwccCount; }

private:
    uint32_t m_count;
    Tesk6Record_t m_records[kMaxRecords];
    uint32_t m_validUccCount;
    uint32_t m_validUcc[kMaxRecords];
    uint32_t m_validTwccCount;
    uint32_t m_validTwcc[kMaxRecords];
};

#endif  // TAVIK_DECODERS_TESK6_CT6WATERMARKTABLEMANAGER_H
