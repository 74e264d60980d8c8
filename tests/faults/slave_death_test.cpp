// A slave that dies under a master (in the middle of a job or of a stream transfer) or stops
// answering. The master's calls that wait for the slave come back within their bounds and
// fail with their error texts; nothing blocks for good, and the master is released cleanly.
#include <future>

#include "fault_fixture.hpp"
#include "protocol/messages.hpp"

namespace orvex::test {
namespace {

// The queries of the master to slave 1 all fail.
void ExpectQueriesFail(OrvexMaster* master) {
    EXPECT_EQ(Orvex_Master_PingSlave(master, 1), -1);
    EXPECT_EQ(Orvex_Master_CountSlaveJobs(master, 1), -1);
    EXPECT_EQ(Orvex_Master_CountSlaveWorkers(master, 1), -1);
    OrvexChar* list = Orvex_Master_GetSlaveJobInfos(master, 1, 1);
    EXPECT_EQ(list, nullptr);
    Orvex_FreeMemory(list);
}

int32_t DoSimpleJob(OrvexMaster* master) {
    return Orvex_Master_DoJob(master, FromAscii("work").c_str(), 1, nullptr, nullptr, 0, nullptr, 0,
                              0, nullptr, 0, 0, 0);
}

class SlaveDeath : public ::testing::TestWithParam<Death> {
  protected:
    void SetUp() override {
        master.reset(ConnectMaster(fake.port()));
        ASSERT_TRUE(fake.Accept());
    }

    FakeSlave fake;
    MasterPtr master;
};

TEST_P(SlaveDeath, MidJobLaterCallsFailAtOnce) {
    const int32_t jobId = DoSimpleJob(master.get());
    ASSERT_GT(jobId, 0);
    const auto request = fake.peer().ReceiveBody();
    ASSERT_EQ(WordAt(request, 1), jobId);
    ASSERT_TRUE(fake.peer().SendBody(Words({2, 3, jobId})));
    ASSERT_TRUE(fake.peer().SendBody(Words({2, 2, jobId})));
    Kill(fake.peer(), GetParam());

    // Without an answer the queries would wait the full 5 s each.
    const Stopwatch watch;
    ExpectQueriesFail(master.get());
    EXPECT_EQ(DoSimpleJob(master.get()), 0);
    EXPECT_EQ(LastError(master.get()), "Orvex_Master_DoJob(): error while sending data");
    EXPECT_LT(watch.ElapsedMs(), 2000);

    // What the slave said before an orderly close was delivered (a reset may discard it).
    int seen = 0;
    while (Orvex_Master_Event(master.get()) != 0) {
        EXPECT_EQ(Orvex_Master_Event_JobId(master.get()), jobId);
        ++seen;
    }
    if (GetParam() == Death::kClose) {
        EXPECT_EQ(seen, 2);
    }
    EXPECT_LE(seen, 2);
}

TEST_P(SlaveDeath, MidStreamTheTransferEndsWithoutWaitingOutItsTimeOut) {
    // The slave accepts the stream of 16 blocks and four of them, then dies.
    constexpr int kAcknowledged = 5;
    std::vector<uint8_t> data(16 * 1024, 0x33);
    auto transfer = std::async(std::launch::async, [&] {
        return Orvex_Master_DoJob(master.get(), FromAscii("work").c_str(), 1, nullptr, nullptr, 0,
                                  data.data(), static_cast<int32_t>(data.size()), 1024, nullptr, 0,
                                  0, 0);
    });
    for (int acks = 0; acks < kAcknowledged; ++acks) {
        ASSERT_FALSE(fake.peer().ReceiveBody().empty());
        ASSERT_TRUE(fake.peer().SendBody(protocol::BuildStreamAck(0, 1, 0)));
    }
    ASSERT_FALSE(fake.peer().ReceiveBody().empty());  // the block it never acknowledges
    const Stopwatch watch;
    Kill(fake.peer(), GetParam());
    ASSERT_EQ(transfer.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(transfer.get(), 0);
    EXPECT_LT(watch.ElapsedMs(), 2000);  // the stream time-out is 5 s per try
    ExpectQueriesFail(master.get());
}

TEST_P(SlaveDeath, BeforeTheStreamIsAcceptedTheTransferFails) {
    std::vector<uint8_t> data(4096, 0x44);
    auto transfer = std::async(std::launch::async, [&] {
        return Orvex_Master_DoJob(master.get(), FromAscii("work").c_str(), 1, nullptr, nullptr, 0,
                                  data.data(), static_cast<int32_t>(data.size()), 0, nullptr, 0, 0,
                                  0);
    });
    ASSERT_FALSE(fake.peer().ReceiveBody().empty());  // the stream job request
    const Stopwatch watch;
    Kill(fake.peer(), GetParam());
    ASSERT_EQ(transfer.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(transfer.get(), 0);
    EXPECT_EQ(LastError(master.get()), "Orvex_Master_DoJob(): could not init stream");
    EXPECT_LT(watch.ElapsedMs(), 2000);
}

INSTANTIATE_TEST_SUITE_P(Deaths, SlaveDeath, ::testing::Values(Death::kClose, Death::kReset),
                         [](const auto& info) { return std::string(DeathName(info.param)); });

// A slave that stays connected but never answers: every wait ends at the stream time-out.
TEST(SilentSlave, QueriesAndStreamsEndAtTheirTimeOut) {
    FakeSlave fake;
    MasterPtr master(ConnectMaster(fake.port()));
    ASSERT_TRUE(fake.Accept());
    constexpr int32_t kTimeoutMs = 150;
    Orvex_Master_SetStreamOptions(master.get(), kTimeoutMs, 1);

    Stopwatch watch;
    EXPECT_EQ(Orvex_Master_PingSlave(master.get(), 1), -1);
    EXPECT_EQ(LastError(master.get()), "Orvex_Master_PingSlave(): timeout reached");
    EXPECT_GE(watch.ElapsedMs(), kTimeoutMs - 10);
    EXPECT_LT(watch.ElapsedMs(), 10 * kTimeoutMs);

    watch = Stopwatch();
    std::vector<uint8_t> data(4096, 0x55);
    EXPECT_EQ(
        Orvex_Master_DoJob(master.get(), FromAscii("work").c_str(), 1, nullptr, nullptr, 0,
                           data.data(), static_cast<int32_t>(data.size()), 0, nullptr, 0, 0, 0),
        0);
    EXPECT_EQ(LastError(master.get()), "Orvex_Master_DoJob(): could not init stream");
    EXPECT_LT(watch.ElapsedMs(), 10 * kTimeoutMs);

    // It answers again, the late reply to the ping that gave up first: that reply must not
    // pass for the answer to the next ping (whose half round trip would then be >= 75 ms).
    const auto stale = ReceiveUntil(fake.peer(), 5);
    ASSERT_FALSE(stale.empty());
    auto ping =
        std::async(std::launch::async, [&] { return Orvex_Master_PingSlave(master.get(), 1); });
    const auto fresh = ReceiveUntil(fake.peer(), 5);
    ASSERT_FALSE(fresh.empty());
    ASSERT_TRUE(fake.peer().SendBody(stale));
    ASSERT_TRUE(fake.peer().SendBody(fresh));
    const int32_t halfRoundTrip = ping.get();
    EXPECT_GE(halfRoundTrip, 0);
    EXPECT_LT(halfRoundTrip, kTimeoutMs / 2);
}

}  // namespace
}  // namespace orvex::test
