#pragma once

#include "audiocore/CBufferBlock.h"

namespace Kelvane::AudioCore {

// Singly linked FIFO of CBufferBlock chunks; owns its chunks. Removed chunks are kept (up to
// kSpareChunks) and refilled by later Adds, so a stream of puts and takes of steady sizes
// stops allocating after its first chunks.
class CBufferBlockList {
public:
    CBufferBlockList() = default;
    ~CBufferBlockList();
    CBufferBlockList(const CBufferBlockList&) = delete;
    CBufferBlockList& operator=(const CBufferBlockList&) = delete;

    // Appends a chunk holding a copy of the bytes. Returns 0, -1 when no chunk could be made.
    int Add(const unsigned char* data, unsigned int size);
    // Removes and deletes the head chunk; returns its full size, 0 when the list is empty.
    unsigned int RemoveHead();
    // Removes all chunks (and releases the spare ones).
    void Reset();
    CBufferBlock* GetHead() const { return m_head; }
    unsigned int Size() const { return m_count; }

private:
    CBufferBlock* m_head = nullptr;
    CBufferBlock* m_tail = nullptr;
    unsigned int m_count = 0;
    static constexpr unsigned int kSpareChunks = 64;
    CBufferBlock* m_spare = nullptr;  // removed chunks for reuse, linked through GetNext
    unsigned int m_spareCount = 0;
};

}  // namespace Kelvane::AudioCore
