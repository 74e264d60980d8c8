#include "core/crc32.hpp"

#include <zlib.h>

namespace orvex {

uint32_t Crc32(const void* data, size_t length, uint32_t crc) noexcept {
    if (length == 0) return crc;
    return static_cast<uint32_t>(crc32_z(crc, static_cast<const Bytef*>(data), length));
}

}  // namespace orvex
