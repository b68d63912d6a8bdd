// The TESK 6 engine and core fed arbitrary audio: the input is 16 kHz 16-bit
// little-endian samples, decoded in 512-sample blocks (the last one padded
// with zeros), each block's detections turned into texts as the decoder does.
#include <cstdint>

#include "decoders/tesk6/CT6WatermarkReporter.h"
#include "decoders/tesk6/CT6WatermarkTableManager.h"
#include "decoders/tesk6/CTesk6Decoder.h"
#include "decoders/tesk6/CTesk6Engine.h"
#include "fuzz/FuzzTeskCore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzTeskCore<CT6WatermarkTableManager, CT6WatermarkReporter, CTesk6Engine>(
        data, size, "TESK6", [](const Tesk6Record_t& r, uint32_t frame) {
            return Kelvane::TESKVI::CTesk6Decoder::RecordToJson(r, frame, 1767225600u);
        });
}
