// Helpers shared by the parameter tests.
#pragma once

#include <cstdint>
#include <vector>

#include "Orvex.h"
#include "core/memory.hpp"
#include "core/text.hpp"

namespace orvex::test {

using Bytes = std::vector<uint8_t>;

// Every byte of a library memory block.
inline Bytes BytesOf(const void* block) {
    const auto* bytes = static_cast<const uint8_t*>(block);
    return Bytes(bytes, bytes + BlockSize(block));
}

// The text block of an ASCII text in this build: characters and terminator.
inline Bytes TextBytes(const char* ascii) {
    Bytes out;
    for (const char* c = ascii;; ++c) {
        out.push_back(static_cast<uint8_t>(*c));
        if (kCharSize == 2) out.push_back(0);
        if (*c == 0) return out;
    }
}

// A library memory block holding `bytes`.
inline void* BlockOf(const Bytes& bytes) {
    auto* block = static_cast<uint8_t*>(AllocateBlock(static_cast<int64_t>(bytes.size())));
    for (size_t i = 0; i < bytes.size(); ++i) block[i] = bytes[i];
    return block;
}

}  // namespace orvex::test
