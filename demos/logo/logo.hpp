// The logo that the slave demo serves with its job "GetLogo": a baseline JPEG/JFIF picture of
// 224 x 130 pixels with three colour components, drawn and encoded at build time by
// make_logo and embedded here as bytes (start-of-image to end-of-image marker).
#pragma once

#include <cstdint>
#include <span>

namespace orvex::demo {

inline constexpr int kLogoWidth = 224;
inline constexpr int kLogoHeight = 130;

// The JPEG bytes of the logo.
std::span<const uint8_t> LogoJpeg();

}  // namespace orvex::demo
