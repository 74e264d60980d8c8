// Slave events: the polled event queue, the callback queue and the callback thread.
//
// An event goes to the callback queue when a callback is set at the moment it is produced,
// otherwise to the event queue that the application polls. The producer does not wake the
// callback thread: the slave signals the wake after every connect and close and at the end
// of every receive batch. While a receive batch runs (hold set), the callback thread
// delivers one callback per wake, which leaves the processor to the receive path; the
// batch's end clears the hold and wakes it, so everything queued is delivered then.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "Orvex.h"
#include "core/fifo_list.hpp"
#include "core/sync.hpp"
#include "core/text.hpp"

namespace orvex {

class SlaveEvents {
  public:
    explicit SlaveEvents(OrvexSlave* handle);
    ~SlaveEvents();
    SlaveEvents(const SlaveEvents&) = delete;
    SlaveEvents& operator=(const SlaveEvents&) = delete;

    // Starts the callback thread.
    void Start();
    // Ends the callback thread without delivering what is still queued (DeInit).
    void Stop();

    void SetCallback(OrvexSlaveEventCallback callback, intptr_t userData);
    void SetEnabled(bool enabled) { enabled_.store(enabled); }

    // Queues an event (empty text = none). Nothing happens while events are disabled.
    void Produce(int32_t type, int32_t master, TextView text = {});

    // Wake-ups and the hold of the receive path. The end of a receive batch wakes the
    // callback thread only when it has something to do: callbacks to deliver, or a delivery
    // that waits for this batch to end. A batch without events (a stream block, a job request
    // while events are off) costs it no wake-up.
    void Wake() { wake_.Signal(); }
    void Hold() { hold_.store(true); }
    void Release() {
        hold_.store(false);
        if (waitsForRelease_.load() || queuedCallbacks_.load() > 0) wake_.Signal();
    }

    // Polling: makes the oldest queued event current; false when none is queued.
    bool Next();
    int32_t CurrentType() const { return currentType_; }
    int32_t CurrentMaster() const { return currentMaster_; }
    const Char* CurrentText() const { return currentText_ ? currentText_->c_str() : nullptr; }

  private:
    struct Event {
        int32_t type;
        int32_t master;
        std::optional<Text> text;
    };
    struct CallbackItem {
        OrvexSlaveEventCallback callback;
        intptr_t userData;
        Event event;
    };

    void CallbackLoop();
    bool TakeCallback(CallbackItem& item);

    OrvexSlave* const handle_;
    std::atomic<bool> enabled_{true};
    std::atomic<bool> hold_{false};
    std::atomic<bool> stopping_{false};
    // The callback thread waits for the running batch's end (set before it tests hold_ again,
    // so that Release either sees it or the thread sees the release).
    std::atomic<bool> waitsForRelease_{false};
    std::atomic<int32_t> queuedCallbacks_{0};  // callbacks_.Count(); changed under lock_
    Semaphore wake_;

    // Guards callback_, userData_, queue_ and callbacks_.
    std::mutex lock_;
    OrvexSlaveEventCallback callback_ = nullptr;
    intptr_t userData_ = 0;
    FifoList<Event> queue_;
    FifoList<CallbackItem> callbacks_;

    // The current polled event; used by the application's polling thread only.
    int32_t currentType_ = 0;
    int32_t currentMaster_ = 0;
    std::optional<Text> currentText_;

    std::thread callbackThread_;
};

}  // namespace orvex
