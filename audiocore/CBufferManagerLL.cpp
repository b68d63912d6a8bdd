#include "audiocore/CBufferManagerLL.h"

#include <algorithm>
#include <new>

namespace Kelvane::AudioCore {

CBufferManagerLL::CBufferManagerLL(unsigned int blockSize, unsigned int capacity)
    : m_blockSize(blockSize), m_capacity(capacity) {
    // The capacity must hold at least two blocks so that a block can be completed while the
    // previous one is still queued. Compared in 64 bits so a huge block size cannot wrap.
    if (blockSize == 0 ||
        (capacity != 0 && static_cast<unsigned long long>(capacity) <
                              2ULL * static_cast<unsigned long long>(blockSize))) {
        m_error = true;
        return;
    }
    m_list = new CBufferBlockList();
    m_blockBuffer = new unsigned char[blockSize];
}

CBufferManagerLL::~CBufferManagerLL() {
    delete m_list;
    delete[] m_blockBuffer;
}

int CBufferManagerLL::PutData(const unsigned char* data, unsigned int length,
                              unsigned int* fillPercent) {
    if (m_capacity != 0 && static_cast<unsigned long long>(m_held) + length > m_capacity) {
        return -3;
    }
    if (data == nullptr || length == 0) return 0;
    // A refused manager has nowhere to keep data; the total must also stay countable.
    if (m_list == nullptr || length > static_cast<unsigned int>(0x7FFFFFFF) ||
        static_cast<unsigned long long>(m_held) + length > 0xFFFFFFFFULL) {
        return -1;
    }
    if (m_list->Add(data, length) != 0) return -1;
    m_held += length;
    m_available += length;
    m_fillPercent = m_capacity == 0
                        ? 0
                        : static_cast<unsigned int>(100.0f * (static_cast<float>(m_available) /
                                                              static_cast<float>(m_capacity)));
    if (fillPercent != nullptr) *fillPercent = m_fillPercent;
    return static_cast<int>(length);
}

int CBufferManagerLL::CopyOut(unsigned char* destination, unsigned int count) {
    unsigned int copied = 0;
    while (copied < count) {
        CBufferBlock* head = m_list->GetHead();
        if (head == nullptr) break;
        const int r = head->GetData(destination + copied, count - copied);
        if (r < 0) {
            const unsigned int remaining = head->Remaining();
            m_held -= m_list->RemoveHead();
            m_available -= remaining;
            return -1;
        }
        copied += static_cast<unsigned int>(r);
        m_available -= static_cast<unsigned int>(r);
        if (head->Remaining() == 0) m_held -= m_list->RemoveHead();
    }
    return static_cast<int>(copied);
}

int CBufferManagerLL::GetData(unsigned char** block) {
    if (block == nullptr || m_blockBuffer == nullptr) return -1;
    *block = nullptr;
    if (m_available < m_blockSize) return 0;
    const int copied = CopyOut(m_blockBuffer, m_blockSize);
    if (copied != static_cast<int>(m_blockSize)) return -1;
    *block = m_blockBuffer;
    return copied;
}

int CBufferManagerLL::GetData(unsigned char* destination, unsigned int maximum) {
    if (destination == nullptr || maximum < 2 || m_blockBuffer == nullptr) return -1;
    if (m_available >= m_blockSize) return -2;
    return CopyOut(destination, std::min(m_available, maximum));
}

}  // namespace Kelvane::AudioCore
