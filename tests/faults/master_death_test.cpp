// A master that dies while it talks to a slave: in the middle of a packet, in the middle of a
// stream, or with jobs queued. The slave notices the close, frees what the dead master had
// (its stream, its queued jobs, its job count) and goes on serving the others.
#include <atomic>

#include "fault_fixture.hpp"
#include "protocol/messages.hpp"

namespace orvex::test {
namespace {

class MasterDeath : public ::testing::TestWithParam<Death> {
  protected:
    // The survivor is master 1: registered before any raw master connects.
    void SetUp() override { ASSERT_TRUE(slave.WaitForEvents(2, 1)); }

    // Waits until the slave has closed the `n`-th master that left and returns its number.
    int32_t WaitForLeave(int n) {
        EXPECT_TRUE(slave.WaitForEvents(1, n));
        return slave.MasterOfEvent(1, n);
    }

    FaultSlave slave{1};
    MasterPtr survivor{ConnectMaster(slave.port())};
};

// How much of a packet the master got out before it died.
struct Cut {
    const char* name;
    size_t bytes;  // of the framed job request below
};

TEST_P(MasterDeath, MidPacketLeavesTheOthersServed) {
    const std::vector<uint8_t> packet = Frame(JobRequest(1, "echo", {1, 2, 3}));
    const Cut cuts[] = {{"in the header", 5},
                        {"after the header", 8},
                        {"in the name", 30},
                        {"one byte short", packet.size() - 1}};
    int left = 0;
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.name);
        RawPeer dying = ConnectRawMaster(slave);
        ASSERT_TRUE(dying.Send({packet.data(), cut.bytes}));
        Kill(dying, GetParam());
        const int32_t dead = WaitForLeave(++left);
        EXPECT_EQ(slave.EchoRuns(dead), 0);  // half a request never runs
        EXPECT_EQ(EchoThroughQueue(survivor.get(), 41), 42);
    }
    EXPECT_EQ(Orvex_Slave_CountMasters(slave.handle()), 1);
}

TEST_P(MasterDeath, MidStreamFailsTheStreamAndFreesIt) {
    RawPeer dying = ConnectRawMaster(slave);
    ASSERT_TRUE(dying.SendBody(JobRequest(7, "stream", {}, 161, 1000)));
    const auto accepted = ReceiveUntil(dying, 160);
    ASSERT_EQ(WordAt(accepted, 2), 1);
    const std::vector<uint8_t> data(100, 0x5A);
    ASSERT_TRUE(dying.SendBody(protocol::BuildStreamBlock(0, 0, data)));
    ASSERT_EQ(WordAt(ReceiveUntil(dying, 160), 2), 1);  // block stored
    OrvexReceivedStream* stream = slave.TakeStream();
    ASSERT_NE(stream, nullptr);

    Kill(dying, GetParam());
    WaitForLeave(1);
    // The job that holds the stream learns that nothing more will come.
    EXPECT_EQ(std::atomic_ref<int32_t>(stream->state).load(), 3);
    EXPECT_EQ(std::atomic_ref<int32_t>(stream->received).load(), 100);
    Orvex_Slave_FreeStream(slave.handle(), stream);
    EXPECT_EQ(slave.OpenStreams(), 0);
    EXPECT_EQ(EchoThroughQueue(survivor.get(), 1), 2);
}

TEST_P(MasterDeath, MidStreamOfARefusedJobFreesTheStream) {
    // The stream of a job that does not exist is taken (so the sender's transfer could end
    // normally) and is the slave's own to release.
    RawPeer dying = ConnectRawMaster(slave);
    ASSERT_TRUE(dying.SendBody(JobRequest(8, "missing", {}, 161, 1 << 20)));
    ASSERT_EQ(WordAt(ReceiveUntil(dying, 160), 2), 1);
    ASSERT_EQ(WordAt(ReceiveUntil(dying, 2, 6), 2), 8);  // unknown job
    ASSERT_TRUE(dying.SendBody(protocol::BuildStreamBlock(0, 0, std::vector<uint8_t>(4096, 1))));
    ASSERT_EQ(WordAt(ReceiveUntil(dying, 160), 2), 1);
    EXPECT_EQ(slave.OpenStreams(), 1);

    Kill(dying, GetParam());
    WaitForLeave(1);
    EXPECT_EQ(slave.OpenStreams(), 0);
}

TEST_P(MasterDeath, WithJobsQueuedDropsThemAndServesTheNext) {
    RawPeer dying = ConnectRawMaster(slave);
    constexpr int kQueued = 20;
    std::vector<uint8_t> burst = Frame(JobRequest(1, "gate"));
    for (int i = 0; i < kQueued; ++i) {
        const auto more = Frame(JobRequest(2 + i, "echo", {i}));
        burst.insert(burst.end(), more.begin(), more.end());
    }
    ASSERT_TRUE(dying.Send(burst));
    for (int32_t last = 0; last != 1 + kQueued;) {  // every request queued
        const auto queued = ReceiveUntil(dying, 2, 3);
        ASSERT_FALSE(queued.empty());
        last = WordAt(queued, 2);
    }
    ASSERT_TRUE(slave.WaitGateEntered(1));  // the gate job holds the only worker
    const int32_t dead = slave.MasterOfEvent(2, 2);
    EXPECT_EQ(Orvex_Slave_CountMasterJobs(slave.handle(), dead), 1 + kQueued);

    Kill(dying, GetParam());
    EXPECT_EQ(WaitForLeave(1), dead);
    slave.OpenGate();
    // The survivor's job queues behind the dead master's: its result means they were dealt
    // with, and none of them ran.
    EXPECT_EQ(EchoThroughQueue(survivor.get(), 9), 10);
    EXPECT_EQ(slave.EchoRuns(dead), 0);
    EXPECT_EQ(Orvex_Slave_CountMasterJobs(slave.handle(), dead), 0);
}

INSTANTIATE_TEST_SUITE_P(Deaths, MasterDeath, ::testing::Values(Death::kClose, Death::kReset),
                         [](const auto& info) { return std::string(DeathName(info.param)); });

}  // namespace
}  // namespace orvex::test
