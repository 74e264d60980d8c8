// Fuzz target: the cache file loader.
//
// Input: everything after the magic of a cache file (the target writes this build's magic in
// front, so that the bytes reach the settings and entry records). Whatever the file holds, a
// cache loaded from it and saved again must load into an identical cache: same settings, same
// entries in the same order with the same names, values and bytes.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../fuzz_target.hpp"
#include "cache/cache.hpp"
#include "cache/cache_entry.hpp"
#include "cache/cache_file.hpp"

namespace orvex::fuzz {
namespace {

struct SavedEntry {
    Text name;
    std::vector<uint8_t> data;
    int32_t lifetime;
    int32_t xtraData;
    bool operator==(const SavedEntry&) const = default;
};

std::vector<SavedEntry> Entries(Cache& cache) {
    std::vector<SavedEntry> entries;
    cache.ForEachEntry([&entries](const CacheEntry& entry) {
        const auto* bytes = static_cast<const uint8_t*>(entry.data.get());
        entries.push_back(
            {entry.name, {bytes, bytes + entry.size}, entry.lifetime, entry.xtraData});
        return true;
    });
    return entries;
}

std::filesystem::path ScratchFile(const char* role) {
    return std::filesystem::temp_directory_path() /
           ("orvex_fuzz_cache_" + std::to_string(getpid()) + "_" + role);
}

}  // namespace

int CacheFileInput(const uint8_t* data, size_t size) {
    const std::filesystem::path input = ScratchFile("in");
    const std::filesystem::path saved = ScratchFile("saved");
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        const int32_t magic = kCacheFileMagic;
        uint8_t magicBytes[4];
        for (int i = 0; i < 4; ++i) magicBytes[i] = static_cast<uint8_t>(magic >> (8 * i));
        out.write(reinterpret_cast<const char*>(magicBytes), 4);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        FUZZ_CHECK(out.good());
    }

    Cache loaded(CacheSettings{});
    FUZZ_CHECK(LoadCacheFile(loaded, input));
    const CacheSettings settings = loaded.Settings();
    const std::vector<SavedEntry> entries = Entries(loaded);
    if (settings.maxSize > 0) FUZZ_CHECK(loaded.UsedSize() <= settings.maxSize);

    FUZZ_CHECK(SaveCacheFile(loaded, saved));
    Cache reloaded(CacheSettings{1, 2, 3});
    FUZZ_CHECK(LoadCacheFile(reloaded, saved));
    const CacheSettings again = reloaded.Settings();
    FUZZ_CHECK(again.maxSize == settings.maxSize && again.ageTolerance == settings.ageTolerance &&
               again.hitTolerance == settings.hitTolerance);
    FUZZ_CHECK(Entries(reloaded) == entries);

    std::error_code ignored;
    std::filesystem::remove(input, ignored);
    std::filesystem::remove(saved, ignored);
    return 0;
}

}  // namespace orvex::fuzz

ORVEX_FUZZ_ENTRY(CacheFileInput)
