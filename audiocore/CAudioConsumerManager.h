#pragma once

#include <memory>

#include "audiocore/IAudioConsumer.h"
#include "audiocore/SampleConversion.h"

namespace Kelvane::AudioCore {

// The consumers of one channel, in registration order. Holds plain references; the meter owns
// the consumers.
class CAudioConsumerManager {
public:
    CAudioConsumerManager();
    ~CAudioConsumerManager();
    CAudioConsumerManager(const CAudioConsumerManager&) = delete;
    CAudioConsumerManager& operator=(const CAudioConsumerManager&) = delete;

    // Appends the consumer at the end; returns true.
    bool RegisterConsumer(IAudioConsumer& consumer);
    // Removes the first entry referring to the consumer; 1 if one was removed, else 0.
    int UnregisterConsumer(IAudioConsumer& consumer);
    int ConsumerCount() const;

    // Fills the manager's mono CAudioBlock with a copy of byteCount bytes of data (channels 1,
    // the given rate, bits, packing mode and timestamp; the channel argument is not stored) and
    // hands it to every consumer in registration order, ignoring their results. Returns 0.
    int ProcessAudioBlock(void* data, int byteCount, int channel, unsigned int timestamp,
                          int sampleRate, unsigned short bitsPerSample, ePackingMode packingMode);
    // FlushData of every consumer in order; the last result, 0 without consumers.
    int FlushData();

    // Whether a decoder working at requiredRate accepts input at rate: upward only from 22050
    // to 24000; 12000 only for a 12000 decoder; otherwise rate must be one of 8000, 12000,
    // 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000, 176400, 192000.
    static bool IsSupportedFrequency(int rate, unsigned int requiredRate);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace Kelvane::AudioCore
