// The TESK 2 engine and core fed arbitrary audio: the input is 24 kHz 16-bit
// little-endian samples, decoded in 64-sample blocks (the last one padded
// with zeros), each block's detections turned into texts as the decoder does.
#include <cstdint>

#include "decoders/tesk2/CT2WatermarkReporter.h"
#include "decoders/tesk2/CT2WatermarkTableManager.h"
#include "decoders/tesk2/CTesk2Engine.h"
#include "decoders/tesk2/CTesk2HybridDecoder.h"
#include "fuzz/FuzzTeskCore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzTeskCore<CT2WatermarkTableManager, CT2WatermarkReporter, CTesk2Engine>(
        data, size, "TESK2", [](const Tesk2Record_t& r, uint32_t frame) {
            return Kelvane::TESKII::CTesk2HybridDecoder::RecordToJson(r, frame, 1767225600u);
        });
}
