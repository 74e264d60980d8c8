// MasterLink: one master connection of a slave and its ordered send queue.
//
// Design notes.
//
// Sending. Every message to a master is framed into the link's outbox, in call order, and
// the outbox is written by whichever thread holds the writer role: the thread whose Send
// found nobody writing first tries to write everything queued at once with non-blocking
// writes; when the connection cannot take more, the rest is handed to the link's send worker
// (a task pool with one worker), which waits on the socket. So no thread of the slave other
// than the send worker ever blocks on a slow master, messages to one master never overtake
// each other, and many small messages leave in one write. Sends made inside a receive batch
// are deferred and written together when the batch ends (Flush).
//
// Compression happens when a batch of queued messages is taken for writing, with the
// settings of that moment; each message is compressed on its own, as its own packet.
//
// Failed writes. A connection error drops what is queued and shuts the connection down (the
// server thread then sees it close). A master that takes no byte for the stall limit: when
// the write stopped between two packets, the packets not yet written go to the slave's
// resend queue and are queued again later; when it stopped inside a packet, the byte
// stream to the master is broken for good, so the connection is shut down.
//
// Socket lifetime. The descriptor is closed only when the link is destroyed, that is when
// the last holder (the server thread, a receive batch, a queued job, a resend entry) lets go
// of it. Closing a master before that only shuts the connection down. So a descriptor
// number is never reused by the system while a batch or a send of this link may still use
// it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "net/socket.hpp"
#include "protocol/framing.hpp"
#include "slave/task_pool.hpp"

namespace orvex {

class ResendQueue;

// Compression settings shared by all links of a slave; changed at any time.
class SendSettings {
  public:
    void SetCompression(int32_t threshold, int32_t level) {
        packed_.store(static_cast<uint64_t>(static_cast<uint32_t>(threshold)) << 32 |
                      static_cast<uint32_t>(level));
    }
    protocol::CompressionSettings Compression() const {
        const uint64_t packed = packed_.load();
        return {static_cast<int32_t>(packed >> 32), static_cast<int32_t>(packed & 0xFFFFFFFFu)};
    }

  private:
    std::atomic<uint64_t> packed_{0};  // threshold in the high half, level in the low half
};

class MasterLink : public std::enable_shared_from_this<MasterLink> {
  public:
    MasterLink(net::Handle connection, const SendSettings& settings, ResendQueue& resend);
    ~MasterLink();
    MasterLink(const MasterLink&) = delete;
    MasterLink& operator=(const MasterLink&) = delete;

    net::Handle Connection() const { return connection_; }
    // False once the link was closed or its connection failed: sends are dropped.
    bool IsOpen() const { return open_.load(std::memory_order_acquire); }

    // Queues the body head + tail as one packet. With defer, nothing is written now: the
    // caller (a receive batch) calls Flush later. False when the message was dropped (link
    // closed, or a body too large for a packet).
    bool Send(std::span<const uint8_t> head, std::span<const uint8_t> tail = {},
              bool defer = false);
    // Starts writing what deferred sends left queued.
    void Flush();

    // Drops later sends. With drainFirst, what is queued is still written and the sending
    // direction is shut down after it (the owner keeps reading what the master still sends,
    // see Slave::ForgetKicked); otherwise the connection is shut down at once and queued
    // messages are lost.
    // A non-empty lastBody is queued in the same step, so it is the last message the master
    // gets: nothing another thread sends meanwhile can follow it.
    void Close(bool drainFirst, std::span<const uint8_t> lastBody = {});

    // Waits until everything queued has been written (or given up), at most until deadline.
    bool WaitDrained(std::chrono::steady_clock::time_point deadline);

    // Makes a waiting write give up within one wait tick.
    void Abort() { abort_.store(true); }

  private:
    struct Record {
        size_t begin;  // offset of the packet header in its buffer
        size_t size;   // header + body
    };

    void QueueLocked(std::span<const uint8_t> head, std::span<const uint8_t> tail);
    void WriteLoop(bool mayBlock);
    bool TakeBatch();
    void PrepareWire();
    void WriteFailed(bool connectionFailed);
    void StopWriting();

    const net::Handle connection_;
    const SendSettings& settings_;
    ResendQueue& resend_;
    std::atomic<bool> open_{true};
    std::atomic<bool> abort_{false};

    // Guards pending_, pendingRecords_, writing_ and shutdownWhenDrained_.
    std::mutex lock_;
    std::condition_variable drained_;  // writing_ became false
    std::vector<uint8_t> pending_;     // framed plain packets waiting to be written
    std::vector<Record> pendingRecords_;
    bool writing_ = false;  // a thread holds the writer role
    bool shutdownWhenDrained_ = false;

    // Writer state: touched only by the thread that holds the writer role. The role passes
    // between threads through lock_ or through the send worker's queue.
    std::vector<uint8_t> batch_;  // plain packets taken from pending_
    std::vector<Record> batchRecords_;
    std::vector<uint8_t> compressed_;  // wire form of batch_ when compression applies
    std::vector<size_t> wireEnds_;     // where each record ends in the wire form
    std::span<const uint8_t> wire_;
    size_t written_ = 0;

    TaskPool sendWorker_{1};  // the send queue's worker; stopped first in the destructor
};

}  // namespace orvex
