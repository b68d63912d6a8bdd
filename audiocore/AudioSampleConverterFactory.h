#pragma once

#include <memory>

#include "audiocore/SampleConversion.h"

namespace Kelvane::AudioCore {

// Source of sample converters for the consumers.
class AudioSampleConverterFactory {
public:
    virtual ~AudioSampleConverterFactory() = default;
    // May throw InvalidPackingModeSelection.
    virtual std::shared_ptr<SampleConverter> make(unsigned short bitsPerSample, int channels,
                                                  ePackingMode packingMode) = 0;
};

// Builds a CAudioSampleConverter(bitsPerSample, packingMode); the channel count is not used
// (the converters work on one de-interleaved channel).
class AudioSampleConverterFactoryImplementation : public AudioSampleConverterFactory {
public:
    std::shared_ptr<SampleConverter> make(unsigned short bitsPerSample, int channels,
                                          ePackingMode packingMode) override;
};

}  // namespace Kelvane::AudioCore
