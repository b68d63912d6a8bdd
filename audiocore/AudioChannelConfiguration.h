#pragma once

#include <cstdint>

#include "audiocore/SampleConversion.h"

namespace Kelvane::AudioCore {

// Format of the PCM handed to the meter. Owned by the caller; the meter copies it once.
struct AudioChannelConfiguration {
    int32_t channels = 0;        // number of channels, 1 to 16
    int32_t sampleRate = 0;      // Hz
    uint16_t bitsPerSample = 0;  // 16, 24 or 32 in practice
    ePackingMode packingMode = PACKING_MODE_NOT_USED;
};

}  // namespace Kelvane::AudioCore
