// The points at which a slave reports to its statistics log.
//
// The slave calls these from its own threads (server thread, receive threads, job workers,
// application threads) and never waits for the log: an implementation only queues records
// and wakes its own thread. The default implementation records nothing. A real log is
// installed once per slave (Slave::InstallStatistics) and lives until Orvex_Slave_DeInit,
// which calls RecordShutdown, then Stop, then destroys it.
#pragma once

#include <cstdint>

#include "core/text.hpp"

namespace orvex {

// Counters of a slave's run, taken at Orvex_Slave_DeInit.
struct SlaveRunSummary {
    int32_t startTime = 0;    // calendar time of Orvex_Slave_Init
    int32_t masterSlots = 0;  // master numbers given out
    int32_t jobsStarted = 0;  // jobs started by the job pool
    int32_t jobsPending = 0;  // jobs queued or running at shutdown
    int32_t jobsRunning = 0;  // of jobsPending, those running (they finish during DeInit)
};

class SlaveStatisticsHook {
  public:
    virtual ~SlaveStatisticsHook() = default;

    // Every event the slave produces, whether or not it is delivered to the application.
    virtual void RecordEvent(int32_t type, int32_t master) { (void)type, (void)master; }
    // Orvex_Slave_AddJob registered a job under `number`.
    virtual void RecordJobRegistered(int32_t number, TextView name, TextView description) {
        (void)number, (void)name, (void)description;
    }
    // A job request was accepted for running.
    virtual void RecordJobAccepted(int32_t jobNumber, int32_t master) {
        (void)jobNumber, (void)master;
    }
    // The slave stored an error text.
    virtual void RecordError(TextView text) { (void)text; }
    // A master connection was registered (new master number or a reused slot). `ip` is the
    // value Orvex_Slave_GetMasterIP reports.
    virtual void RecordMasterConnected(int32_t master, int32_t connectTime, int32_t ip,
                                       int32_t port) {
        (void)master, (void)connectTime, (void)ip, (void)port;
    }
    // A master connection was closed (by the master or by Orvex_Slave_KickMaster).
    virtual void RecordMasterClosed(int32_t master, int32_t connectTime) {
        (void)master, (void)connectTime;
    }
    // Orvex_Slave_DeInit: every master still logged in is logged off, and the run's summary.
    virtual void RecordShutdown(const SlaveRunSummary& summary) { (void)summary; }

    // A receive batch started or ended (the log's thread gives way to the receive path while
    // a batch runs and wakes at every batch end).
    virtual void BatchStarted() {}
    virtual void BatchEnded() {}

    // Writes what is queued and ends the log's thread; called once by Orvex_Slave_DeInit.
    virtual void Stop() {}
};

}  // namespace orvex
