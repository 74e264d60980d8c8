// The cache file: a cache's settings and entries, little-endian throughout.
//
//   header   magic (4 bytes), maxSize (int64), ageTolerance (int32), hitTolerance (int64)
//   entries  from offset 24 to the end, in list order, each:
//            name line (the lower-cased name, then 0x0A), lifetime (int32),
//            xtraData (int64), size (int64), size bytes of data
//
// No entry count, no end marker; times and hit counts are not kept, so loaded entries start
// their lives at the load. Names are stored as their bytes in the 8-bit build and as UTF-8
// in the Unicode build, whose magic differs so that neither build reads the other's files.
#pragma once

#include <cstdint>
#include <filesystem>

#include "cache/cache.hpp"

namespace orvex {

inline constexpr int32_t kCacheFileMagic8Bit = 0x00434348;     // "HCC\0"
inline constexpr int32_t kCacheFileMagicUnicode = 0x00430048;  // "H\0C\0"
#if defined(ORVEX_UNICODE)
inline constexpr int32_t kCacheFileMagic = kCacheFileMagicUnicode;
#else
inline constexpr int32_t kCacheFileMagic = kCacheFileMagic8Bit;
#endif
inline constexpr int64_t kCacheFileHeaderSize = 24;

// A file cut short is read with zeros in place of its missing bytes, but only while the zeros
// stay few: a record whose size asks for more than this many bytes beyond the end of the file
// is taken as corrupt and dropped, so a damaged size never makes the loader allocate memory
// that the file cannot back.
inline constexpr int64_t kCacheFileMaxMissingBytes = 64 * 1024;

// Writes the settings and every entry (expired ones included) under the cache's lock, through
// a temporary file that replaces `file` only when complete. False, with any previous `file`
// left as it was, when the file cannot be created or written, or when a name holds a line
// break or zero byte that the format cannot carry.
bool SaveCacheFile(Cache& cache, const std::filesystem::path& file);

// Replaces the cache's settings and entries with the file's, under the cache's lock; the
// entries go through the cache's adding rules. False, cache unchanged, when the file cannot
// be opened or does not start with this build's magic.
bool LoadCacheFile(Cache& cache, const std::filesystem::path& file);

}  // namespace orvex
