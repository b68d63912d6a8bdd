// Helpers shared by the TESK 2 tests: run generated audio through the engine
// and collect the core's detections.
#ifndef TAVIK_TESTS_TESK2_TESK2TESTUTIL_H
#define TAVIK_TESTS_TESK2_TESK2TESTUTIL_H

#include <cstdint>
#include <vector>

#include "decoders/tesk2/CTesk2Engine.h"
#include "decoders/tesk6/CBaseOutputReporter.h"

namespace tesk2test {

struct Captured {
    _T2M_Detection_t det;
    uint32_t frame;
};

class CaptureReporter : public CBaseOutputReporter {
public:
    void DataCallback(void* detection, float, int frame) override {
        out.push_back({*static_cast<const _T2M_Detection_t*>(detection), uint32_t(frame)});
    }
    std::vector<Captured> out;
};

// Feeds 24 kHz 16-bit samples to a fresh engine, 64 at a time.
inline std::vector<Captured> RunEngine(const std::vector<int16_t>& pcm) {
    CaptureReporter rep;
    CTesk2Engine engine(&rep);
    std::vector<unsigned char> block(128);
    for (size_t i = 0; i + 64 <= pcm.size(); i += 64) {
        for (int j = 0; j < 64; ++j) {
            const uint16_t v = uint16_t(pcm[i + j]);
            block[2 * j] = uint8_t(v & 0xFF);
            block[2 * j + 1] = uint8_t(v >> 8);
        }
        engine.ProcessAudioBuffer(reinterpret_cast<signed char*>(block.data()), 128);
    }
    return rep.out;
}

}  // namespace tesk2test

#endif
