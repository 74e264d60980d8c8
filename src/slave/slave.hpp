// Slave: the serving side. It listens on a TCP port, numbers the masters that connect, runs
// the jobs that the application registered on its job pool and sends results, job messages
// and notices back.
//
// Threads. The server thread waits on the poller (until something happens, or at most 1 ms
// while messages wait in the resend queue), accepts connections, registers and closes masters and
// runs receive batches, in itself or, with receive threads on and at least two masters connected,
// in one thread per master at a time (joined before the next one starts and at DeInit). The
// callback thread delivers events (SlaveEvents). Job workers run jobs (jobPool_). Every link
// has a send worker for writes that have to wait (MasterLink). Application threads call the
// exports.
//
// Locks, in the order in which they may nest: registrationLock_ (connect and close of
// master entries), then a link's or an entry's own lock. The event lock, the stream table
// lock, the registry lock, the resend lock and the last-error lock are never held while
// another lock is taken. No lock is held while application code runs.
//
// Master numbers and connections. connectionMap_ maps a connection handle to its master
// number and is used by the server thread only. A handle that comes back after its
// connection closed (the system reuses descriptors) takes its old slot over. Each connection
// has its own MasterLink; queued jobs and resend entries hold the link of the connection
// they belong to, so nothing meant for a closed connection reaches a later one in the same
// slot. The server thread keeps every connection it watches in watched_ until the poller
// has reported it closed, so a descriptor is never closed while the poller can still report
// it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "Orvex.h"
#include "core/id_map.hpp"
#include "core/last_error.hpp"
#include "net/poller.hpp"
#include "slave/job_registry.hpp"
#include "slave/master_link.hpp"
#include "slave/master_table.hpp"
#include "slave/resend_queue.hpp"
#include "slave/slave_events.hpp"
#include "slave/statistics_hook.hpp"
#include "slave/stream_table.hpp"
#include "slave/task_pool.hpp"

namespace orvex {

struct JobRequest;

class Slave {
  public:
    // A slave listening on `port` (0: a free port, see Port) with max(workers, 1) job
    // workers; null when the port cannot be listened on.
    static std::unique_ptr<Slave> Create(int32_t port, int32_t workers);
    // Orvex_Slave_DeInit: stops everything in order (see slave.cpp).
    ~Slave();
    Slave(const Slave&) = delete;
    Slave& operator=(const Slave&) = delete;

    OrvexSlave* Handle() { return reinterpret_cast<OrvexSlave*>(this); }
    static Slave* FromHandle(OrvexSlave* handle) { return reinterpret_cast<Slave*>(handle); }

    // The port the slave listens on.
    int32_t Port() const { return port_; }
    int32_t WorkerCount() const { return workerCount_; }

    // Settings.
    void SetCallback(OrvexSlaveEventCallback callback, intptr_t userData) {
        events_.SetCallback(callback, userData);
    }
    void SetCompression(int32_t threshold, int32_t level) {
        sendSettings_.SetCompression(threshold, level);
    }
    void SetThreadReceive(bool enable) { threadReceive_.store(enable); }
    // Returns the previous size.
    int32_t SetReceiveBlockSize(int32_t size) { return receiveBlockSize_.exchange(size); }
    void SetLogEvents(bool enable) { events_.SetEnabled(enable); }

    // Last error.
    void SetError(std::string_view function, std::string_view reason);
    void SetErrorText(std::string_view text);
    const Char* LastErrorText() const { return lastError_.Get(); }

    // Masters.
    const MasterTable& Masters() const { return masters_; }
    int32_t ConnectedMasters() const { return connectedMasters_.load(); }
    // Calls fn for every connected master in increasing number until it returns 0.
    void IterateMasters(OrvexSlaveMasterIterator fn, intptr_t userData);
    // Queues the removal notice and closes the master after what was queued for it.
    void KickMaster(int32_t master);
    // Queues a body for a master; dropped when it is unknown or not connected.
    void SendTo(int32_t master, std::span<const uint8_t> head, std::span<const uint8_t> tail = {});

    // Jobs.
    void AddJob(TextView name, TextView description, OrvexJobFunction function, bool useCdecl);
    const JobRegistry& Registry() const { return registry_; }
    int32_t CountJobs() const { return jobPool_->Pending(); }
    void Pause();
    void Resume();

    // Events (polling).
    SlaveEvents& Events() { return events_; }

    // Streams.
    void FreeStream(OrvexReceivedStream* stream) { streams_.Free(stream); }
    int32_t OpenStreams() const { return streams_.Count(); }

    // Installs the statistics log; only the first call installs, later ones return false.
    bool InstallStatistics(std::unique_ptr<SlaveStatisticsHook> hook);
    SlaveStatisticsHook& Statistics() const { return *statistics_.load(std::memory_order_acquire); }
    int32_t StartTime() const { return startTime_; }
    int32_t JobsStarted() const { return jobPool_->Started(); }

  private:
    class Batch;
    friend class Batch;

    Slave(net::Handle server, int32_t workers);

    // Server thread.
    void ServerLoop();
    void HandleEvent(const net::PollEvent& event);
    void OnConnect(net::Handle handle);
    void OnData(net::Handle handle);
    void OnClose(net::Handle handle);
    void ForgetKicked();
    int32_t Register(net::Handle handle, const std::shared_ptr<MasterLink>& link);
    // Closes a connected master: event 1, statistics, wake. lastBody, if any, is the last
    // message its link sends. Returns its link (null when the master was not connected).
    std::shared_ptr<MasterLink> CloseMaster(int32_t master, bool drainFirst,
                                            std::span<const uint8_t> lastBody = {});
    void RunBatch(const std::shared_ptr<MasterLink>& link, int32_t master);
    void DiscardInput(MasterLink& link);
    void StopServerThread();

    // Receive dispatch (slave_dispatch.cpp).
    void Dispatch(Batch& batch, std::span<uint8_t> body);
    void HandleJobRequest(Batch& batch, std::span<uint8_t> body);
    void RelayStreamStart(Batch& batch, std::span<uint8_t> body, int32_t target);
    void HandleStreamBlock(Batch& batch, std::span<uint8_t> body);
    void HandleStreamEnd(Batch& batch, std::span<uint8_t> body);
    void RelayAck(Batch& batch, std::span<uint8_t> body);
    void ReceiveFailed(Batch& batch);
    std::shared_ptr<MasterLink> ConnectedLink(int32_t master) const;

    // Job execution (job_runner.cpp).
    void RunJob(JobRequest& request);
    void SendResult(JobRequest& request, OrvexReturnValue* result);

    void Event(int32_t type, int32_t master, TextView text = {});

    const net::Handle server_;
    const int32_t port_;
    const int32_t workerCount_;
    const int32_t startTime_;
    net::Poller poller_;

    std::atomic<bool> threadReceive_{false};
    std::atomic<int32_t> receiveBlockSize_;
    SendSettings sendSettings_;
    ResendQueue resend_;
    JobRegistry registry_;
    StreamTable streams_;
    LastError lastError_;
    SlaveEvents events_;

    MasterTable masters_;
    std::mutex registrationLock_;  // guards connect and close of entries, connectedMasters_
    std::atomic<int32_t> connectedMasters_{0};
    std::mutex pauseLock_;  // guards paused_ (the job pool is paused only through it)
    bool paused_ = false;
    IdMap<int32_t> connectionMap_;  // server thread only

    // Statistics: the hook in use (never null) and the installed one it may point to.
    SlaveStatisticsHook noStatistics_;
    std::atomic<SlaveStatisticsHook*> statistics_{&noStatistics_};
    std::mutex statisticsLock_;  // guards installedStatistics_
    std::unique_ptr<SlaveStatisticsHook> installedStatistics_;

    // Server thread state.
    std::atomic<bool> serverStop_{false};
    std::unordered_map<net::Handle, std::shared_ptr<MasterLink>> watched_;  // server thread
    std::vector<net::PollEvent> pollEvents_;                                // server thread
    std::mutex forgetLock_;                                                 // guards forget_
    // Kicked connections, handed from KickMaster to the server thread.
    std::vector<std::pair<net::Handle, std::shared_ptr<MasterLink>>> forget_;
    // Kicked connections stay watched, their input read and dropped, until the master closes
    // its end or their linger time is over: a socket closed with unread input is reset by the
    // system, which destroys what the master has not read yet (the removal notice last). The
    // links are held meanwhile: a link's last holder ends its writing and closes the
    // descriptor, which a new connection could then reuse.
    struct Lingering {
        net::Handle handle;
        std::shared_ptr<MasterLink> link;
        std::chrono::steady_clock::time_point until;
    };
    std::vector<Lingering> lingering_;  // server thread

    // Last: started after everything above exists, stopped first.
    std::unique_ptr<TaskPool> jobPool_;
    std::thread serverThread_;
};

}  // namespace orvex
