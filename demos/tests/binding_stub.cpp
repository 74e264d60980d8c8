// A stand-in library for the binding tests: every name of the binding table (and
// Orvex_Parameter_Count) as an empty function. A build of it that should lack an export
// renames it with a compile definition (NAME=StubWithout_NAME).
#include "binding/export_list.hpp"

#define ORVEX_STUB_FUNCTION(name, inStreamTable) \
    extern "C" __attribute__((visibility("default"))) void name() {}
ORVEX_DEMO_EXPORTS(ORVEX_STUB_FUNCTION)
ORVEX_STUB_FUNCTION(Orvex_Parameter_Count, 0)
