#include "audiocore/CAudioBlock.h"

#include <cstring>

namespace Kelvane::AudioCore {

CAudioBlock::CAudioBlock(const void* data, unsigned int length, int channels, int samplesPerSecond,
                         unsigned short bitsPerSample, ePackingMode packingMode,
                         unsigned int timestamp)
    : m_channels(channels),
      m_samplesPerSecond(samplesPerSecond),
      m_bitsPerSample(bitsPerSample),
      m_timestamp(timestamp),
      m_packingMode(packingMode) {
    if (data != nullptr && length > 0) {
        m_data = new unsigned char[length];
        std::memcpy(m_data, data, length);
        m_length = length;
        m_capacity = length;
    }
}

void CAudioBlock::Assign(const void* data, unsigned int length, int channels,
                         int samplesPerSecond, unsigned short bitsPerSample,
                         ePackingMode packingMode, unsigned int timestamp) {
    m_channels = channels;
    m_samplesPerSecond = samplesPerSecond;
    m_bitsPerSample = bitsPerSample;
    m_timestamp = timestamp;
    m_packingMode = packingMode;
    if (data == nullptr || length == 0) {
        m_length = 0;
        return;
    }
    if (length > m_capacity) {
        unsigned char* grown = new unsigned char[length];
        delete[] m_data;
        m_data = grown;
        m_capacity = length;
    }
    std::memcpy(m_data, data, length);
    m_length = length;
}

CAudioBlock::CAudioBlock(const CAudioBlock& other)
    : ListElement(other),
      m_length(other.m_length),
      m_channels(other.m_channels),
      m_samplesPerSecond(other.m_samplesPerSecond),
      m_bitsPerSample(other.m_bitsPerSample),
      m_timestamp(other.m_timestamp),
      m_packingMode(other.m_packingMode) {
    if (other.m_data != nullptr && other.m_length > 0) {
        m_data = new unsigned char[other.m_length];
        std::memcpy(m_data, other.m_data, other.m_length);
        m_capacity = other.m_length;
    } else {
        m_length = 0;
    }
}

CAudioBlock::~CAudioBlock() { delete[] m_data; }

CAudioBlock* CAudioBlock::Copy() const {
    return new CAudioBlock(m_data, m_length, m_channels, m_samplesPerSecond, m_bitsPerSample,
                           PACKING_MODE_NOT_USED, 0);
}

unsigned int CAudioBlock::Append(const void* data, unsigned int length) {
    if (data == nullptr || length == 0) return m_length;
    unsigned char* grown = new unsigned char[m_length + length];
    if (m_data != nullptr) std::memcpy(grown, m_data, m_length);
    std::memcpy(grown + m_length, data, length);
    delete[] m_data;
    m_data = grown;
    m_length += length;
    m_capacity = m_length;
    return m_length;
}

}  // namespace Kelvane::AudioCore
