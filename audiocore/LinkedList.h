#pragma once

#include "audiocore/ListElement.h"

namespace Kelvane::AudioCore {

// Intrusive doubly linked list of ListElement objects. It does not own its elements.
// Used by the consumers for their result and log callback lists.
class LinkedList {
public:
    LinkedList() = default;
    virtual ~LinkedList() = default;
    LinkedList(const LinkedList&) = delete;
    LinkedList& operator=(const LinkedList&) = delete;

    // Appends the element at the tail. Nothing happens for a null element or for an element
    // that is already in this list (it is never linked twice).
    virtual void add(ListElement* element);
    // Unlinks the element. Returns it, or null when it was not in the list (or was null).
    virtual ListElement* remove(ListElement* element);

    ListElement* getHead() const { return m_head; }
    // Walks from the head to the element whose next is null; null for an empty list.
    ListElement* getTail() const;
    unsigned int size() const { return m_count; }
    bool isListEmpty() const { return m_head == nullptr; }
    static bool isElementNull(const ListElement* element) { return element == nullptr; }
    // True when the element is null or the list holds nothing.
    bool isNotInList(const ListElement* element) const {
        return element == nullptr || m_count == 0;
    }
    bool IsElementFirstInList(const ListElement* element) const {
        return element != nullptr && element == m_head;
    }
    // True when the element is linked into this list.
    bool contains(const ListElement* element) const;

protected:
    void addElementToStartOfList(ListElement* element);
    void addElementToEndOfList(ListElement* element);
    void addElementToList(ListElement* element);
    void incrementNumberOfItems() { ++m_count; }
    void removeFromHead();
    bool removeElementFromList(ListElement* element);

private:
    ListElement* m_head = nullptr;
    unsigned int m_count = 0;
};

}  // namespace Kelvane::AudioCore
