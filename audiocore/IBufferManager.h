#pragma once

namespace Kelvane::AudioCore {

// Buffering model selector; accepted for interface compatibility, it changes nothing.
enum AudioSDKBufferModel_t { AUDIO_SDK_BUFFER_MODEL_DEFAULT = 0 };

// A byte queue that takes data of any length and hands it out in blocks of one fixed size.
// Results of the data operations: >= 0 byte count, -1 bad argument or internal chunk error,
// -2 remainder requested while whole blocks are available, -3 capacity exceeded.
class IBufferManager {
public:
    virtual ~IBufferManager() = default;

    // Queues a copy of length bytes. Returns length, 0 for null data or length 0, -3 when the
    // capacity would be exceeded, -1 when the copy could not be made. Stores the fill
    // percentage in *fillPercent when that pointer is not null.
    virtual int PutData(const unsigned char* data, unsigned int length,
                        unsigned int* fillPercent) = 0;
    // Whole blocks: sets *block to an internal buffer holding the next block-size bytes and
    // returns the block size; returns 0 (and *block null) when less than a block is available;
    // -1 on a null pointer or an error. The block stays valid until the next GetData.
    virtual int GetData(unsigned char** block) = 0;
    // Remainder (for flushing): copies up to maximum bytes into destination and returns the
    // count; -1 for a null destination, maximum < 2 or an unusable manager; -2 when at least
    // one whole block is available (take those with the other GetData first).
    virtual int GetData(unsigned char* destination, unsigned int maximum) = 0;
    virtual void ReleaseData() = 0;
    virtual void WaitForData() = 0;
    virtual void CancelWait() = 0;
    virtual void Reset() = 0;
    // True when the constructor refused its parameters.
    virtual bool GetError() const = 0;
    virtual void SetBufferModel(AudioSDKBufferModel_t model) { m_bufferModel = model; }

protected:
    AudioSDKBufferModel_t m_bufferModel = AUDIO_SDK_BUFFER_MODEL_DEFAULT;
};

}  // namespace Kelvane::AudioCore
