// The memory cache through its C interface: adding, lookups, expiry, eviction, walks,
// ordering and the shared cursor.
#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cache_fixture.hpp"

namespace orvex::test {
namespace {

using Names = std::vector<std::string>;

TEST_F(CacheTest, NoLimitTakesAnyPositiveSizeAndRefusesEmptyOrMissingData) {
    OrvexCache* cache = NewCache(0, 0, 0);
    EXPECT_EQ(Add(cache, "a", 1), 1);
    EXPECT_EQ(Add(cache, "b", 1000), 1);
    EXPECT_EQ(Add(cache, "c", 100000), 1);
    EXPECT_EQ(Add(cache, "zero", 0), 0);
    EXPECT_EQ(Add(cache, "negative", -5), 0);
    EXPECT_EQ(Orvex_Cache_AddEntry(cache, T("null").c_str(), nullptr, 4, 0, 0), 0);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 101001);
    EXPECT_EQ(Walk(cache), (Names{"a", "b", "c"}));
}

TEST_F(CacheTest, MaxSizeRefusesWhatCanNeverFitAndEvictsToMakeRoom) {
    OrvexCache* cache = NewCache(100, 0, 0);
    EXPECT_EQ(Add(cache, "huge", 101), 0);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 0);
    EXPECT_EQ(Add(cache, "full", 100), 1);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 100);
    EXPECT_EQ(Add(cache, "small", 10), 1);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 10);
    EXPECT_EQ(Walk(cache), (Names{"small"}));
}

TEST_F(CacheTest, NamesCompareWithoutCaseAndAccessorsReadTheSelectedEntry) {
    OrvexCache* cache = NewCache();
    EXPECT_EQ(SelectedName(cache), "");
    EXPECT_EQ(Orvex_Cache_GetMem(cache), nullptr);
    EXPECT_EQ(Orvex_Cache_GetMemSize(cache), 0);
    EXPECT_EQ(Orvex_Cache_GetAge(cache), 0);
    EXPECT_EQ(Orvex_Cache_GetXtraData(cache), 0);

    SetTime(1000);
    uint8_t data[3] = {1, 2, 3};
    ASSERT_EQ(Orvex_Cache_AddEntry(cache, T("GetLogo").c_str(), data, 3, 0, 42), 1);
    data[0] = 9;                                  // the cache holds its own copy
    ASSERT_EQ(Add(cache, "\xC3\x84pfel", 5), 1);  // "Äpfel"

    SetTime(1007);
    EXPECT_EQ(Lookup(cache, "GETLOGO"), 1);
    EXPECT_EQ(SelectedName(cache), "getlogo");
    EXPECT_EQ(SelectedBytes(cache), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(Orvex_Cache_GetXtraData(cache), 42);
    EXPECT_EQ(Orvex_Cache_GetAge(cache), 7);

    EXPECT_EQ(Lookup(cache, "missing"), 0);
    EXPECT_EQ(SelectedName(cache), "getlogo");  // a failed search keeps the selection

    EXPECT_EQ(Lookup(cache, "\xC3\xA4PFEL"), 1);  // "äPFEL"
    EXPECT_EQ(SelectedName(cache), "\xC3\xA4pfel");
}

TEST_F(CacheTest, ExpiredEntryGoesAtTheNextSearchButTheSelectedOneAnswersAtOnce) {
    OrvexCache* cache = NewCache();
    SetTime(100);
    Add(cache, "short", 4, 2);
    SetTime(102);
    EXPECT_EQ(Lookup(cache, "short"), 0);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 0);

    SetTime(200);
    Add(cache, "kept", 4, 2);
    Add(cache, "other", 6);
    SetTime(201);
    EXPECT_EQ(Lookup(cache, "kept"), 1);
    SetTime(202);
    EXPECT_EQ(Lookup(cache, "kept"), 1);  // the selected entry: no expiry test
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 10);
    EXPECT_EQ(Lookup(cache, "other"), 1);  // a search removes it on the way
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 6);
    EXPECT_EQ(Lookup(cache, "kept"), 0);
}

// Three 10-byte entries A, B, C added at 10, 20, 30 into a cache of 30 bytes; lookups give
// them access times and hits; a fourth entry then needs exactly one victim.
struct Use {
    int32_t access;
    int32_t hits;
};
struct EvictionCase {
    const char* title;
    int32_t ageTolerance;
    int32_t hitTolerance;
    Use a, b, c;
    const char* victim;
};

class Eviction : public CacheTest, public ::testing::WithParamInterface<EvictionCase> {};

TEST_P(Eviction, PicksTheVictimInListOrder) {
    const EvictionCase& param = GetParam();
    OrvexCache* cache = NewCache(30, param.ageTolerance, param.hitTolerance);
    const char* names[3] = {"a", "b", "c"};
    const Use uses[3] = {param.a, param.b, param.c};
    for (int i = 0; i < 3; ++i) {
        SetTime(10 * (i + 1));
        ASSERT_EQ(Add(cache, names[i], 10), 1);
    }
    for (int i = 0; i < 3; ++i) {
        SetTime(uses[i].access);
        for (int hit = 0; hit < uses[i].hits; ++hit) ASSERT_EQ(Lookup(cache, names[i]), 1);
    }
    SetTime(500);
    ASSERT_EQ(Add(cache, "new", 10), 1);
    Names survivors = Walk(cache);
    EXPECT_EQ(survivors.size(), 3u);
    EXPECT_EQ(std::count(survivors.begin(), survivors.end(), param.victim), 0) << param.title;
}

INSTANTIATE_TEST_SUITE_P(
    Cache, Eviction,
    ::testing::Values(
        EvictionCase{"same access time, fewer hits", 0, 0, {100, 6}, {100, 3}, {150, 1}, "b"},
        EvictionCase{"later access within the age tolerance, fewer hits",
                     60,
                     0,
                     {100, 6},
                     {100, 3},
                     {150, 1},
                     "c"},
        EvictionCase{
            "later access beyond the age tolerance", 49, 0, {100, 6}, {100, 3}, {150, 1}, "b"},
        EvictionCase{"used longest ago", 0, 0, {120, 1}, {90, 9}, {100, 1}, "b"},
        EvictionCase{
            "fewer hits wins within the hit tolerance", 0, 5, {100, 4}, {100, 2}, {100, 3}, "b"},
        EvictionCase{"never looked up: earliest access", 0, 0, {0, 0}, {0, 0}, {0, 0}, "a"}));

TEST_F(CacheTest, EvictionTakesTheEarliestAddedWhenItSitsLaterInTheList) {
    OrvexCache* cache = NewCache(40, 0, 0);
    SetTime(5);
    Add(cache, "z", 10);
    SetTime(10);
    Add(cache, "older", 10);
    SetTime(20);
    Add(cache, "middle", 10);
    Lookup(cache, "z");  // cursor on z: the next entry goes right after it
    SetTime(30);
    Add(cache, "newer", 10);
    Orvex_Cache_DeleteEntry(cache, T("z").c_str());
    ASSERT_EQ(Walk(cache), (Names{"newer", "older", "middle"}));

    Orvex_Cache_Config(cache, 30, 0, 0);
    SetTime(100);
    for (const char* name : {"newer", "older", "middle"}) Lookup(cache, name);
    Add(cache, "fourth", 10);  // equal access and hits: the earliest added goes
    EXPECT_EQ(Walk(cache), (Names{"newer", "fourth", "middle"}));
}

TEST_F(CacheTest, EntryAtCalendarTimeZeroIsStillTheOneUsedLongestAgo) {
    OrvexCache* cache = NewCache(20, 0, 0);
    SetTime(0);
    Add(cache, "at-zero", 10);
    SetTime(5);
    Add(cache, "at-five", 10);
    Add(cache, "third", 10);
    EXPECT_EQ(Walk(cache), (Names{"at-five", "third"}));
}

TEST_F(CacheTest, ExpiredEntriesMetByMakeRoomAreRemovedFirst) {
    OrvexCache* cache = NewCache(30, 0, 0);
    SetTime(100);
    Add(cache, "old", 10);
    Add(cache, "expiring", 10, 5);
    Add(cache, "young", 10);
    SetTime(105);
    Add(cache, "new", 10);  // removing the expired entry makes room: nothing else goes
    EXPECT_EQ(Walk(cache), (Names{"old", "new", "young"}));
}

TEST_F(CacheTest, DuplicateNamesAreFoundAndDeletedInListOrder) {
    OrvexCache* cache = NewCache();
    Add(cache, "twin", 4, 0, 1);
    Add(cache, "twin", 4, 0, 2);
    ASSERT_EQ(Lookup(cache, "TWIN"), 1);
    EXPECT_EQ(Orvex_Cache_GetXtraData(cache), 1);
    Orvex_Cache_DeleteEntry(cache, T("twin").c_str());
    EXPECT_EQ(Orvex_Cache_GetXtraData(cache), 0);  // the selection went with the entry
    ASSERT_EQ(Lookup(cache, "twin"), 1);
    EXPECT_EQ(Orvex_Cache_GetXtraData(cache), 2);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 4);
}

TEST_F(CacheTest, DeleteEntryRemovesTheEntryFoundEvenWhenTheCursorIsElsewhere) {
    OrvexCache* cache = NewCache();
    SetTime(100);
    Add(cache, "a", 1);
    Add(cache, "b", 2);
    Add(cache, "c", 4);
    Add(cache, "expiring", 8, 1);
    ASSERT_EQ(Lookup(cache, "a"), 1);
    ASSERT_EQ(Lookup(cache, "nothing"), 0);  // cursor now on the last entry, "a" selected
    Orvex_Cache_DeleteEntry(cache, T("A").c_str());
    EXPECT_EQ(Walk(cache), (Names{"b", "c", "expiring"}));

    SetTime(101);
    Orvex_Cache_DeleteEntry(cache, T("nothing").c_str());  // removes only expired entries
    EXPECT_EQ(Walk(cache), (Names{"b", "c"}));
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 6);
}

TEST_F(CacheTest, NewEntriesGoRightAfterTheCursor) {
    OrvexCache* cache = NewCache();
    Add(cache, "a", 1);
    Add(cache, "b", 1);
    Add(cache, "c", 1);
    Lookup(cache, "a");
    Add(cache, "d", 1);
    EXPECT_EQ(Walk(cache), (Names{"a", "d", "b", "c"}));
    Orvex_Cache_Examine(cache);  // no current node: second place
    Add(cache, "e", 1);
    EXPECT_EQ(Walk(cache), (Names{"a", "e", "d", "b", "c"}));
    Orvex_Cache_Flush(cache);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 0);
    EXPECT_EQ(SelectedName(cache), "");
    Add(cache, "f", 1);
    EXPECT_EQ(Walk(cache), (Names{"f"}));
}

TEST_F(CacheTest, WalkVisitsEveryLiveEntryOnceAndRemovesExpiredOnes) {
    OrvexCache* cache = NewCache();
    Orvex_Cache_Examine(cache);
    EXPECT_EQ(Orvex_Cache_NextEntry(cache), 0);

    SetTime(100);
    Add(cache, "e1", 1, 10);
    Add(cache, "e2", 2, 3);
    Add(cache, "e3", 4);
    Add(cache, "e4", 8, 3);
    Add(cache, "e5", 16, 3);
    SetTime(103);
    EXPECT_EQ(Walk(cache), (Names{"e1", "e3"}));
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 5);
    EXPECT_EQ(SelectedName(cache), "");  // the last entries met had expired
}

TEST_F(CacheTest, WalkOverALongRunOfExpiredEntries) {
    OrvexCache* cache = NewCache();
    constexpr int kExpired = 200000;
    const uint8_t byte = 1;
    const Text name = T("old");
    for (int i = 0; i < kExpired; ++i) {
        ASSERT_EQ(Orvex_Cache_AddEntry(cache, name.c_str(), &byte, 1, 1, 0), 1);
    }
    Add(cache, "live", 3);
    SetTime(1);
    EXPECT_EQ(Walk(cache), (Names{"live"}));
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 3);
}

TEST_F(CacheTest, CleanUpRemovesOnlyExpiredEntries) {
    OrvexCache* cache = NewCache();
    SetTime(10);
    Add(cache, "a", 1, 5);
    Add(cache, "b", 2);
    Add(cache, "c", 4, 6);
    SetTime(15);
    Orvex_Cache_CleanUp(cache);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 6);
    EXPECT_EQ(Walk(cache), (Names{"b", "c"}));
}

// The order Optimize must produce, computed the long way: passes from the last entry to the
// first that swap an entry with its neighbour when it was used less recently than the entry
// read just before it, until a pass swaps nothing.
struct Usage {
    std::string name;
    int32_t access;
    int32_t hits;
};

void ReferencePasses(std::vector<Usage>& entries) {
    for (bool swapped = true; swapped && !entries.empty();) {
        swapped = false;
        size_t i = entries.size() - 1;
        int32_t a = entries[i].access;
        int32_t b = entries[i].hits;
        while (i-- > 0) {
            const Usage q = entries[i];
            if (q.access < a || (q.access == a && q.hits < b)) {
                std::swap(entries[i], entries[i + 1]);
                swapped = true;
            }
            a = q.access;
            b = q.hits;
        }
    }
}

TEST_F(CacheTest, OptimizeOrdersByLatestAccessThenHitsKeepingTiesInPlace) {
    for (uint32_t seed = 1; seed <= 25; ++seed) {
        std::mt19937 random(seed);
        OrvexCache* cache = NewCache();
        std::vector<Usage> model;
        SetTime(0);
        for (int i = 0; i < 40; ++i) {
            model.push_back({"e" + std::to_string(i), 0, 0});
            ASSERT_EQ(Add(cache, model.back().name, 1), 1);
        }
        for (Usage& usage : model) {
            if (random() % 4 == 0) continue;  // never looked up: access 0, hits 0
            usage.access = static_cast<int32_t>(random() % 4 + 1);
            usage.hits = static_cast<int32_t>(random() % 3 + 1);
            SetTime(usage.access);
            for (int hit = 0; hit < usage.hits; ++hit) ASSERT_EQ(Lookup(cache, usage.name), 1);
        }
        Orvex_Cache_Optimize(cache);
        ReferencePasses(model);
        Names expected;
        for (const Usage& usage : model) expected.push_back(usage.name);
        ASSERT_EQ(Walk(cache), expected) << "seed " << seed;
    }
}

TEST_F(CacheTest, OptimizeDropsExpiredEntriesAndLeavesTheCursorOnTheFirst) {
    OrvexCache* cache = NewCache();
    SetTime(10);
    Add(cache, "a", 1);
    Add(cache, "b", 1, 5);
    Add(cache, "c", 1);
    SetTime(20);
    Lookup(cache, "c");
    Orvex_Cache_Optimize(cache);
    EXPECT_EQ(SelectedName(cache), "c");  // the selection follows its entry
    Add(cache, "d", 1);
    EXPECT_EQ(Walk(cache), (Names{"c", "d", "a"}));
    Orvex_Cache_Flush(cache);
    Orvex_Cache_Optimize(cache);  // empty: nothing to do
    EXPECT_EQ(Walk(cache), Names{});
}

TEST_F(CacheTest, SmallerMaxSizeTakesEffectAtTheNextAdd) {
    OrvexCache* cache = NewCache(100, 0, 0);
    for (int i = 0; i < 4; ++i) {
        SetTime(i);
        Add(cache, "e" + std::to_string(i), 20);
    }
    Orvex_Cache_Config(cache, 30, 0, 0);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 80);
    SetTime(10);
    EXPECT_EQ(Add(cache, "new", 10), 1);
    EXPECT_EQ(Orvex_Cache_GetSize(cache), 30);
    EXPECT_EQ(Walk(cache), (Names{"e3", "new"}));
    EXPECT_EQ(Add(cache, "too-big", 31), 0);
}

// Adds from several threads at once never push the cache past its limit, and lookups,
// deletes and walks on other threads stay consistent (run under ThreadSanitizer too).
TEST_F(CacheTest, ConcurrentUseKeepsTheSizeLimit) {
    OrvexCache* cache = NewCache(100, 0, 0);
    std::atomic<bool> done{false};
    std::atomic<int32_t> largest{0};
    std::thread watcher([&] {
        while (!done.load()) {
            largest.store(std::max(largest.load(), Orvex_Cache_GetSize(cache)));
            Walk(cache);
        }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([cache, t] {
            for (int i = 0; i < 10000; ++i) {
                const std::string name = "t" + std::to_string(t) + "-" + std::to_string(i % 17);
                Add(cache, name, 10 + i % 7);
                Lookup(cache, name);
                if (i % 5 == 0) Orvex_Cache_DeleteEntry(cache, T(name).c_str());
                if (i % 50 == 0) Orvex_Cache_Optimize(cache);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    done.store(true);
    watcher.join();
    EXPECT_LE(largest.load(), 100);
    EXPECT_LE(Orvex_Cache_GetSize(cache), 100);
}

}  // namespace
}  // namespace orvex::test
