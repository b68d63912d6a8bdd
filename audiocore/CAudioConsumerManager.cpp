#include "audiocore/CAudioConsumerManager.h"

#include <list>

#include "audiocore/CAudioBlock.h"

namespace Kelvane::AudioCore {

struct CAudioConsumerManager::Impl {
    std::list<IAudioConsumer*> consumers;  // not owned, registration order
    CAudioConsumerManager* owner = nullptr;
    // The block handed to the consumers, refilled for every buffer (no allocation per buffer).
    CAudioBlock block{nullptr, 0, 1, 0, 0, PACKING_MODE_NOT_USED, 0};
};

CAudioConsumerManager::CAudioConsumerManager() : m_impl(std::make_unique<Impl>()) {
    m_impl->owner = this;
}

CAudioConsumerManager::~CAudioConsumerManager() = default;

bool CAudioConsumerManager::RegisterConsumer(IAudioConsumer& consumer) {
    m_impl->consumers.push_back(&consumer);
    return true;
}

int CAudioConsumerManager::UnregisterConsumer(IAudioConsumer& consumer) {
    auto& list = m_impl->consumers;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == &consumer) {
            list.erase(it);
            return 1;
        }
    }
    return 0;
}

int CAudioConsumerManager::ConsumerCount() const {
    return static_cast<int>(m_impl->consumers.size());
}

int CAudioConsumerManager::ProcessAudioBlock(void* data, int byteCount, int /*channel*/,
                                             unsigned int timestamp, int sampleRate,
                                             unsigned short bitsPerSample,
                                             ePackingMode packingMode) {
    // A negative byte count would become a huge copy length.
    const unsigned int length = byteCount > 0 ? static_cast<unsigned int>(byteCount) : 0u;
    CAudioBlock& block = m_impl->block;
    block.Assign(data, length, 1, sampleRate, bitsPerSample, packingMode, timestamp);
    for (IAudioConsumer* consumer : m_impl->consumers) consumer->ProcessAudioBlock(block);
    return 0;
}

int CAudioConsumerManager::FlushData() {
    int result = 0;
    for (IAudioConsumer* consumer : m_impl->consumers) result = consumer->FlushData();
    return result;
}

bool CAudioConsumerManager::IsSupportedFrequency(int rate, unsigned int requiredRate) {
    // Compared in 64 bits so a negative rate is simply smaller than any required rate.
    if (static_cast<long long>(requiredRate) > static_cast<long long>(rate)) {
        return rate == 22050 && requiredRate == 24000;  // the only upward conversion
    }
    if (rate == 12000 && requiredRate != 12000) return false;
    switch (rate) {
        case 8000:
        case 12000:
        case 16000:
        case 22050:
        case 24000:
        case 32000:
        case 44100:
        case 48000:
        case 88200:
        case 96000:
        case 176400:
        case 192000:
            return true;
        default:
            return false;
    }
}

}  // namespace Kelvane::AudioCore
