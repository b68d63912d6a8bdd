// Test consumers, callbacks and factories. Every object records what happens to it in one
// shared event log, so ordering across objects can be checked.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audiocore/AudioConsumerCallbackFactory.h"
#include "audiocore/AudioConsumerFactory.h"
#include "audiocore/BaseAudioConsumer.h"
#include "audiocore/CAudioResampler.h"
#include "audiocore/Exceptions.h"

namespace testing_audiocore {

using namespace Kelvane::AudioCore;

inline std::vector<std::string>& Events() {
    static std::vector<std::string> events;
    return events;
}
inline int& LiveObjects() {
    static int live = 0;
    return live;
}

struct LogEntry {
    int code;
    std::string text;
};

class TestCallback : public IAudioConsumerCallback {
public:
    explicit TestCallback(std::string tag = "cb") : m_tag(std::move(tag)) { ++LiveObjects(); }
    ~TestCallback() override {
        --LiveObjects();
        Events().push_back("~" + m_tag + "@" + name);
    }
    void init(void* ctx, int maj, int min, int pat, char* n) override {
        context = ctx;
        version = {maj, min, pat};
        name = n;
    }
    void ResultCallback(std::string json) override { results.push_back(std::move(json)); }
    void BinaryResultCallback(unsigned char type, unsigned int, void*, unsigned int,
                              void*) override {
        binaries.push_back(type);
    }
    void RawPcmCallback(signed char*, unsigned int length) override { raw.push_back(length); }
    void LogCallback(int code, const char* text) override { logs.push_back({code, text}); }
    void Shutdown() override { Events().push_back("Shutdown " + m_tag + "@" + name); }

    std::string m_tag;
    void* context = nullptr;
    std::vector<int> version;
    std::string name;
    std::vector<std::string> results;
    std::vector<unsigned char> binaries;
    std::vector<unsigned int> raw;
    std::vector<LogEntry> logs;
};

// A consumer whose "engine" records every block it is given.
class TestConsumer : public BaseAudioConsumer {
public:
    struct Setup {
        int blockSizeBytes = 1024;
        unsigned int requiredRate = 16000;
        int sampleFormat = kSampleFormatInt16;
        bool bufferManager = true;
        bool throwInInit = false;
        int processResult = 0;
        unsigned int capacity = 0;  // of the buffer manager, 0 = unlimited
    };

    TestConsumer(std::string tag, int inputRate, Setup setup)
        : BaseAudioConsumer(1, 1, inputRate), m_tag(std::move(tag)), m_setup(setup) {
        ++LiveObjects();
    }
    ~TestConsumer() override {
        --LiveObjects();
        Events().push_back("~" + Label());
    }

    std::string Label() const { return m_tag + "@" + std::to_string(m_channel); }

    void init(std::string parameters) override {
        initDocument = parameters;
        m_requiredSampleRate = m_setup.requiredRate;
        m_sampleFormat = m_setup.sampleFormat;
        m_blockSizeBytes = m_setup.blockSizeBytes;
        m_engine = this;
        if (m_setup.bufferManager) {
            m_bufferManager = std::make_unique<CBufferManagerLL>(
                m_setup.blockSizeBytes > 0 ? m_setup.blockSizeBytes : 1, m_setup.capacity);
        }
        if (static_cast<unsigned int>(m_inputSampleRate) != m_requiredSampleRate) {
            const unsigned int bytesPerSample = m_sampleFormat == kSampleFormatFloat ? 4 : 2;
            m_resampler = std::make_unique<CAudioResampler>(
                1, m_inputSampleRate, 16, 1, static_cast<int>(m_requiredSampleRate),
                static_cast<unsigned short>(bytesPerSample * 8),
                static_cast<unsigned int>(m_setup.blockSizeBytes) / bytesPerSample, 100, 0);
        }
        if (m_setup.throwInInit) throw std::runtime_error("test init failure");
    }
    void shutdown() override { Events().push_back("shutdown " + Label()); }
    void Stop() override {
        BaseAudioConsumer::Stop();
        Events().push_back("Stop " + Label());
    }
    void logStartupMessage() override { ++startupMessages; }
    unsigned int GetRequiredSampleRate() override { return m_requiredSampleRate; }
    unsigned short GetRequiredBitsPerSample() override { return 16; }
    unsigned int GetRequiredBlockSize() override { return 0; }
    void GetVersion(int* major, int* minor, int* patch) override {
        *major = 3, *minor = 1, *patch = static_cast<int>(m_tag.size());
    }
    bool IsStereoSupported() override { return false; }
    int FlushData() override {
        Events().push_back("flush " + Label());
        return flushResult;
    }
    int ProcessBuffer(void* block, void* engine) override {
        const auto* bytes = static_cast<const unsigned char*>(block);
        blocks.emplace_back(bytes, bytes + m_blockSizeBytes);
        engineSeen = engine;
        timestamps.push_back(m_currentTimestamp);
        return m_setup.processResult;
    }
    int ProcessAudioBlock(CAudioBlock& block) override {
        Events().push_back("block " + Label());
        return BaseAudioConsumer::ProcessAudioBlock(block);
    }

    void SetRequiredRate(unsigned int rate) { m_requiredSampleRate = rate; }
    CBufferManagerLL* Buffer() const { return m_bufferManager.get(); }
    bool HasResampler() const { return m_resampler != nullptr; }

    std::string m_tag;
    Setup m_setup;
    std::string initDocument;
    int startupMessages = 0;
    int flushResult = 0;
    void* engineSeen = nullptr;
    std::vector<std::vector<unsigned char>> blocks;
    std::vector<unsigned int> timestamps;
};

// Consumer factory: any name in the table makes a TestConsumer; anything else throws
// InvalidDecoder.
class TestConsumerFactory : public AudioConsumerFactory {
public:
    std::shared_ptr<IAudioConsumer> make(const std::string& name, int sampleRate) override {
        ++makes;
        auto it = setups.find(name);
        if (it == setups.end()) throw InvalidDecoder();
        auto consumer = std::make_shared<TestConsumer>(name, sampleRate, it->second);
        made.push_back(consumer);
        return consumer;
    }
    std::map<std::string, TestConsumer::Setup> setups;
    std::vector<std::weak_ptr<TestConsumer>> made;
    int makes = 0;
};

class TestCallbackFactory : public AudioConsumerCallbackFactory {
public:
    std::shared_ptr<IAudioConsumerCallback> make(const std::string& name) override {
        if (refuse == name) throw InvalidCallback();
        auto callback = std::make_shared<TestCallback>(name);
        made.push_back(callback);
        return callback;
    }
    std::string refuse;
    std::vector<std::weak_ptr<TestCallback>> made;
};

}  // namespace testing_audiocore
