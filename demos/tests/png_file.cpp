#include "png_file.hpp"

#include <zlib.h>

#include <cstdio>
#include <vector>

namespace orvex::demo {
namespace {

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

// One chunk: length, type, data, CRC-32 over type and data.
void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBigEndian(out, uint32_t(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, out.data() + typeAt, uInt(out.size() - typeAt));
    PutBigEndian(out, uint32_t(crc));
}

}  // namespace

bool WritePng(const std::string& path, const Image& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() != size_t(image.width) * size_t(image.height) * 3) {
        return false;
    }
    std::vector<uint8_t> header;
    PutBigEndian(header, uint32_t(image.width));
    PutBigEndian(header, uint32_t(image.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
    std::vector<uint8_t> raw;
    const size_t stride = size_t(image.width) * 3;
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);  // filter type: none
        raw.insert(raw.end(), image.rgb.begin() + long(stride * y),
                   image.rgb.begin() + long(stride * (y + 1)));
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 6) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", packed);
    PutChunk(file, "IEND", {});
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace orvex::demo
