#include "audiocore/CBufferBlock.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace Kelvane::AudioCore {

CBufferBlock::CBufferBlock(const unsigned char* data, unsigned int size) {
    if (data != nullptr && size > 0) {
        m_data = new unsigned char[size];
        std::memcpy(m_data, data, size);
        m_reserved = size;
        m_fullSize = size;
        m_remaining = size;
    }
}

bool CBufferBlock::Refill(const unsigned char* data, unsigned int size) {
    m_fullSize = m_remaining = m_readOffset = 0;
    m_next = nullptr;
    if (data == nullptr || size == 0) return true;
    if (size > m_reserved) {
        unsigned char* grown = new (std::nothrow) unsigned char[size];
        if (grown == nullptr) return false;
        delete[] m_data;
        m_data = grown;
        m_reserved = size;
    }
    std::memcpy(m_data, data, size);
    m_fullSize = size;
    m_remaining = size;
    return true;
}

CBufferBlock::~CBufferBlock() { delete[] m_data; }

int CBufferBlock::GetData(unsigned char* destination, unsigned int count) {
    if (destination == nullptr || count == 0) return -1;
    if (m_remaining == 0) return 0;
    const unsigned int n = std::min(m_remaining, count);
    std::memcpy(destination, m_data + m_readOffset, n);
    m_readOffset += n;
    m_remaining -= n;
    return static_cast<int>(n);
}

}  // namespace Kelvane::AudioCore
