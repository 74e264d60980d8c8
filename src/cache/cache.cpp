#include "cache/cache.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "core/clock.hpp"

namespace orvex {
namespace {

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void CountHit(CacheEntry& entry) {
    if (entry.hits < INT32_MAX) ++entry.hits;
}

// The order Optimize establishes: latest access first, then more hits first.
bool UsedMoreRecently(const std::unique_ptr<CacheEntry>& a, const std::unique_ptr<CacheEntry>& b) {
    if (a->accessTime != b->accessTime) return a->accessTime > b->accessTime;
    return a->hits > b->hits;
}

}  // namespace

void Cache::Configure(CacheSettings settings) {
    std::scoped_lock hold(lock_);
    settings_ = settings;
}

CacheSettings Cache::Settings() const {
    std::scoped_lock hold(lock_);
    return settings_;
}

bool Cache::AddEntry(TextView name, const void* data, int32_t size, int32_t lifetime,
                     int32_t xtraData) {
    if (size <= 0 || data == nullptr) return false;
    std::scoped_lock hold(lock_);
    // Refused before the copy is made: it could never fit.
    if (settings_.maxSize != 0 && size > settings_.maxSize) return false;
    BlockPtr<> copy = MakeBlock(size);
    if (copy == nullptr) return false;
    std::memcpy(copy.get(), data, static_cast<size_t>(size));
    return AddBlock(name, std::move(copy), size, lifetime, xtraData);
}

bool Cache::AddBlock(TextView name, BlockPtr<> data, int32_t size, int32_t lifetime,
                     int32_t xtraData) {
    if (size <= 0 || data == nullptr || BlockSize(data.get()) < size) return false;
    try {
        auto entry = std::make_unique<CacheEntry>();
        entry->name = ToLower(name);
        entry->data = std::move(data);
        entry->size = size;
        entry->lifetime = lifetime;
        entry->xtraData = xtraData;
        std::scoped_lock hold(lock_);
        return Insert(std::move(entry));
    } catch (const std::bad_alloc&) {
        return false;  // whatever was allocated is released by its owner on the way out
    }
}

// Lock held. MakeRoom and the insertion form one critical section, so entries added by
// several threads at once never exceed maxSize together.
bool Cache::Insert(std::unique_ptr<CacheEntry> entry) {
    if (settings_.maxSize != 0 && entry->size > settings_.maxSize) return false;
    MakeRoom(entry->size);
    entry->addedTime = CalendarTime();
    entry->accessTime = entry->addedTime;
    entry->hits = 0;
    entries_.Insert();
    usedSize_ += entry->size;
    entries_.SetItem(std::move(entry));
    return true;
}

bool Cache::HasRoomFor(int64_t need) const {
    return static_cast<int64_t>(settings_.maxSize) - usedSize_ >= need;
}

// Lock held. Removes entries until `need` bytes fit under maxSize. Each round walks the list
// from the first entry, removing expired entries on the way (and stopping as soon as that
// made room), and picks one victim: the entry used longest ago; among entries whose access
// time lies within ageTolerance of the best so far, the one with fewer hits; among those
// within hitTolerance, the one added earliest. Comparisons are made against the best values
// as they stand at that point of the walk, so list order is part of the rule.
void Cache::MakeRoom(int64_t need) {
    if (settings_.maxSize == 0 || need > settings_.maxSize) return;
    while (!HasRoomFor(need)) {
        const int32_t now = CalendarTime();
        std::optional<decltype(entries_)::Node> victim;
        int32_t bestAccess = 0;
        int32_t bestHits = 0;
        int32_t bestAdded = 0;
        entries_.Reset();
        while (entries_.Next()) {
            const CacheEntry& entry = *Current();
            if (entry.IsExpired(now)) {
                DeleteCurrent();
                if (HasRoomFor(need)) return;
            } else if (!victim || entry.accessTime < bestAccess) {
                victim = entries_.GetNode();
                bestAccess = entry.accessTime;
                bestAdded = entry.addedTime;
                bestHits = entry.hits;
            } else if (static_cast<int64_t>(entry.accessTime) - bestAccess <=
                       settings_.ageTolerance) {
                if (entry.hits < bestHits) {
                    victim = entries_.GetNode();
                    bestHits = entry.hits;
                } else if (static_cast<int64_t>(entry.hits) - bestHits <= settings_.hitTolerance &&
                           entry.addedTime < bestAdded) {
                    victim = entries_.GetNode();
                    bestAdded = entry.addedTime;
                }
            }
        }
        if (!victim) return;  // nothing left to remove
        entries_.SetNode(*victim);
        DeleteCurrent();
    }
}

CacheEntry* Cache::Current() const {
    return entries_.HasCurrent() ? entries_.GetNode()->get() : nullptr;
}

// Lock held; a node must be current. The cursor moves to the previous node.
void Cache::DeleteCurrent() {
    std::unique_ptr<CacheEntry> entry = std::move(*entries_.GetNode());
    entries_.Remove();
    usedSize_ -= entry->size;
    if (selected_ == entry.get()) selected_ = nullptr;
}

// Lock held. Removes `entry`, wherever the cursor is: after a lookup that took the
// selected-entry shortcut the cursor is not on the entry found.
void Cache::DeleteEntryAt(const CacheEntry* entry) {
    if (Current() != entry) {
        for (auto node = entries_.begin(); node != entries_.end(); ++node) {
            if (node->get() == entry) {
                entries_.SetNode(node);
                break;
            }
        }
    }
    DeleteCurrent();
}

// Lock held. The selected entry answers a repeated question at once (no expiry test, no
// access time, cursor unchanged); otherwise the list is searched from the first entry and
// expired entries met on the way are removed. The cursor stays on the entry found, or on the
// last entry.
CacheEntry* Cache::Find(const Text& lowered) {
    if (selected_ != nullptr && selected_->name == lowered) {
        CountHit(*selected_);
        return selected_;
    }
    const int32_t now = CalendarTime();
    entries_.Reset();
    while (entries_.Next()) {
        CacheEntry* entry = Current();
        if (entry->IsExpired(now)) {
            DeleteCurrent();
        } else if (entry->name == lowered) {
            selected_ = entry;
            CountHit(*entry);
            entry->accessTime = now;
            return entry;
        }
    }
    return nullptr;
}

bool Cache::IsCached(TextView name) {
    const Text lowered = ToLower(name);
    std::scoped_lock hold(lock_);
    return Find(lowered) != nullptr;
}

void Cache::DeleteEntry(TextView name) {
    const Text lowered = ToLower(name);
    std::scoped_lock hold(lock_);
    if (const CacheEntry* found = Find(lowered)) DeleteEntryAt(found);
}

void Cache::Examine() {
    std::scoped_lock hold(lock_);
    entries_.Reset();
}

// A loop rather than a call per expired entry, so a long run of expired entries cannot
// exhaust the stack.
bool Cache::NextEntry() {
    std::scoped_lock hold(lock_);
    const int32_t now = CalendarTime();
    while (entries_.Next()) {
        selected_ = Current();
        if (!selected_->IsExpired(now)) return true;
        DeleteCurrent();  // also clears the selection
    }
    return false;
}

Text Cache::SelectedName() const {
    std::scoped_lock hold(lock_);
    return selected_ != nullptr ? selected_->name : Text();
}

void* Cache::SelectedData() const {
    std::scoped_lock hold(lock_);
    return selected_ != nullptr ? selected_->data.get() : nullptr;
}

int32_t Cache::SelectedSize() const {
    std::scoped_lock hold(lock_);
    return selected_ != nullptr ? selected_->size : 0;
}

int32_t Cache::SelectedAge() const {
    std::scoped_lock hold(lock_);
    if (selected_ == nullptr) return 0;
    return ClampToInt32(static_cast<int64_t>(CalendarTime()) - selected_->addedTime);
}

int32_t Cache::SelectedXtraData() const {
    std::scoped_lock hold(lock_);
    return selected_ != nullptr ? selected_->xtraData : 0;
}

int32_t Cache::UsedSize() const {
    std::scoped_lock hold(lock_);
    return ClampToInt32(usedSize_);
}

void Cache::CleanUpLocked(int32_t now) {
    entries_.Reset();
    while (entries_.Next()) {
        if (Current()->IsExpired(now)) DeleteCurrent();
    }
}

void Cache::CleanUp() {
    std::scoped_lock hold(lock_);
    CleanUpLocked(CalendarTime());
}

// The order is that of repeated passes from the last entry to the first that exchange the
// items of two neighbours whenever the earlier one was used less recently: a stable order by
// access time (latest first), then hits (most first). A stable sort of the items yields the
// same order in O(n log n). The nodes stay where they are, the items move, and the cursor
// ends on the first entry, where the last pass ends.
void Cache::Optimize() {
    std::scoped_lock hold(lock_);
    CleanUpLocked(CalendarTime());
    std::vector<std::unique_ptr<CacheEntry>> items;
    items.reserve(static_cast<size_t>(entries_.Count()));  // the only step that may throw
    for (auto& item : entries_) items.push_back(std::move(item));
    std::stable_sort(items.begin(), items.end(), UsedMoreRecently);
    auto sorted = items.begin();
    for (auto& item : entries_) item = std::move(*sorted++);
    entries_.Reset();
    entries_.Next();
}

void Cache::Flush() {
    std::scoped_lock hold(lock_);
    entries_.Reset();
    while (entries_.Next()) DeleteCurrent();
}

}  // namespace orvex
