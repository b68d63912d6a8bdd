// The TESK 6 engine and core fed arbitrary audio: the input is 16 kHz 16-bit
// little-endian samples, decoded in 512-sample blocks (the last one padded
// with zeros), each block's detections turned into texts as the decoder does.
#include <rapidjson/document.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decoders/tesk6/CT6WatermarkReporter.h"
#include "decoders/tesk6/CT6WatermarkTableManager.h"
#include "decoders/tesk6/CTesk6Decoder.h"
#include "decoders/tesk6/CTesk6Engine.h"
#include "decoders/tesk6/TeskAdapterSteps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CT6WatermarkTableManager table;
    static CT6WatermarkReporter reporter;
    static CTesk6Engine engine(&reporter);
    reporter.SetDataWriter(&table);
    engine.Initialize();
    table.Reset();
    constexpr size_t kBytes = 2 * CTesk6Engine::kFrameSamples;
    signed char block[kBytes];
    for (size_t at = 0; at < size; at += kBytes) {
        const size_t n = size - at < kBytes ? size - at : kBytes;
        std::memset(block, 0, sizeof block);
        std::memcpy(block, data + at, n);
        engine.ProcessAudioBuffer(block, kBytes);
        ReportTeskDetections(
            table,
            [](const Tesk6Record_t& r, uint32_t frame) {
                return Kelvane::TESKVI::CTesk6Decoder::RecordToJson(r, frame, 1767225600u);
            },
            [](const std::string& text) {
                rapidjson::Document doc;
                doc.Parse(text.c_str(), text.size());
                if (doc.HasParseError() || !doc.HasMember("TESK6")) abort();
            });
    }
    return 0;
}
