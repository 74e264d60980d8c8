// Texts that come from the network before the demos show them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvex::demo {

// The text with every control character (below 0x20, and 0x7F) replaced by '?', so that a
// name or result from a peer can neither break a log line in two nor forge one.
std::string Printable(std::string_view text);

// The text at `memory`: its bytes up to the first zero byte, never reading past `size` bytes.
// Empty for null memory or a size of 0 or less.
std::string TextInBlock(const void* memory, int32_t size);

// A dotted IPv4 address from the 32-bit value whose bytes, in memory order, are the address
// bytes in their usual order (127.0.0.1 is the bytes 127, 0, 0, 1).
std::string DottedAddress(int32_t address);

// True for 127.0.0.1 in that form.
bool IsLocalHostAddress(int32_t address);

}  // namespace orvex::demo
