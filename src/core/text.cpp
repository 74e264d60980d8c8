#include "core/text.hpp"

#include <cstring>
#include <cwctype>
#include <locale.h>

#include "core/memory.hpp"

namespace orvex {

size_t TextLength(const Char* text) noexcept {
    if (text == nullptr) return 0;
    return std::char_traits<Char>::length(text);
}

TextView ViewOf(const Char* text) noexcept {
    return text == nullptr ? TextView() : TextView(text, TextLength(text));
}

Text FromAscii(std::string_view ascii) { return Text(ascii.begin(), ascii.end()); }

int64_t TextBlockSize(TextView text) noexcept {
    return (static_cast<int64_t>(text.size()) + 1) * kCharSize;
}

Char* CopyToBlock(TextView text) noexcept {
    auto* block = static_cast<Char*>(AllocateBlock(TextBlockSize(text)));
    if (block != nullptr && !text.empty()) std::memcpy(block, text.data(), text.size() * kCharSize);
    return block;
}

#if defined(ORVEX_UNICODE)
namespace {
// A locale object with full Unicode case tables, created once and never freed.
locale_t CaseLocale() noexcept {
    static const locale_t locale = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l;
    }();
    return locale;
}
}  // namespace

Char LowerChar(Char c) noexcept {
    const locale_t locale = CaseLocale();
    const wint_t lowered = locale != static_cast<locale_t>(0)
                               ? towlower_l(static_cast<wint_t>(c), locale)
                               : std::towlower(static_cast<wint_t>(c));
    return lowered <= 0xFFFF ? static_cast<Char>(lowered) : c;
}
#else
Char LowerChar(Char c) noexcept {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE)) {
        return static_cast<Char>(byte + 0x20);
    }
    return c;
}
#endif

Text ToLower(TextView text) {
    Text result(text);
    for (Char& c : result) c = LowerChar(c);
    return result;
}

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

constexpr uint32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at `pos`, advancing it; kInvalid (and one byte consumed) for
// a malformed, overlong or surrogate sequence.
uint32_t DecodeUtf8(std::string_view s, size_t& pos) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    int extra;
    uint32_t cp;
    uint32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        ++pos;
        return kInvalid;
    }
    if (s.size() - pos <= static_cast<size_t>(extra)) {
        ++pos;
        return kInvalid;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return kInvalid;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kInvalid;
    }
    pos += extra + 1;
    return cp;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1) AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const uint32_t cp = DecodeUtf8(utf8, pos);
        if (cp == kInvalid || cp > 0xFF) break;
        out.push_back(static_cast<char>(cp));
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        uint32_t cp = DecodeUtf8(utf8, pos);
        if (cp == kInvalid) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

#if defined(ORVEX_UNICODE)
std::string ToUtf8(TextView text) { return Utf16ToUtf8(std::u16string_view(text.data(), text.size())); }
Text FromUtf8(std::string_view utf8) { return Utf8ToUtf16(utf8); }
std::string Narrow(TextView text) { return ToUtf8(text); }
#else
std::string ToUtf8(TextView text) { return Latin1ToUtf8(text); }
Text FromUtf8(std::string_view utf8) { return Utf8ToLatin1(utf8); }
std::string Narrow(TextView text) { return std::string(text); }
#endif

}  // namespace orvex
