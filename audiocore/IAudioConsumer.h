#pragma once

#include <string>

#include "audiocore/ListElement.h"

namespace Kelvane::AudioCore {

class CAudioBlock;
class IAudioConsumerCallback;

// A decoder as the consumer managers see it. Decoders derive from BaseAudioConsumer, which
// implements most of this.
class IAudioConsumer : public ListElement {
public:
    ~IAudioConsumer() override = default;

    virtual void logStartupMessage() = 0;
    // The rate the decoder engine works at (Hz).
    virtual unsigned int GetRequiredSampleRate() = 0;
    virtual unsigned short GetRequiredBitsPerSample() = 0;
    virtual unsigned int GetRequiredBlockSize() = 0;
    virtual void GetVersion(int* major, int* minor, int* patch) = 0;
    // Takes one block of one channel's samples; returns 0 or a negative error.
    virtual int ProcessAudioBlock(CAudioBlock& block) = 0;
    virtual int FlushData() = 0;
    virtual void RegisterResultCallback(IAudioConsumerCallback& callback) = 0;
    virtual void RegisterLogCallback(IAudioConsumerCallback& callback) = 0;
    virtual void UnregisterResultCallback(IAudioConsumerCallback& callback) = 0;
    virtual void UnregisterLogCallback(IAudioConsumerCallback& callback) = 0;
    virtual bool IsStereoSupported() = 0;
    // Calls ResultCallback(json) on every result callback.
    virtual void NotifyRegisteredCallbacks(std::string json) = 0;
    // Calls LogCallback(code, text) on every log callback.
    virtual void NotifyRegisteredLogCallbacks(int code, const char* text) = 0;
};

}  // namespace Kelvane::AudioCore
