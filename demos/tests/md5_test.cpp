// MD5 against the test suite of RFC 1321 (appendix A.5).
#include <gtest/gtest.h>

#include <string>

#include "common/md5.hpp"

namespace orvex::demo {
namespace {

struct Vector {
    const char* input;
    const char* digest;
};

constexpr Vector kRfcVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, RfcTestSuite) {
    for (const Vector& v : kRfcVectors)
        EXPECT_EQ(Md5Hex(std::string_view(v.input)), v.digest) << v.input;
}

// Lengths around the padding boundaries (55, 56, 63, 64 bytes) and input fed in uneven pieces
// must give the digest of the whole.
TEST(Md5, PiecewiseUpdatesMatchOneShot) {
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
        std::string text(length, 'x');
        for (size_t i = 0; i < length; ++i) text[i] = char('a' + i % 26);
        const auto bytes = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        Md5 pieces;
        for (size_t pos = 0, step = 1; pos < length; pos += step, step = step * 2 + 1) {
            pieces.Update(bytes.subspan(pos, std::min(step, length - pos)));
        }
        Md5 whole;
        whole.Update(bytes);
        EXPECT_EQ(pieces.Finish(), whole.Finish()) << length;
    }
    // A known value past one block: 1000 'a's.
    EXPECT_EQ(Md5Hex(std::string(1000, 'a')), "cabe45dcc9ae5b66ba86600cca6b8ba8");
}

}  // namespace
}  // namespace orvex::demo
