#pragma once

namespace Kelvane::AudioCore {

// Base of everything that can sit in an intrusive LinkedList (consumers, callbacks, audio
// blocks). The links live in the element itself, so an element can belong to several lists
// only as the single element of each.
class ListElement {
public:
    ListElement() = default;
    virtual ~ListElement() = default;

    // Links are identity, not value: a copy starts unlinked.
    ListElement(const ListElement&) : m_previous(nullptr), m_next(nullptr) {}
    ListElement& operator=(const ListElement&) { return *this; }

    ListElement* GetPrevious() const { return m_previous; }
    ListElement* GetNext() const { return m_next; }
    void SetPrevious(ListElement* element) { m_previous = element; }
    void SetNext(ListElement* element) { m_next = element; }

private:
    ListElement* m_previous = nullptr;
    ListElement* m_next = nullptr;
};

}  // namespace Kelvane::AudioCore
