// A demo never calls through a null entry of its table: at start-up it checks every entry it
// will use and, when one is missing, says which and ends.
#pragma once

#include <initializer_list>
#include <string_view>

namespace orvex::demo {

struct RequiredExport {
    std::string_view name;
    bool bound;
};

// One RequiredExport for an entry of an OrvexApi table.
#define ORVEX_DEMO_REQUIRE(api, name) \
    ::orvex::demo::RequiredExport {   \
#name, (api).name != nullptr  \
    }

// Exit codes of the demos for a library that cannot be used.
inline constexpr int kExitLibraryNotLoaded = 2;
inline constexpr int kExitExportMissing = 3;

// True when every export is bound; otherwise prints "<program>: the library lacks the export
// NAME" on standard error for each missing one and returns false.
bool CheckRequiredExports(std::string_view program, std::initializer_list<RequiredExport> exports);

}  // namespace orvex::demo
