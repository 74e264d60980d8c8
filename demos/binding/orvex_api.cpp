#include "binding/orvex_api.hpp"

namespace orvex::demo {

ModuleHandle loadOrvexApi(const char* fileName, OrvexApi& api, BindingTable table) {
    ModuleHandle module = LoadLibraryA(fileName);
    if (module == nullptr) return nullptr;
    const bool full = table == BindingTable::Full;
#define ORVEX_DEMO_BIND(name, inStreamTable)                                         \
    if (full || (inStreamTable)) {                                                   \
        api.name = std::bit_cast<decltype(api.name)>(GetProcAddress(module, #name)); \
    }
    ORVEX_DEMO_EXPORTS(ORVEX_DEMO_BIND)
#undef ORVEX_DEMO_BIND
    return module;
}

int CountBoundEntries(const OrvexApi& api) {
    int count = 0;
#define ORVEX_DEMO_COUNT_BOUND(name, inStreamTable) count += api.name != nullptr;
    ORVEX_DEMO_EXPORTS(ORVEX_DEMO_COUNT_BOUND)
#undef ORVEX_DEMO_COUNT_BOUND
    return count;
}

OrvexApi& TheApi() {
    static OrvexApi api;
    return api;
}

}  // namespace orvex::demo
