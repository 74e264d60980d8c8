// The CRC-32 of every length, alignment and continuation equals zlib's crc32, whichever
// method computes it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "core/crc32.hpp"

namespace orvex {
namespace {

std::vector<uint8_t> Noise(size_t size) {
    std::vector<uint8_t> out(size);
    uint32_t x = 2463534242u;
    for (auto& byte : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<uint8_t>(x);
    }
    return out;
}

uint32_t Reference(const uint8_t* data, size_t length, uint32_t crc = 0) {
    return static_cast<uint32_t>(crc32_z(crc, data, length));
}

TEST(Crc32, MatchesZlibForEveryLengthAndAlignment) {
    const std::vector<uint8_t> data = Noise(4096 + 64);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length = 0; length <= 1100; ++length) {
            ASSERT_EQ(Crc32(data.data() + offset, length), Reference(data.data() + offset, length))
                << offset << " " << length;
        }
    }
    for (size_t length : {4096u, 4095u, 4097u, 4032u}) {
        EXPECT_EQ(Crc32(data.data() + 3, length), Reference(data.data() + 3, length));
    }
}

TEST(Crc32, ContinuesARunningValue) {
    const std::vector<uint8_t> data = Noise(1 << 20);
    const uint32_t whole = Reference(data.data(), data.size());
    EXPECT_EQ(Crc32(data.data(), data.size()), whole);
    for (size_t split : {1u, 15u, 64u, 100u, 65536u, 262147u}) {
        const uint32_t first = Crc32(data.data(), split);
        EXPECT_EQ(Crc32(data.data() + split, data.size() - split, first), whole) << split;
    }
    std::vector<uint8_t> zeros(1000, 0), ones(1000, 0xFF);
    EXPECT_EQ(Crc32(zeros.data(), zeros.size()), Reference(zeros.data(), zeros.size()));
    EXPECT_EQ(Crc32(ones.data(), ones.size()), Reference(ones.data(), ones.size()));
}

}  // namespace
}  // namespace orvex
