#include "slave/thread_priority.hpp"

namespace orvex {
namespace {

// The level each thread asked for; nothing else changes on platforms without priorities.
thread_local int32_t currentLevel = kThreadPriorityNormal;

}  // namespace

int32_t SetThreadPriorityLevel(int32_t level) noexcept {
    const int32_t previous = currentLevel;
    currentLevel = level;
    return previous;
}

int32_t ThreadPriorityLevel() noexcept {
    return currentLevel;
}

}  // namespace orvex
