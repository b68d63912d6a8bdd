// A single-producer single-consumer ring of text slots, the queue type behind
// the host's detection rings and its diagnostic ring.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Fifty slots with a write index and a read index, both starting at 0. The write
// index names the slot written last, the read index the slot taken last; the
// first text goes into slot 1, then 2, ..., wrapping from 49 to 0. At most 49
// texts are unread at once.
//
// One thread may push while another pops; the indices are atomics published
// with release and read with acquire, so the slot contents travel with them.
// Two threads must not push at once, nor pop at once.
class TextRing {
public:
    static constexpr uint32_t kSlots = 50;

    TextRing() = default;
    TextRing(const TextRing&) = delete;
    TextRing& operator=(const TextRing&) = delete;

    // Writer side. Copies `text` into the next slot and publishes it. A full ring
    // (49 unread texts) keeps its unread texts: nothing is written and false is
    // returned.
    bool push(const std::string& text);

    // Reader side. Takes the oldest unread text into `buffer`: at most
    // length - 1 bytes, always NUL-terminated (a longer text is truncated).
    // Returns 1 when a text was taken; 0 when the ring is empty, `buffer` is null
    // or `length` is 0 (then nothing is consumed and the buffer is untouched).
    int pop(char* buffer, unsigned int length);

    // Number of unread texts as seen from the calling thread.
    uint32_t unread() const;

    // Drops every unread text and resets both indices to 0. Only when neither
    // side is in use (tests, process start).
    void reset();

private:
    static uint32_t next(uint32_t index) { return index + 1 < kSlots ? index + 1 : 0; }

    std::string slots_[kSlots];
    std::atomic<uint32_t> writeIndex_{0};
    std::atomic<uint32_t> readIndex_{0};
};
