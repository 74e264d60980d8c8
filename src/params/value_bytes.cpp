#include "params/value_bytes.hpp"

#include <algorithm>
#include <cstring>

#include "core/memory.hpp"

namespace orvex {

void CopyValueBytes(uint8_t* dest, const void* value, int32_t size) noexcept {
    if (size <= 0) return;
    const int32_t present = std::min(size, BlockSize(value));
    if (present > 0) std::memcpy(dest, value, static_cast<size_t>(present));
    if (present < size) std::memset(dest + present, 0, static_cast<size_t>(size - present));
}

}  // namespace orvex
