#include "master/master.hpp"

#include <system_error>

namespace orvex {

Master::Master(RelayHandler relayHandler) : relayHandler_(relayHandler) {
    slots_.push_back(std::make_unique<SlaveSlot>());  // entry 0 never holds a slave
}

std::unique_ptr<Master> Master::Create(RelayHandler relayHandler) {
    if (relayHandler == nullptr) return nullptr;
    std::unique_ptr<Master> master(new Master(relayHandler));
    if (!master->Start()) return nullptr;
    return master;
}

bool Master::Start() {
    if (!poller_.Valid()) return false;
    try {
        networkThread_ = std::thread([this] { NetworkLoop(); });
        callbackThread_ = std::thread([this] { CallbackLoop(); });
    } catch (const std::system_error&) {
        return false;  // the destructor stops whichever thread did start
    }
    return true;
}

Master::~Master() {
    StopThreads();
    CloseAllConnections();
    // What is left (queued events and callbacks with their memory, relayed streams with their
    // buffers, pending jobs, slots) is released by the members' destructors.
}

// DeInit order: the network thread (a batch it runs finishes first) and the receive threads,
// so nothing dispatches any more; then the callback thread; then the relay handlers, which
// may still wait for their stream and are told that it will not complete.
void Master::StopThreads() {
    stopping_ = true;
    networkStop_ = true;
    poller_.Wake();
    if (networkThread_.joinable()) networkThread_.join();
    std::vector<SlaveSlot*> slots;
    {
        std::scoped_lock guard(tableLock_);
        for (auto& slot : slots_) slots.push_back(slot.get());
    }
    for (SlaveSlot* slot : slots) {
        if (slot->receiveThread.joinable()) slot->receiveThread.join();
        WakeQuery(*slot);  // a query of a callback or another thread gives up now
        FailPendingAck(*slot);
    }

    callbackStop_ = true;
    batchRunning_ = 0;
    batchDone_.Signal();
    if (callbackThread_.joinable()) callbackThread_.join();

    FailUnfinishedStreams();
    ReapRelayThreads(true);
}

void Master::SetError(std::string_view function, std::string_view reason) {
    lastError_.Set(function, reason);
}

void Master::SetCallback(MasterCallback callback, intptr_t userData) {
    queues_.SetEventCallback(callback, userData);
}

void Master::SetCompressionOptions(int32_t threshold, int32_t level) {
    compressionThreshold_ = threshold;
    compressionLevel_ = level;
}

void Master::SetStreamOptions(int32_t timeoutMs, int32_t retries) {
    streamTimeout_ = timeoutMs;
    streamRetries_ = retries;
}

int32_t Master::SetReceiveBlockSize(int32_t size) {
    if (size < 1) {
        lastError_.SetText(FromAscii("invalid block size"));
        return -1;
    }
    return receiveBlockSize_.exchange(size);
}

void Master::SetThreadReceive(int32_t enable) {
    threadReceive_ = (enable & 0xFF) != 0;
}

int32_t Master::SendToSlave(SlaveSlot& slot, std::span<const uint8_t> head,
                            std::span<const uint8_t> tail) {
    std::scoped_lock guard(slot.sendLock);
    if (!slot.connected.load() || slot.connectionHandle == net::kInvalidHandle) return 0;
    const protocol::SendResult sent =
        protocol::SendPacket(slot.connectionHandle, slot.sendLock, Compression(), head, tail);
    if (sent.allocationFailed) SetError("Network_Send", "memory allocation error");
    return sent.result < 0 ? -1 : sent.result;
}

}  // namespace orvex
