// ReturnValue: what a job function hands back, a library memory block {value block, size}.
//
// The slave sends `size` bytes of `value` as the job's result and then releases both with
// FreeReturnValue. A Memory result may record a size larger than its block; a sender copies
// the value with CopyValueBytes (value_bytes.hpp), which pads the missing bytes with zeros.
#pragma once

#include <cstdint>
#include <memory>

#include "Orvex.h"

namespace orvex {

using ReturnValue = OrvexReturnValue;

// A new ReturnValue {value, size} that takes value over. Null when memory runs out, in which
// case value is released (its owner has already given it away).
ReturnValue* MakeReturnValue(void* value, int32_t size) noexcept;

// Releases the value block, then the record; null is ignored.
void FreeReturnValue(ReturnValue* result) noexcept;

struct ReturnValueDeleter {
    void operator()(ReturnValue* result) const noexcept { FreeReturnValue(result); }
};
using ReturnValuePtr = std::unique_ptr<ReturnValue, ReturnValueDeleter>;

}  // namespace orvex
