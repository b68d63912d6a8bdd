#pragma once

#include <memory>
#include <string>

#include "audiocore/AudioConsumerCallbackFactory.h"

// Builds the reporting callbacks by decoder name (exact, case-sensitive), default-constructed:
//   "ZELTFiltered"  -> ZELTDecoderFilteredCallback
//   "TESK2Filtered" -> CHybridDecoderFilteredCallback
//   "TESK6Filtered" -> CTesk6DecoderFilteredCallback
// Any other name throws InvalidCallback ("Invalid decoder or signature generator callback").
// Stateless.
class WatermarkAudioConsumerCallbackFactoryImplementation
    : public Kelvane::AudioCore::AudioConsumerCallbackFactory {
public:
    std::shared_ptr<Kelvane::AudioCore::IAudioConsumerCallback> make(
        const std::string& name) override;
    // Whether make knows the name (it may still throw when that callback is not built in).
    static bool IsKnownName(const std::string& name);
};
