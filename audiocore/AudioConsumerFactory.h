#pragma once

#include <memory>
#include <string>

#include "audiocore/IAudioConsumer.h"

// Builds decoders (consumers) by name. Consumers handed to CMeter must derive from
// Kelvane::AudioCore::BaseAudioConsumer.
class AudioConsumerFactory {
public:
    virtual ~AudioConsumerFactory() = default;
    // Throws InvalidDecoder for an unknown name; may throw what the consumer's constructor
    // throws (std::invalid_argument for an input rate it does not accept).
    virtual std::shared_ptr<Kelvane::AudioCore::IAudioConsumer> make(const std::string& name,
                                                                     int sampleRate) = 0;
};
