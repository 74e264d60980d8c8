// Shared helpers of the slave tests: a slave on a free loopback port, raw masters that talk
// to it byte by byte, an event recorder, and job functions whose behaviour tests control.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Orvex.h"
#include "core/text.hpp"
#include "protocol/messages.hpp"
#include "slave/slave.hpp"
#include "support/loopback.hpp"

namespace orvex::test {

using Body = std::vector<uint8_t>;

// A job request body (command 2, or 161 with target and stream size) for `name` in this
// build's characters, with a parameter block (default: the empty one).
Body JobRequestBody(int32_t jobId, const std::string& name, Body params = Words({0}),
                    int32_t priority = 0);
Body StreamJobBody(int32_t jobId, const std::string& name, int32_t target, int32_t streamSize,
                   Body params = Words({0}));
// A parameter block holding the given 32-bit integers.
Body IntParams(std::initializer_list<int32_t> values);
// The result message {2, 1, id, 4, value}.
Body IntResult(int32_t jobId, int32_t value);
// Bytes of a text in this build's characters, without terminator.
Body TextBytes(const std::string& ascii);

// Slave events delivered to a callback, for tests that wait on them.
class EventRecorder {
  public:
    struct Event {
        int32_t type;
        int32_t master;
        std::string text;
    };
    static int32_t ORVEX_CALL Callback(OrvexSlave* slave, int32_t master, const OrvexChar* text,
                                       int32_t type, intptr_t userData);
    static constexpr int32_t kAnyMaster = -1;
    // Waits until `count` events of that type and master (or any master) were recorded.
    bool WaitFor(int32_t type, int32_t master, size_t count = 1, int timeoutMs = 5000);
    std::vector<Event> Events();

  private:
    size_t CountLocked(int32_t type, int32_t master) const;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// Test-controlled job behaviour. Job functions are plain functions (as applications write
// them); they read the probe's state.
struct JobProbe {
    std::mutex lock;
    std::condition_variable changed;
    int calls = 0;
    int running = 0;
    bool gateOpen = true;  // Blocking jobs wait until it opens
    std::vector<std::string> accessNames;
    int32_t accessAnswer = 1;
    // Last stream seen by the stream job.
    int32_t streamState = 0;
    int32_t streamReceived = 0;
    uint32_t streamCrc = 0;
    bool cancelStream = false;

    void Reset();
    void OpenGate();
    bool WaitRunning(int count, int timeoutMs = 5000);
    bool WaitCalls(int count, int timeoutMs = 5000);
};
JobProbe& Probe();

OrvexReturnValue* ORVEX_CALL SumJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                    OrvexReceivedStream*);
OrvexReturnValue* ORVEX_CALL NullJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                     OrvexReceivedStream*);
OrvexReturnValue* ORVEX_CALL BlockingJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                         OrvexReceivedStream*);
OrvexReturnValue* ORVEX_CALL MessageJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                        OrvexReceivedStream*);
OrvexReturnValue* ORVEX_CALL StreamJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                       OrvexReceivedStream*);
OrvexReturnValue* ORVEX_CALL BigJob(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                    OrvexReceivedStream*);
int32_t ORVEX_CALL RecordingAccessCheck(OrvexSlave*, int32_t, const OrvexChar*);

class SlaveTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Registers the jobs "Sum", "Null", "Blocking", "Messages", "Stream" and "Big".
    void RegisterJobs();
    // Connects a raw master and waits until the slave has registered it (callback mode) or
    // has answered a ping (polling mode, which leaves events 2 and 8 queued).
    RawPeer Connect();
    // The next body from a peer, failing the test on time-out.
    Body Next(RawPeer& peer, int timeoutMs = 5000);
    // Sends a ping and waits for its echo: everything sent before has been handled.
    void Sync(RawPeer& peer);
    // True when the slave still serves a new connection (ping echo).
    bool StillServes();

    OrvexSlave* slave = nullptr;
    int32_t port = 0;
    int32_t connected = 0;  // connections made through Connect
    EventRecorder recorder;
    bool useCallback = true;
};

}  // namespace orvex::test
