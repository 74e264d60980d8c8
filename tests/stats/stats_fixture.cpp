#include "stats/stats_fixture.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>

#include "protocol/messages.hpp"
#include "slave/slave.hpp"

namespace orvex::stats_test {
namespace {

constexpr int kWaitMs = 5000;

}  // namespace

TempFolder::TempFolder() {
    std::string pattern = std::filesystem::temp_directory_path() / "orvex-stats-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    EXPECT_FALSE(path_.empty());
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

LogFile::LogFile(const std::string& path) {
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK)
        << path;
    sqlite3_busy_timeout(db_, kWaitMs);
}

LogFile::~LogFile() {
    sqlite3_close(db_);
}

std::vector<Row> LogFile::Rows(const std::string& sql) {
    std::vector<Row> rows;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db_);
    while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
        Row row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            row.emplace_back(text != nullptr ? text : "NULL");
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    return rows;
}

std::string LogFile::Value(const std::string& sql) {
    const std::vector<Row> rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? "NONE" : rows[0][0];
}

void LogFile::Exec(const std::string& sql) {
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << sql << ": " << (message != nullptr ? message : "");
    sqlite3_free(message);
}

int32_t TestClock::Milliseconds() {
    using namespace std::chrono;
    return static_cast<int32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int32_t ORVEX_CALL EventLog::Callback(OrvexSlave*, int32_t master, const OrvexChar*, int32_t type,
                                      intptr_t userData) {
    auto* self = reinterpret_cast<EventLog*>(userData);
    {
        std::scoped_lock guard(self->lock_);
        self->events_.emplace_back(type, master);
    }
    self->changed_.notify_all();
    return 0;
}

bool EventLog::WaitFor(int32_t type, int32_t master, int count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(kWaitMs), [&] {
        int seen = 0;
        for (const auto& [t, m] : events_) seen += t == type && m == master ? 1 : 0;
        return seen >= count;
    });
}

TestSlave::TestSlave(int32_t workers) {
    handle = Orvex_Slave_Init(0, workers);
    EXPECT_NE(handle, nullptr);
    if (handle == nullptr) return;
    port = Slave::FromHandle(handle)->Port();
    Orvex_Slave_SetCallback(handle, &EventLog::Callback, reinterpret_cast<intptr_t>(&events));
}

TestSlave::~TestSlave() {
    DeInit();
}

void TestSlave::DeInit() {
    if (handle != nullptr) Orvex_Slave_DeInit(handle);
    handle = nullptr;
}

intptr_t TestSlave::Enable(const std::string& utf8File, int32_t categories) {
    const Text file = FromUtf8(utf8File);
    return Orvex_Slave_EnableStatistics(handle, file.c_str(), categories);
}

void TestSlave::AddJob(const std::string& utf8Name, const std::string& utf8Description,
                       OrvexJobFunction function) {
    const Text name = FromUtf8(utf8Name);
    const Text description = FromUtf8(utf8Description);
    Orvex_Slave_AddJob(handle, name.c_str(), description.c_str(), function, 0);
}

test::RawPeer TestSlave::Connect(int32_t master) {
    test::RawPeer peer = test::RawPeer::ConnectTo(port);
    EXPECT_TRUE(peer.Connected());
    EXPECT_TRUE(events.WaitFor(2, master)) << "master " << master << " not registered";
    return peer;
}

void TestSlave::Disconnect(test::RawPeer& peer, int32_t master) {
    peer.Close();
    EXPECT_TRUE(events.WaitFor(1, master)) << "master " << master << " not closed";
}

std::vector<uint8_t> JobRequest(int32_t jobId, const std::string& utf8Name) {
    protocol::JobRequestHead head;
    head.jobId = jobId;
    const std::vector<uint8_t> noParameters = test::Words({0});
    return protocol::BuildJobRequest(head, FromUtf8(utf8Name), noParameters);
}

void Sync(test::RawPeer& peer) {
    static std::atomic<int32_t> stamp{7000};
    const int32_t mine = stamp.fetch_add(1);
    ASSERT_TRUE(peer.SendBody(test::Words({protocol::kCmdPing, mine})));
    for (;;) {
        const std::vector<uint8_t> body = peer.ReceiveBody(kWaitMs);
        ASSERT_FALSE(body.empty()) << "no ping echo";
        if (body == test::Words({protocol::kCmdPing, mine})) return;
    }
}

bool WaitForResult(test::RawPeer& peer, int32_t jobId) {
    for (;;) {
        const std::vector<uint8_t> body = peer.ReceiveBody(kWaitMs);
        if (body.size() < 12) return false;
        if (protocol::ReadLe32(body.data()) == 2 &&
            protocol::ReadLe32(body.data() + 4) == protocol::kStatusResult &&
            protocol::ReadLe32(body.data() + 8) == jobId) {
            return true;
        }
    }
}

int32_t LocalPortOf(const test::RawPeer& peer) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(peer.handle(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

}  // namespace orvex::stats_test
