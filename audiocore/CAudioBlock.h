#pragma once

#include "audiocore/ListElement.h"
#include "audiocore/SampleConversion.h"

namespace Kelvane::AudioCore {

// One buffer of samples with its format and timestamp, as a consumer manager hands it to its
// consumers. The block owns a copy of the bytes.
class CAudioBlock : public ListElement {
public:
    // Copies length bytes from data when data is not null (otherwise the block holds no bytes
    // but still reports the given length as 0).
    CAudioBlock(const void* data, unsigned int length, int channels, int samplesPerSecond,
                unsigned short bitsPerSample, ePackingMode packingMode, unsigned int timestamp);
    CAudioBlock(const CAudioBlock& other);
    CAudioBlock& operator=(const CAudioBlock&) = delete;
    ~CAudioBlock() override;

    const unsigned char* AudioData() const { return m_data; }
    unsigned char* AudioData() { return m_data; }
    unsigned int BufferLength() const { return m_length; }
    int Channels() const { return m_channels; }
    int SamplesPerSec() const { return m_samplesPerSecond; }
    unsigned short BitsPerSample() const { return m_bitsPerSample; }
    unsigned int Timestamp() const { return m_timestamp; }
    ePackingMode PackingMode() const { return m_packingMode; }

    // New block (caller owns it) with the same bytes, length, channels, rate and bits per
    // sample, packing mode PACKING_MODE_NOT_USED and timestamp 0.
    CAudioBlock* Copy() const;
    // Makes this block the same as a newly constructed CAudioBlock(data, length, ...), reusing
    // its byte array when that is large enough, so that a block refilled for every buffer of a
    // stream allocates only while its largest length grows.
    void Assign(const void* data, unsigned int length, int channels, int samplesPerSecond,
                unsigned short bitsPerSample, ePackingMode packingMode, unsigned int timestamp);
    // Grows the byte array by length bytes from data at the end; returns the new length.
    // A null data pointer or a length of 0 changes nothing.
    unsigned int Append(const void* data, unsigned int length);

private:
    unsigned char* m_data = nullptr;
    unsigned int m_length = 0;
    unsigned int m_capacity = 0;  // bytes allocated at m_data
    int m_channels = 0;
    int m_samplesPerSecond = 0;
    unsigned short m_bitsPerSample = 0;
    unsigned int m_timestamp = 0;
    ePackingMode m_packingMode = PACKING_MODE_NOT_USED;
};

}  // namespace Kelvane::AudioCore
