// Texts of the two builds.
//
// A text is a zero-terminated string of OrvexChar: bytes in the 8-bit build, UTF-16 code
// units in the Unicode build (ORVEX_UNICODE). Internally texts are Text / TextView; at the
// C edge they are copied into the thread's result buffer or into library memory blocks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Orvex.h"

namespace orvex {

using Char = OrvexChar;
using Text = std::basic_string<Char>;
using TextView = std::basic_string_view<Char>;

// Bytes per character and per terminator in this build.
inline constexpr int32_t kCharSize = static_cast<int32_t>(sizeof(Char));

// Length in characters of a zero-terminated text; 0 for null.
size_t TextLength(const Char* text) noexcept;

// View of a zero-terminated text (empty for null).
TextView ViewOf(const Char* text) noexcept;

// A text of this build from 7-bit ASCII (literal error texts, version, fixed labels).
Text FromAscii(std::string_view ascii);

// Byte size of the text block of `text`: its characters plus the terminator.
int64_t TextBlockSize(TextView text) noexcept;

// Copies the text and its terminator into a new library memory block; null when memory
// is exhausted. The caller owns the block.
Char* CopyToBlock(TextView text) noexcept;

// Lower-casing of job and cache names. 8-bit build: bytes 'A'-'Z' and 0xC0-0xDE gain 0x20,
// every other byte stays. Unicode build: every code unit goes through the C library's
// wide-character lower-casing, using the C.UTF-8 locale so the result does not depend on
// the process locale.
Char LowerChar(Char c) noexcept;
Text ToLower(TextView text);

// Encoding conversions.
std::string Latin1ToUtf8(std::string_view latin1);
// Stops at the first character that Latin-1 cannot hold or the first invalid sequence.
std::string Utf8ToLatin1(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// Invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// This build's text to and from UTF-8 (files, SQLite): Latin-1 in the 8-bit build,
// UTF-16 in the Unicode build.
std::string ToUtf8(TextView text);
Text FromUtf8(std::string_view utf8);

// UTF-8 of a text, for diagnostics and tests.
std::string Narrow(TextView text);

}  // namespace orvex
