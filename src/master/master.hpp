// Master: the library-side state of an application that sends jobs to slaves.
//
// Design notes.
//   Threads. Init starts the network thread (polls every connected slave through an epoll
//   poller and runs a receive batch for each one with data, in itself or, with receive threads
//   on and more than one slave connected, in a thread per batch) and the callback thread (calls
//   job and event callbacks after each batch). Each relayed stream gets a relay handler thread.
//   All of them are joined by DeInit before anything is freed.
//   Slave table. Slots are held by pointer in a deque that only grows, under tableLock_; a
//   slot found once stays valid until DeInit. The network thread alone closes connections
//   (see slave_slot.hpp).
//   Lock order (outer first): streamLock_ -> a slot's queryLock -> a slot's sendLock ->
//   tableLock_; incomingStreamsLock_ and the queue/job-table locks are leaves. No callback of
//   the application is called while a library lock is held, except the progress callback
//   (under streamLock_, which only stream transfers take).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/last_error.hpp"
#include "core/sync.hpp"
#include "core/text.hpp"
#include "master/event_queues.hpp"
#include "master/job_table.hpp"
#include "master/master_types.hpp"
#include "master/relayed_stream.hpp"
#include "master/slave_slot.hpp"
#include "net/poller.hpp"
#include "params/parameter_list.hpp"
#include "protocol/framing.hpp"

namespace orvex {

// The arguments of Orvex_Master_DoJob.
struct JobOrder {
    TextView name;
    int32_t slave = 0;
    ParameterList* params = nullptr;  // taken over
    MasterCallback callback = nullptr;
    intptr_t userData = 0;
    const uint8_t* streamData = nullptr;
    int32_t streamSize = 0;
    int32_t blockSize = 0;
    ProgressCallback progress = nullptr;
    intptr_t progressUserData = 0;
    int32_t target = 0;
    int32_t priority = 0;
};

class Master final : public protocol::BatchOwner {
  public:
    // Builds a master and starts its threads; null when the poller or a thread could not be
    // created.
    static std::unique_ptr<Master> Create(RelayHandler relayHandler);
    // Stops every thread, closes the connections and frees everything (DeInit).
    ~Master() override;
    Master(const Master&) = delete;
    Master& operator=(const Master&) = delete;

    OrvexMaster* Handle() { return reinterpret_cast<OrvexMaster*>(this); }
    static Master* From(OrvexMaster* handle) { return reinterpret_cast<Master*>(handle); }

    // ---- Settings and last error (master.cpp) ----
    void SetCallback(MasterCallback callback, intptr_t userData);
    void SetCompressionOptions(int32_t threshold, int32_t level);
    void SetStreamOptions(int32_t timeoutMs, int32_t retries);
    int32_t SetReceiveBlockSize(int32_t size);
    void SetThreadReceive(int32_t enable);
    const Char* GetLastError() const { return lastError_.Get(); }
    void SetError(std::string_view function, std::string_view reason);

    // ---- Slave connections (slave_connections.cpp) ----
    int32_t AddSlave(TextView host, int32_t port, TextView proxyHost);
    int32_t RemoveSlave(int32_t slave);
    int32_t CountSlaves() const { return connectedSlaves_.load(); }
    void IterateSlaves(SlaveIterator function, intptr_t userData);
    int32_t GetSlaveIP(int32_t slave);
    int32_t SetSlaveXtraData(int32_t slave, int32_t value);
    int32_t GetSlaveXtraData(int32_t slave);
    int32_t SlaveSlots() const { return slaveSlots_.load(); }

    // ---- Jobs and streams (job_dispatch.cpp, stream_sender.cpp) ----
    int32_t DoJob(const JobOrder& order);
    int32_t JobTableCapacity() { return jobTable_.Capacity(); }

    // ---- Events (master_events.cpp) ----
    int32_t TakeEvent();
    const MasterEvent& CurrentEvent() const { return currentEvent_; }
    // The current memory for a typed accessor: null (with the accessor's error) when there is
    // none; with take true the memory stops being current (the caller owns it).
    void* CurrentMemory(const char* accessor, bool take);
    void WaitEvent(int32_t timeoutMs) { queues_.WaitForAny(timeoutMs); }

    // ---- Relayed streams (relay_receiver.cpp) ----
    int32_t FreeStream(OrvexReceivedStream* stream);

    // ---- Queries (slave_queries.cpp) ----
    int32_t PingSlave(int32_t slave);
    int32_t CountSlaveJobs(int32_t slave);
    int32_t CountSlaveWorkers(int32_t slave);
    Char* GetSlaveJobInfos(int32_t slave, bool refresh);

    struct QueryOutcome {
        bool sent = false;     // the query left (the slot is connected)
        bool replied = false;  // the answer was stored
        bool failed = false;   // a receive failure, the peer's close or DeInit ended the wait
    };

    // ---- Receive batches (network_thread.cpp, master_dispatch.cpp) ----
    void OnBatchStart(int32_t slave) override;
    void OnBatchEnd(int32_t slave) override;
    void Dispatch(int32_t slave, std::span<uint8_t> body) override;
    void OnReceiveError(int32_t slave) override;

  private:
    explicit Master(RelayHandler relayHandler);
    bool Start();

    // Slave table.
    SlaveSlot* SlotAt(int32_t slave);  // null outside 0 ... slaveSlots
    // SlotAt for a query: null with the function's "invalid slave number" error.
    SlaveSlot* QuerySlot(int32_t slave, const char* function);
    SlaveSlot* SlotForHandle(net::Handle handle, int32_t& slave);
    void CloseRemovedConnections();  // network thread
    void CloseAllConnections();      // DeInit

    // Writes one packet to a slave: -1 on failure, 0 when the slot is not connected.
    int32_t SendToSlave(SlaveSlot& slot, std::span<const uint8_t> head,
                        std::span<const uint8_t> tail = {});

    // Threads.
    void NetworkLoop();
    void StartBatch(SlaveSlot& slot, int32_t slave);
    void RunBatch(SlaveSlot& slot, int32_t slave);
    void CallbackLoop();
    void StopThreads();

    // Dispatch of single messages.
    void HandleStatus(SlaveSlot& slot, int32_t slave, std::span<const uint8_t> body);
    void HandleJobEvent(int32_t slave, int32_t code, int32_t jobId, std::span<const uint8_t> body);
    void HandleStreamAck(SlaveSlot& slot, std::span<const uint8_t> body);
    void StoreReply(SlaveSlot& slot, std::span<const uint8_t> body, int32_t command);
    void WakeQuery(SlaveSlot& slot);
    void FailPendingAck(SlaveSlot& slot);

    // Stream sending.
    int32_t SendStream(SlaveSlot& slot, int32_t slave, int32_t jobId, const JobOrder& order);
    bool TransferBlocks(SlaveSlot& slot, int32_t slave, const JobOrder& order);
    bool WaitForAck(SlaveSlot& slot);
    void SendStreamEnd(SlaveSlot& slot, int32_t target, uint32_t crc, int32_t cancel);

    // Relayed stream reception.
    void HandleRelayStart(SlaveSlot& slot, int32_t slave, std::span<const uint8_t> body);
    void HandleRelayBlock(SlaveSlot& slot, std::span<const uint8_t> body);
    void HandleRelayEnd(SlaveSlot& slot, std::span<const uint8_t> body);
    void StartRelayHandler(int32_t slave, int32_t streamId, Text name, ParameterListPtr params,
                           OrvexReceivedStream* stream);
    void ReapRelayThreads(bool all);
    size_t RunningRelayHandlers();
    // Relay handlers that may run at once; a slave that starts more streams than this is
    // refused rather than given a thread per stream without limit.
    static constexpr size_t kMaxRelayHandlers = 256;
    void FailUnfinishedStreams();

    // Sends a query and waits (bounded) until isAnswer (null: any reply) holds for the
    // stored reply, or a receive failure ends the wait.
    QueryOutcome Ask(SlaveSlot& slot, std::span<const uint8_t> query,
                     const std::function<bool(const SlaveSlot&)>& isAnswer = nullptr);

    protocol::CompressionSettings Compression() const {
        return {compressionThreshold_.load(), compressionLevel_.load()};
    }

    const RelayHandler relayHandler_;
    LastError lastError_;

    // Settings, read without a lock at their next use.
    std::atomic<bool> threadReceive_{false};
    std::atomic<int32_t> receiveBlockSize_{protocol::kDefaultReceiveBlockSize};
    std::atomic<int32_t> compressionThreshold_{0};
    std::atomic<int32_t> compressionLevel_{0};
    std::atomic<int32_t> streamTimeout_{5000};
    std::atomic<int32_t> streamRetries_{3};

    // Slave table.
    mutable std::mutex tableLock_;                  // guards slots_, handleMap_ and pendingCloses_
    std::deque<std::unique_ptr<SlaveSlot>> slots_;  // index = slave number; 0 never connected
    std::unordered_map<net::Handle, int32_t> handleMap_;  // open connection -> slave number
    std::vector<int32_t> pendingCloses_;  // removed slaves whose connection is still open
    std::atomic<int32_t> slaveSlots_{0};
    std::atomic<int32_t> connectedSlaves_{0};

    // Jobs and events.
    JobTable jobTable_{256};
    EventQueues queues_;
    MasterEvent currentEvent_;  // one application thread polls events; no lock

    // Threads.
    net::Poller poller_;
    std::thread networkThread_;
    std::thread callbackThread_;
    std::atomic<bool> networkStop_{false};
    std::atomic<bool> callbackStop_{false};
    std::atomic<bool> stopping_{false};  // DeInit runs: waits end at once
    std::atomic<int32_t> batchRunning_{0};
    Semaphore batchDone_;  // raised at the end of a receive batch for the callback thread
    std::atomic<bool> callbackWaitsForBatch_{false};  // it waits for the running batch's end

    // Stream sending: one transfer at a time per master.
    RecursiveMutex streamLock_;  // held for a whole transfer
    std::atomic<bool> streamSending_{false};
    std::atomic<int32_t> ackOk_{0};
    std::atomic<int32_t> ackRefused_{0};

    // Relayed streams.
    std::mutex incomingStreamsLock_;  // guards incomingStreams_, every slot's streamMap and
                                      // the data of streams in a map
    std::unordered_map<OrvexReceivedStream*, std::unique_ptr<RelayedStream>> incomingStreams_;
    struct RelayThread {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::mutex relayThreadsLock_;  // guards relayThreads_
    std::list<RelayThread> relayThreads_;
};

}  // namespace orvex
