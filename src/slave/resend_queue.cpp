#include "slave/resend_queue.hpp"

#include "slave/master_link.hpp"

namespace orvex {

void ResendQueue::Add(std::weak_ptr<MasterLink> link, std::vector<uint8_t> body) {
    {
        std::scoped_lock guard(lock_);
        entries_.Append({std::move(link), std::move(body)});
        count_.store(entries_.Count());
    }
    if (wake_) wake_();
}

void ResendQueue::Drain() {
    if (count_.load() == 0) return;
    FifoList<Entry> taken;
    {
        std::scoped_lock guard(lock_);
        while (!entries_.IsEmpty()) taken.Append(entries_.Take());
        count_.store(0);
    }
    while (!taken.IsEmpty()) {
        Entry entry = taken.Take();
        if (auto link = entry.link.lock()) link->Send(entry.body);
    }
}

void ResendQueue::Clear() {
    std::scoped_lock guard(lock_);
    while (!entries_.IsEmpty()) entries_.Take();
    count_.store(0);
}

}  // namespace orvex
