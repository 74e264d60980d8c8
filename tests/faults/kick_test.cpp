// A master that the slave removes gets the removal notice as the very last message, even while
// its jobs keep finishing on the workers: the master lets go of the slave at the notice, so a
// status after it would be a message for a job the master has already given up.
#include "fault_fixture.hpp"

namespace orvex::test {
namespace {

TEST(Kick, TheRemovalNoticeIsTheLastMessage) {
    FaultSlave slave(4);
    const int rounds = 40 / kSlowdown;
    for (int round = 1; round <= rounds; ++round) {
        SCOPED_TRACE(round);
        RawPeer peer = ConnectRawMaster(slave);
        const int32_t master = slave.MasterOfEvent(2, round);
        std::vector<uint8_t> burst;
        for (int32_t job = 1; job <= 200; ++job) {
            const auto packet = Frame(JobRequest(job, "echo", {job}));
            burst.insert(burst.end(), packet.begin(), packet.end());
        }
        ASSERT_TRUE(peer.Send(burst));
        ASSERT_FALSE(ReceiveUntil(peer, 2, 1).empty());  // results are coming
        EXPECT_EQ(Orvex_Slave_KickMaster(slave.handle(), master), 1);

        std::vector<uint8_t> last;
        for (std::vector<uint8_t> body; !(body = peer.ReceiveBody()).empty();) last = body;
        EXPECT_EQ(last, Words({2, 163, 0}));
    }
}

// The master reads nothing while results pile up, so the slave's writes wait on a full
// socket when the kick comes, and it goes on sending requests (the slave drops them unread).
// The notice still arrives, after all the results: the slave must neither stop writing nor
// close the socket with unread input, which would reset the connection and throw away what
// the system had not sent yet.
TEST(Kick, TheNoticeArrivesBehindResultsTheMasterHasNotReadYet) {
    FaultSlave slave(2);
    RawPeer peer = ConnectRawMaster(slave);
    constexpr int kJobs = 24;  // 12 MiB of results, far more than the socket holds
    std::vector<uint8_t> burst;
    for (int32_t job = 1; job <= kJobs; ++job) {
        const auto packet = Frame(JobRequest(job, "big"));
        burst.insert(burst.end(), packet.begin(), packet.end());
    }
    ASSERT_TRUE(peer.Send(burst));
    ASSERT_TRUE(slave.WaitBigRuns(kJobs));
    EXPECT_EQ(Orvex_Slave_KickMaster(slave.handle(), slave.MasterOfEvent(2, 1)), 1);
    std::vector<uint8_t> more;
    for (int32_t job = kJobs + 1; job <= kJobs + 100; ++job) {
        const auto packet = Frame(JobRequest(job, "echo", {job}));
        more.insert(more.end(), packet.begin(), packet.end());
    }
    peer.Send(more);  // may fail once the slave is gone; the reads below tell

    int results = 0;
    std::vector<uint8_t> last;
    for (std::vector<uint8_t> body; !(body = peer.ReceiveBody()).empty();) {
        results += WordAt(body, 0) == 2 && WordAt(body, 1) == 1 ? 1 : 0;
        last = body;
    }
    // The two workers may still have been between returning and queueing their results when
    // the kick came; everything queued before it arrives.
    EXPECT_GE(results, kJobs - 2);
    EXPECT_EQ(last, Words({2, 163, 0}));
    EXPECT_EQ(slave.EchoRuns(slave.MasterOfEvent(2, 1)), 0);  // nothing after the kick ran
}

}  // namespace
}  // namespace orvex::test
