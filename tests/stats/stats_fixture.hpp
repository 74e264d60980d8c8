// Helpers of the statistics tests: a temporary folder, a reader that opens a log file with
// the plain sqlite3 API, a calendar clock the test sets, and a slave on a free port driven
// by raw wire peers.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "Orvex.h"
#include "core/clock.hpp"
#include "core/text.hpp"
#include "support/loopback.hpp"

namespace orvex::stats_test {

using Row = std::vector<std::string>;  // SQL NULL reads as "NULL"

// A folder made with mkdtemp, removed with everything in it when the test ends.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // UTF-8 path of a file in the folder.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A read-write connection of its own to a log file.
class LogFile {
  public:
    explicit LogFile(const std::string& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Every row of `sql`, every column as text.
    std::vector<Row> Rows(const std::string& sql);
    // The first column of the first row; "NONE" when there is no row.
    std::string Value(const std::string& sql);
    void Exec(const std::string& sql);

  private:
    sqlite3* db_ = nullptr;
};

// Calendar time set by the test; the millisecond clock stays the real one.
class TestClock : public ClockSource {
  public:
    TestClock() { SetClockSourceForTesting(this); }
    ~TestClock() override { SetClockSourceForTesting(nullptr); }
    int32_t CalendarTime() override { return calendar.load(); }
    int32_t Milliseconds() override;
    std::atomic<int32_t> calendar{1000};
};

// Slave events, for waiting on them.
class EventLog {
  public:
    static int32_t ORVEX_CALL Callback(OrvexSlave* slave, int32_t master, const OrvexChar* text,
                                       int32_t type, intptr_t userData);
    // Waits until `count` events of `type` for `master` were delivered.
    bool WaitFor(int32_t type, int32_t master, int count = 1);

  private:
    std::mutex lock_;  // guards events_
    std::condition_variable changed_;
    std::vector<std::pair<int32_t, int32_t>> events_;
};

// A slave on a free port whose events go to `events`.
struct TestSlave {
    explicit TestSlave(int32_t workers = 2);
    ~TestSlave();  // DeInit, unless DeInit() was called
    void DeInit();
    intptr_t Enable(const std::string& utf8File, int32_t categories);
    void AddJob(const std::string& utf8Name, const std::string& utf8Description,
                OrvexJobFunction function);

    // Connects a raw master and waits until the slave has registered it as `master`.
    test::RawPeer Connect(int32_t master);
    // Closes the peer and waits until the slave has seen it go.
    void Disconnect(test::RawPeer& peer, int32_t master);

    OrvexSlave* handle = nullptr;
    int32_t port = 0;
    EventLog events;
};

// Bodies a raw master sends.
std::vector<uint8_t> JobRequest(int32_t jobId, const std::string& utf8Name);
// Sends a ping and waits for its echo, skipping other replies: everything sent before has
// been handled.
void Sync(test::RawPeer& peer);
// Waits for the result message of `jobId`, skipping other replies.
bool WaitForResult(test::RawPeer& peer, int32_t jobId);

// The port of the peer's end of the connection, as the slave sees it.
int32_t LocalPortOf(const test::RawPeer& peer);

}  // namespace orvex::stats_test
