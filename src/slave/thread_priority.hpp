// Thread priorities for urgent tasks.
//
// Levels follow the thread layer's scale, on which 32 is the highest. The Linux builds have
// no per-thread priorities for ordinary processes, so there the calls only record the level
// the calling thread asked for (which keeps the raise-and-restore contract observable); a
// Windows build maps the level onto the system's thread priorities.
#pragma once

#include <cstdint>

namespace orvex {

inline constexpr int32_t kThreadPriorityNormal = 0;
inline constexpr int32_t kThreadPriorityHighest = 32;

// Sets the calling thread's priority level and returns the level it had before.
int32_t SetThreadPriorityLevel(int32_t level) noexcept;

// The calling thread's current level.
int32_t ThreadPriorityLevel() noexcept;

}  // namespace orvex
