// ParameterList: a FIFO list of untyped values, the parameters of a job.
//
// Design notes. The handle that crosses the C interface is the list header itself, and the
// header, every node and every element are library memory blocks: an application may release
// an emptied list with Orvex_FreeMemory, and the element that Orvex_Parameter_GetMem hands
// out (and its value) the same way. So these are plain records with no hidden heap storage;
// the member functions only give the list operations a home.
//
//   header  {head, count, tail}   head: oldest node (null when empty); tail: newest node,
//                                 meaningful only while head is not null
//   node    {item, next}          next: null for the newest node
//   item    ParameterElement {value, size}
//
// The list owns its nodes; elements and their value blocks are owned by whoever holds the
// list (FreeParameters releases them), and leave it with Take. No lock: one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "Orvex.h"

namespace orvex {

// One value: a library memory block {value block, size}. size may exceed the block's own
// size for a Mem value that the caller made smaller than the size it gave.
using ParameterElement = OrvexParameterElement;

struct ParameterNode {
    ParameterElement* item;
    ParameterNode* next;
};

struct ParameterList {
    ParameterNode* head;
    int32_t count;
    ParameterNode* tail;

    // A new, empty list (a zero-filled library memory block); null when memory is exhausted.
    static ParameterList* New() noexcept;

    // Adds element as the newest value. False, with the list unchanged, when no node could
    // be allocated; the element is not touched either way.
    bool Append(ParameterElement* element) noexcept;

    // Removes the oldest element and returns it; null (list unchanged) when the list is empty.
    ParameterElement* Take() noexcept;

    bool IsEmpty() const noexcept { return head == nullptr; }
    int32_t Count() const noexcept { return count; }
};

static_assert(std::is_trivial_v<ParameterList> && std::is_standard_layout_v<ParameterList>);
static_assert(std::is_trivial_v<ParameterNode> && std::is_standard_layout_v<ParameterNode>);

// A new element record {value, size}; null when memory is exhausted.
ParameterElement* NewElement(void* value, int32_t size) noexcept;

// Releases an element's value block, then the element; null is ignored.
void FreeElement(ParameterElement* element) noexcept;

// Appends {value, size} to the list, taking value over in every case: when memory runs out
// the value block is released and the list is left unchanged (returns false).
bool AppendValue(ParameterList& list, void* value, int32_t size) noexcept;

// Releases a list with every element and value block still in it; null is ignored.
void FreeParameters(ParameterList* list) noexcept;

// Owning pointers for the C++ side.
struct ParameterListDeleter {
    void operator()(ParameterList* list) const noexcept { FreeParameters(list); }
};
using ParameterListPtr = std::unique_ptr<ParameterList, ParameterListDeleter>;

struct ParameterElementDeleter {
    void operator()(ParameterElement* element) const noexcept { FreeElement(element); }
};
using ParameterElementPtr = std::unique_ptr<ParameterElement, ParameterElementDeleter>;

// The C handle is the list header.
inline ParameterList* FromHandle(OrvexParameterList* handle) noexcept {
    return reinterpret_cast<ParameterList*>(handle);
}
inline OrvexParameterList* ToHandle(ParameterList* list) noexcept {
    return reinterpret_cast<OrvexParameterList*>(list);
}

}  // namespace orvex
