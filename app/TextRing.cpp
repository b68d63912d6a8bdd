#include "app/TextRing.h"

#include <cstring>

bool TextRing::push(const std::string& text) {
    const uint32_t write = writeIndex_.load(std::memory_order_relaxed);
    const uint32_t slot = next(write);
    // Acquire pairs with the reader's release of readIndex_: once the reader has
    // moved past a slot, its copy out of that slot is complete and the slot may
    // be overwritten. The slot under the read index itself is never written.
    if (slot == readIndex_.load(std::memory_order_acquire)) {
        return false;
    }
    slots_[slot] = text;
    writeIndex_.store(slot, std::memory_order_release);
    return true;
}

int TextRing::pop(char* buffer, unsigned int length) {
    if (buffer == nullptr || length == 0) {
        return 0;
    }
    const uint32_t read = readIndex_.load(std::memory_order_relaxed);
    if (read == writeIndex_.load(std::memory_order_acquire)) {
        return 0;
    }
    const uint32_t slot = next(read);
    const std::string& text = slots_[slot];
    const size_t n = text.size() < length - 1 ? text.size() : length - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    // Publish only after the copy, so the writer cannot reuse the slot under us.
    readIndex_.store(slot, std::memory_order_release);
    return 1;
}

uint32_t TextRing::unread() const {
    const uint32_t write = writeIndex_.load(std::memory_order_acquire);
    const uint32_t read = readIndex_.load(std::memory_order_acquire);
    return write >= read ? write - read : write + kSlots - read;
}

void TextRing::reset() {
    for (std::string& slot : slots_) {
        slot.clear();
    }
    writeIndex_.store(0, std::memory_order_relaxed);
    readIndex_.store(0, std::memory_order_relaxed);
}
