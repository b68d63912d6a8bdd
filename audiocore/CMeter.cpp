#include "audiocore/CMeter.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "audiocore/BaseAudioConsumer.h"
#include "audiocore/CAudioConsumerManager.h"
#include "audiocore/Exceptions.h"
#include "audiocore/ParameterParser.h"

using Kelvane::AudioCore::AudioChannelConfiguration;
using Kelvane::AudioCore::BaseAudioConsumer;
using Kelvane::AudioCore::CAudioConsumerManager;
using Kelvane::AudioCore::IAudioConsumer;
using Kelvane::AudioCore::IAudioConsumerCallback;

struct CMeter::Impl {
    std::shared_ptr<CAudioConsumerManager> managers[kMaxChannels];
    // Creation order, all channels together; callback i belongs to decoder i. While a pair is
    // being built the decoders array may be one longer than the callbacks array.
    std::vector<std::shared_ptr<IAudioConsumer>> decoders;
    std::vector<std::shared_ptr<IAudioConsumerCallback>> callbacks;
    std::vector<int> channelOf;  // channel of decoder i
    AudioChannelConfiguration configuration;
    CMeter* owner = nullptr;

    CAudioConsumerManager* Manager(int channel) const {
        if (channel < 0 || channel >= configuration.channels || channel >= kMaxChannels) {
            return nullptr;
        }
        return managers[channel].get();
    }

    // Releases the most recently created pair. With shutDown the consumer is shut down and
    // stopped and then the callback is shut down, before the unregistrations. Exceptions from
    // those calls are swallowed: this runs in the meter's destructor.
    void ReleaseLastPair(bool shutDown) {
        auto* consumer = static_cast<BaseAudioConsumer*>(decoders.back().get());
        IAudioConsumerCallback* callback =
            callbacks.size() == decoders.size() ? callbacks.back().get() : nullptr;
        if (shutDown) {
            try {
                consumer->shutdown();
            } catch (...) {
            }
            try {
                consumer->Stop();
            } catch (...) {
            }
            if (callback != nullptr) {
                try {
                    callback->Shutdown();
                } catch (...) {
                }
            }
        }
        if (callback != nullptr) {
            consumer->UnregisterResultCallback(*callback);
            consumer->UnregisterLogCallback(*callback);
            consumer->UnregisterBinaryResultCallback(*callback);
        }
        const int channel = channelOf.back();
        if (channel >= 0 && channel < kMaxChannels && managers[channel]) {
            managers[channel]->UnregisterConsumer(*consumer);
        }
        decoders.pop_back();  // destroys the consumer
        channelOf.pop_back();
        if (callback != nullptr) callbacks.pop_back();  // destroys the callback
    }

    // Normal teardown: every pair is shut down in reverse order of creation before any manager
    // goes away.
    void Teardown() {
        for (int c = 0; c < configuration.channels && c < kMaxChannels; ++c) {
            if (managers[c] && managers[c]->ConsumerCount() > 0) {
                while (!decoders.empty()) ReleaseLastPair(true);
            }
            managers[c].reset();
        }
        while (!decoders.empty()) ReleaseLastPair(true);
        callbacks.clear();
    }

    // Cleanup after a failed construction: the pairs are unwired and released without being
    // shut down (the newest consumer may be half initialised).
    void Abandon() {
        while (!decoders.empty()) ReleaseLastPair(false);
        callbacks.clear();
        for (auto& manager : managers) manager.reset();
    }
};

CMeter::CMeter(void* context, const char* namePrefix, AudioChannelConfiguration* configuration,
               std::string parameters, std::shared_ptr<AudioConsumerFactory> consumerFactory,
               std::shared_ptr<Kelvane::AudioCore::AudioConsumerCallbackFactory> callbackFactory)
    : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.owner = this;
    if (configuration == nullptr) throw std::invalid_argument("CMeter: no channel configuration");
    impl.configuration = *configuration;
    if (impl.configuration.channels > kMaxChannels) {
        throw std::invalid_argument("CMeter: more than 16 channels");
    }
    if (impl.configuration.channels > 0 && (!consumerFactory || !callbackFactory)) {
        throw std::invalid_argument("CMeter: missing factory");
    }

    try {
        for (int c = 0; c < impl.configuration.channels; ++c) {
            impl.managers[c] = std::make_shared<CAudioConsumerManager>();
            const std::vector<std::string> names = ParameterParser::getDecoders(parameters);
            for (const std::string& name : names) {
                std::shared_ptr<IAudioConsumer> made =
                    consumerFactory->make(name, impl.configuration.sampleRate);
                // The meter wires consumers through the base class (channel number, init,
                // shutdown, Stop); anything else cannot be driven.
                auto* consumer = dynamic_cast<BaseAudioConsumer*>(made.get());
                if (consumer == nullptr) throw InvalidDecoder();
                impl.decoders.push_back(std::move(made));
                impl.channelOf.push_back(c);

                consumer->SetChannelNumber(static_cast<short>(c));
                consumer->init(parameters);
                int major = 0, minor = 0, patch = 0;
                consumer->GetVersion(&major, &minor, &patch);

                char channelName[kChannelNameSize];
                if (namePrefix != nullptr) {
                    std::snprintf(channelName, sizeof channelName, "%s.ch%d", namePrefix, c);
                } else {
                    std::snprintf(channelName, sizeof channelName, "ch%d", c);
                }

                std::shared_ptr<IAudioConsumerCallback> callback = callbackFactory->make(name);
                if (!callback) throw InvalidCallback();
                impl.callbacks.push_back(callback);
                callback->init(context, major, minor, patch, channelName);

                consumer->RegisterResultCallback(*callback);
                consumer->RegisterBinaryResultCallback(*callback);
                consumer->RegisterLogCallback(*callback);
                consumer->logStartupMessage();
                impl.managers[c]->RegisterConsumer(*consumer);
            }
        }
    } catch (...) {
        impl.Abandon();
        throw;
    }
}

CMeter::~CMeter() {
    if (m_impl) m_impl->Teardown();
}

int CMeter::ProcessAudioBuffer(void* data, int byteCount, int channel, unsigned int timestamp) {
    CAudioConsumerManager* manager = m_impl->Manager(channel);
    if (manager == nullptr) return -1;
    const AudioChannelConfiguration& cfg = m_impl->configuration;
    return manager->ProcessAudioBlock(data, byteCount, channel, timestamp, cfg.sampleRate,
                                      cfg.bitsPerSample, cfg.packingMode);
}

int CMeter::FlushData(int channel) {
    CAudioConsumerManager* manager = m_impl->Manager(channel);
    if (manager == nullptr) return -1;
    return manager->FlushData();
}

void CMeter::GetAudioConsumerManagerVersion(int& major, int& minor, int& patch) const {
    major = 6;
    minor = 0;
    patch = 16;
}
