// Many masters connect, send jobs and go away (politely or not) against one slave while a
// steady master keeps its jobs running. Every job of the steady master finishes with the
// right result, the slave sees every other master leave and still serves the steady one, and
// the whole run is bounded.
#include <atomic>
#include <thread>

#include "fault_fixture.hpp"

namespace orvex::test {
namespace {

// One short-lived master: connects, sends a few jobs, waits for the first result only on
// some rounds, and leaves in the round's way.
void ChurnOnce(int32_t port, int round) {
    switch (round % 4) {
        case 0: {  // a library master that waits for one result, then releases itself
            MasterPtr master(ConnectMaster(port));
            EXPECT_EQ(EchoThroughQueue(master.get(), round), round + 1);
            break;
        }
        case 1: {  // a library master that leaves with its jobs still queued or running
            MasterPtr master(ConnectMaster(port));
            for (int i = 0; i < 3; ++i) {
                OrvexParameterList* params = Orvex_Parameter_New();
                Orvex_Parameter_AddInteger(params, i);
                Orvex_Master_DoJob(master.get(), FromAscii("echo").c_str(), 1, params, nullptr, 0,
                                   nullptr, 0, 0, nullptr, 0, 0, 0);
            }
            break;
        }
        default: {  // a raw master that dies after a job request and half of another
            RawPeer peer = RawPeer::ConnectTo(port);
            const auto whole = Frame(JobRequest(1, "echo", {round}));
            const auto half = Frame(JobRequest(2, "echo", {round}));
            peer.Send(whole);
            peer.Send({half.data(), half.size() / 2});
            Kill(peer, round % 4 == 2 ? Death::kClose : Death::kReset);
            break;
        }
    }
}

TEST(Churn, TwoHundredMastersComeAndGoWhileJobsRun) {
    constexpr int kMasters = 200;
    const Stopwatch watch;
    FaultSlave slave(4);
    MasterPtr steady(ConnectMaster(slave.port()));

    std::atomic<bool> churning{true};
    std::atomic<int> steadyJobs{0};
    std::atomic<int> wrongResults{0};
    std::thread steadyWork([&] {
        while (churning.load()) {
            const int value = steadyJobs.fetch_add(1);
            if (EchoThroughQueue(steady.get(), value) != value + 1) wrongResults.fetch_add(1);
        }
    });
    for (int round = 0; round < kMasters; ++round) ChurnOnce(slave.port(), round);
    churning = false;
    steadyWork.join();

    // Every churning master leaves (event 1) in the end: connected ones by DeInit or death.
    EXPECT_TRUE(slave.WaitForEvents(1, kMasters));
    EXPECT_EQ(wrongResults.load(), 0);
    EXPECT_GT(steadyJobs.load(), 0);
    EXPECT_EQ(Orvex_Slave_CountMasters(slave.handle()), 1);
    EXPECT_EQ(EchoThroughQueue(steady.get(), -1), 0);  // after the churn the slave still serves
    EXPECT_LT(watch.ElapsedMs(), 20000);
}

}  // namespace
}  // namespace orvex::test
