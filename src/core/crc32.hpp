// CRC-32 of byte blocks: the published CRC-32 (reflected polynomial 0xEDB88320), the value of
// zlib's crc32. The CRC-32 of an empty block is 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex {

// CRC-32 of `length` bytes; `crc` continues a running value (0 to start).
uint32_t Crc32(const void* data, size_t length, uint32_t crc = 0) noexcept;

}  // namespace orvex
