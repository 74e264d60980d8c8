// xwd_to_png: turns an X window dump (the framebuffer file that Xvfb keeps with -fbdir) into
// a PNG file, and prints its size and how many colours it shows.
//
//   xwd_to_png IN.xwd OUT.png
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "png_file.hpp"

namespace {

// The header's fields are 32-bit big-endian words.
enum Field {
    kHeaderSize = 0,
    kFormat = 2,
    kWidth = 4,
    kHeight = 5,
    kByteOrder = 7,
    kBitsPerPixel = 11,
    kBytesPerLine = 12,
    kRedMask = 14,
    kGreenMask = 15,
    kBlueMask = 16,
    kColours = 19,
    kFields = 25
};

uint32_t BigEndian(const std::vector<uint8_t>& file, size_t at) {
    return uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 |
           file[at + 3];
}

// The 8-bit value of the bits under `mask`.
uint8_t Channel(uint32_t pixel, uint32_t mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const uint32_t maximum = mask >> shift;
    return uint8_t(((pixel & mask) >> shift) * 255 / maximum);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: xwd_to_png IN.xwd OUT.png\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (file.size() < kFields * 4) {
        std::fprintf(stderr, "xwd_to_png: %s is no window dump\n", argv[1]);
        return 1;
    }
    uint32_t h[kFields];
    for (int i = 0; i < kFields; ++i) h[i] = BigEndian(file, size_t(i) * 4);
    const uint32_t bytesPerPixel = h[kBitsPerPixel] / 8;
    const size_t pixelsAt = size_t(h[kHeaderSize]) + size_t(h[kColours]) * 12;
    if (h[kFormat] != 2 || (bytesPerPixel != 4 && bytesPerPixel != 3) || h[kWidth] == 0 ||
        h[kWidth] > 16384 || h[kHeight] == 0 || h[kHeight] > 16384 ||
        h[kBytesPerLine] < h[kWidth] * bytesPerPixel ||
        file.size() < pixelsAt + size_t(h[kBytesPerLine]) * h[kHeight]) {
        std::fprintf(stderr, "xwd_to_png: unsupported or short dump %s\n", argv[1]);
        return 1;
    }
    orvex::demo::Image image{int(h[kWidth]), int(h[kHeight]), {}};
    image.rgb.reserve(size_t(image.width) * size_t(image.height) * 3);
    std::set<uint32_t> colours;
    for (uint32_t y = 0; y < h[kHeight]; ++y) {
        const uint8_t* row = file.data() + pixelsAt + size_t(y) * h[kBytesPerLine];
        for (uint32_t x = 0; x < h[kWidth]; ++x) {
            uint32_t pixel = 0;
            for (uint32_t b = 0; b < bytesPerPixel; ++b) {
                const uint32_t byte = row[x * bytesPerPixel + b];
                pixel |=
                    h[kByteOrder] == 0 ? byte << (8 * b) : byte << (8 * (bytesPerPixel - 1 - b));
            }
            const uint8_t rgb[3] = {Channel(pixel, h[kRedMask]), Channel(pixel, h[kGreenMask]),
                                    Channel(pixel, h[kBlueMask])};
            image.rgb.insert(image.rgb.end(), rgb, rgb + 3);
            if (colours.size() < 100000)
                colours.insert(uint32_t(rgb[0]) << 16 | rgb[1] << 8 | rgb[2]);
        }
    }
    if (!orvex::demo::WritePng(argv[2], image)) {
        std::fprintf(stderr, "xwd_to_png: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%dx%d, %zu colours\n", image.width, image.height, colours.size());
    return 0;
}
