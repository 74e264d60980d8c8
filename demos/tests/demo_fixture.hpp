// What the program tests share: where the built programs and libraries are, starting the
// slave demo on a free port, and a scripted fake slave for the master demo and stream test.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "process.hpp"
#include "wire_peer.hpp"

namespace orvex::demo::testing {

std::string ProgramPath(const std::string& name);  // build/bin/NAME
std::string LibraryPath();                         // build/lib/libOrvex.so

// slave_demo --headless on a free port, started and ready (listening), or a test failure.
struct RunningSlaveDemo {
    std::unique_ptr<ChildProcess> process;
    int port = 0;
};
RunningSlaveDemo StartSlaveDemo();

// Waits for a line, and on failure adds the program's output to the test's message.
#define EXPECT_LINE(process, fragment, limit)               \
    EXPECT_TRUE((process).WaitForLine((fragment), (limit))) \
        << "no line with: " << (fragment) << "\n"           \
        << (process).Output()

// A fake slave: listens on a free port of 127.0.0.1 and runs `script` on the first
// connection in a thread of its own. The script should end once `stopping` is set.
class FakeSlave {
  public:
    using Script = std::function<void(WireConnection&, const std::atomic<bool>& stopping)>;
    explicit FakeSlave(Script script);
    ~FakeSlave();
    int port() const { return port_; }

  private:
    int port_ = 0;
    std::unique_ptr<WireListener> listener_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The replies of a slave that serves the demo's jobs well: queued, started, result.
std::vector<Bytes> GoodReplies(const ParsedJob& job);

// Serves job requests with `reply` until the connection closes or `stopping` is set.
void ServeJobs(WireConnection& connection, const std::atomic<bool>& stopping,
               const std::function<std::vector<Bytes>(const ParsedJob&)>& reply);

}  // namespace orvex::demo::testing
