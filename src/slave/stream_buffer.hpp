// Buffers of received streams: zero-filled like every stream buffer, but large ones are
// mapped on their own, aligned to huge pages and marked for them. A 64 MiB stream then takes
// 32 page faults instead of 16384 while its blocks arrive, and gives its memory back to the
// system at once when it is freed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex {

// A zero-filled buffer of `size` bytes (size > 0), or null when memory is short.
void* AllocateStreamBuffer(int32_t size) noexcept;

// True when a buffer of `size` bytes is mapped on its own (and worth populating ahead).
bool IsMappedStreamBuffer(int32_t size) noexcept;

// Makes the system back `length` bytes at `at` (inside a mapped buffer) with zeroed pages now
// rather than at the first write; the contents do not change. False when it cannot.
bool PopulateStreamBuffer(void* at, size_t length) noexcept;

// Releases a buffer from AllocateStreamBuffer with the size it was allocated with; null is
// ignored.
void FreeStreamBuffer(void* buffer, int32_t size) noexcept;

}  // namespace orvex
