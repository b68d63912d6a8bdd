#include "decoders/zelt/ZeltWatermarkTableManager.h"

#include <cstring>

void ZeltWatermarkTableManager::Reset() {
    m_count = 0;
    for (Entry& e : m_entries) {
        std::memset(&e.detection, 0, sizeof(e.detection));
        e.frameCounter = -1;
    }
}

void ZeltWatermarkTableManager::AddWatermark(const _ZELT_Detection_t* detection,
                                             int32_t frameCounter) {
    if (detection == nullptr || m_count >= kCapacity) return;
    m_entries[m_count].detection = *detection;
    m_entries[m_count].frameCounter = frameCounter;
    ++m_count;
}
