// Small blocking helpers over the library's non-blocking sockets, for the network targets.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <span>

#include "net/socket.hpp"

namespace orvex::fuzz {

// Waits at most timeoutMs for `events` on the handle; false on time-out.
inline bool WaitFor(net::Handle handle, short events, int timeoutMs) {
    pollfd entry{handle, events, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}

// Writes every byte (waiting while the socket is full, at most timeoutMs in all); false on
// failure or time-out.
inline bool WriteAll(net::Handle handle, std::span<const uint8_t> bytes, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!bytes.empty()) {
        const ssize_t r = ::send(handle, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (r > 0) {
            bytes = bytes.subspan(static_cast<size_t>(r));
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        WaitFor(handle, POLLOUT, static_cast<int>(left.count()));
    }
    return true;
}

// Reads and drops everything until the peer closes the connection. False when it is still
// open after timeoutMs.
inline bool ReadUntilClosed(net::Handle handle, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t scratch[16384];
    for (;;) {
        const ssize_t r = ::recv(handle, scratch, sizeof scratch, MSG_DONTWAIT);
        if (r == 0) return true;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return true;
        if (r > 0) continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        WaitFor(handle, POLLIN, static_cast<int>(left.count()));
    }
}

// Reads and drops whatever has arrived, without waiting.
inline void DrainInput(net::Handle handle) {
    uint8_t scratch[16384];
    while (::recv(handle, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
    }
}

// Accepts the connection that a client has just made to `listener`, waiting at most timeoutMs.
inline net::Handle AcceptOne(net::Handle listener, int timeoutMs = 5000) {
    net::Handle accepted = net::Accept(listener);
    if (accepted == net::kInvalidHandle && WaitFor(listener, POLLIN, timeoutMs)) {
        accepted = net::Accept(listener);
    }
    return accepted;
}

}  // namespace orvex::fuzz
