// The TESK 2 engine and core fed arbitrary audio: the input is 24 kHz 16-bit
// little-endian samples, decoded in 64-sample blocks (the last one padded
// with zeros), each block's detections turned into texts as the decoder does.
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decoders/tesk2/CT2WatermarkReporter.h"
#include "decoders/tesk2/CT2WatermarkTableManager.h"
#include "decoders/tesk2/CTesk2HybridDecoder.h"
#include "decoders/tesk2/CTesk2Engine.h"
#include "decoders/tesk6/TeskAdapterSteps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CT2WatermarkTableManager table;
    static CT2WatermarkReporter reporter;
    static CTesk2Engine engine(&reporter);
    reporter.SetDataWriter(&table);
    engine.Initialize();
    table.Reset();
    constexpr size_t kBytes = 2 * CTesk2Engine::kFrameSamples;
    signed char block[kBytes];
    for (size_t at = 0; at < size; at += kBytes) {
        const size_t n = size - at < kBytes ? size - at : kBytes;
        std::memset(block, 0, sizeof block);
        std::memcpy(block, data + at, n);
        engine.ProcessAudioBuffer(block, kBytes);
        ReportTeskDetections(
            table,
            [](const Tesk2Record_t& r, uint32_t frame) {
                return Kelvane::TESKII::CTesk2HybridDecoder::RecordToJson(r, frame, 1767225600u);
            },
            [](const std::string& text) {
                rapidjson::Document doc;
                doc.Parse(text.c_str(), text.size());
                if (doc.HasParseError() || !doc.HasMember("TESK2")) abort();
            });
    }
    return 0;
}
