#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audiocore/AudioSampleConverterFactory.h"
#include "audiocore/CAudioBlock.h"
#include "audiocore/CBufferManagerLL.h"
#include "audiocore/IAudioConsumer.h"
#include "audiocore/IAudioConsumerCallback.h"
#include "audiocore/LinkedList.h"

namespace Kelvane::AudioCore {

class CAudioResampler;

// Base of every decoder adapter. It owns the common input pipeline:
//   ProcessAudioBlock: convert the samples of the incoming block to the working sample format,
//   resample them to the working rate (when a resampler is set) or store them unchanged in the
//   buffer manager, and call ProcessBuffer once for every whole engine block available.
//
// What a subclass sets up (normally in init): m_engine, and the 16-bit input pipeline
// through SetUpInputPipeline (working rate, engine block size, buffer manager, and a
// resampler when the input rate differs from the working rate).
// The two callback lists are created by the base constructor. The base owns the buffer
// manager, the resampler and the lists (unique_ptr) and releases them; the subclass owns and
// deletes only its engine (m_engine is a plain pointer handed back to ProcessBuffer).
class BaseAudioConsumer : public IAudioConsumer {
public:
    static constexpr int kSampleFormatInt16 = 0;
    static constexpr int kSampleFormatFloat = 1;

    BaseAudioConsumer();
    // The first argument is not used; decoders pass (1, 1, inputSampleRate).
    BaseAudioConsumer(unsigned int unused, short channel, int inputSampleRate);
    ~BaseAudioConsumer() override;
    BaseAudioConsumer(const BaseAudioConsumer&) = delete;
    BaseAudioConsumer& operator=(const BaseAudioConsumer&) = delete;

    // Does nothing.
    void logStartupMessage() override {}
    // The pipeline described above. Returns 0; -1 after a conversion error (reported once per
    // run of failing blocks with code -1 and the converter's text); -2 when there is no buffer
    // manager. Throws InvalidPackingModeSelection for an unreadable sample format.
    int ProcessAudioBlock(CAudioBlock& block) override;
    // Does nothing in the base (returns 0); decoders override it.
    int FlushData() override { return 0; }
    void RegisterResultCallback(IAudioConsumerCallback& callback) override;
    void RegisterLogCallback(IAudioConsumerCallback& callback) override;
    void UnregisterResultCallback(IAudioConsumerCallback& callback) override;
    void UnregisterLogCallback(IAudioConsumerCallback& callback) override;
    // Same list as the result callbacks.
    void RegisterBinaryResultCallback(IAudioConsumerCallback& callback);
    void UnregisterBinaryResultCallback(IAudioConsumerCallback& callback);
    void NotifyRegisteredCallbacks(std::string json) override;
    void NotifyRegisteredLogCallbacks(int code, const char* text) override;
    void NotifyRegisteredBinaryResultCallbacks(unsigned char type, unsigned int size, void* data,
                                               unsigned int extraSize, void* extra);
    // Calls RawPcmCallback on every log callback.
    void NotifyRegisteredDebugCallbacks(signed char* data, unsigned int length);

    // Parameters document of the meter; nothing in the base.
    virtual void init(std::string parameters) { (void)parameters; }
    virtual void shutdown() {}
    // Sets the stopped flag.
    virtual void Stop() { m_stopped = true; }
    // Runs the engine on exactly one engine block (m_blockSizeBytes bytes). Its result is added
    // to the result of ProcessNextBufferBlock.
    virtual int ProcessBuffer(void* block, void* engine) = 0;

    // Takes one engine block from the buffer manager and runs ProcessBuffer on it. Returns
    // block size + ProcessBuffer's result when a block ran, 0 when no whole block was
    // available or GetData failed (reported with -2), -1 when the block size is not set.
    int ProcessNextBufferBlock();

    short GetChannelNumber() const { return m_channel; }
    // The meter sets the 0-based channel index.
    void SetChannelNumber(short channel) { m_channel = channel; }
    int GetInputSampleRate() const { return m_inputSampleRate; }
    // Audio time in seconds: the first block's timestamp plus the whole seconds of engine
    // blocks delivered so far. Parts of a second are carried from block to block, so blocks
    // shorter than a second still move the time on once their sum reaches a second.
    unsigned int GetCurrentTimestamp() const { return m_currentTimestamp; }
    uint64_t GetBytesDelivered() const { return m_bytesDelivered; }
    uint32_t GetBlocksDelivered() const { return m_blocksDelivered; }
    bool IsStopped() const { return m_stopped; }
    LinkedList* getCallbackList() const { return m_resultCallbacks.get(); }
    LinkedList* getLogCallbackList() const { return m_logCallbacks.get(); }

protected:
    // Sets up the 16-bit input pipeline of a decoder working at requiredRate on engine blocks
    // of blockBytes bytes: m_requiredSampleRate, m_sampleFormat, m_blockSizeBytes, a
    // CAudioResampler from m_inputSampleRate when the two rates differ (one engine block per
    // call), and the buffer manager. Throws std::runtime_error with "<family> init: Unable to
    // create resampler." or "<family> init: Unable to create linked-list buffer."; the object
    // that failed is released first.
    void SetUpInputPipeline(unsigned int requiredRate, int blockBytes, const char* family);

    std::shared_ptr<AudioSampleConverterFactory> m_converterFactory;
    short m_channel = 1;
    int m_inputSampleRate = 0;
    unsigned int m_requiredSampleRate = 0;
    int m_sampleFormat = kSampleFormatInt16;
    bool m_firstBlock = true;
    unsigned int m_currentTimestamp = 0;
    int m_blockSizeBytes = 0;
    void* m_engine = nullptr;
    std::unique_ptr<CBufferManagerLL> m_bufferManager;
    bool m_stopped = false;
    uint64_t m_bytesDelivered = 0;
    uint32_t m_blocksDelivered = 0;
    std::unique_ptr<LinkedList> m_resultCallbacks;
    std::unique_ptr<LinkedList> m_logCallbacks;
    std::unique_ptr<CAudioResampler> m_resampler;
    int m_conversionError = 0;
    // Converted samples of the current block, and the converter of the last converted format.
    std::vector<unsigned char> m_conversionScratch;
    std::shared_ptr<SampleConverter> m_converter;
    unsigned short m_converterBits = 0;
    ePackingMode m_converterPacking = PACKING_MODE_NOT_USED;
    // Bytes of engine blocks delivered but not yet counted as a whole second.
    uint64_t m_timestampCarryBytes = 0;
};

}  // namespace Kelvane::AudioCore
