#include "common/md5.hpp"

#include <algorithm>
#include <cstring>

namespace orvex::demo {
namespace {

// Per-step shift amounts and sine-derived constants of RFC 1321, section 3.4.
constexpr std::array<uint32_t, 64> kShift = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};

constexpr std::array<uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr uint32_t RotateLeft(uint32_t value, uint32_t count) noexcept {
    return (value << count) | (value >> (32 - count));
}

uint32_t LoadLittleEndian(const uint8_t* bytes) noexcept {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

}  // namespace

Md5::Md5() noexcept : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::Transform(const uint8_t* block) noexcept {
    std::array<uint32_t, 16> words;
    for (size_t i = 0; i < words.size(); ++i) words[i] = LoadLittleEndian(block + 4 * i);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (uint32_t step = 0; step < 64; ++step) {
        uint32_t mix;
        uint32_t word;
        switch (step / 16) {
            case 0:
                mix = (b & c) | (~b & d);
                word = step;
                break;
            case 1:
                mix = (d & b) | (~d & c);
                word = (5 * step + 1) % 16;
                break;
            case 2:
                mix = b ^ c ^ d;
                word = (3 * step + 5) % 16;
                break;
            default:
                mix = c ^ (b | ~d);
                word = (7 * step) % 16;
                break;
        }
        const uint32_t rotated = RotateLeft(a + mix + kSine[step] + words[word], kShift[step]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::Update(std::span<const uint8_t> bytes) noexcept {
    length_ += bytes.size();
    size_t pos = 0;
    if (buffered_ > 0) {
        const size_t take = std::min(bytes.size(), buffer_.size() - buffered_);
        std::memcpy(buffer_.data() + buffered_, bytes.data(), take);
        buffered_ += take;
        pos = take;
        if (buffered_ < buffer_.size()) return;
        Transform(buffer_.data());
        buffered_ = 0;
    }
    for (; bytes.size() - pos >= 64; pos += 64) Transform(bytes.data() + pos);
    buffered_ = bytes.size() - pos;
    if (buffered_ > 0) std::memcpy(buffer_.data(), bytes.data() + pos, buffered_);
}

Md5::Digest Md5::Finish() noexcept {
    // Padding: one 0x80 byte, zeros up to 56 bytes mod 64, then the bit length (little endian).
    const uint64_t bitLength = length_ * 8;
    std::array<uint8_t, 72> padding{};
    padding[0] = 0x80;
    const size_t padLength = (buffered_ < 56 ? 56 : 120) - buffered_;
    for (size_t i = 0; i < 8; ++i) padding[padLength + i] = uint8_t(bitLength >> (8 * i));
    Update(std::span(padding.data(), padLength + 8));
    Digest digest;
    for (size_t i = 0; i < 16; ++i) digest[i] = uint8_t(state_[i / 4] >> (8 * (i % 4)));
    return digest;
}

std::string Md5Hex(std::span<const uint8_t> bytes) {
    Md5 md5;
    md5.Update(bytes);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : md5.Finish()) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::string Md5Hex(std::string_view text) {
    return Md5Hex(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace orvex::demo
