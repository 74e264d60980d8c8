// End-to-end fixture: a slave on a free loopback port with a set of jobs, and a master
// connected to it, in one process.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Orvex.h"
#include "core/text.hpp"

namespace orvex::test {

Text T(std::string_view ascii);

// A job or event callback's calls, waited for with a bound.
struct Delivery {
    int32_t slave = 0;
    int32_t jobId = 0;
    int32_t type = 0;
    std::vector<uint8_t> memory;
    intptr_t userData = 0;
};

class DeliveryLog {
  public:
    // userData of the job: the log itself; see Tagged for per-job tags.
    static int32_t ORVEX_CALL Record(OrvexMaster* master, int32_t slave, int32_t jobId,
                                     int32_t type, void* memory, int32_t memorySize,
                                     intptr_t userData);
    bool WaitFor(size_t count, int timeoutMs = 10000);
    std::vector<Delivery> Calls();

  private:
    std::mutex lock_;  // guards calls_
    std::condition_variable changed_;
    std::vector<Delivery> calls_;
};

// Every DeliveryLog-recorded job carries a tag in userData; the log is found through it.
struct Tagged {
    DeliveryLog* log;
    int32_t tag;
};

// Slave events, waited for with a bound.
class SlaveEventLog {
  public:
    static int32_t ORVEX_CALL Record(OrvexSlave* slave, int32_t master, const OrvexChar* text,
                                     int32_t type, intptr_t userData);
    bool WaitFor(int32_t type, size_t count, int timeoutMs = 10000);

  private:
    std::mutex lock_;  // guards events_
    std::condition_variable changed_;
    std::vector<std::pair<int32_t, int32_t>> events_;  // type, master
};

// One relayed stream as the receiving master's handler saw it once it had ended.
struct RelayRecord {
    int32_t slave = 0;
    int32_t streamId = 0;
    std::string name;
    std::vector<int32_t> params;
    int32_t state = 0;
    std::vector<uint8_t> data;
};

class RelayRecords {
  public:
    // Waits (bounded) for its stream to end, records it and frees it.
    static int32_t ORVEX_CALL Handler(OrvexMaster* master, int32_t slave, int32_t streamId,
                                      const OrvexChar* jobName, OrvexParameterList* params,
                                      OrvexReceivedStream* stream);
    static RelayRecords& Instance();
    void Reset();
    bool WaitFor(size_t count, int timeoutMs = 10000);
    std::vector<RelayRecord> Records();

  private:
    std::mutex lock_;  // guards records_
    std::condition_variable changed_;
    std::vector<RelayRecord> records_;
};

class EndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A new master connected to the slave (its number on the slave is the connect order).
    OrvexMaster* NewMaster(int32_t* slaveNumber = nullptr);
    // Waits (bounded) for the next polled event of `m`.
    bool NextEvent(OrvexMaster* m, int timeoutMs = 10000);
    int32_t Job(OrvexMaster* m, const std::string& name, OrvexParameterList* params = nullptr,
                OrvexMasterCallback callback = nullptr, intptr_t userData = 0);

    OrvexSlave* slave = nullptr;
    int32_t port = 0;
    OrvexMaster* master = nullptr;  // the first master, slave number 1
    SlaveEventLog slaveEvents;

  private:
    std::vector<OrvexMaster*> masters_;
};

}  // namespace orvex::test
