#include "core/result_buffer.hpp"

namespace orvex {

const Char* SetResultBuffer(TextView text) {
    thread_local Text buffer;
    buffer.assign(text);
    return buffer.c_str();
}

}  // namespace orvex
