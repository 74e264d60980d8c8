// Adding, removing and looking up slaves.
#include <string>

#include "master/master.hpp"

namespace orvex {

SlaveSlot* Master::SlotAt(int32_t slave) {
    std::scoped_lock guard(tableLock_);
    if (slave < 0 || static_cast<size_t>(slave) >= slots_.size()) return nullptr;
    return slots_[static_cast<size_t>(slave)].get();
}

SlaveSlot* Master::SlotForHandle(net::Handle handle, int32_t& slave) {
    std::scoped_lock guard(tableLock_);
    const auto found = handleMap_.find(handle);
    if (found == handleMap_.end()) return nullptr;
    slave = found->second;
    return slots_[static_cast<size_t>(slave)].get();
}

int32_t Master::AddSlave(TextView host, int32_t port, TextView proxyHost) {
    if (!proxyHost.empty()) {
        lastError_.SetText(FromAscii("Orvex_Master_AddSlave():no proxy - support for linux"));
    }
    const net::Handle connection =
        proxyHost.empty() ? net::Connect(Narrow(host), port) : net::kInvalidHandle;
    if (connection == net::kInvalidHandle) {
        Text text = FromAscii("Orvex_Master_AddSlave(): can not connect to '");
        text += host;
        text += FromAscii("' at port " + std::to_string(port));
        lastError_.SetText(text);
        return 0;
    }
    auto slot = std::make_unique<SlaveSlot>();
    slot->connectionHandle = connection;
    slot->connected = true;
    int32_t slave;
    {
        std::scoped_lock guard(tableLock_);
        slots_.push_back(std::move(slot));
        slave = static_cast<int32_t>(slots_.size() - 1);
        handleMap_[connection] = slave;
        slaveSlots_ = slave;
        ++connectedSlaves_;
    }
    // Watched only once the slot is in the table, so that its first data finds it.
    poller_.Add(connection);
    return slave;
}

int32_t Master::RemoveSlave(int32_t slave) {
    SlaveSlot* slot = SlotAt(slave);
    if (slot == nullptr) {
        SetError("Orvex_Master_RemoveSlave", "invalid slave number");
        return 0;
    }
    if (!slot->connected.exchange(false)) return 1;
    --connectedSlaves_;
    // The slave sees the connection end now; a write or read in progress returns at once.
    // The handle itself is closed by the network thread once no batch uses it any more.
    net::Shutdown(slot->connectionHandle);
    {
        std::scoped_lock guard(tableLock_);
        pendingCloses_.push_back(slave);
    }
    poller_.Wake();
    WakeQuery(*slot);
    return 1;
}

// Network thread, before each wait: closes the connections of removed slaves that no batch
// uses any more.
void Master::CloseRemovedConnections() {
    std::vector<int32_t> closable;
    {
        std::scoped_lock guard(tableLock_);
        if (pendingCloses_.empty()) return;
        std::vector<int32_t> waiting;
        for (int32_t slave : pendingCloses_) {
            SlaveSlot& slot = *slots_[static_cast<size_t>(slave)];
            (slot.batchActive.load() ? waiting : closable).push_back(slave);
        }
        pendingCloses_.swap(waiting);
    }
    for (int32_t slave : closable) {
        SlaveSlot& slot = *SlotAt(slave);
        if (slot.receiveThread.joinable()) slot.receiveThread.join();
        net::Handle handle;
        {
            std::scoped_lock sendGuard(slot.sendLock);
            handle = slot.connectionHandle;
            slot.connectionHandle = net::kInvalidHandle;
            std::scoped_lock guard(tableLock_);
            handleMap_.erase(handle);
            poller_.Remove(handle);
            net::Close(handle);
        }
    }
}

// DeInit, after every thread that could use a connection has ended.
void Master::CloseAllConnections() {
    std::scoped_lock guard(tableLock_);
    for (auto& slot : slots_) {
        if (slot->connectionHandle == net::kInvalidHandle) continue;
        poller_.Remove(slot->connectionHandle);
        net::Close(slot->connectionHandle);
        slot->connectionHandle = net::kInvalidHandle;
        slot->connected = false;
    }
    handleMap_.clear();
    pendingCloses_.clear();
}

void Master::IterateSlaves(SlaveIterator function, intptr_t userData) {
    if (function == nullptr) return;
    for (int32_t slave = 1; slave <= slaveSlots_.load(); ++slave) {
        SlaveSlot* slot = SlotAt(slave);
        if (slot == nullptr || !slot->connected.load()) continue;
        if (function(Handle(), slave, userData) == 0) return;
    }
}

int32_t Master::GetSlaveIP(int32_t slave) {
    SlaveSlot* slot = SlotAt(slave);
    if (slot == nullptr) {
        SetError("Orvex_Master_GetSlaveIP", "invalid slave number");
        return 0;
    }
    // The handle is closed only under sendLock, so holding it keeps the handle ours.
    std::scoped_lock guard(slot->sendLock);
    if (!slot->connected.load() || slot->connectionHandle == net::kInvalidHandle) return 0;
    uint32_t address = 0;
    int32_t port = 0;
    if (!net::PeerAddress(slot->connectionHandle, address, port)) return 0;
    return static_cast<int32_t>(address);
}

int32_t Master::SetSlaveXtraData(int32_t slave, int32_t value) {
    SlaveSlot* slot = SlotAt(slave);
    if (slot == nullptr) {
        SetError("Orvex_Master_SetSlaveXtraData", "invalid slave number");
        return 0;
    }
    slot->xtraData = value;
    return 1;
}

int32_t Master::GetSlaveXtraData(int32_t slave) {
    SlaveSlot* slot = SlotAt(slave);
    if (slot == nullptr) {
        SetError("Orvex_Master_GetSlaveXtraData", "invalid slave number");
        return 0;
    }
    return slot->xtraData.load();
}

}  // namespace orvex
