#include "sqlite/stored_blob.hpp"

#include <zlib.h>

#include <cstring>

namespace orvex {
namespace {

void WriteLe32(unsigned char* out, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    out[0] = static_cast<unsigned char>(v);
    out[1] = static_cast<unsigned char>(v >> 8);
    out[2] = static_cast<unsigned char>(v >> 16);
    out[3] = static_cast<unsigned char>(v >> 24);
}

int32_t ReadLe32(const unsigned char* in) {
    const uint32_t v = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                       (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
    return static_cast<int32_t>(v);
}

using SQLiteBytes = std::unique_ptr<unsigned char, SQLiteMemoryFree>;

SQLiteBytes AllocateSQLiteBytes(uint64_t length) {
    return SQLiteBytes(static_cast<unsigned char*>(sqlite3_malloc64(length)));
}

// Compresses straight behind the header, so the compressed bytes are never copied again.
EncodedBlob EncodeCompressed(const void* data, int32_t size, int level) {
    static const unsigned char kNothing = 0;
    EncodedBlob blob;
    uLongf compressedLength = compressBound(static_cast<uLong>(size));
    blob.bytes = AllocateSQLiteBytes(kStoredBlobHeaderSize + compressedLength);
    if (blob.bytes == nullptr) {
        blob.error = "copy buffer failed";
        return blob;
    }
    const auto* source = size > 0 ? static_cast<const Bytef*>(data) : &kNothing;
    if (compress2(blob.bytes.get() + kStoredBlobHeaderSize, &compressedLength, source,
                  static_cast<uLong>(size), level) != Z_OK) {
        blob.bytes.reset();
        blob.error = "Orvex_SQLite_StoreAsBlob error: compressing buffer failed";
        return blob;
    }
    blob.length = kStoredBlobHeaderSize + compressedLength;
    // Give back the unused end of the bound; SQLite keeps the value until it is rebound.
    if (void* shrunk = sqlite3_realloc64(blob.bytes.get(), blob.length)) {
        blob.bytes.release();
        blob.bytes.reset(static_cast<unsigned char*>(shrunk));
    }
    return blob;
}

EncodedBlob EncodePlain(const void* data, int32_t size) {
    EncodedBlob blob;
    blob.length = kStoredBlobHeaderSize + static_cast<uint64_t>(size);
    blob.bytes = AllocateSQLiteBytes(blob.length);
    if (blob.bytes == nullptr) {
        blob.error = "failed";
        return blob;
    }
    if (size > 0) std::memcpy(blob.bytes.get() + kStoredBlobHeaderSize, data, size);
    return blob;
}

DecodedBlob Refuse(std::string_view error) {
    DecodedBlob blob;
    blob.error = error;
    return blob;
}

}  // namespace

std::optional<StoredBlobHeader> ReadStoredBlobHeader(const void* value, int64_t length) noexcept {
    if (value == nullptr || length <= kStoredBlobHeaderSize) return std::nullopt;
    const auto* bytes = static_cast<const unsigned char*>(value);
    return StoredBlobHeader{ReadLe32(bytes), ReadLe32(bytes + 4)};
}

EncodedBlob EncodeStoredBlob(const void* data, int32_t size, int32_t flags, int level) noexcept {
    if (size < 0 || (data == nullptr && size > 0)) {
        EncodedBlob refused;
        refused.error = "failed";
        return refused;
    }
    EncodedBlob blob = (flags & kStoredBlobCompressed) != 0 ? EncodeCompressed(data, size, level)
                                                            : EncodePlain(data, size);
    if (blob.bytes != nullptr) {
        WriteLe32(blob.bytes.get(), flags);
        WriteLe32(blob.bytes.get() + 4, size);
    }
    return blob;
}

DecodedBlob DecodeStoredBlob(const void* value, int64_t length) noexcept {
    const std::optional<StoredBlobHeader> header = ReadStoredBlobHeader(value, length);
    if (!header || header->dataSize <= 0) return Refuse("incorrect size");
    const auto* payload = static_cast<const unsigned char*>(value) + kStoredBlobHeaderSize;
    const uint64_t payloadLength = static_cast<uint64_t>(length - kStoredBlobHeaderSize);
    const auto dataSize = static_cast<uint64_t>(header->dataSize);
    const bool compressed = (header->flags & kStoredBlobCompressed) != 0;

    if (!compressed && payloadLength != dataSize) return Refuse("incorrect size");
    if (compressed && dataSize > payloadLength * kMaxInflateRatio) {
        return Refuse("can not decompress buffer");
    }
    DecodedBlob blob;
    blob.data = MakeBlock(header->dataSize);
    if (blob.data == nullptr) return Refuse("can not allocate memory");
    if (!compressed) {
        std::memcpy(blob.data.get(), payload, dataSize);
        return blob;
    }
    // Inflate straight out of SQLite's row buffer; an output shorter than dataSize means a
    // damaged value, not data with a zero-filled end.
    uLongf inflated = static_cast<uLongf>(dataSize);
    if (uncompress(static_cast<Bytef*>(blob.data.get()), &inflated, payload,
                   static_cast<uLong>(payloadLength)) != Z_OK ||
        inflated != dataSize) {
        return Refuse("can not decompress buffer");
    }
    return blob;
}

}  // namespace orvex
