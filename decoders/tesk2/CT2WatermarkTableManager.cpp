#include "decoders/tesk2/CT2WatermarkTableManager.h"

#include <cstring>

#include "dsp/CUCCValidator.h"

CT2WatermarkTableManager::CT2WatermarkTableManager() : m_count(0), m_validUccCount(0) { Reset(); }

void CT2WatermarkTableManager::Reset() {
    m_count = 0;
    m_validUccCount = 0;
    for (uint32_t i = 0; i < kMaxRecords; ++i) {
        memset(&m_records[i], 0, sizeof(m_records[i]));
        m_records[i].status = 1;
        m_records[i].frame = 0xFFFFFFFFu;
        m_validUcc[i] = UccEntry{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    }
}

void CT2WatermarkTableManager::AddWatermark(const _T2M_Detection_t* detection, uint32_t frame) {
    if (detection == nullptr || m_count >= kMaxRecords) return;
    m_records[m_count].detection = *detection;
    m_records[m_count].frame = frame;
    InitializeStatus(m_count);
    ++m_count;
}

void CT2WatermarkTableManager::InitializeStatus(uint32_t index) {
    if (index >= kMaxRecords) return;
    Tesk2Record_t& r = m_records[index];
    r.status = 1;
    if (r.detection.layer == T2M_LAYER_COMM_RS &&
        CUCCValidator::IsValidCommID(long(r.detection.commId))) {
        AddValidUccToArray(index, r.detection.depth, r.detection.quality);
    }
}

void CT2WatermarkTableManager::AddValidUccToArray(uint32_t index, uint32_t depth,
                                                  uint32_t quality) {
    if (m_validUccCount >= kMaxRecords) return;
    m_validUcc[m_validUccCount++] = UccEntry{index, depth, quality};
}

void CT2WatermarkTableManager::SetStatusOfWatermarkTableRecords() {
    if (m_validUccCount == 0) return;
    bool strong = false;
    for (uint32_t i = 0; i < m_validUccCount; ++i) {
        if (m_validUcc[i].depth == 0 && m_validUcc[i].quality >= kStrongUccQuality) strong = true;
    }
    for (uint32_t i = 0; i < m_count; ++i) {
        if (m_records[i].detection.layer == T2M_LAYER_COMM_STD) SetCcRecordStatus(i, strong);
    }
}

void CT2WatermarkTableManager::SetCcRecordStatus(uint32_t index, bool strongUcc) {
    if (index >= kMaxRecords) return;
    Tesk2Record_t& r = m_records[index];
    if (strongUcc || r.detection.field > 1) r.status = 0;
}
