#include "slave/stream_table.hpp"

#include <atomic>

#include "core/memory.hpp"
#include "slave/master_table.hpp"

namespace orvex {

void StoreStreamField(int32_t& field, int32_t value) {
    std::atomic_ref<int32_t>(field).store(value, std::memory_order_release);
}

int32_t LoadStreamField(const int32_t& field) {
    return std::atomic_ref<int32_t>(const_cast<int32_t&>(field)).load(std::memory_order_acquire);
}

StreamTable::~StreamTable() {
    Clear();
}

StreamRecord* StreamTable::Start(MasterEntry& master, int32_t size) {
    std::unique_ptr<StreamRecord> record;
    void* data = nullptr;
    if (size >= 0 && size <= kMaxStreamSize) {
        data = size > 0 ? AllocateBlock(size) : nullptr;
        if (size == 0 || data != nullptr) record = std::make_unique<StreamRecord>();
    }
    std::scoped_lock guard(lock_);
    if (StreamRecord* previous = master.currentStream) {
        previous->currentOf = nullptr;
        if (previous->orphan) ReleaseLocked(previous);
    }
    master.currentStream = nullptr;
    if (!record) {
        FreeBlock(data);
        return nullptr;
    }
    StreamRecord* raw = record.get();
    raw->stream.data = data;
    raw->stream.size = size;
    raw->stream.state = kStreamReceiving;
    raw->stream.listEntry = raw;
    raw->currentOf = &master;
    master.currentStream = raw;
    list_.emplace(&raw->stream, std::move(record));
    return raw;
}

StreamRecord* StreamTable::Pin(MasterEntry& master) {
    std::scoped_lock guard(lock_);
    StreamRecord* record = master.currentStream;
    if (record != nullptr) ++record->users;
    return record;
}

void StreamTable::Unpin(StreamRecord* record) {
    std::scoped_lock guard(lock_);
    --record->users;
    if (record->freed && record->users == 0) ReleaseLocked(record);
}

void StreamTable::EndCurrent(MasterEntry& master, StreamRecord* record) {
    std::scoped_lock guard(lock_);
    if (master.currentStream != record) return;
    master.currentStream = nullptr;
    record->currentOf = nullptr;
    if (record->orphan) ReleaseLocked(record);
}

void StreamTable::Free(OrvexReceivedStream* stream) {
    std::scoped_lock guard(lock_);
    const auto it = list_.find(stream);
    if (it == list_.end() || it->second->freed) return;
    ReleaseLocked(it->second.get());
}

void StreamTable::Abandon(StreamRecord* record) {
    std::scoped_lock guard(lock_);
    if (record->freed) return;
    if (record->currentOf != nullptr) {
        record->orphan = true;
    } else {
        ReleaseLocked(record);
    }
}

// Detaches the record from its master and frees it, or marks it freed for the last Unpin.
void StreamTable::ReleaseLocked(StreamRecord* record) {
    if (record->currentOf != nullptr) {
        record->currentOf->currentStream = nullptr;
        record->currentOf = nullptr;
    }
    record->freed = true;
    if (record->users > 0) return;
    FreeBlock(record->stream.data);
    list_.erase(&record->stream);
}

int32_t StreamTable::Count() const {
    std::scoped_lock guard(lock_);
    int32_t count = 0;
    for (const auto& [key, record] : list_) count += record->freed ? 0 : 1;
    return count;
}

void StreamTable::Clear() {
    std::scoped_lock guard(lock_);
    for (auto& [key, record] : list_) {
        if (record->currentOf != nullptr) record->currentOf->currentStream = nullptr;
        FreeBlock(record->stream.data);
    }
    list_.clear();
}

}  // namespace orvex
