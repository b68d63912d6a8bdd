#include "audiocore/AudioSampleConverterFactory.h"

#include "audiocore/CAudioSampleConverter.h"

namespace Kelvane::AudioCore {

std::shared_ptr<SampleConverter> AudioSampleConverterFactoryImplementation::make(
    unsigned short bitsPerSample, int /*channels*/, ePackingMode packingMode) {
    return std::make_shared<CAudioSampleConverter>(bitsPerSample, packingMode);
}

}  // namespace Kelvane::AudioCore
