// C edge of the memory cache: converts arguments, calls Cache, catches every exception.
#include <filesystem>
#include <memory>
#include <string>

#include "Orvex.h"
#include "cache/cache.hpp"
#include "cache/cache_file.hpp"
#include "core/result_buffer.hpp"
#include "core/text.hpp"

// The handle the application holds is the Cache itself.
struct OrvexCache {
    explicit OrvexCache(orvex::CacheSettings settings) : cache(settings) {}
    orvex::Cache cache;
};

using namespace orvex;

namespace {

CacheSettings SettingsOf(int32_t maxSize, int32_t ageTolerance, int32_t hitTolerance) {
    return CacheSettings{maxSize, ageTolerance, hitTolerance};
}

// A file name of this build as a path: bytes as they are in the 8-bit build, UTF-16
// converted to UTF-8 in the Unicode build.
std::filesystem::path PathOf(const OrvexChar* file) {
#if defined(ORVEX_UNICODE)
    const std::string utf8 = Utf16ToUtf8(ViewOf(file));
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return std::filesystem::path(std::string(ViewOf(file)));
#endif
}

const OrvexChar* EmptyText() {
    static const Char empty[1] = {0};
    return empty;
}

}  // namespace

extern "C" {

ORVEX_API OrvexCache* ORVEX_CALL Orvex_Cache_New(int32_t maxSize, int32_t ageTolerance,
                                                 int32_t hitTolerance) {
    try {
        return std::make_unique<OrvexCache>(SettingsOf(maxSize, ageTolerance, hitTolerance))
            .release();
    } catch (...) {
        return nullptr;
    }
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Config(OrvexCache* cache, int32_t maxSize,
                                                int32_t ageTolerance, int32_t hitTolerance) {
    if (cache != nullptr) cache->cache.Configure(SettingsOf(maxSize, ageTolerance, hitTolerance));
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_AddEntry(OrvexCache* cache, const OrvexChar* name,
                                                  const void* data, int32_t size, int32_t lifetime,
                                                  int32_t xtraData) {
    if (cache == nullptr) return 0;
    try {
        return cache->cache.AddEntry(ViewOf(name), data, size, lifetime, xtraData) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_isCached(OrvexCache* cache, const OrvexChar* name) {
    if (cache == nullptr) return 0;
    try {
        return cache->cache.IsCached(ViewOf(name)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_DeleteEntry(OrvexCache* cache, const OrvexChar* name) {
    if (cache == nullptr) return 0;
    try {
        cache->cache.DeleteEntry(ViewOf(name));
    } catch (...) {
    }
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Examine(OrvexCache* cache) {
    if (cache != nullptr) cache->cache.Examine();
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_NextEntry(OrvexCache* cache) {
    return cache != nullptr && cache->cache.NextEntry() ? 1 : 0;
}

ORVEX_API const OrvexChar* ORVEX_CALL Orvex_Cache_GetName(OrvexCache* cache) {
    try {
        return SetResultBuffer(cache != nullptr ? cache->cache.SelectedName() : Text());
    } catch (...) {
        return EmptyText();
    }
}

ORVEX_API void* ORVEX_CALL Orvex_Cache_GetMem(OrvexCache* cache) {
    return cache != nullptr ? cache->cache.SelectedData() : nullptr;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_GetMemSize(OrvexCache* cache) {
    return cache != nullptr ? cache->cache.SelectedSize() : 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_GetAge(OrvexCache* cache) {
    return cache != nullptr ? cache->cache.SelectedAge() : 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_GetXtraData(OrvexCache* cache) {
    return cache != nullptr ? cache->cache.SelectedXtraData() : 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_GetSize(OrvexCache* cache) {
    return cache != nullptr ? cache->cache.UsedSize() : 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_CleanUp(OrvexCache* cache) {
    if (cache != nullptr) cache->cache.CleanUp();
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Optimize(OrvexCache* cache) {
    if (cache == nullptr) return 0;
    try {
        cache->cache.Optimize();
    } catch (...) {  // no memory for the reordering: the cache stays as it was, cleaned up
    }
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Flush(OrvexCache* cache) {
    if (cache != nullptr) cache->cache.Flush();
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_Free(OrvexCache* cache) {
    std::unique_ptr<OrvexCache> owned(cache);  // the destructor flushes the entries
    return 0;
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_SaveToFile(OrvexCache* cache, const OrvexChar* file) {
    if (cache == nullptr || file == nullptr || file[0] == 0) return 0;
    try {
        return SaveCacheFile(cache->cache, PathOf(file)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ORVEX_API int32_t ORVEX_CALL Orvex_Cache_LoadFromFile(OrvexCache* cache, const OrvexChar* file) {
    if (cache == nullptr || file == nullptr || file[0] == 0) return 0;
    try {
        return LoadCacheFile(cache->cache, PathOf(file)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
