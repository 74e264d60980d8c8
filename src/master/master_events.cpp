// Polling the event queue and reading the current event.
#include "master/master.hpp"

namespace orvex {

int32_t Master::TakeEvent() {
    const auto event = queues_.TakeEvent();
    if (!event) return 0;
    // The memory of the event that was current before stays the application's.
    currentEvent_ = *event;
    return 1;
}

void* Master::CurrentMemory(const char* accessor, bool take) {
    void* memory = currentEvent_.memory;
    if (memory == nullptr) {
        SetError(accessor, "no job memory available");
        return nullptr;
    }
    if (take) {
        currentEvent_.memory = nullptr;
        currentEvent_.memorySize = 0;
    }
    return memory;
}

}  // namespace orvex
