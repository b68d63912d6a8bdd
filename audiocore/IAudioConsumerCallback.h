#pragma once

#include <string>

#include "audiocore/ListElement.h"

namespace Kelvane::AudioCore {

// Reporting callback of one consumer (decoder). The meter creates one per consumer, calls init
// once, registers it as the consumer's result and log callback and calls Shutdown once at
// teardown, after the consumer has been shut down and stopped. All calls come from the thread
// that feeds the meter.
class IAudioConsumerCallback : public ListElement {
public:
    ~IAudioConsumerCallback() override = default;

    // context: the pointer given to the meter (the application's configuration record);
    // major/minor/patch: the consumer's version; name: the channel name, "ch<N>" or
    // "<prefix>.ch<N>" with N the 0-based channel number.
    virtual void init(void* context, int major, int minor, int patch, char* name) = 0;
    // One call per detection; json is a detection document of the decoder.
    virtual void ResultCallback(std::string json) = 0;
    virtual void BinaryResultCallback(unsigned char /*type*/, unsigned int /*size*/, void* /*data*/,
                                      unsigned int /*extraSize*/, void* /*extra*/) {}
    virtual void RawPcmCallback(signed char* /*data*/, unsigned int /*length*/) {}
    // Status and error reports of the consumer. Framework codes: -1 sample conversion error,
    // -2 buffer handling error; decoders add their own.
    virtual void LogCallback(int code, const char* text) = 0;
    virtual void Shutdown() = 0;
};

}  // namespace Kelvane::AudioCore
