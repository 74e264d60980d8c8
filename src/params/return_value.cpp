#include "params/return_value.hpp"

#include "core/memory.hpp"

namespace orvex {

ReturnValue* MakeReturnValue(void* value, int32_t size) noexcept {
    auto* result = static_cast<ReturnValue*>(AllocateBlock(sizeof(ReturnValue)));
    if (result == nullptr) {
        FreeBlock(value);
        return nullptr;
    }
    result->value = value;
    result->size = size;
    return result;
}

void FreeReturnValue(ReturnValue* result) noexcept {
    if (result == nullptr) return;
    FreeBlock(result->value);
    FreeBlock(result);
}

}  // namespace orvex
