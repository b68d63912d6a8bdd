#include "decoders/zelt/ZeltWatermarkReporter.h"

void ZeltWatermarkReporter::DataCallback(void* detection, float value, int frame) {
    (void)value;
    if (m_table != nullptr)
        m_table->AddWatermark(static_cast<const _ZELT_Detection_t*>(detection), frame);
}
