#pragma once

namespace Kelvane::AudioCore {

// One chunk of input as it was put into a CBufferManagerLL: an owned copy of the bytes and a
// read position.
class CBufferBlock {
public:
    // Copies size bytes from data (nothing when data is null or size is 0).
    CBufferBlock(const unsigned char* data, unsigned int size);
    ~CBufferBlock();
    CBufferBlock(const CBufferBlock&) = delete;
    CBufferBlock& operator=(const CBufferBlock&) = delete;

    // Copies min(remaining, count) bytes from the read position into destination and advances
    // it. Returns the count copied, 0 when nothing remains, -1 for a null destination or a
    // count of 0.
    int GetData(unsigned char* destination, unsigned int count);

    // Makes the chunk hold a copy of size bytes from data with the read position at the start,
    // as a new CBufferBlock(data, size) would; its byte array is reused when large enough.
    // Returns false, leaving the chunk empty, when the bytes could not be stored.
    bool Refill(const unsigned char* data, unsigned int size);
    unsigned int FullSize() const { return m_fullSize; }
    unsigned int Remaining() const { return m_remaining; }
    void SetNext(CBufferBlock* next) { m_next = next; }
    CBufferBlock* GetNext() const { return m_next; }

private:
    unsigned int m_reserved = 0;  // bytes allocated at m_data
    unsigned int m_fullSize = 0;
    unsigned int m_readOffset = 0;
    unsigned int m_remaining = 0;
    unsigned char* m_data = nullptr;
    CBufferBlock* m_next = nullptr;
};

}  // namespace Kelvane::AudioCore
