// Fuzz target: reading a stored blob, the value of a BLOB column that the SQLite layer (or any
// other writer of the database file) left behind.
//
// Input: the bytes of the BLOB value. The header must agree with what decoding gives (exactly
// dataSize bytes), and data that decodes must come back unchanged after storing it again with
// the same flags, compressed or not.
#include <cstring>

#include "../fuzz_target.hpp"
#include "core/memory.hpp"
#include "sqlite/stored_blob.hpp"

namespace orvex::fuzz {

int StoredBlobInput(const uint8_t* data, size_t size) {
    const auto length = static_cast<int64_t>(size);
    const auto header = ReadStoredBlobHeader(data, length);
    const DecodedBlob decoded = DecodeStoredBlob(data, length);
    if (!header) FUZZ_CHECK(decoded.data == nullptr);
    if (decoded.data == nullptr) {
        FUZZ_CHECK(!decoded.error.empty());
        return 0;
    }
    FUZZ_CHECK(decoded.error.empty());
    FUZZ_CHECK(header && BlockSize(decoded.data.get()) == header->dataSize);

    // Store again at a level taken from the input and read back.
    const int level = static_cast<int>(size % 10);
    const EncodedBlob stored =
        EncodeStoredBlob(decoded.data.get(), header->dataSize, header->flags, level);
    FUZZ_CHECK(stored.bytes != nullptr && stored.error.empty());
    const DecodedBlob again =
        DecodeStoredBlob(stored.bytes.get(), static_cast<int64_t>(stored.length));
    FUZZ_CHECK(again.data != nullptr);
    FUZZ_CHECK(BlockSize(again.data.get()) == header->dataSize);
    FUZZ_CHECK(std::memcmp(again.data.get(), decoded.data.get(),
                           static_cast<size_t>(header->dataSize)) == 0);
    return 0;
}

}  // namespace orvex::fuzz

ORVEX_FUZZ_ENTRY(StoredBlobInput)
