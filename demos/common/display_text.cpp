#include "common/display_text.hpp"

#include <cstring>

namespace orvex::demo {

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return out;
}

std::string TextInBlock(const void* memory, int32_t size) {
    if (memory == nullptr || size <= 0) return {};
    const char* text = static_cast<const char*>(memory);
    return std::string(text, strnlen(text, size_t(size)));
}

std::string DottedAddress(int32_t address) {
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

bool IsLocalHostAddress(int32_t address) {
    const unsigned char localHost[4] = {127, 0, 0, 1};
    return std::memcmp(&address, localHost, sizeof localHost) == 0;
}

}  // namespace orvex::demo
