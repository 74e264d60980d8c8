#include "core/memory.hpp"

#include <cstdlib>
#include <cstring>

namespace orvex {
namespace {

// The header keeps the user bytes aligned for any fundamental type.
struct alignas(std::max_align_t) BlockHeader {
    int64_t size;
};

BlockHeader* HeaderOf(const void* block) {
    return reinterpret_cast<BlockHeader*>(const_cast<char*>(static_cast<const char*>(block)) -
                                          sizeof(BlockHeader));
}

void* UserBytes(BlockHeader* header) { return reinterpret_cast<char*>(header) + sizeof(BlockHeader); }

}  // namespace

void* AllocateBlock(int64_t size) noexcept {
    if (size <= 0 || size > kMaxBlockSize) return nullptr;
    auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;
    header->size = size;
    return UserBytes(header);
}

void FreeBlock(void* block) noexcept {
    if (block != nullptr) std::free(HeaderOf(block));
}

int32_t BlockSize(const void* block) noexcept {
    return block == nullptr ? 0 : static_cast<int32_t>(HeaderOf(block)->size);
}

void* ResizeBlock(void* block, int64_t newSize) noexcept {
    if (block == nullptr) return AllocateBlock(newSize);
    if (newSize <= 0 || newSize > kMaxBlockSize) return nullptr;
    BlockHeader* old = HeaderOf(block);
    const int64_t oldSize = old->size;
    auto* header = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + newSize));
    if (header == nullptr) return nullptr;
    header->size = newSize;
    void* bytes = UserBytes(header);
    if (newSize > oldSize) std::memset(static_cast<char*>(bytes) + oldSize, 0, newSize - oldSize);
    return bytes;
}

}  // namespace orvex
