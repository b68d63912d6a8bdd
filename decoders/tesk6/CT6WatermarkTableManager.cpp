#include "decoders/tesk6/CT6WatermarkTableManager.h"

#include <string.h>

#include "dsp/CUCCValidator.h"

CT6WatermarkTableManager::CT6WatermarkTableManager()
    : m_count(0), m_validUccCount(0), m_validTwccCount(0) {
    Reset();
}

void CT6WatermarkTableManager::Reset() {
    m_count = 0;
    m_validUccCount = 0;
    m_validTwccCount = 0;
    memset(m_records, 0, sizeof(m_records));
    for (auto& r : m_records) {
        r.status = 1;
        r.frame = 0xFFFFFFFFu;
    }
    for (uint32_t i = 0; i < kMaxRecords; ++i) {
        m_validUcc[i] = 0xFFFFFFFFu;
        m_validTwcc[i] = 0xFFFFFFFFu;
    }
}

void CT6WatermarkTableManager::AddWatermark(const _T6M_Detection_t* detection, uint32_t frame) {
    if (detection == nullptr || m_count >= kMaxRecords) return;
    m_records[m_count].detection = *detection;
    m_records[m_count].frame = frame;
    InitializeStatus(m_count);
    ++m_count;
}

void CT6WatermarkTableManager::InitializeStatus(uint32_t index) {
    if (index >= kMaxRecords) return;
    Tesk6Record_t& r = m_records[index];
    r.status = 1;
    if (r.detection.layer == T6M_LAYER_COMM_RS &&
        CUCCValidator::IsValidCommID(long(r.detection.commId))) {
        AddValidUccToArray(index);
    } else if (r.detection.layer == T6M_LAYER_COMM_STD && r.detection.dist == 0 &&
               r.detection.transmission == 1) {
        AddValidTwccToArray(index);
    }
}

void CT6WatermarkTableManager::AddValidUccToArray(uint32_t index) {
    if (m_validUccCount < kMaxRecords) m_validUcc[m_validUccCount++] = index;
}

void CT6WatermarkTableManager::AddValidTwccToArray(uint32_t index) {
    if (m_validTwccCount < kMaxRecords) m_validTwcc[m_validTwccCount++] = index;
}

void CT6WatermarkTableManager::SetStatusOfWatermarkTableRecords() {
    if (m_validUccCount == 0 && m_validTwccCount == 0) return;
    for (uint32_t i = 0; i < m_count; ++i) {
        if (m_records[i].detection.layer == T6M_LAYER_COMM_STD) SetCcRecordStatus(i);
    }
}

void CT6WatermarkTableManager::SetCcRecordStatus(uint32_t index) {
    if (index >= kMaxRecords) return;
    Tesk6Record_t& r = m_records[index];
    r.status = (r.detection.dist == 0 && r.detection.transmission == 1) ? 1 : 0;
}
