// A decoded picture: 8-bit RGB pixels, row by row, top row first.
#pragma once

#include <cstdint>
#include <vector>

namespace orvex::demo {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes
};

}  // namespace orvex::demo
