// The two checksums that the demos compute over a text, in the forms the demo windows show.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvex::demo {

// CRC-32 (zlib's polynomial and table, start value 0) of the bytes, as a signed 32-bit value.
int32_t Crc32Of(std::span<const uint8_t> bytes);
int32_t Crc32Of(std::string_view text);

// A CRC as shown in the windows: the signed decimal of its 32-bit value ("-" when the top bit
// is set).
std::string CrcText(int32_t crc);

}  // namespace orvex::demo
