// epoll implementation of the poller.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "net/poller.hpp"

namespace orvex::net {
namespace {

constexpr uint32_t kConnectionEvents = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
constexpr int kMaxEventsPerWait = 64;

// Marks the wake eventfd in epoll data; connection descriptors are never negative.
constexpr int kWakeTag = -2;

}  // namespace

Poller::Poller()
    : epoll_(epoll_create1(EPOLL_CLOEXEC)), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (epoll_ >= 0 && wake_ >= 0) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = kWakeTag;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
    }
}

Poller::~Poller() {
    if (wake_ >= 0) close(wake_);
    if (epoll_ >= 0) close(epoll_);
}

bool Poller::AddListener(Handle listener) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, listener, &event) != 0) return false;
    listeners_.push_back(listener);
    return true;
}

bool Poller::Add(Handle connection) {
    epoll_event event{};
    event.events = kConnectionEvents;
    event.data.fd = connection;
    return epoll_ctl(epoll_, EPOLL_CTL_ADD, connection, &event) == 0;
}

bool Poller::Rearm(Handle connection) {
    epoll_event event{};
    event.events = kConnectionEvents;
    event.data.fd = connection;
    return epoll_ctl(epoll_, EPOLL_CTL_MOD, connection, &event) == 0;
}

void Poller::Remove(Handle handle) {
    epoll_ctl(epoll_, EPOLL_CTL_DEL, handle, nullptr);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), handle), listeners_.end());
}

void Poller::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t r = write(wake_, &one, sizeof one);
}

bool Poller::Wait(int timeoutMs, std::vector<PollEvent>& events) {
    epoll_event ready[kMaxEventsPerWait];
    int count;
    do {
        count = epoll_wait(epoll_, ready, kMaxEventsPerWait, timeoutMs);
    } while (count < 0 && errno == EINTR);
    if (count < 0) return false;
    for (int i = 0; i < count; ++i) {
        const int fd = ready[i].data.fd;
        if (fd == kWakeTag) {
            uint64_t value;
            [[maybe_unused]] const ssize_t r = read(wake_, &value, sizeof value);
        } else if (std::find(listeners_.begin(), listeners_.end(), fd) != listeners_.end()) {
            HandleListener(fd, events);
        } else {
            HandleConnection(fd, ready[i].events, events);
        }
    }
    return true;
}

void Poller::HandleListener(Handle listener, std::vector<PollEvent>& events) {
    for (;;) {
        const Handle connection = Accept(listener);
        if (connection == kInvalidHandle) return;
        if (!Add(connection)) {
            Close(connection);
            continue;
        }
        events.push_back({PollEvent::Type::kConnect, connection, listener});
    }
}

void Poller::HandleConnection(Handle connection, uint32_t flags, std::vector<PollEvent>& events) {
    // Readable without a hang-up or error: data. (No look at the socket is needed; this is
    // the common case, one call less on every message.)
    if ((flags & EPOLLIN) != 0 && (flags & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == 0) {
        events.push_back({PollEvent::Type::kData, connection, kInvalidHandle});
        return;
    }
    // Data is delivered before a close, so that bytes a peer sent right before closing are
    // still read; the close shows up on the re-armed connection once they are consumed.
    bool hasData = false;
    const bool closed = PeekClosed(connection, hasData);
    if (hasData) {
        events.push_back({PollEvent::Type::kData, connection, kInvalidHandle});
    } else if (closed || (flags & (EPOLLHUP | EPOLLERR)) != 0) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, connection, nullptr);
        events.push_back({PollEvent::Type::kClose, connection, kInvalidHandle});
    } else {
        Rearm(connection);  // spurious wake-up: nothing to read yet
    }
}

}  // namespace orvex::net
