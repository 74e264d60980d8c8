// The small pieces the demos share: CRC display, log line format, options, JPEG decoding and
// the embedded logo.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/checksums.hpp"
#include "common/command_line.hpp"
#include "common/display_text.hpp"
#include "common/jpeg_image.hpp"
#include "common/log_line.hpp"
#include "logo/logo.hpp"

namespace orvex::demo {
namespace {

TEST(Checksums, CrcIsZlibsValueShownSigned) {
    EXPECT_EQ(Crc32Of(std::string_view("")), 0);
    // CRC-32 of "123456789" is 0xCBF43926: the top bit is set, so it shows negative.
    EXPECT_EQ(Crc32Of(std::string_view("123456789")), int32_t(0xCBF43926u));
    EXPECT_EQ(CrcText(Crc32Of(std::string_view("123456789"))), "-873187034");
    EXPECT_EQ(CrcText(Crc32Of(std::string_view("a"))), "-390611389");  // 0xE8B7BE43
}

// Texts from a peer: never read past their block, never break or forge a log line.
TEST(DisplayText, PeerTextsAreBoundedAndPrintable) {
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(TextInBlock(unterminated, 4), "abcd");
    EXPECT_EQ(TextInBlock(unterminated, 2), "ab");
    EXPECT_EQ(TextInBlock("x\0y", 3), "x");
    EXPECT_EQ(TextInBlock(nullptr, 5), "");
    EXPECT_EQ(TextInBlock(unterminated, -1), "");
    EXPECT_EQ(Printable("a\nb\r\x7f\tc"), "a?b???c");
    EXPECT_EQ(Printable("Prüfen"), "Prüfen");  // UTF-8 bytes stay
}

// Addresses as the library gives them: the octets in memory order.
TEST(DisplayText, AddressesInMemoryOrder) {
    const unsigned char local[4] = {127, 0, 0, 1};
    const unsigned char other[4] = {192, 168, 10, 254};
    int32_t localValue, otherValue;
    std::memcpy(&localValue, local, 4);
    std::memcpy(&otherValue, other, 4);
    EXPECT_EQ(DottedAddress(localValue), "127.0.0.1");
    EXPECT_EQ(DottedAddress(otherValue), "192.168.10.254");
    EXPECT_TRUE(IsLocalHostAddress(localValue));
    EXPECT_FALSE(IsLocalHostAddress(otherValue));
    EXPECT_FALSE(IsLocalHostAddress(0x0100007F == localValue ? 0x7F000001 : 0x0100007F));
}

TEST(LogLine, TwoDigitTimeThenMessage) {
    std::tm time{};
    time.tm_hour = 7;
    time.tm_min = 5;
    time.tm_sec = 9;
    EXPECT_EQ(LogLineAt(time, "Slave Paused"), "[07:05:09] Slave Paused");
    EXPECT_EQ(LogLineAt(time, ""), "[07:05:09] ");
}

TEST(CommandLine, FlagsValuesAndErrors) {
    const OptionSpec options[] = {{"headless", "", ""}, {"port", "N", ""}};
    const char* good[] = {"prog", "--headless", "--port", "4444"};
    CommandLine line = ParseCommandLine(4, const_cast<char**>(good), options);
    EXPECT_TRUE(line.error.empty());
    EXPECT_TRUE(line.Has("headless"));
    EXPECT_EQ(line.Get("port", "444"), "4444");
    EXPECT_EQ(line.Get("text", "Demotext"), "Demotext");

    const char* unknown[] = {"prog", "--bogus"};
    EXPECT_FALSE(ParseCommandLine(2, const_cast<char**>(unknown), options).error.empty());
    const char* missing[] = {"prog", "--port"};
    EXPECT_FALSE(ParseCommandLine(2, const_cast<char**>(missing), options).error.empty());
    const char* help[] = {"prog", "--help"};
    EXPECT_TRUE(ParseCommandLine(2, const_cast<char**>(help), options).help);

    EXPECT_EQ(ParseInt("444", 1, 65535), 444);
    for (const char* bad : {"", "0", "65536", "12x", "-1", " 5"}) {
        EXPECT_FALSE(ParseInt(bad, 1, 65535).has_value()) << bad;
    }
}

// The logo is a baseline JFIF picture of 224 x 130 pixels with three components.
TEST(Logo, IsBaselineJfif224x130WithThreeComponents) {
    const auto logo = LogoJpeg();
    ASSERT_GT(logo.size(), 1000u);
    EXPECT_EQ(logo[0], 0xFF);
    EXPECT_EQ(logo[1], 0xD8);  // start of image
    EXPECT_EQ(logo[logo.size() - 2], 0xFF);
    EXPECT_EQ(logo[logo.size() - 1], 0xD9);  // end of image
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(logo.data()) + 6, 4), "JFIF");
    // Walk the marker segments up to the frame header: it must be SOF0 (baseline).
    size_t pos = 2;
    while (pos + 4 <= logo.size() && logo[pos] == 0xFF && logo[pos + 1] != 0xC0) {
        ASSERT_FALSE(logo[pos + 1] >= 0xC1 && logo[pos + 1] <= 0xCF && logo[pos + 1] != 0xC4 &&
                     logo[pos + 1] != 0xC8 && logo[pos + 1] != 0xCC)
            << "not a baseline frame";
        pos += 2 + (size_t(logo[pos + 2]) << 8 | logo[pos + 3]);
    }
    ASSERT_LT(pos + 10, logo.size());
    ASSERT_EQ(logo[pos + 1], 0xC0);
    EXPECT_EQ(size_t(logo[pos + 5]) << 8 | logo[pos + 6], size_t(kLogoHeight));
    EXPECT_EQ(size_t(logo[pos + 7]) << 8 | logo[pos + 8], size_t(kLogoWidth));
    EXPECT_EQ(logo[pos + 9], 3);

    const auto image = DecodeJpeg(logo);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->width, kLogoWidth);
    EXPECT_EQ(image->height, kLogoHeight);
    EXPECT_EQ(image->rgb.size(), size_t(kLogoWidth) * kLogoHeight * 3);
}

// Bytes from the network: garbage, truncations and a header claiming a huge picture end in an
// empty result or a picture, never in a crash or an exit.
TEST(Jpeg, HostileBytesNeverEndTheProcess) {
    const auto logo = LogoJpeg();
    EXPECT_FALSE(DecodeJpeg({}).has_value());
    const std::vector<uint8_t> garbage(500, 0x5A);
    EXPECT_FALSE(DecodeJpeg(garbage).has_value());
    for (size_t cut : {3u, 20u, 200u, 2000u}) {
        const auto image = DecodeJpeg(logo.first(cut));
        if (image) {
            EXPECT_EQ(image->width, kLogoWidth);
        }
    }
    std::vector<uint8_t> huge(logo.begin(), logo.end());
    for (size_t pos = 2; pos + 9 < huge.size(); ++pos) {
        if (huge[pos] == 0xFF && huge[pos + 1] == 0xC0) {
            huge[pos + 5] = 0xFF;  // height 65xxx
            huge[pos + 6] = 0xF0;
            break;
        }
    }
    EXPECT_FALSE(DecodeJpeg(huge).has_value());
}

}  // namespace
}  // namespace orvex::demo
