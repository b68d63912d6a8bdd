#pragma once

#include "audiocore/CBufferBlockList.h"
#include "audiocore/IBufferManager.h"

namespace Kelvane::AudioCore {

// Linked-list buffer manager: every PutData becomes one chunk of its own size; outgoing blocks
// of the fixed block size are assembled in one preallocated buffer, so taking a block does not
// allocate. Not thread-safe: one thread at a time.
class CBufferManagerLL : public IBufferManager {
public:
    // blockSize: size in bytes of the blocks handed out by GetData(unsigned char**).
    // capacity: maximum bytes held, 0 = unlimited. The error flag (GetError) is set, and
    // nothing is allocated, when blockSize is 0 or capacity is neither 0 nor at least
    // 2 * blockSize.
    CBufferManagerLL(unsigned int blockSize, unsigned int capacity);
    ~CBufferManagerLL() override;
    CBufferManagerLL(const CBufferManagerLL&) = delete;
    CBufferManagerLL& operator=(const CBufferManagerLL&) = delete;

    int PutData(const unsigned char* data, unsigned int length, unsigned int* fillPercent) override;
    int GetData(unsigned char** block) override;
    int GetData(unsigned char* destination, unsigned int maximum) override;
    void ReleaseData() override {}
    void WaitForData() override {}
    void CancelWait() override {}
    void Reset() override {}
    bool GetError() const override { return m_error; }

    unsigned int GetBlockSize() const { return m_blockSize; }
    unsigned int GetCapacity() const { return m_capacity; }
    // Bytes not yet read.
    unsigned int GetAvailableBytes() const { return m_available; }
    // Total size of the queued chunks, including already read parts of the head chunk.
    unsigned int GetHeldBytes() const { return m_held; }
    // Fill percentage as last computed by PutData (0 with unlimited capacity).
    unsigned int GetFillPercent() const { return m_fillPercent; }

private:
    // Copies count bytes chunk by chunk into destination; removes emptied chunks. Returns the
    // count copied or -1 on a chunk error (the failing head chunk is dropped).
    int CopyOut(unsigned char* destination, unsigned int count);

    unsigned int m_fillPercent = 0;
    bool m_error = false;
    unsigned int m_blockSize = 0;
    unsigned int m_capacity = 0;
    unsigned int m_held = 0;
    unsigned int m_available = 0;
    CBufferBlockList* m_list = nullptr;
    unsigned char* m_blockBuffer = nullptr;
};

}  // namespace Kelvane::AudioCore
