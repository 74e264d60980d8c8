// Where the running program lives, and the library it loads by default.
#pragma once

#include <string>

namespace orvex::demo {

// The folder of the running executable (from /proc/self/exe); "." when it cannot be read.
std::string ProgramDirectory();

// The 8-bit build of the library beside the program's build: ../lib/libOrvex.so relative to
// the program's folder.
std::string DefaultLibraryPath();

}  // namespace orvex::demo
