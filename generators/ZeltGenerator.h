// ZELT test-signal synthesis.
//
// Every ZELT symbol is the sum of the ten tones of its row in its layer's bin
// table (decoders/zelt/ZeltBinTables.h): index b sounds at (256 + b) * 3.90625
// Hz.  The signal is built on a grid of 100 ms slots starting at sample 0:
//
// - Program messages (layers 1, 2, 5): a 4.8 s period of twelve 400 ms
//   symbols: marker 17, s0, s1, s2, marker 16, s0+k, s1+k, s2+k (mod 16),
//   then the four time symbols of the minute within the 28-day cycle (the
//   ordered choice of four distinct values out of 16 whose rank is the
//   minute).  The 16-bit id is s0<<12 | s1<<8 | s2<<4 | k.
// - The commercial Reed-Solomon message (layers 3 and 4): a 2.4 s period of
//   eight 300 ms symbols per layer.  Layer 3: marker 17, c0, c1, c2, c3, c4,
//   c9, c10; layer 4: c5, c6, c7, c8, marker 16, c11, c12, c13, where c0..c8
//   are the nine identifier nibbles (most significant first) and c9..c13 the
//   first five parity nibbles of the (15, 9) code word (c14 is not sent).
// - Commercial flags (layers 3 and 4, 2.4 s period, 300 ms markers, silence
//   elsewhere): value 3 = marker 16 on layer 3 at slots 0 and 6 and marker 17
//   on layer 4 at slots 12 and 21; value 7 = marker 17 on layer 4 at slots 0
//   and 12 and marker 16 on layer 3 at slots 6 and 15.
//
// Symbol edges are shaped with 4 ms raised-cosine ramps.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "generators/SignalMix.h"

namespace Kelvane {
namespace Generators {

class ZeltGenerator {
public:
    static constexpr uint8_t kSilent = 18;
    static constexpr uint32_t kMinutesPerCycle = 40320;  // 28 days
    static constexpr int64_t kCycleEpoch = 1073174400;   // 2004-01-04 00:00 UTC
    static constexpr int64_t kCycleSeconds = 2419200;    // 28 days

    // sampleRate: output rate in Hz (8000 .. 192000); throws std::invalid_argument.
    explicit ZeltGenerator(int sampleRate = 48000);

    int SampleRate() const { return m_rate; }

    // Program message on layer 1, 2 or 5. id: s0, s1, s2 (the three high
    // nibbles) distinct and key (low nibble) 1..15; minute 0..40319.  Throws
    // std::invalid_argument otherwise or when the layer is taken.
    void AddProgram(int layer, uint16_t id, uint32_t minute);
    // Commercial Reed-Solomon message with a 36-bit identifier (below 2^36).
    // Occupies layers 3 and 4; throws std::invalid_argument when they are taken.
    void AddCommercial(uint64_t commId);
    // Commercial flag pattern 3 or 7; occupies layers 3 and 4.
    void AddFlag(int value);

    // Symbol on layer 1..5 in 100 ms slot `slot` (counted from sample 0);
    // kSilent when the layer is quiet there.
    uint8_t SymbolAt(int layer, int64_t slot) const;

    // The watermark alone, `seconds` long, scaled to RMS `rms` (full scale 1).
    std::vector<float> Render(double seconds, double rms = 0.1) const;
    // The watermark mixed into a host of `host` kind (RMS 0.1) at watermark-to-
    // host ratio `ratioDb`, as 16-bit samples.
    std::vector<int16_t> RenderMixed(double seconds, HostKind host, double ratioDb,
                                     uint32_t seed = 1) const;

    // The twelve program symbols of (id, minute); throws like AddProgram.
    static std::array<uint8_t, 12> ProgramSymbols(uint16_t id, uint32_t minute);
    // Four distinct values 0..15 whose ordered-choice rank is `minute`.
    static std::array<uint8_t, 4> TimeSymbols(uint32_t minute);
    // The (15, 9) code word of a 36-bit identifier: nine nibbles, six parity.
    static std::array<uint8_t, 15> CommercialCodeword(uint64_t commId);
    // Minute within the 28-day cycle that holds POSIX time t.
    static uint32_t MinuteOfPosixTime(int64_t t);
    // POSIX time of `minute` within the 28-day cycle that holds `audioTime`.
    static int64_t PosixTimeOfMinute(int64_t audioTime, uint32_t minute);

private:
    struct LayerPlan {
        int periodSlots = 0;               // 0 = quiet layer
        std::vector<uint8_t> slotSymbols;  // symbol of each slot of the period
    };
    int m_rate;
    LayerPlan m_layers[5];
};

}  // namespace Generators
}  // namespace Kelvane
