// The demos' start-up step: load the library into the process's table, or say why not.
#pragma once

#include <string>
#include <string_view>

#include "binding/orvex_api.hpp"

namespace orvex::demo {

// loadOrvexApi into TheApi(); when the file cannot be loaded, prints
// "<program>: cannot load the library PATH: REASON" on standard error and returns null.
ModuleHandle BindLibrary(std::string_view program, const std::string& path, BindingTable table);

}  // namespace orvex::demo
