// C edge of the library frame: version and memory blocks.
#include "Orvex.h"
#include "core/memory.hpp"
#include "core/result_buffer.hpp"
#include "core/text.hpp"

using namespace orvex;

extern "C" {

ORVEX_API const OrvexChar* ORVEX_CALL Orvex_GetVersion(void) {
    try {
        static const Text version = FromAscii(ORVEX_VERSION_TEXT);
        return SetResultBuffer(version);
    } catch (...) {
        return nullptr;
    }
}

ORVEX_API void* ORVEX_CALL Orvex_AllocateMemory(int32_t size) { return AllocateBlock(size); }

ORVEX_API int32_t ORVEX_CALL Orvex_FreeMemory(void* block) {
    FreeBlock(block);
    return 0;
}

}  // extern "C"
