#include "audiocore/BaseAudioConsumer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "audiocore/CAudioResampler.h"

namespace Kelvane::AudioCore {

namespace {

constexpr const char* kNoBufferManager =
    "ProcessAudioBlock: BufferManager not created on left channel.";
constexpr const char* kBufferManagerError =
    "ProcessAudioBlock: Buffer manager initialization error on left channel.";
constexpr const char* kBlockSizeNotDefined =
    "ProcessNextBufferBlock: Buffer manager initialization error; size not defined.";
constexpr const char* kGetDataError = "ProcessNextBufferBlock: GetData() error on left channel.";

// Calls fn on every callback of the list, from the head. The next element is taken before the
// call so a callback may unregister itself.
template <typename Fn>
void ForEachCallback(const LinkedList* list, Fn fn) {
    if (list == nullptr) return;
    ListElement* element = list->getHead();
    while (element != nullptr) {
        ListElement* next = element->GetNext();
        fn(*static_cast<IAudioConsumerCallback*>(element));
        element = next;
    }
}

}  // namespace

BaseAudioConsumer::BaseAudioConsumer()
    : m_converterFactory(std::make_shared<AudioSampleConverterFactoryImplementation>()),
      m_resultCallbacks(std::make_unique<LinkedList>()),
      m_logCallbacks(std::make_unique<LinkedList>()) {}

BaseAudioConsumer::BaseAudioConsumer(unsigned int /*unused*/, short channel, int inputSampleRate)
    : BaseAudioConsumer() {
    m_channel = channel;
    m_inputSampleRate = inputSampleRate;
}

BaseAudioConsumer::~BaseAudioConsumer() = default;

int BaseAudioConsumer::ProcessAudioBlock(CAudioBlock& block) {
    const bool toFloat = m_sampleFormat == kSampleFormatFloat;
    const unsigned short bits = block.BitsPerSample();
    const unsigned int bytesPerSample = bits / 8u;
    // A sample size below 8 bits gives no samples; the converter then refuses the block and
    // the failure is reported like any other conversion error.
    const unsigned int count = bytesPerSample != 0 ? block.BufferLength() / bytesPerSample : 0;
    const unsigned int outputSize = count * (toFloat ? 4u : 2u);

    if (m_firstBlock) {
        m_firstBlock = false;
        m_currentTimestamp = block.Timestamp();
    }

    // 16-bit samples for a 16-bit consumer, and float samples for a float consumer, go on as
    // they are; everything else is converted into the consumer's scratch buffer, which grows
    // to the largest block seen and is then reused.
    const unsigned char* samples = block.AudioData();
    const bool asIs = (bits == 16 && !toFloat) ||
                      // The 32-bit check keeps reads inside the block when a block claims
                      // float packing with narrower samples.
                      (block.PackingMode() == FOUR_BYTES_FLOAT && toFloat && bits == 32);
    if (!asIs) {
        if (m_conversionScratch.size() < outputSize) m_conversionScratch.resize(outputSize);
        std::fill_n(m_conversionScratch.begin(), outputSize, static_cast<unsigned char>(0));
        if (!m_converter || m_converterBits != bits || m_converterPacking != block.PackingMode()) {
            m_converter = m_converterFactory->make(bits, block.Channels(), block.PackingMode());
            m_converterBits = bits;
            m_converterPacking = block.PackingMode();
        }
        const int r = m_converter->ConvertInBuffer(
            block.AudioData(), static_cast<int>(count),
            outputSize > 0 ? m_conversionScratch.data() : nullptr, toFloat);
        if (r < 0) {
            char text[256] = {0};
            m_converter->GetErrordesc(text, sizeof text);
            // A run of failing blocks is reported once, until a block converts again.
            if (m_conversionError == 0) NotifyRegisteredLogCallbacks(-1, text);
            m_conversionError = -1;
            return -1;
        }
        m_conversionError = 0;
        samples = m_conversionScratch.data();
    }

    if (!m_bufferManager) {
        NotifyRegisteredLogCallbacks(-2, kNoBufferManager);
        return -2;
    }

    int r;
    if (m_resampler) {
        r = toFloat ? m_resampler->Resample_Float(reinterpret_cast<const float*>(samples),
                                                  outputSize, *m_bufferManager)
                    : m_resampler->Resample_Int(samples, outputSize, *m_bufferManager);
    } else {
        r = m_bufferManager->PutData(samples, outputSize, nullptr);
    }
    if (r < 0) {
        NotifyRegisteredLogCallbacks(-2, kBufferManagerError);
        return 0;
    }

    while (ProcessNextBufferBlock() > 0) {
    }
    return 0;
}

int BaseAudioConsumer::ProcessNextBufferBlock() {
    if (m_blockSizeBytes < 1) {
        NotifyRegisteredLogCallbacks(-2, kBlockSizeNotDefined);
        return -1;
    }
    if (!m_bufferManager) return 0;
    unsigned char* block = nullptr;
    const int r = m_bufferManager->GetData(&block);
    if (r < 0) {
        NotifyRegisteredLogCallbacks(-2, kGetDataError);
        return 0;
    }
    if (r != m_blockSizeBytes) return 0;

    const int e = ProcessBuffer(block, m_engine);
    m_bufferManager->ReleaseData();
    m_bytesDelivered += static_cast<uint64_t>(r);
    // Whole seconds of 16-bit samples (block bytes / 2 / rate). The fraction is carried over:
    // dropping it would freeze the audio time for every block shorter than a second.
    if (m_requiredSampleRate > 0) {
        const uint64_t bytesPerSecond = 2ull * m_requiredSampleRate;
        m_timestampCarryBytes += static_cast<uint64_t>(m_blockSizeBytes);
        m_currentTimestamp += static_cast<unsigned int>(m_timestampCarryBytes / bytesPerSecond);
        m_timestampCarryBytes %= bytesPerSecond;
    }
    ++m_blocksDelivered;  // wraps from UINT32_MAX to 0
    return r + e;
}

void BaseAudioConsumer::RegisterResultCallback(IAudioConsumerCallback& callback) {
    if (m_resultCallbacks) m_resultCallbacks->add(&callback);
}

void BaseAudioConsumer::RegisterLogCallback(IAudioConsumerCallback& callback) {
    if (m_logCallbacks) m_logCallbacks->add(&callback);
}

void BaseAudioConsumer::UnregisterResultCallback(IAudioConsumerCallback& callback) {
    if (m_resultCallbacks) m_resultCallbacks->remove(&callback);
}

void BaseAudioConsumer::UnregisterLogCallback(IAudioConsumerCallback& callback) {
    if (m_logCallbacks) m_logCallbacks->remove(&callback);
}

void BaseAudioConsumer::RegisterBinaryResultCallback(IAudioConsumerCallback& callback) {
    RegisterResultCallback(callback);
}

void BaseAudioConsumer::UnregisterBinaryResultCallback(IAudioConsumerCallback& callback) {
    UnregisterResultCallback(callback);
}

void BaseAudioConsumer::NotifyRegisteredCallbacks(std::string json) {
    ForEachCallback(m_resultCallbacks.get(),
                    [&json](IAudioConsumerCallback& cb) { cb.ResultCallback(json); });
}

void BaseAudioConsumer::NotifyRegisteredLogCallbacks(int code, const char* text) {
    ForEachCallback(m_logCallbacks.get(),
                    [code, text](IAudioConsumerCallback& cb) { cb.LogCallback(code, text); });
}

void BaseAudioConsumer::NotifyRegisteredBinaryResultCallbacks(unsigned char type, unsigned int size,
                                                              void* data, unsigned int extraSize,
                                                              void* extra) {
    ForEachCallback(m_resultCallbacks.get(), [&](IAudioConsumerCallback& cb) {
        cb.BinaryResultCallback(type, size, data, extraSize, extra);
    });
}

void BaseAudioConsumer::NotifyRegisteredDebugCallbacks(signed char* data, unsigned int length) {
    ForEachCallback(m_logCallbacks.get(),
                    [&](IAudioConsumerCallback& cb) { cb.RawPcmCallback(data, length); });
}

void BaseAudioConsumer::SetUpInputPipeline(unsigned int requiredRate, int blockBytes,
                                           const char* family) {
    m_requiredSampleRate = requiredRate;
    m_sampleFormat = kSampleFormatInt16;
    m_blockSizeBytes = blockBytes;
    if (m_inputSampleRate != int(requiredRate)) {
        m_resampler = std::make_unique<CAudioResampler>(1, m_inputSampleRate, 16, 1,
                                                        int(requiredRate), 16, blockBytes / 2,
                                                        100, 0);
        if (!m_resampler->IsInitialized()) {
            m_resampler.reset();
            throw std::runtime_error(std::string(family) + " init: Unable to create resampler.");
        }
    }
    m_bufferManager = std::make_unique<CBufferManagerLL>(blockBytes, 0);
    if (m_bufferManager->GetError()) {
        m_bufferManager.reset();
        throw std::runtime_error(std::string(family) +
                                 " init: Unable to create linked-list buffer.");
    }
}

}  // namespace Kelvane::AudioCore
