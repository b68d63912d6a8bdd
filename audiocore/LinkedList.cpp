#include "audiocore/LinkedList.h"

namespace Kelvane::AudioCore {

void LinkedList::add(ListElement* element) {
    if (element == nullptr) return;
    // The links live in the element: linking it a second time would make it point at itself
    // and leave the count out of step with the chain.
    if (contains(element)) return;
    addElementToList(element);
    incrementNumberOfItems();
}

void LinkedList::addElementToList(ListElement* element) {
    if (isListEmpty()) {
        addElementToStartOfList(element);
    } else {
        addElementToEndOfList(element);
    }
}

void LinkedList::addElementToStartOfList(ListElement* element) {
    element->SetPrevious(nullptr);
    element->SetNext(m_head);
    if (m_head != nullptr) m_head->SetPrevious(element);
    m_head = element;
}

void LinkedList::addElementToEndOfList(ListElement* element) {
    ListElement* tail = getTail();
    tail->SetNext(element);
    element->SetPrevious(tail);
    element->SetNext(nullptr);
}

ListElement* LinkedList::getTail() const {
    ListElement* element = m_head;
    if (element == nullptr) return nullptr;
    while (element->GetNext() != nullptr) element = element->GetNext();
    return element;
}

bool LinkedList::contains(const ListElement* element) const {
    for (const ListElement* e = m_head; e != nullptr; e = e->GetNext()) {
        if (e == element) return true;
    }
    return false;
}

ListElement* LinkedList::remove(ListElement* element) {
    if (isNotInList(element)) return nullptr;
    if (IsElementFirstInList(element)) {
        removeFromHead();
    } else if (!removeElementFromList(element)) {
        return nullptr;
    }
    --m_count;
    return element;
}

void LinkedList::removeFromHead() {
    ListElement* element = m_head;
    m_head = element->GetNext();
    if (m_head != nullptr) m_head->SetPrevious(nullptr);
    element->SetNext(nullptr);
    element->SetPrevious(nullptr);
}

bool LinkedList::removeElementFromList(ListElement* element) {
    ListElement* previous = m_head;
    while (previous != nullptr && previous->GetNext() != element) previous = previous->GetNext();
    if (previous == nullptr) return false;
    ListElement* next = element->GetNext();
    previous->SetNext(next);
    if (next != nullptr) next->SetPrevious(previous);
    element->SetNext(nullptr);
    element->SetPrevious(nullptr);
    return true;
}

}  // namespace Kelvane::AudioCore
