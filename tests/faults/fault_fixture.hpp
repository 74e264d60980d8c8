// Fixtures for the fault tests: a slave with jobs that the tests can hold and watch, raw
// masters and fake slaves on loopback connections that die in chosen ways, and bounded waits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Orvex.h"
#include "core/text.hpp"
#include "support/loopback.hpp"

namespace orvex::test {

// How a peer goes away: an orderly close (FIN) or an abortive one (RST), as when the process
// is killed with data still unread.
enum class Death { kClose, kReset };
const char* DeathName(Death death);
void Kill(RawPeer& peer, Death death);

// Under ThreadSanitizer everything runs several times slower: loops take fewer rounds.
#if defined(__SANITIZE_THREAD__)
inline constexpr int kSlowdown = 4;
#else
inline constexpr int kSlowdown = 1;
#endif

// Milliseconds since construction.
class Stopwatch {
  public:
    int64_t ElapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// A slave on a free loopback port with these jobs:
//   "gate"    counts its start, then blocks until the test opens the gate; returns Integer 1
//   "echo"    returns Integer (its Integer parameter + 1), counting its runs per master
//   "stream"  hands its stream to the test (TakeStream) and returns at once
//   "big"     returns kBigResult bytes, counting its runs (a master that does not read soon
//             has the slave's writes wait on a full socket)
// and an event callback that the tests wait on. One at a time per process.
class FaultSlave {
  public:
    explicit FaultSlave(int32_t workers);
    ~FaultSlave();
    FaultSlave(const FaultSlave&) = delete;
    FaultSlave& operator=(const FaultSlave&) = delete;

    OrvexSlave* handle() const { return slave_; }
    int32_t port() const { return port_; }

    // Waits (bounded) until at least `count` events of `type` have arrived.
    bool WaitForEvents(int32_t type, int count, int timeoutMs = 10000);
    int Events(int32_t type);
    // The master number of the n-th (1-based) event of `type`, 0 when there is none.
    int32_t MasterOfEvent(int32_t type, int n);

    void OpenGate();
    bool WaitGateEntered(int count, int timeoutMs = 10000);
    int EchoRuns(int32_t master);
    static constexpr int32_t kBigResult = 512 * 1024;
    bool WaitBigRuns(int count, int timeoutMs = 10000);
    // The stream handed to a "stream" job (waits, bounded); null when none came.
    OrvexReceivedStream* TakeStream(int timeoutMs = 10000);

    int32_t OpenStreams() const;

  private:
    static int32_t ORVEX_CALL OnEvent(OrvexSlave*, int32_t master, const OrvexChar*, int32_t type,
                                      intptr_t userData);
    static OrvexReturnValue* ORVEX_CALL Gate(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                             OrvexReceivedStream*);
    static OrvexReturnValue* ORVEX_CALL Echo(OrvexSlave*, int32_t master, int32_t,
                                             OrvexParameterList* params, OrvexReceivedStream*);
    static OrvexReturnValue* ORVEX_CALL Big(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                            OrvexReceivedStream*);
    static OrvexReturnValue* ORVEX_CALL Stream(OrvexSlave*, int32_t, int32_t, OrvexParameterList*,
                                               OrvexReceivedStream* stream);

    OrvexSlave* slave_ = nullptr;
    int32_t port_ = 0;

    std::mutex lock_;  // guards everything below
    std::condition_variable changed_;
    std::vector<std::pair<int32_t, int32_t>> events_;  // type, master
    bool gateOpen_ = false;
    int gateEntered_ = 0;
    std::map<int32_t, int> echoRuns_;
    int bigRuns_ = 0;
    std::vector<OrvexReceivedStream*> streams_;
};

// A raw master: a plain connection to a slave that sends hand-made messages.
RawPeer ConnectRawMaster(FaultSlave& slave);
std::vector<uint8_t> JobRequest(int32_t jobId, const std::string& name,
                                std::initializer_list<int32_t> integers = {}, int32_t command = 2,
                                int32_t streamSize = 0);
// Reads bodies until one starts with `type` and, when given, has `code` as its second word;
// empty on time-out.
std::vector<uint8_t> ReceiveUntil(RawPeer& peer, int32_t type, int32_t code = -1,
                                  int timeoutMs = 10000);
int32_t WordAt(const std::vector<uint8_t>& body, size_t index);

// A fake slave: a listener that accepts one master's connection and then speaks raw bytes.
class FakeSlave {
  public:
    FakeSlave();
    ~FakeSlave();
    int32_t port() const { return port_; }
    // Accepts the master's connection (after AddSlave); false on time-out.
    bool Accept();
    RawPeer& peer() { return peer_; }

  private:
    net::Handle listener_ = net::kInvalidHandle;
    int32_t port_ = 0;
    RawPeer peer_;
};

// A master with the event queue, connected to 127.0.0.1:port as slave 1.
OrvexMaster* ConnectMaster(int32_t port);
// Ends the calls of a test's master.
struct MasterCloser {
    void operator()(OrvexMaster* master) const { Orvex_Master_DeInit(master); }
};
using MasterPtr = std::unique_ptr<OrvexMaster, MasterCloser>;

// Runs one job of "echo" with `value` on slave 1 and waits (bounded) for its result through
// the event queue; the result value, or INT32_MIN when none came.
int32_t EchoThroughQueue(OrvexMaster* master, int32_t value, int timeoutMs = 10000);

std::string LastError(OrvexMaster* master);

}  // namespace orvex::test
