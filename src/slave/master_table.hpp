// The slave's master table: one MasterEntry per master number, 1 for the first master.
//
// Entries are created only by the server thread and are never moved or destroyed before the
// slave: the table is a list of chunks of growing size (chunk k holds the numbers 2^k to
// 2^(k+1) - 1), so growing it never touches an existing entry, and a reader that has seen a
// master number in Slots() may use its entry without a lock. The count is published after
// the new entry is built.
//
// Fields of an entry are atomics (read and written whole by any thread, as the C interface
// allows), except those that name their lock or their single owning thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "Orvex.h"
#include "slave/master_link.hpp"

namespace orvex {

struct StreamRecord;

struct MasterEntry {
    // Connection state. `connected` says whether the slot has a live connection now; the
    // link, the connection handle and the peer address are those of the current (or last)
    // connection. Changed under the slave's registration lock.
    std::atomic<bool> connected{false};
    std::atomic<int32_t> connectionHandle{0};
    std::atomic<int32_t> connectTime{0};
    std::atomic<int32_t> peerAddress{0};  // IPv4, lowest byte = first octet
    std::atomic<int32_t> peerPort{0};

    // Job limits and checks; kept when the slot is reused.
    std::atomic<int32_t> jobLimit{0};  // 0 = no limit
    std::atomic<int32_t> outstandingJobs{0};
    std::atomic<OrvexJobAccessCheck> accessCheck{nullptr};
    std::atomic<bool> streamRelayAllowed{false};
    std::atomic<int32_t> xtraData{0};

    // The stream this master's blocks fill; guarded by the slave's stream table lock.
    StreamRecord* currentStream = nullptr;

    // The receive thread last started for this master; touched only by the server thread
    // (and by DeInit after the server thread has ended).
    std::thread receiveThread;

    // The current connection's link, or null while disconnected.
    std::shared_ptr<MasterLink> Link() const {
        std::scoped_lock guard(linkLock);
        return link;
    }
    void SetLink(std::shared_ptr<MasterLink> newLink) {
        std::scoped_lock guard(linkLock);
        link = std::move(newLink);
    }
    std::shared_ptr<MasterLink> TakeLink() {
        std::scoped_lock guard(linkLock);
        return std::move(link);
    }

  private:
    mutable std::mutex linkLock;  // guards link
    std::shared_ptr<MasterLink> link;
};

class MasterTable {
  public:
    MasterTable() = default;
    MasterTable(const MasterTable&) = delete;
    MasterTable& operator=(const MasterTable&) = delete;

    // Highest master number given out (masterSlots).
    int32_t Slots() const { return slots_.load(std::memory_order_acquire); }
    bool Valid(int32_t master) const { return master >= 1 && master <= Slots(); }

    // The entry of a master number from 1 to Slots().
    MasterEntry& At(int32_t master) const;

    // Server thread only: a new zero-filled entry whose number is Slots() + 1. The caller
    // fills it, then publishes it with Publish(). Null when the table is full.
    MasterEntry* Prepare();
    void Publish() { slots_.fetch_add(1, std::memory_order_release); }

  private:
    static constexpr int kChunkCount = 31;
    std::array<std::unique_ptr<MasterEntry[]>, kChunkCount> chunks_;  // chunk k: 2^k entries
    std::atomic<int32_t> slots_{0};
};

}  // namespace orvex
