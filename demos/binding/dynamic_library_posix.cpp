#include <dlfcn.h>

#include "binding/dynamic_library.hpp"

namespace orvex::demo {
namespace {
thread_local std::string lastLoadError;
}

ModuleHandle LoadLibraryA(const char* fileName) {
    // RTLD_NOW: a library with unresolved references fails here rather than at a later call.
    // RTLD_LOCAL: its symbols stay out of the global namespace, as with a Windows DLL.
    ModuleHandle module = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* reason = dlerror();
        lastLoadError = reason ? reason : "unknown error";
    }
    return module;
}

void* GetProcAddress(ModuleHandle module, const char* name) {
    if (module == nullptr) return nullptr;
    return dlsym(module, name);
}

int FreeLibrary(ModuleHandle module) {
    return module != nullptr && dlclose(module) == 0;
}

std::string LastLoadError() {
    return lastLoadError;
}

}  // namespace orvex::demo
