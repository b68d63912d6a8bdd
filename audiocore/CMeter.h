#pragma once

#include <memory>
#include <string>

#include "audiocore/AudioChannelConfiguration.h"
#include "audiocore/AudioConsumerCallbackFactory.h"
#include "audiocore/AudioConsumerFactory.h"

// Facade of the decoder library: one consumer manager per input channel and, per channel, one
// consumer (decoder) and one reporting callback for every decoder named in the parameters
// document. Detections reach the application only through the callbacks.
// Used from one thread at a time.
class CMeter {
public:
    // Builds everything: for channel c = 0..channels-1 and every decoder name (in document
    // order) makes the consumer (factory, configured sample rate), sets its channel number to c,
    // calls its init with the whole document, makes the callback, calls the callback's
    // init(context, version, name) with name "<namePrefix>.ch<c>" or, for a null prefix,
    // "ch<c>", registers the callback as result and log callback, and registers the consumer
    // with manager c. Pair i*k+j serves channel i and name j (k names).
    // Throws what the parser, the factories or a consumer's init throw (nothing is left
    // behind), InvalidDecoder when the factory hands back a null consumer or one not derived
    // from BaseAudioConsumer, InvalidCallback for a null callback, std::invalid_argument for a
    // channel count above 16.
    CMeter(void* context, const char* namePrefix,
           Kelvane::AudioCore::AudioChannelConfiguration* configuration, std::string parameters,
           std::shared_ptr<AudioConsumerFactory> consumerFactory,
           std::shared_ptr<Kelvane::AudioCore::AudioConsumerCallbackFactory> callbackFactory);
    // Shuts all pairs down in reverse order of creation (consumer shutdown, Stop, callback
    // Shutdown, unregistrations), then releases managers.
    ~CMeter();
    CMeter(const CMeter&) = delete;
    CMeter& operator=(const CMeter&) = delete;

    // byteCount bytes of samples of one channel (0-based, not interleaved) in the configured
    // format. Returns 0; -1 for a channel outside the configured range.
    int ProcessAudioBuffer(void* data, int byteCount, int channel, unsigned int timestamp);
    // Flushes every consumer of the channel; the last result, 0 without consumers, -1 for a
    // channel outside the configured range.
    int FlushData(int channel);
    // 6, 0, 16.
    void GetAudioConsumerManagerVersion(int& major, int& minor, int& patch) const;

    static constexpr int kMaxChannels = 16;
    static constexpr size_t kChannelNameSize = 512;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
