// Fixture for wire-level tests of the master: a master under test and fake slaves made of raw
// sockets (a listener on 127.0.0.1, accepted by the test), which read the master's packets
// byte by byte and answer with hand-made bodies.
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
#include "net/socket.hpp"
#include "support/loopback.hpp"

namespace orvex::test {

// A text of this build from ASCII.
Text T(std::string_view ascii);

// One call of a job or event callback.
struct CallbackCall {
    int32_t slave = 0;
    int32_t jobId = 0;
    int32_t type = 0;
    std::vector<uint8_t> memory;
    intptr_t userData = 0;
};

// Records callback calls; a test waits for a number of them with a bound.
class CallbackLog {
  public:
    static int32_t ORVEX_CALL Record(OrvexMaster* master, int32_t slave, int32_t jobId,
                                     int32_t type, void* memory, int32_t memorySize,
                                     intptr_t userData);
    // The log a callback's user data points to: tests pass reinterpret_cast<intptr_t>(&log).
    intptr_t Data() { return reinterpret_cast<intptr_t>(this); }
    bool WaitFor(size_t count, int timeoutMs = 5000);
    std::vector<CallbackCall> Calls();

  private:
    std::mutex lock_;  // guards calls_
    std::condition_variable changed_;
    std::vector<CallbackCall> calls_;
};

// One call of the relay handler.
struct RelayCall {
    OrvexMaster* master = nullptr;
    int32_t slave = 0;
    int32_t streamId = 0;
    std::string name;
    bool hadParams = false;
    std::vector<int32_t> params;  // read as integers
    OrvexReceivedStream* stream = nullptr;
};

// Records the relay handler calls of every master made by the fixture. With waitForEnd the
// handler, like a real one, watches its stream until it leaves state 1 (bounded).
class RelayLog {
  public:
    static int32_t ORVEX_CALL Handler(OrvexMaster* master, int32_t slave, int32_t streamId,
                                      const OrvexChar* jobName, OrvexParameterList* params,
                                      OrvexReceivedStream* stream);
    static RelayLog& Instance();
    void Reset();
    bool WaitFor(size_t count, int timeoutMs = 5000);
    std::vector<RelayCall> Calls();
    std::atomic<bool> waitForEnd{false};
    std::atomic<int32_t> finalState{0};  // the state a waiting handler saw last

  private:
    std::mutex lock_;  // guards calls_
    std::condition_variable changed_;
    std::vector<RelayCall> calls_;
};

class MasterWireTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a fake slave to the master; `number` receives its slave number.
    RawPeer AddFakeSlave(int32_t* number = nullptr);
    int32_t Add(const std::string& host, int32_t port, const std::string& proxyHost = "");
    std::string LastError();
    // Waits (bounded) for the next event of the event queue and makes it current.
    bool NextEvent(int timeoutMs = 5000);
    // DoJob without a stream.
    int32_t Job(const std::string& name, int32_t slave, OrvexParameterList* params = nullptr,
                OrvexMasterCallback callback = nullptr, intptr_t userData = 0);

    OrvexMaster* master = nullptr;

  private:
    std::vector<net::Handle> listeners_;
};

}  // namespace orvex::test
