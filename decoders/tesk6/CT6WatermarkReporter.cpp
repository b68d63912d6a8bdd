#include "decoders/tesk6/CT6WatermarkReporter.h"

void CT6WatermarkReporter::SetDataWriter(void* writer) {
    m_table = static_cast<CT6WatermarkTableManager*>(writer);
}

void CT6WatermarkReporter::DataCallback(void* detection, float value, int frame) {
    (void)value;
    if (m_table == nullptr || detection == nullptr) return;
    m_table->AddWatermark(static_cast<const _T6M_Detection_t*>(detection), uint32_t(frame));
}
