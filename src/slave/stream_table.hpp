// Streams that a slave receives for its jobs (ReceivedStream) and the stream list.
//
// A stream is handed to a job function, which reads it while receive batches fill it and
// releases it with Orvex_Slave_FreeStream, possibly while its master is still sending. So a
// batch never works on a stream without pinning it first: Pin takes the master's current
// stream under the table lock and counts the batch as a user; a stream freed while pinned
// is released by the last Unpin. Freeing also clears the master's current-stream pointer,
// so later blocks of that transfer find no stream and are ignored.
//
// The fields that the application reads (received, state) are written with release stores
// after the data, and cancelRequest is read with an acquire load; the application reads
// state before data.
//
// A stream whose job was refused or dropped after the stream began ("orphan") still takes
// the master's blocks, so that the master's transfer ends normally, and is released at the
// stream end instead of waiting for a job that will never free it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "Orvex.h"
#include "slave/task_pool.hpp"

namespace orvex {

struct MasterEntry;

// Largest stream a master may announce; larger ones are refused.
inline constexpr int32_t kMaxStreamSize = 1 << 30;

enum StreamState : int32_t {
    kStreamReceiving = 1,
    kStreamComplete = 2,
    kStreamFailed = 3,
    kStreamCanceled = 4,
};

struct StreamRecord {
    OrvexReceivedStream stream{};  // what the application sees
    // Below: guarded by the stream table lock.
    MasterEntry* currentOf = nullptr;  // the master whose current stream this is
    int32_t users = 0;                 // receive batches working on it now
    bool freed = false;                // released by the application or abandoned
    bool orphan = false;               // no job will ever free it
    void* buffer = nullptr;            // stream.data as allocated (the application can write
    int32_t bufferSize = 0;            // the fields it sees), and its size

    // Below: touched only by the receive batches of the master whose current stream this is
    // (one batch at a time per connection). While every stored block continued the one before
    // it, inOrderEnd is where the stored bytes end and inOrderCrc is their CRC-32, so a stream
    // end that follows a complete in-order transfer needs no second pass over the buffer.
    bool inOrder = true;
    int32_t inOrderEnd = 0;
    uint32_t inOrderCrc = 0;
};

class StreamTable {
  public:
    StreamTable() = default;
    ~StreamTable();
    StreamTable(const StreamTable&) = delete;
    StreamTable& operator=(const StreamTable&) = delete;

    // A new stream of `size` bytes as the master's current stream (a current orphan stream is
    // released). Null when size is negative or above kMaxStreamSize or memory is short; the
    // master then has no current stream.
    StreamRecord* Start(MasterEntry& master, int32_t size);

    // The master's current stream, pinned for the caller; null when it has none.
    StreamRecord* Pin(MasterEntry& master);
    void Unpin(StreamRecord* record);
    // Ends the master's current stream (if it is still `record`); an orphan is released.
    void EndCurrent(MasterEntry& master, StreamRecord* record);

    // The application's Orvex_Slave_FreeStream. Unknown pointers are ignored.
    void Free(OrvexReceivedStream* stream);
    // No job will take the stream: release it now, or at its end when it is still current.
    void Abandon(StreamRecord* record);

    int32_t Count() const;
    // Releases every stream (DeInit); not while a receive batch may still start streams.
    void Clear();

  private:
    void ReleaseLocked(StreamRecord* record);
    void PopulateAhead(StreamRecord* record);
    void Populate(StreamRecord* record);

    mutable std::mutex lock_;  // guards the list, every record's bookkeeping, currentStream,
                               // and the creation of populator_
    std::unordered_map<OrvexReceivedStream*, std::unique_ptr<StreamRecord>> list_;
    // Backs the buffers of large streams with memory while their first blocks arrive, so that
    // the receive batch does not wait for page faults; started at the first large stream.
    std::unique_ptr<TaskPool> populator_;
};

// Notes a block of `length` bytes with the CRC-32 `crc` stored at `offset` of the stream.
void NoteStoredBlock(StreamRecord& record, int32_t offset, int32_t length, uint32_t crc);
// The CRC-32 of the stream's whole buffer: from the in-order record when the stored blocks
// cover it exactly, else computed over the buffer.
uint32_t WholeStreamCrc(const StreamRecord& record);

// Whole-value access to the fields that the application reads or writes concurrently.
void StoreStreamField(int32_t& field, int32_t value);
int32_t LoadStreamField(const int32_t& field);

}  // namespace orvex
