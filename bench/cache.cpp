// Finding one of 10,000 cache entries by name, before and after Orvex_Cache_Optimize, and the
// cost of Optimize itself.
//
// Entries "entry-00000" to "entry-09999" are added in that order, so a search meets them in
// that order. Each iteration asks for one of two neighbouring names in turn, so the
// selected-entry shortcut never answers and every lookup walks the list. For the "after
// Optimize" runs the names asked for were used later than all the others, as an application's
// working set would be, and Optimize has brought them to the front.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "Orvex.h"
#include "core/clock.hpp"
#include "core/text.hpp"

namespace orvex {
namespace {

constexpr int kEntries = 10000;

Text EntryName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "entry-%05d", i);
    return FromAscii(name);
}

// The pairs of names asked for: first, middle, last, missing.
std::pair<Text, Text> Targets(int position) {
    switch (position) {
        case 0:
            return {EntryName(0), EntryName(1)};
        case 1:
            return {EntryName(kEntries / 2), EntryName(kEntries / 2 + 1)};
        case 2:
            return {EntryName(kEntries - 2), EntryName(kEntries - 1)};
        default:
            return {FromAscii("missing-a"), FromAscii("missing-b")};
    }
}

// With `oneSecondApart` each entry is added (and so last used) a second after the previous.
OrvexCache* FilledCache(ManualClock& clock, bool oneSecondApart = false) {
    OrvexCache* cache = Orvex_Cache_New(0, 0, 0);
    const std::vector<uint8_t> data(64, 0x5A);
    for (int i = 0; i < kEntries; ++i) {
        clock.calendar = oneSecondApart ? 1000 + i : 1000;
        Orvex_Cache_AddEntry(cache, EntryName(i).c_str(), data.data(), 64, 0, i);
    }
    return cache;
}

void BM_FindByName(benchmark::State& state) {
    static const char* const kPositions[] = {"first", "middle", "last", "missing"};
    const int position = static_cast<int>(state.range(0));
    const bool optimized = state.range(1) != 0;
    ManualClock clock;
    SetClockSourceForTesting(&clock);
    OrvexCache* cache = FilledCache(clock);
    const auto [a, b] = Targets(position);
    if (optimized) {
        clock.calendar = 2000;
        for (int pos = 0; pos < 3; ++pos) {
            const auto [x, y] = Targets(pos);
            Orvex_Cache_isCached(cache, x.c_str());
            Orvex_Cache_isCached(cache, y.c_str());
        }
        Orvex_Cache_Optimize(cache);
    }
    clock.calendar = 3000;
    int32_t found = 0;
    for (auto _ : state) {
        found += Orvex_Cache_isCached(cache, a.c_str());
        found += Orvex_Cache_isCached(cache, b.c_str());
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations() * 2);
    state.SetLabel(std::string(kPositions[position]) +
                   (optimized ? ", after Optimize" : ", before Optimize"));
    Orvex_Cache_Free(cache);
    SetClockSourceForTesting(nullptr);
}
BENCHMARK(BM_FindByName)->ArgsProduct({{0, 1, 2, 3}, {0, 1}});

// Optimize over 10,000 entries whose last use grows along the list, so that it has to reverse
// the whole list.
void BM_Optimize(benchmark::State& state) {
    ManualClock clock;
    SetClockSourceForTesting(&clock);
    for (auto _ : state) {
        state.PauseTiming();
        OrvexCache* cache = FilledCache(clock, true);
        state.ResumeTiming();
        Orvex_Cache_Optimize(cache);
        state.PauseTiming();
        Orvex_Cache_Free(cache);
        state.ResumeTiming();
    }
    SetClockSourceForTesting(nullptr);
}
BENCHMARK(BM_Optimize)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvex
BENCHMARK_MAIN();
