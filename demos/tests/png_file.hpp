// Writes an RGB picture as a PNG file (zlib-compressed, no filtering): the screenshots of the
// window tests.
#pragma once

#include <string>

#include "common/image.hpp"

namespace orvex::demo {

bool WritePng(const std::string& path, const Image& image);

}  // namespace orvex::demo
