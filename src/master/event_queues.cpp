#include "master/event_queues.hpp"

#include <chrono>

#include "core/memory.hpp"

namespace orvex {

EventQueues::~EventQueues() {
    while (!events_.IsEmpty()) FreeBlock(events_.Take().memory);
    while (!callbacks_.IsEmpty()) FreeBlock(callbacks_.Take().event.memory);
}

void EventQueues::SetEventCallback(MasterCallback callback, intptr_t userData) {
    std::scoped_lock guard(lock_);
    eventCallback_ = callback;
    eventCallbackData_ = userData;
}

void EventQueues::Route(const MasterEvent& event) {
    {
        std::scoped_lock guard(lock_);
        if (eventCallback_ != nullptr) {
            callbacks_.Append(CallbackItem{eventCallback_, event, eventCallbackData_});
        } else {
            events_.Append(event);
        }
    }
    changed_.notify_all();
}

void EventQueues::AppendCallback(const CallbackItem& item) {
    {
        std::scoped_lock guard(lock_);
        callbacks_.Append(item);
    }
    changed_.notify_all();
}

std::optional<CallbackItem> EventQueues::TakeCallback() {
    std::scoped_lock guard(lock_);
    if (callbacks_.IsEmpty()) return std::nullopt;
    return callbacks_.Take();
}

bool EventQueues::HasCallbacks() {
    std::scoped_lock guard(lock_);
    return !callbacks_.IsEmpty();
}

std::optional<MasterEvent> EventQueues::TakeEvent() {
    std::scoped_lock guard(lock_);
    if (events_.IsEmpty()) return std::nullopt;
    return events_.Take();
}

void EventQueues::WaitForAny(int32_t timeoutMs) {
    std::unique_lock guard(lock_);
    const auto ready = [this] { return !events_.IsEmpty() || !callbacks_.IsEmpty(); };
    if (timeoutMs == 0) {
        changed_.wait(guard, ready);
    } else {
        // "More than timeout milliseconds": the wait ends after timeout + 1 at the latest.
        changed_.wait_for(guard, std::chrono::milliseconds(int64_t{timeoutMs} + 1), ready);
    }
}

}  // namespace orvex
