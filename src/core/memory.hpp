// Library memory blocks: zero-filled, sized allocations that cross the C interface.
//
// Every block carries a small header in front of the bytes the caller sees, holding the
// block's size, so that Orvex_FreeMemory needs no size and the library can measure a block
// it was handed (the encoded parameter block is measured this way). Requests of 0 bytes or
// less give no block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvex {

// Largest block the allocator hands out; larger requests fail like exhausted memory.
inline constexpr int64_t kMaxBlockSize = INT32_MAX;

// A zero-filled block of `size` bytes, or null when size <= 0, size > kMaxBlockSize or the
// memory is exhausted.
void* AllocateBlock(int64_t size) noexcept;

// Releases a block from AllocateBlock; null is ignored.
void FreeBlock(void* block) noexcept;

// The size that the block was allocated (or last resized) with; 0 for null.
int32_t BlockSize(const void* block) noexcept;

// Grows or shrinks a block, keeping its first min(old, new) bytes; bytes gained are zero.
// Returns the (possibly moved) block, or null on failure, in which case `block` is intact.
// A null block behaves like AllocateBlock; newSize <= 0 fails.
void* ResizeBlock(void* block, int64_t newSize) noexcept;

// Owning pointer for a library memory block.
struct BlockDeleter {
    void operator()(void* block) const noexcept { FreeBlock(block); }
};
template <typename T = void>
using BlockPtr = std::unique_ptr<T, BlockDeleter>;

template <typename T = void>
BlockPtr<T> MakeBlock(int64_t size) noexcept {
    return BlockPtr<T>(static_cast<T*>(AllocateBlock(size)));
}

}  // namespace orvex
