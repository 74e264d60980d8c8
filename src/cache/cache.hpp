// Memory cache: named memory blocks with a byte limit, lifetimes, hit counting and eviction.
//
// Design notes
//   - The entries sit in a CursorList whose cursor is shared by every operation: searches,
//     walks and evictions move it, and AddEntry inserts the new entry right after wherever
//     the last operation left it (after the first entry when no node is current). List order
//     therefore depends on the history of calls, and eviction depends on list order.
//   - Expiry is lazy: an expired entry stays until a walk meets it (a search, NextEntry,
//     CleanUp, Optimize, MakeRoom) and removes it on the way.
//   - The selected entry is what the accessors read; a search that finds an entry and
//     NextEntry set it, removing that entry clears it. It follows its entry when Optimize
//     reorders the list.
//   - Every public operation takes the cache's lock for its whole length, so maxSize holds
//     even when several threads add at once, and a selected entry or a block from
//     SelectedData() stays valid until some thread removes that entry.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "cache/cache_entry.hpp"
#include "core/cursor_list.hpp"
#include "core/memory.hpp"
#include "core/sync.hpp"
#include "core/text.hpp"

namespace orvex {

struct CacheSettings {
    int32_t maxSize = 0;       // limit of the used size in bytes; 0 = no limit
    int32_t ageTolerance = 0;  // seconds within which access times count as alike (eviction)
    int32_t hitTolerance = 0;  // hit-count difference within which entries count as alike
};

class Cache {
  public:
    explicit Cache(CacheSettings settings) : settings_(settings) {}
    ~Cache() { Flush(); }
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    // Replaces the settings; a smaller maxSize takes effect at the next add.
    void Configure(CacheSettings settings);
    CacheSettings Settings() const;

    // Adds a copy of `size` bytes from `data` under the lower-cased `name`, after making room.
    // False (cache unchanged) when size <= 0, data is null, size exceeds a non-zero maxSize
    // or memory runs out. Names are not checked for duplicates.
    bool AddEntry(TextView name, const void* data, int32_t size, int32_t lifetime,
                  int32_t xtraData);
    // The same with a block that the cache takes over instead of copying (the file loader
    // reads straight into it). `data` must hold at least `size` bytes.
    bool AddBlock(TextView name, BlockPtr<> data, int32_t size, int32_t lifetime, int32_t xtraData);

    // True when an entry of that name is cached; it becomes the selected entry.
    bool IsCached(TextView name);
    // Looks the name up as IsCached does and removes the entry found.
    void DeleteEntry(TextView name);

    // A walk: Examine resets the cursor, NextEntry selects the next live entry.
    void Examine();
    bool NextEntry();

    // The selected entry's fields; empty, null or 0 when no entry is selected. The block
    // from SelectedData stays the cache's and lives until its entry is removed.
    Text SelectedName() const;
    void* SelectedData() const;
    int32_t SelectedSize() const;
    int32_t SelectedAge() const;
    int32_t SelectedXtraData() const;

    // Sum of the sizes of all entries (clamped to the int32 range).
    int32_t UsedSize() const;

    void CleanUp();   // removes every expired entry
    void Optimize();  // CleanUp, then latest access first, more hits first on equal access
    void Flush();     // removes every entry

    // Holds the cache's lock across several calls (the file format uses it so that a save or
    // a load sees or builds the cache as a whole).
    [[nodiscard]] std::unique_lock<RecursiveMutex> Hold() const {
        return std::unique_lock<RecursiveMutex>(lock_);
    }

    // Calls visit(entry) for every entry in list order, expired ones included, walking with
    // the cursor (left on the last entry); stops early when visit returns false. Returns
    // false when it stopped early.
    template <typename Visit>
    bool ForEachEntry(Visit&& visit) {
        std::scoped_lock hold(lock_);
        entries_.Reset();
        while (entries_.Next()) {
            if (!visit(static_cast<const CacheEntry&>(*Current()))) return false;
        }
        return true;
    }

  private:
    CacheEntry* Current() const;
    void DeleteCurrent();
    void DeleteEntryAt(const CacheEntry* entry);
    CacheEntry* Find(const Text& lowered);
    void MakeRoom(int64_t need);
    bool HasRoomFor(int64_t need) const;
    bool Insert(std::unique_ptr<CacheEntry> entry);
    void CleanUpLocked(int32_t now);

    // Guards every field below, including the cursor of entries_. Recursive because
    // operations nest: a load holds it while it flushes and adds, a walk holds it while it
    // removes the entries it meets.
    mutable RecursiveMutex lock_;
    CursorList<std::unique_ptr<CacheEntry>> entries_;
    CacheSettings settings_;
    int64_t usedSize_ = 0;  // 64-bit: with no limit the sizes may add up beyond 2 GiB
    CacheEntry* selected_ = nullptr;
};

}  // namespace orvex
