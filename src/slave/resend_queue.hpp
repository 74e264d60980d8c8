// The slave's resend queue: messages whose write failed, queued again on their master's
// link by the server thread after every pass of its loop.
//
// An entry names its link, not a master number, so a message is never delivered to a later
// connection that took over the master's slot; it is dropped once its link has closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/fifo_list.hpp"

namespace orvex {

class MasterLink;

class ResendQueue {
  public:
    // `wake` is called after every Add, so that the thread that drains the queue does not
    // have to poll for it while the queue is empty.
    explicit ResendQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

    bool IsEmpty() const { return count_.load() == 0; }
    void Add(std::weak_ptr<MasterLink> link, std::vector<uint8_t> body);
    // Queues every entry again on its link, in order; cheap when the queue is empty.
    void Drain();
    void Clear();

  private:
    struct Entry {
        std::weak_ptr<MasterLink> link;
        std::vector<uint8_t> body;
    };
    std::mutex lock_;  // guards entries_
    FifoList<Entry> entries_;
    std::atomic<int32_t> count_{0};  // entries_.Count(), readable without the lock
    const std::function<void()> wake_;
};

}  // namespace orvex
