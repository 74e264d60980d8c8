// OrvexApi: the demos' table of the library's exports, one function pointer per export,
// named like the export and typed with the export's own declaration in Orvex.h. The demos do
// not link the library: loadOrvexApi loads it at run time and fills the table by name, in the
// order of binding/export_list.hpp; every later library call goes through the table.
#pragma once

#include <bit>

#include "Orvex.h"
#include "binding/dynamic_library.hpp"
#include "binding/export_list.hpp"

namespace orvex::demo {

#define ORVEX_DEMO_ENTRY(name, inStreamTable) decltype(&::name) name = nullptr;
// Every entry starts null and stays null for an export that the library lacks.
struct OrvexApi {
    ORVEX_DEMO_EXPORTS(ORVEX_DEMO_ENTRY)
};
#undef ORVEX_DEMO_ENTRY

#define ORVEX_DEMO_COUNT_ALL(name, inStreamTable) +1
#define ORVEX_DEMO_COUNT_STREAM(name, inStreamTable) +(inStreamTable)
inline constexpr int kFullTableEntries = 0 ORVEX_DEMO_EXPORTS(ORVEX_DEMO_COUNT_ALL);
inline constexpr int kStreamTableEntries = 0 ORVEX_DEMO_EXPORTS(ORVEX_DEMO_COUNT_STREAM);
#undef ORVEX_DEMO_COUNT_ALL
#undef ORVEX_DEMO_COUNT_STREAM
static_assert(kFullTableEntries == 136 && kStreamTableEntries == 134);

enum class BindingTable {
    Full,        // the 136 entries of the master and slave demos
    StreamTest,  // the stream test's 134 entries
};

// Loads the library file and fills `api` by name, in table order. Returns the module handle,
// or null when the file cannot be loaded (every entry then stays null). Shows no message.
ModuleHandle loadOrvexApi(const char* fileName, OrvexApi& api,
                          BindingTable table = BindingTable::Full);

// The number of non-null entries of `api`.
int CountBoundEntries(const OrvexApi& api);

// The process's own table: filled once by the demo's start-up, before any window or thread
// exists, and read-only afterwards, so library threads may read it without a lock.
OrvexApi& TheApi();

}  // namespace orvex::demo
