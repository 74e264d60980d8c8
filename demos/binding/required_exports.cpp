#include "binding/required_exports.hpp"

#include <cstdio>
#include <string>

namespace orvex::demo {

bool CheckRequiredExports(std::string_view program, std::initializer_list<RequiredExport> exports) {
    bool complete = true;
    for (const RequiredExport& entry : exports) {
        if (entry.bound) continue;
        std::fprintf(stderr, "%s: the library lacks the export %s\n", std::string(program).c_str(),
                     std::string(entry.name).c_str());
        complete = false;
    }
    return complete;
}

}  // namespace orvex::demo
