// The public header compiles as C++ and links against the shared library.
#include "Orvex.h"

#include <cstdio>

int main() {
    const OrvexChar* version = Orvex_GetVersion();
    if (version == nullptr || version[0] != u'1') {
        std::fprintf(stderr, "unexpected version text\n");
        return 1;
    }
    return Orvex_AllocateMemory(0) == nullptr ? 0 : 1;
}
