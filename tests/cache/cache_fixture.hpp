// Shared set-up of the cache tests: a manual clock (nothing sleeps), a temporary folder per
// test, and small helpers that drive the cache through its C interface.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Orvex.h"
#include "core/clock.hpp"
#include "core/text.hpp"

namespace orvex::test {

// A text of this build from UTF-8 (Latin-1 in the 8-bit build).
inline Text T(std::string_view utf8) {
    return FromUtf8(utf8);
}

class CacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetClockSourceForTesting(&clock_);
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvex-cache-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }

    void TearDown() override {
        for (OrvexCache* cache : caches_) Orvex_Cache_Free(cache);
        SetClockSourceForTesting(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // A cache that the fixture frees after the test.
    OrvexCache* NewCache(int32_t maxSize = 0, int32_t ageTolerance = 0, int32_t hitTolerance = 0) {
        OrvexCache* cache = Orvex_Cache_New(maxSize, ageTolerance, hitTolerance);
        EXPECT_NE(cache, nullptr);
        caches_.push_back(cache);
        return cache;
    }

    void SetTime(int32_t calendar) { clock_.calendar = calendar; }

    // A path inside the test's folder, as a text of this build.
    Text PathText(std::string_view name) const { return T((dir_ / name).string()); }

    ManualClock clock_;
    std::filesystem::path dir_;
    std::vector<OrvexCache*> caches_;
};

// Adds an entry of `size` bytes, each `fill`; returns what AddEntry returned.
inline int32_t Add(OrvexCache* cache, std::string_view name, int32_t size, int32_t lifetime = 0,
                   int32_t xtraData = 0, uint8_t fill = 0xAB) {
    const std::vector<uint8_t> data(size > 0 ? static_cast<size_t>(size) : 1, fill);
    return Orvex_Cache_AddEntry(cache, T(name).c_str(), data.data(), size, lifetime, xtraData);
}

inline int32_t Lookup(OrvexCache* cache, std::string_view name) {
    return Orvex_Cache_isCached(cache, T(name).c_str());
}

// The selected entry's name as UTF-8.
inline std::string SelectedName(OrvexCache* cache) {
    return ToUtf8(ViewOf(Orvex_Cache_GetName(cache)));
}

inline std::vector<uint8_t> SelectedBytes(OrvexCache* cache) {
    const auto* data = static_cast<const uint8_t*>(Orvex_Cache_GetMem(cache));
    return data == nullptr ? std::vector<uint8_t>()
                           : std::vector<uint8_t>(data, data + Orvex_Cache_GetMemSize(cache));
}

// The names met by a whole walk, in order.
inline std::vector<std::string> Walk(OrvexCache* cache) {
    std::vector<std::string> names;
    Orvex_Cache_Examine(cache);
    while (Orvex_Cache_NextEntry(cache) == 1) names.push_back(SelectedName(cache));
    return names;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace orvex::test
