// One entry of a memory cache: a lower-cased name, the cache's own copy of the bytes, and
// the times and counts that expiry and eviction look at.
#pragma once

#include <cstdint>

#include "core/memory.hpp"
#include "core/text.hpp"

namespace orvex {

struct CacheEntry {
    Text name;               // lower-cased copy of the name the entry was added under
    BlockPtr<> data;         // library memory block holding the entry's bytes
    int32_t size = 0;        // bytes in data
    int32_t lifetime = 0;    // seconds after addedTime at which the entry expires; 0 = never
    int32_t addedTime = 0;   // calendar time of the add
    int32_t accessTime = 0;  // calendar time of the last search that found the entry
    int32_t hits = 0;        // successful lookups
    int32_t xtraData = 0;    // the application's value

    // Expired when it has a lifetime and at least that many seconds have passed since the
    // add. Computed in 64 bits so that extreme times cannot overflow.
    bool IsExpired(int32_t now) const noexcept {
        return lifetime != 0 &&
               static_cast<int64_t>(now) - addedTime >= static_cast<int64_t>(lifetime);
    }
};

}  // namespace orvex
