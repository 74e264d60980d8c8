// JPEG decoding with libjpeg. The bytes may come from the network: every error of the decoder
// ends in an empty result, never in an exit of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/image.hpp"

namespace orvex::demo {

// Pictures wider or higher than this are refused rather than decoded.
inline constexpr int kMaxImageSide = 4096;

// The decoded picture (converted to RGB), or nothing when the bytes are no JPEG, are
// damaged or describe a picture larger than kMaxImageSide on a side.
std::optional<Image> DecodeJpeg(std::span<const uint8_t> bytes);

}  // namespace orvex::demo
