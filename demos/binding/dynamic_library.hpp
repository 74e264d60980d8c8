// Run-time loading of a shared library, under the names of the Windows calls that the demos
// were written against, so that the demo code reads the same on every platform. This file's
// POSIX implementation uses dlopen, dlsym and dlclose; a Windows build forwards to the real
// calls.
#pragma once

#include <string>

namespace orvex::demo {

// An opaque module handle; null means "not loaded".
using ModuleHandle = void*;

// Loads the library file (a path; a name without '/' is searched as the platform does).
// Returns null when it cannot be loaded; LastLoadError then says why.
ModuleHandle LoadLibraryA(const char* fileName);

// The address of the exported function `name`, or null when the module does not export it.
void* GetProcAddress(ModuleHandle module, const char* name);

// Unloads a module loaded by LoadLibraryA. Returns non-zero on success.
int FreeLibrary(ModuleHandle module);

// The platform's text for the last failed LoadLibraryA of this thread.
std::string LastLoadError();

}  // namespace orvex::demo
