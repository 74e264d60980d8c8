#include "common/checksums.hpp"

#include <zlib.h>

#include <algorithm>
#include <bit>

namespace orvex::demo {

int32_t Crc32Of(std::span<const uint8_t> bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes a uInt length: feed very large runs in pieces.
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t piece = std::min<size_t>(bytes.size() - pos, 1u << 30);
        crc = crc32(crc, bytes.data() + pos, static_cast<uInt>(piece));
        pos += piece;
    }
    return std::bit_cast<int32_t>(static_cast<uint32_t>(crc));
}

int32_t Crc32Of(std::string_view text) {
    return Crc32Of(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::string CrcText(int32_t crc) {
    return std::to_string(crc);
}

}  // namespace orvex::demo
