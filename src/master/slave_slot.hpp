// SlaveSlot: a master's record of one slave number.
//
// Slots live in the master's slave table from AddSlave until DeInit and never move (the table
// holds them by pointer), so a thread that found a slot may keep using it without the table's
// lock. A removed slot keeps its locks, semaphores, replies and stream map.
//
// Connection lifetime. Socket handles are reused by the operating system as soon as they are
// closed, so a handle is closed only when nothing can use it any more:
//   - RemoveSlave clears `connected` and shuts the connection down (a blocked write or read
//     returns at once), then leaves the close to the network thread;
//   - the network thread closes it once no receive batch runs on it (`batchActive`), while
//     holding `sendLock`; every send checks `connected` under `sendLock`, so no write can
//     reach a closed (or reused) handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/id_map.hpp"
#include "core/sync.hpp"
#include "core/text.hpp"
#include "net/socket.hpp"

namespace orvex {

struct RelayedStream;

struct SlaveSlot {
    SlaveSlot() = default;
    SlaveSlot(const SlaveSlot&) = delete;
    SlaveSlot& operator=(const SlaveSlot&) = delete;

    // Written at AddSlave and by the close (under sendLock); read under sendLock or by the
    // thread that runs this slot's batch (the close waits for the batch).
    net::Handle connectionHandle = net::kInvalidHandle;
    std::atomic<bool> connected{false};
    // A receive batch is running on this connection (set by the network thread).
    std::atomic<bool> batchActive{false};
    // The peer closed the connection; a query does not wait for a reply any more.
    std::atomic<bool> peerClosed{false};

    // Held while one packet is written, and while the connection is closed.
    RecursiveMutex sendLock;

    // One query at a time for this slave (held for the whole query).
    RecursiveMutex queryLock;
    // Guards the stored replies below and queryWaiting.
    std::mutex replyLock;
    Text jobInfosText;
    int32_t jobCountReply = 0;
    int32_t workerCountReply = 0;
    int32_t pingEcho = 0;
    bool queryWaiting = false;
    bool queryFailed = false;  // woken by a receive failure rather than by a reply
    // Raised by the dispatch for a reply while a query waits (and on receive failures).
    Semaphore replySignal;

    // Raised for every stream acknowledgement from this slave.
    Semaphore ackSignal;

    std::atomic<int32_t> xtraData{0};

    // Relayed streams arriving through this slave, by stream id; guarded by the master's
    // incomingStreamsLock.
    IdMap<RelayedStream*> streamMap;

    // The receive thread last started for this slot; started and joined by the network
    // thread, joined by DeInit after the network thread ended.
    std::thread receiveThread;
};

}  // namespace orvex
