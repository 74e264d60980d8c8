// The calling thread's result buffer: texts returned "in the result buffer" stay valid until
// the same thread stores another text there.
#pragma once

#include "core/text.hpp"

namespace orvex {

// Copies `text` into the calling thread's buffer and returns a pointer into it.
const Char* SetResultBuffer(TextView text);

}  // namespace orvex
