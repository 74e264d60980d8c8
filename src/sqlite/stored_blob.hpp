// The layout of a stored blob, the value that Orvex_SQLite_StoreAsBlob binds:
//
//   offset 0  int32 LE  flags     the caller's flags; bit 0 set = payload is zlib-compressed
//   offset 4  int32 LE  dataSize  size of the caller's data before compression
//   offset 8  payload             compress2 output (bit 0 set) or the data unchanged
//
// Encoding and decoding work on plain bytes so that they can be tested (and fuzzed) without a
// database. Decoding trusts nothing in the value: it checks the header against the payload
// before it allocates or inflates anything.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/memory.hpp"

namespace orvex {

inline constexpr int64_t kStoredBlobHeaderSize = 8;
inline constexpr int32_t kStoredBlobCompressed = 1;
// No deflate stream inflates to more than 1032 times its own length (258-byte matches coded
// in 2 bits), so a dataSize above that claims data that the payload cannot hold.
inline constexpr uint64_t kMaxInflateRatio = 1032;

struct StoredBlobHeader {
    int32_t flags;
    int32_t dataSize;
};

// The header of a stored value; nullopt when the value is 8 bytes or shorter.
std::optional<StoredBlobHeader> ReadStoredBlobHeader(const void* value, int64_t length) noexcept;

struct SQLiteMemoryFree {
    void operator()(void* bytes) const noexcept { sqlite3_free(bytes); }
};

// A stored blob ready for binding. Its bytes come from sqlite3_malloc64 so that SQLite can
// take them over (sqlite3_free as the bind destructor) without another copy.
struct EncodedBlob {
    std::unique_ptr<unsigned char, SQLiteMemoryFree> bytes;
    uint64_t length = 0;
    // Empty on success, else the layer's error text ("failed", "copy buffer failed",
    // "Orvex_SQLite_StoreAsBlob error: compressing buffer failed").
    std::string_view error;
};

// Builds the stored blob of `size` bytes at `data` with `flags`, compressing at zlib `level`
// when bit 0 of flags is set. size 0 gives the header alone (or header and an empty stream).
EncodedBlob EncodeStoredBlob(const void* data, int32_t size, int32_t flags, int level) noexcept;

struct DecodedBlob {
    BlockPtr<> data;  // a library memory block of exactly dataSize bytes
    // Empty on success, else "incorrect size", "can not allocate memory" or
    // "can not decompress buffer".
    std::string_view error;
};

// The caller's data out of a stored value of `length` bytes. A value whose header does not
// fit its payload is refused: an uncompressed payload must be exactly dataSize bytes long,
// and a compressed one must inflate to exactly dataSize bytes.
DecodedBlob DecodeStoredBlob(const void* value, int64_t length) noexcept;

}  // namespace orvex
