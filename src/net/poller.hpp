// Waits for network events on listening servers and connections (epoll).
//
// Events: kConnect (a listening server accepted a connection; the poller has already added it
// to the watched set), kData (a connection has bytes to read), kClose (the peer closed the
// connection or it failed; the poller has stopped watching it but has not closed it).
//
// A connection that reported kData is not reported again until Rearm: the owner runs one
// receive batch over it (perhaps in another thread) and re-arms it afterwards, so a batch in
// progress never causes a busy loop and two batches of one connection never overlap. Data
// that stays unread is reported again after Rearm.
#pragma once

#include <cstdint>
#include <vector>

#include "net/socket.hpp"

namespace orvex::net {

struct PollEvent {
    enum class Type { kConnect, kData, kClose };
    Type type;
    Handle handle;    // the connection
    Handle listener;  // for kConnect: the listening server that accepted it; else kInvalidHandle
};

class Poller {
public:
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // False when the poller could not be created (Add* and Wait then fail).
    bool Valid() const { return epoll_ >= 0 && wake_ >= 0; }

    bool AddListener(Handle listener);
    // Starts watching a connection (armed).
    bool Add(Handle connection);
    // Watches a connection again after its kData event was handled.
    bool Rearm(Handle connection);
    // Stops watching a connection (before the owner closes it).
    void Remove(Handle handle);

    // Waits at most timeoutMs (0: do not wait, -1: forever) for events and appends them to
    // `events`. Returns false when the poller failed.
    bool Wait(int timeoutMs, std::vector<PollEvent>& events);

    // Makes a Wait in progress (or the next one) return at once. Any thread may call it.
    void Wake();

private:
    void HandleListener(Handle listener, std::vector<PollEvent>& events);
    void HandleConnection(Handle connection, uint32_t flags, std::vector<PollEvent>& events);

    int epoll_ = -1;
    int wake_ = -1;  // eventfd that interrupts Wait
    // Listening servers, read by the polling thread only (added before polling starts).
    std::vector<Handle> listeners_;
};

}  // namespace orvex::net
