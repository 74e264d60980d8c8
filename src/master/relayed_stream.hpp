// A stream that another master relays to this one through a slave.
//
// The application sees only `stream` (an OrvexReceivedStream): the relay handler watches its
// received count and state and may set its cancel request; Orvex_Master_FreeStream releases it.
// The receive batch writes the data and the received count before it changes the state.
#pragma once

#include <atomic>
#include <cstdint>

#include "Orvex.h"
#include "core/memory.hpp"

namespace orvex {

struct RelayedStream {
    RelayedStream() = default;
    RelayedStream(const RelayedStream&) = delete;
    RelayedStream& operator=(const RelayedStream&) = delete;
    ~RelayedStream() { FreeBlock(stream.data); }

    OrvexReceivedStream stream{};  // data is a library memory block of stream.size bytes
    int32_t slave = 0;             // slave number it arrives through
    int32_t streamId = 0;          // the sending master's number on that slave
    bool inMap = false;            // still in the slot's stream map (receiving)
    // CRC-32 of data[0, inOrderEnd) while the blocks arrived one after the other, so that the
    // end's check needs no second pass over the data; inOrder is false once a block came out
    // of order (the end then computes the CRC over the buffer).
    uint32_t inOrderCrc = 0;
    int32_t inOrderEnd = 0;
    bool inOrder = true;
};

// Atomic access to the fields that the batch and the application's threads share.
inline int32_t LoadField(int32_t& field) {
    return std::atomic_ref<int32_t>(field).load(std::memory_order_acquire);
}
inline void StoreField(int32_t& field, int32_t value) {
    std::atomic_ref<int32_t>(field).store(value, std::memory_order_release);
}

}  // namespace orvex
