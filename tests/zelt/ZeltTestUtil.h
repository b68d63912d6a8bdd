// Helpers for the ZELT tests: run 8000 Hz audio through a bare engine and
// collect the core's detection records.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "decoders/zelt/CZeltEngine.h"

namespace zelt_test {

struct Collector : CBaseOutputReporter {
    struct Entry {
        _ZELT_Detection_t det;
        int frame;
    };
    std::vector<Entry> found;
    void DataCallback(void* detection, float, int frame) override {
        found.push_back({*static_cast<_ZELT_Detection_t*>(detection), frame});
    }
};

// Feeds whole 800-sample blocks of `samples` to `engine`.
inline void Feed(CZeltEngine& engine, const std::vector<int16_t>& samples) {
    uint8_t block[1600];
    for (size_t off = 0; off + 800 <= samples.size(); off += 800) {
        std::memcpy(block, samples.data() + off, 1600);  // little-endian host
        engine.ProcessAudioBuffer(block, 1600);
    }
}

inline std::vector<_ZELT_Detection_t> OfLayer(const Collector& c, uint32_t layer) {
    std::vector<_ZELT_Detection_t> out;
    for (const auto& e : c.found)
        if (e.det.layer == layer) out.push_back(e.det);
    return out;
}

}  // namespace zelt_test
