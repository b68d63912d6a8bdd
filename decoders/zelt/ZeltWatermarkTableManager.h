// Detections of the current 100 ms block, collected from the ZELT core.
#pragma once

#include <cstdint>

#include "decoders/zelt/ZeltDecoder.h"

class ZeltWatermarkTableManager {
public:
    static constexpr uint32_t kCapacity = 20;
    struct Entry {
        _ZELT_Detection_t detection;
        int32_t frameCounter;  // core frame counter at the callback, -1 = empty
    };

    ZeltWatermarkTableManager() { Reset(); }

    // Count 0, every record zeroed, every frame counter -1.
    void Reset();
    // Copies the record with the frame counter into the next entry; dropped
    // when the table already holds kCapacity entries.
    void AddWatermark(const _ZELT_Detection_t* detection, int32_t frameCounter);

    uint32_t Count() const { return m_count; }
    const Entry& At(uint32_t i) const { return m_entries[i]; }

private:
    uint32_t m_count = 0;
    Entry m_entries[kCapacity];
};
