// Queries: each sends its 8-byte message and waits (bounded) for the fake slave's answer.
#include <atomic>
#include <chrono>
#include <future>

#include "master_fixture.hpp"

namespace orvex::test {
namespace {

std::vector<uint8_t> JobList(const std::string& ascii) {
    const Text text = T(ascii);
    std::vector<uint8_t> body = Words({1, 0});
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    body.insert(body.end(), bytes, bytes + text.size() * sizeof(OrvexChar));
    return body;
}

std::string TakeText(OrvexChar* text) {
    if (text == nullptr) return "(null)";
    std::string out = Narrow(ViewOf(text));
    Orvex_FreeMemory(text);
    return out;
}

TEST_F(MasterWireTest, PingIsEchoedAndAStaleEchoIsNotTakenForIt) {
    RawPeer slave = AddFakeSlave();
    auto ping = std::async(std::launch::async, [&] { return Orvex_Master_PingSlave(master, 1); });
    const std::vector<uint8_t> query = slave.ReceiveBody();
    ASSERT_EQ(query.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(query.begin(), query.begin() + 4), Words({5}));
    std::vector<uint8_t> stale = query;
    stale[4] ^= 1;
    slave.SendBody(stale);
    EXPECT_EQ(ping.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    slave.SendBody(query);
    const int32_t halfTrip = ping.get();
    EXPECT_GE(halfTrip, 0);
    EXPECT_LT(halfTrip, 1000);
}

TEST_F(MasterWireTest, CountQueriesAndTheCachedWorkerCount) {
    RawPeer slave = AddFakeSlave();
    const auto answer = [&](std::vector<int32_t> expectedQuery, std::vector<uint8_t> reply) {
        EXPECT_EQ(slave.ReceiveBody(), Words({expectedQuery[0], expectedQuery[1]}));
        slave.SendBody(reply);
    };
    auto jobs =
        std::async(std::launch::async, [&] { return Orvex_Master_CountSlaveJobs(master, 1); });
    answer({3, 0}, Words({3, 3}));
    EXPECT_EQ(jobs.get(), 3);

    // The worker count is asked for until it is non-zero, then taken from the slot.
    auto workers =
        std::async(std::launch::async, [&] { return Orvex_Master_CountSlaveWorkers(master, 1); });
    answer({4, 0}, Words({4, 0}));
    EXPECT_EQ(workers.get(), 0);
    workers =
        std::async(std::launch::async, [&] { return Orvex_Master_CountSlaveWorkers(master, 1); });
    answer({4, 0}, Words({4, 4}));
    EXPECT_EQ(workers.get(), 4);
    EXPECT_EQ(Orvex_Master_CountSlaveWorkers(master, 1), 4);
    EXPECT_TRUE(NothingArrives(slave.handle(), 20));
}

TEST_F(MasterWireTest, JobListIsKeptUntilRefreshed) {
    RawPeer slave = AddFakeSlave();
    auto list = std::async(std::launch::async,
                           [&] { return TakeText(Orvex_Master_GetSlaveJobInfos(master, 1, 0)); });
    EXPECT_EQ(slave.ReceiveBody(), Words({1, 0}));
    slave.SendBody(JobList("CRC_Text - checksum"));
    EXPECT_EQ(list.get(), "CRC_Text - checksum");
    EXPECT_EQ(TakeText(Orvex_Master_GetSlaveJobInfos(master, 1, 0)), "CRC_Text - checksum");
    EXPECT_TRUE(NothingArrives(slave.handle(), 20));

    list = std::async(std::launch::async,
                      [&] { return TakeText(Orvex_Master_GetSlaveJobInfos(master, 1, 1)); });
    EXPECT_EQ(slave.ReceiveBody(), Words({1, 0}));
    slave.SendBody(JobList("Other"));
    EXPECT_EQ(list.get(), "Other");
}

TEST_F(MasterWireTest, QueriesWithoutAnAnswerFailInsteadOfBlocking) {
    RawPeer slave = AddFakeSlave();
    Orvex_Master_SetStreamOptions(master, 100, 3);  // also bounds the query wait
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Orvex_Master_CountSlaveJobs(master, 1), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(LastError(), "Orvex_Master_CountSlaveJobs(): timeout reached");
    EXPECT_EQ(Orvex_Master_PingSlave(master, 1), -1);
    EXPECT_EQ(LastError(), "Orvex_Master_PingSlave(): timeout reached");

    // A removed slave (and number 0) cannot answer: the query fails at once.
    Orvex_Master_SetStreamOptions(master, 60000, 3);
    ASSERT_EQ(Orvex_Master_RemoveSlave(master, 1), 1);
    EXPECT_EQ(Orvex_Master_CountSlaveJobs(master, 1), -1);
    EXPECT_EQ(LastError(), "Orvex_Master_CountSlaveJobs(): error while sending");
    EXPECT_EQ(Orvex_Master_GetSlaveJobInfos(master, 0, 1), nullptr);
    EXPECT_EQ(LastError(), "Orvex_Master_GetSlaveJobInfos(): error while sending");
    EXPECT_EQ(Orvex_Master_CountSlaveWorkers(master, 1), -1);
    EXPECT_EQ(Orvex_Master_PingSlave(master, 0), -1);
}

TEST_F(MasterWireTest, SlavesReceiveFailureEndsTheWaitWithTheStoredReply) {
    RawPeer slave = AddFakeSlave();
    Orvex_Master_SetStreamOptions(master, 60000, 3);
    auto jobs =
        std::async(std::launch::async, [&] { return Orvex_Master_CountSlaveJobs(master, 1); });
    slave.ReceiveBody();
    slave.SendBody(Words({3, 5}));
    EXPECT_EQ(jobs.get(), 5);
    jobs = std::async(std::launch::async, [&] { return Orvex_Master_CountSlaveJobs(master, 1); });
    slave.ReceiveBody();
    slave.SendBody(Words({2, 255, 0}));
    EXPECT_EQ(jobs.get(), 5);
    ASSERT_TRUE(NextEvent());
    EXPECT_EQ(Orvex_Master_Event_Type(master), 255);
}

struct QueryFromCallback {
    std::atomic<int32_t> count{-2};
    std::atomic<bool> done{false};
};

int32_t ORVEX_CALL CountInCallback(OrvexMaster* master, int32_t slave, int32_t, int32_t, void*,
                                   int32_t, intptr_t userData) {
    auto* state = reinterpret_cast<QueryFromCallback*>(userData);
    state->count = Orvex_Master_CountSlaveJobs(master, slave);
    state->done = true;
    state->done.notify_all();
    return 0;
}

TEST_F(MasterWireTest, ACallbackMayQueryItsSlave) {
    RawPeer slave = AddFakeSlave();
    static QueryFromCallback state;  // outlives the callback thread's last touch
    state.count = -2;
    state.done = false;
    const int32_t id = Job("a", 1, nullptr, &CountInCallback, reinterpret_cast<intptr_t>(&state));
    slave.ReceiveBody();  // the job request
    slave.SendBody(Words({2, 3, id}));
    EXPECT_EQ(slave.ReceiveBody(), Words({3, 0}));
    slave.SendBody(Words({3, 2}));
    state.done.wait(false);
    EXPECT_EQ(state.count.load(), 2);
}

}  // namespace
}  // namespace orvex::test
