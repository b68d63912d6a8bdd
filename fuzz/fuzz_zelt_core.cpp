// The ZELT engine and core fed arbitrary audio: the input is 8 kHz 16-bit
// little-endian samples, decoded in 800-sample blocks (the last one padded
// with zeros); each block's detections are read as the decoder reads them.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decoders/zelt/CZeltEngine.h"
#include "decoders/zelt/ZELTDecoderAdapter.h"
#include "decoders/zelt/ZeltWatermarkReporter.h"
#include "decoders/zelt/ZeltWatermarkTableManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ZeltWatermarkTableManager table;
    static ZeltWatermarkReporter reporter;
    static CZeltEngine engine(&reporter);
    reporter.SetTable(&table);
    engine.Initialize();
    table.Reset();
    constexpr size_t kBytes = 2 * CZeltEngine::kHop;
    uint8_t block[kBytes];
    for (size_t at = 0; at < size; at += kBytes) {
        const size_t n = size - at < kBytes ? size - at : kBytes;
        std::memset(block, 0, sizeof block);
        std::memcpy(block, data + at, n);
        if (engine.ProcessAudioBuffer(block, kBytes) != 0) abort();
        for (uint32_t i = 0; i < table.Count(); ++i) {
            int layer = 0;
            char commId[32], id[32];
            int64_t timestamp = 0;
            Kelvane::ZELT::ZELTDecoderAdapter::SetLayerValues(table.At(i).detection, &layer,
                                                              commId, id, &timestamp);
        }
        table.Reset();
    }
    return 0;
}
