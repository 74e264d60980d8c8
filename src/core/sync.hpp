// Synchronisation primitives used across the library.
//
// Mutexes that a thread may take again while holding them are recursive; semaphores carry
// wake-ups between threads and support timed waits, so waiting threads block on the event
// itself instead of sleeping and re-checking.
#pragma once

#include <chrono>
#include <climits>
#include <mutex>
#include <semaphore>

namespace orvex {

using RecursiveMutex = std::recursive_mutex;

class Semaphore {
public:
    explicit Semaphore(int initial = 0) : sem_(initial) {}
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    void Signal() { sem_.release(); }
    void Wait() { sem_.acquire(); }
    bool TryWait() { return sem_.try_acquire(); }
    // True when the semaphore was taken within `ms` milliseconds.
    bool WaitFor(int ms) { return sem_.try_acquire_for(std::chrono::milliseconds(ms)); }

private:
    std::counting_semaphore<INT_MAX> sem_;
};

}  // namespace orvex
