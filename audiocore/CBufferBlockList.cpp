#include "audiocore/CBufferBlockList.h"

#include <new>

namespace Kelvane::AudioCore {

CBufferBlockList::~CBufferBlockList() { Reset(); }

int CBufferBlockList::Add(const unsigned char* data, unsigned int size) {
    CBufferBlock* block = new (std::nothrow) CBufferBlock(data, size);
    if (block == nullptr) return -1;
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
    delete block;
    return size;
}

void CBufferBlockList::Reset() {
    while (m_head != nullptr) RemoveHead();
}

}  // namespace Kelvane::AudioCore
