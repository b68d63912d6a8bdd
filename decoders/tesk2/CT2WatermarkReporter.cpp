#include "decoders/tesk2/CT2WatermarkReporter.h"

void CT2WatermarkReporter::SetDataWriter(void* writer) {
    m_table = static_cast<CT2WatermarkTableManager*>(writer);
}

void CT2WatermarkReporter::DataCallback(void* detection, float value, int frame) {
    (void)value;
    if (m_table == nullptr || detection == nullptr) return;
    m_table->AddWatermark(static_cast<const _T2M_Detection_t*>(detection), uint32_t(frame));
}
