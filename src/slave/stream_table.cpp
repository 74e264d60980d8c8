#include "slave/stream_table.hpp"

#include <zlib.h>

#include <algorithm>
#include <atomic>

#include "core/crc32.hpp"
#include "slave/master_table.hpp"
#include "slave/stream_buffer.hpp"

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
        data = size > 0 ? AllocateStreamBuffer(size) : nullptr;
        if (size == 0 || data != nullptr) record = std::make_unique<StreamRecord>();
    }
    std::scoped_lock guard(lock_);
    if (StreamRecord* previous = master.currentStream) {
        previous->currentOf = nullptr;
        if (previous->orphan) ReleaseLocked(previous);
    }
    master.currentStream = nullptr;
    if (!record) {
        FreeStreamBuffer(data, size);
        return nullptr;
    }
    StreamRecord* raw = record.get();
    raw->stream.data = data;
    raw->stream.size = size;
    raw->buffer = data;
    raw->bufferSize = size;
    raw->stream.state = kStreamReceiving;
    raw->stream.listEntry = raw;
    raw->currentOf = &master;
    master.currentStream = raw;
    list_.emplace(&raw->stream, std::move(record));
    if (IsMappedStreamBuffer(size)) PopulateAhead(raw);
    return raw;
}

// Called with lock_ held. The record stays pinned until the population has ended, so its
// buffer stays mapped meanwhile.
void StreamTable::PopulateAhead(StreamRecord* record) {
    try {
        if (!populator_) populator_ = std::make_unique<TaskPool>(1);
    } catch (...) {
        return;  // no thread: the pages are faulted in as the blocks arrive
    }
    ++record->users;
    populator_->Enqueue([this, record] { Populate(record); });
}

// Populates the buffer from its start, one huge page at a time, until it is backed, freed or
// the system refuses.
void StreamTable::Populate(StreamRecord* record) {
    constexpr size_t kStep = size_t{2} << 20;
    auto* const data = static_cast<uint8_t*>(record->buffer);
    const auto size = static_cast<size_t>(record->bufferSize);
    for (size_t done = 0; done < size; done += kStep) {
        {
            std::scoped_lock guard(lock_);
            if (record->freed) break;
        }
        if (!PopulateStreamBuffer(data + done, std::min(kStep, size - done))) break;
    }
    Unpin(record);
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

void NoteStoredBlock(StreamRecord& record, int32_t offset, int32_t length, uint32_t crc) {
    if (!record.inOrder || length == 0) return;
    if (offset != record.inOrderEnd) {
        record.inOrder = false;
        return;
    }
    record.inOrderCrc = static_cast<uint32_t>(crc32_combine(record.inOrderCrc, crc, length));
    record.inOrderEnd += length;
}

uint32_t WholeStreamCrc(const StreamRecord& record) {
    if (record.inOrder && record.inOrderEnd == record.bufferSize) return record.inOrderCrc;
    return Crc32(record.buffer, static_cast<size_t>(record.bufferSize));
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
    FreeStreamBuffer(record->buffer, record->bufferSize);
    list_.erase(&record->stream);
}

int32_t StreamTable::Count() const {
    std::scoped_lock guard(lock_);
    int32_t count = 0;
    for (const auto& [key, record] : list_) count += record->freed ? 0 : 1;
    return count;
}

void StreamTable::Clear() {
    // A population still queued or running ends first (it needs the lock).
    std::unique_ptr<TaskPool> populator;
    {
        std::scoped_lock guard(lock_);
        populator = std::move(populator_);
    }
    populator.reset();
    std::scoped_lock guard(lock_);
    for (auto& [key, record] : list_) {
        if (record->currentOf != nullptr) record->currentOf->currentStream = nullptr;
        FreeStreamBuffer(record->buffer, record->bufferSize);
    }
    list_.clear();
}

}  // namespace orvex
