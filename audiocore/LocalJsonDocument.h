// A rapidjson document whose values and parse stack live in fixed buffers
// inside the object, for the short texts parsed once per detection.
//
// rapidjson's default document takes a 64 KiB chunk from the heap for its
// values and another block for its parse stack on every parse. A long-running
// channel parses several detection texts a second, and that churn of large
// blocks between the small, long-lived strings of the code rings lets the
// heap fragment: resident memory creeps up while the memory in use stays
// flat. A detection text (a few hundred bytes, about twenty members) fits the
// buffers here, so parsing one takes nothing from the heap; a larger text
// simply spills into heap chunks as usual.
#ifndef TAVIK_AUDIOCORE_LOCALJSONDOCUMENT_H
#define TAVIK_AUDIOCORE_LOCALJSONDOCUMENT_H

#include <rapidjson/document.h>

namespace Kelvane {
namespace AudioCore {

class LocalJsonDocument {
public:
    using Allocator = rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>;
    using Document = rapidjson::GenericDocument<rapidjson::UTF8<>, Allocator, Allocator>;

    LocalJsonDocument()
        : m_values(m_valueBuffer, sizeof m_valueBuffer),
          m_stack(m_stackBuffer, sizeof m_stackBuffer),
          m_doc(&m_values, kStackCapacity, &m_stack) {}
    LocalJsonDocument(const LocalJsonDocument&) = delete;
    LocalJsonDocument& operator=(const LocalJsonDocument&) = delete;

    Document& doc() { return m_doc; }

private:
    static constexpr size_t kStackCapacity = 1024;
    // Values of about twenty members with their strings; the stack buffer
    // holds the initial parse stack and the pool's own chunk header.
    alignas(8) char m_valueBuffer[4096];
    alignas(8) char m_stackBuffer[kStackCapacity + 512];
    Allocator m_values;
    Allocator m_stack;
    Document m_doc;
};

}  // namespace AudioCore
}  // namespace Kelvane

#endif  // TAVIK_AUDIOCORE_LOCALJSONDOCUMENT_H
