// The network thread, receive batches and the callback thread.
#include <chrono>
#include <system_error>

#include "master/master.hpp"

namespace orvex {
namespace {

// Longest block of the network thread's wait for network events. It only bounds the wait:
// everything that needs the thread wakes it (data on a slave's connection, a new slave, a
// removed one, the end of a receive thread's batch, DeInit). A 1 ms bound would cost an idle
// master about 1000 wake-ups a second (measured: 2% of a core against 0.03%).
constexpr int kPollWaitMs = 100;

}  // namespace

void Master::NetworkLoop() {
    std::vector<net::PollEvent> events;
    while (!networkStop_.load()) {
        CloseRemovedConnections();
        events.clear();
        if (!poller_.Wait(kPollWaitMs, events)) {
            // The poller failed (it does not recover); keep honouring the stop request.
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollWaitMs));
            continue;
        }
        for (const net::PollEvent& event : events) {
            if (networkStop_.load()) break;
            int32_t slave = 0;
            SlaveSlot* slot = SlotForHandle(event.handle, slave);
            if (slot == nullptr) continue;
            if (event.type == net::PollEvent::Type::kData) {
                StartBatch(*slot, slave);
            } else if (event.type == net::PollEvent::Type::kClose) {
                // The slot stays connected until the application or a message of the slave
                // removes it, but nothing will answer a query any more.
                slot->peerClosed = true;
                WakeQuery(*slot);
                // A stream transfer that waits for this slave's acknowledgement stops waiting.
                if (streamSending_.load()) slot->ackSignal.Signal();
            }
        }
    }
}

void Master::StartBatch(SlaveSlot& slot, int32_t slave) {
    if (!slot.connected.load()) return;  // removed: its close is pending
    slot.batchActive = true;
    if (threadReceive_.load() && connectedSlaves_.load() > 1) {
        // The connection reports data again only after its last batch re-armed it, so the
        // previous receive thread of this slot has finished or is about to.
        if (slot.receiveThread.joinable()) slot.receiveThread.join();
        try {
            slot.receiveThread = std::thread([this, &slot, slave] { RunBatch(slot, slave); });
            return;
        } catch (const std::system_error&) {
            // No thread: run the batch here.
        }
    }
    RunBatch(slot, slave);
}

// The connection stays open while the batch runs: the close waits for batchActive to drop
// and, for a receive thread, joins it (so the re-arm below never meets a closed handle).
void Master::RunBatch(SlaveSlot& slot, int32_t slave) {
    const net::Handle connection = slot.connectionHandle;
    protocol::RunReceiveBatch(connection, slave, receiveBlockSize_.load(), *this);
    const bool stillConnected = slot.connected.load();
    slot.batchActive = false;
    if (stillConnected) {
        poller_.Rearm(connection);
    } else {
        poller_.Wake();  // its close was waiting for this batch
    }
}

void Master::OnBatchStart(int32_t) {
    batchRunning_ = 1;
}

// The callback thread is woken only when it has something to do: callbacks to deliver, or
// a delivery that waits for this batch to end. A batch without callbacks (stream
// acknowledgements, query replies, events for polling) costs it no wake-up.
void Master::OnBatchEnd(int32_t) {
    batchRunning_ = 0;
    if (callbackWaitsForBatch_.load() || queues_.HasCallbacks()) batchDone_.Signal();
}

void Master::OnReceiveError(int32_t slave) {
    if (SlaveSlot* slot = SlotAt(slave)) WakeQuery(*slot);
    queues_.Route({0, 0, kEventReceiveError, nullptr, 0});
}

// Callbacks run after a receive batch has ended, one at a time and in queue order; while a
// new batch runs, the next callback waits for its end.
void Master::CallbackLoop() {
    while (!callbackStop_.load()) {
        batchDone_.Wait();
        while (!callbackStop_.load()) {
            const auto item = queues_.TakeCallback();
            if (!item) break;
            const MasterEvent& event = item->event;
            item->function(Handle(), event.slave, event.jobId, event.type, event.memory,
                           event.memorySize, item->userData);
            if (!callbackStop_.load() && batchRunning_.load() == 1) {
                callbackWaitsForBatch_ = true;
                if (batchRunning_.load() == 1) batchDone_.Wait();
                callbackWaitsForBatch_ = false;
            }
        }
    }
}

}  // namespace orvex
