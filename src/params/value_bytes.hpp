// Byte-level helpers shared by parameter values, return values and the parameter block.
//
// Numbers are stored little-endian whatever the host, so the value bytes of a list are already
// the bytes that travel on the wire. A value's block may be smaller than the size recorded with
// it (a caller's Mem block); readers therefore never read more than the block holds.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace orvex {

namespace detail {
template <typename T>
using UnsignedOf = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
}  // namespace detail

// Writes a 4- or 8-byte number (integer or IEEE float) in little-endian order.
template <typename T>
void StoreLittle(uint8_t* at, T value) noexcept {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    const auto bits = std::bit_cast<detail::UnsignedOf<T>>(value);
    for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Reads a 4- or 8-byte number stored by StoreLittle.
template <typename T>
T LoadLittle(const uint8_t* at) noexcept {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    detail::UnsignedOf<T> bits = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        bits |= static_cast<detail::UnsignedOf<T>>(at[i]) << (8 * i);
    }
    return std::bit_cast<T>(bits);
}

// Copies the first `size` bytes of the library memory block `value` to dest. When the block
// holds fewer bytes (or is null), only those are copied and the rest of dest is zeroed.
// Nothing happens for size <= 0.
void CopyValueBytes(uint8_t* dest, const void* value, int32_t size) noexcept;

}  // namespace orvex
