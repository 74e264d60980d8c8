// The master's two event queues: events for polling (MasterEvent) and callbacks waiting for
// the callback thread (CallbackItem).
//
// The dispatch routes every event that has no job callback through Route: to the event
// callback when one is set, else to the event queue. Both queues share one mutex so that
// Orvex_Master_WaitEvent can block on a single condition until either of them has something.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "core/fifo_list.hpp"
#include "master/master_types.hpp"

namespace orvex {

struct MasterEvent {
    int32_t slave = 0;
    int32_t jobId = 0;
    int32_t type = 0;
    void* memory = nullptr;  // library memory block or null
    int32_t memorySize = 0;
};

struct CallbackItem {
    MasterCallback function = nullptr;
    MasterEvent event;
    intptr_t userData = 0;
};

class EventQueues {
  public:
    EventQueues() = default;
    EventQueues(const EventQueues&) = delete;
    EventQueues& operator=(const EventQueues&) = delete;
    // Frees the memory of every event and callback item still queued.
    ~EventQueues();

    void SetEventCallback(MasterCallback callback, intptr_t userData);

    // To the event callback (with its user data) when one is set, else to the event queue.
    // The queue owns `memory` from here on.
    void Route(const MasterEvent& event);
    void AppendCallback(const CallbackItem& item);

    std::optional<CallbackItem> TakeCallback();
    bool HasCallbacks();
    std::optional<MasterEvent> TakeEvent();

    // Returns once either queue holds something, or after timeoutMs (0 = no limit).
    void WaitForAny(int32_t timeoutMs);

  private:
    std::mutex lock_;  // guards both queues and the event callback with its user data
    std::condition_variable changed_;  // notified after every append
    FifoList<MasterEvent> events_;
    FifoList<CallbackItem> callbacks_;
    MasterCallback eventCallback_ = nullptr;
    intptr_t eventCallbackData_ = 0;
};

}  // namespace orvex
