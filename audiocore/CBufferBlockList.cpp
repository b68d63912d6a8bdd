#include "audiocore/CBufferBlockList.h"

#include <new>

namespace Kelvane::AudioCore {

CBufferBlockList::~CBufferBlockList() { Reset(); }

int CBufferBlockList::Add(const unsigned char* data, unsigned int size) {
    CBufferBlock* block = nullptr;
    if (m_spare != nullptr) {
        block = m_spare;
        m_spare = block->GetNext();
        --m_spareCount;
        if (!block->Refill(data, size)) {
            delete block;
            return -1;
        }
    } else {
        block = new (std::nothrow) CBufferBlock(data, size);
        if (block == nullptr) return -1;
    }
    if (m_tail == nullptr) {
        m_head = block;
    } else {
        m_tail->SetNext(block);
    }
    m_tail = block;
    ++m_count;
    return 0;
}

unsigned int CBufferBlockList::RemoveHead() {
    if (m_head == nullptr) return 0;
    CBufferBlock* block = m_head;
    m_head = block->GetNext();
    if (m_head == nullptr) m_tail = nullptr;
    --m_count;
    const unsigned int size = block->FullSize();
    if (m_spareCount < kSpareChunks) {
        block->SetNext(m_spare);
        m_spare = block;
        ++m_spareCount;
    } else {
        delete block;
    }
    return size;
}

void CBufferBlockList::Reset() {
    while (m_head != nullptr) RemoveHead();
    while (m_spare != nullptr) {
        CBufferBlock* next = m_spare->GetNext();
        delete m_spare;
        m_spare = next;
    }
    m_spareCount = 0;
}

}  // namespace Kelvane::AudioCore
