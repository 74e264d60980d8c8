#include "binding/bind_library.hpp"

#include <cstdio>

namespace orvex::demo {

ModuleHandle BindLibrary(std::string_view program, const std::string& path, BindingTable table) {
    ModuleHandle module = loadOrvexApi(path.c_str(), TheApi(), table);
    if (module == nullptr) {
        std::fprintf(stderr, "%s: cannot load the library %s: %s\n", std::string(program).c_str(),
                     path.c_str(), LastLoadError().c_str());
    }
    return module;
}

}  // namespace orvex::demo
