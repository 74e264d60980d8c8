#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "Orvex.h"
#include "core/crc32.hpp"
#include "core/memory.hpp"
#include "core/result_buffer.hpp"
#include "core/text.hpp"

namespace orvex {
namespace {

TEST(MemoryBlock, ZeroFilledSizedAndNullForNonPositiveSizes) {
    EXPECT_EQ(Orvex_AllocateMemory(0), nullptr);
    EXPECT_EQ(Orvex_AllocateMemory(-8), nullptr);
    auto* block = static_cast<unsigned char*>(Orvex_AllocateMemory(16));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(BlockSize(block), 16);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
    Orvex_FreeMemory(block);
    Orvex_FreeMemory(nullptr);
    EXPECT_EQ(AllocateBlock(kMaxBlockSize + 1), nullptr);
}

TEST(MemoryBlock, ResizeKeepsContentAndZeroesGrowth) {
    auto* block = static_cast<unsigned char*>(AllocateBlock(4));
    std::memcpy(block, "abcd", 4);
    block = static_cast<unsigned char*>(ResizeBlock(block, 4096));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::memcmp(block, "abcd", 4), 0);
    for (int i = 4; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
    block = static_cast<unsigned char*>(ResizeBlock(block, 2));
    EXPECT_EQ(BlockSize(block), 2);
    EXPECT_EQ(ResizeBlock(block, 0), nullptr);  // fails, block intact
    EXPECT_EQ(block[1], 'b');
    FreeBlock(block);
}

TEST(Library, VersionInResultBufferPerThread) {
    const Char* version = Orvex_GetVersion();
    EXPECT_EQ(Narrow(ViewOf(version)), "1.0.3.2");
    // A second thread's result buffer does not disturb this thread's.
    std::thread other([] {
        const Char* mine = SetResultBuffer(FromAscii("other thread text"));
        EXPECT_EQ(Narrow(ViewOf(mine)), "other thread text");
    });
    other.join();
    EXPECT_EQ(Narrow(ViewOf(version)), "1.0.3.2");
}

TEST(Text, BlocksHoldTerminatorOfTheBuildsWidth) {
    Char* block = CopyToBlock(FromAscii("abc"));
    EXPECT_EQ(BlockSize(block), 4 * kCharSize);
    EXPECT_EQ(Narrow(ViewOf(block)), "abc");
    FreeBlock(block);
    Char* empty = CopyToBlock(TextView());
    EXPECT_EQ(BlockSize(empty), kCharSize);
    EXPECT_EQ(empty[0], 0);
    FreeBlock(empty);
}

TEST(Text, LowerCasingRules) {
    const Text mixed = FromAscii("CRC_Text-Z@[");
    EXPECT_EQ(Narrow(ToLower(mixed)), "crc_text-z@[");
#if defined(ORVEX_UNICODE)
    EXPECT_EQ(LowerChar(u'\u00C4'), u'\u00E4');  // A with diaeresis
    EXPECT_EQ(LowerChar(u'\u0410'), u'\u0430');  // Cyrillic A
    EXPECT_EQ(LowerChar(u'\u00DF'), u'\u00DF');
#else
    // Bytes 0xC0-0xDE gain 0x20 (0xD7 included: the rule is by range); others stay.
    const struct {
        unsigned char in, out;
    } cases[] = {{0xC0, 0xE0}, {0xD7, 0xF7}, {0xDE, 0xFE}, {0xDF, 0xDF}, {0xBF, 0xBF}, {0xE4, 0xE4}};
    for (auto c : cases) {
        EXPECT_EQ(static_cast<unsigned char>(LowerChar(static_cast<char>(c.in))), c.out) << int(c.in);
    }
#endif
}

TEST(Text, Utf8Conversions) {
    EXPECT_EQ(Latin1ToUtf8("A\xE4\xFF"), "A\xC3\xA4\xC3\xBF");
    EXPECT_EQ(Utf8ToLatin1("A\xC3\xA4\xC3\xBF"), "A\xE4\xFF");
    // A character Latin-1 cannot hold, or a broken sequence, ends the text there.
    EXPECT_EQ(Utf8ToLatin1("ab\xE2\x82\xAC" "cd"), "ab");
    EXPECT_EQ(Utf8ToLatin1("ab\xC3"), "ab");
    EXPECT_EQ(Utf8ToLatin1("ab\xC0\x80x"), "ab");  // overlong
    const std::u16string wide = u"a\u00E4\u20AC\U0001F600";
    const std::string utf8 = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";
    EXPECT_EQ(Utf16ToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), wide);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(1, u'\xFFFD'));
}

TEST(Crc32, PublishedCheckValue) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
    // Running values compose.
    EXPECT_EQ(Crc32("6789", 4, Crc32("12345", 5)), 0xCBF43926u);
}

}  // namespace
}  // namespace orvex
