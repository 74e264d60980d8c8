// Synchronisation primitives used across the library.
//
// Mutexes that a thread may take again while holding them are recursive; semaphores carry
// wake-ups between threads and support timed waits, so waiting threads block on the event
// itself instead of sleeping and re-checking.
#pragma once

#include <chrono>
#include <climits>
#include <mutex>
#include <condition_variable>
#include <cstdint>

namespace orvex {

using RecursiveMutex = std::recursive_mutex;

// A counting semaphore. Built on a mutex and a condition variable rather than
// std::counting_semaphore: libstdc++ 12 implements the timed acquire of the latter by polling
// with sleeps of up to half the time already waited, which turns a timed wait into a sleep
// loop (a wake-up 2 ms into a wait is seen about 1 ms late).
class Semaphore {
public:
    explicit Semaphore(int initial = 0) : count_(initial) {}
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void Signal() {
        {
            std::scoped_lock guard(lock_);
            ++count_;
        }
        changed_.notify_one();
    }
    void Wait() {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [this] { return count_ > 0; });
        --count_;
    }
    bool TryWait() {
        std::scoped_lock guard(lock_);
        if (count_ == 0) return false;
        --count_;
        return true;
    }
    // True when the semaphore was taken within `ms` milliseconds.
    bool WaitFor(int ms) {
        std::unique_lock guard(lock_);
        if (!changed_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return count_ > 0; })) {
            return false;
        }
        --count_;
        return true;
    }

private:
    std::mutex lock_;  // guards count_
    std::condition_variable changed_;
    int64_t count_;
};

}  // namespace orvex
