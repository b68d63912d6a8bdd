// The body both TESK core fuzz targets share: one engine fed arbitrary audio
// (16-bit little-endian samples at the engine's rate) in whole frames, the
// last one padded with zeros, and each frame's detections turned into texts
// as the decoder adapter does; a text that does not parse, or lacks the
// family key, aborts the run as a finding.
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "decoders/tesk6/TeskAdapterSteps.h"

template <class Table, class Reporter, class Engine, class ToJson>
int FuzzTeskCore(const uint8_t* data, size_t size, const char* familyKey, ToJson toJson) {
    static Table table;
    static Reporter reporter;
    static Engine engine(&reporter);
    reporter.SetDataWriter(&table);
    engine.Initialize();
    table.Reset();
    constexpr size_t kBytes = 2 * Engine::kFrameSamples;
    signed char block[kBytes];
    for (size_t at = 0; at < size; at += kBytes) {
        const size_t n = size - at < kBytes ? size - at : kBytes;
        std::memset(block, 0, sizeof block);
        std::memcpy(block, data + at, n);
        engine.ProcessAudioBuffer(block, kBytes);
        ReportTeskDetections(table, toJson, [familyKey](const std::string& text) {
            rapidjson::Document doc;
            doc.Parse(text.c_str(), text.size());
            if (doc.HasParseError() || !doc.HasMember(familyKey)) abort();
        });
    }
    return 0;
}
