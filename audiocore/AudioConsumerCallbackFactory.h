#pragma once

#include <memory>
#include <string>

#include "audiocore/IAudioConsumerCallback.h"

namespace Kelvane::AudioCore {

// Builds reporting callbacks by decoder name.
class AudioConsumerCallbackFactory {
public:
    virtual ~AudioConsumerCallbackFactory() = default;
    // Throws InvalidCallback for an unknown name.
    virtual std::shared_ptr<IAudioConsumerCallback> make(const std::string& name) = 0;
};

}  // namespace Kelvane::AudioCore
