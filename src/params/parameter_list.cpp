#include "params/parameter_list.hpp"

#include "core/memory.hpp"

namespace orvex {

ParameterList* ParameterList::New() noexcept {
    return static_cast<ParameterList*>(AllocateBlock(sizeof(ParameterList)));
}

bool ParameterList::Append(ParameterElement* element) noexcept {
    auto* node = static_cast<ParameterNode*>(AllocateBlock(sizeof(ParameterNode)));
    if (node == nullptr) return false;
    node->item = element;
    // tail is stale once the list has been emptied, so only head decides.
    if (head == nullptr) {
        head = node;
    } else {
        tail->next = node;
    }
    tail = node;
    ++count;
    return true;
}

ParameterElement* ParameterList::Take() noexcept {
    ParameterNode* node = head;
    if (node == nullptr) return nullptr;
    ParameterElement* element = node->item;
    head = node->next;
    --count;
    FreeBlock(node);
    return element;
}

ParameterElement* NewElement(void* value, int32_t size) noexcept {
    auto* element = static_cast<ParameterElement*>(AllocateBlock(sizeof(ParameterElement)));
    if (element != nullptr) {
        element->value = value;
        element->size = size;
    }
    return element;
}

void FreeElement(ParameterElement* element) noexcept {
    if (element == nullptr) return;
    FreeBlock(element->value);
    FreeBlock(element);
}

bool AppendValue(ParameterList& list, void* value, int32_t size) noexcept {
    ParameterElement* element = NewElement(value, size);
    if (element == nullptr) {
        FreeBlock(value);
        return false;
    }
    if (!list.Append(element)) {
        FreeElement(element);
        return false;
    }
    return true;
}

void FreeParameters(ParameterList* list) noexcept {
    if (list == nullptr) return;
    while (!list->IsEmpty()) FreeElement(list->Take());
    FreeBlock(list);
}

}  // namespace orvex
