#include <limits.h>
#include <unistd.h>

#include "binding/program_path.hpp"

namespace orvex::demo {

std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string program(path, size_t(length));
    const size_t slash = program.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : program.substr(0, slash);
}

std::string DefaultLibraryPath() {
    return ProgramDirectory() + "/../lib/libOrvex.so";
}

}  // namespace orvex::demo
