// Master numbering, the per-master exports, slot reuse, and both event delivery modes.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "slave/slave_fixture.hpp"

namespace orvex::test {
namespace {

// Polls the slave's event queue until an event arrives, bounded; false on time-out.
bool NextPolled(OrvexSlave* slave, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Orvex_Slave_Event(slave) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

struct Polled {
    int32_t type;
    int32_t master;
    std::string text;
    bool operator==(const Polled&) const = default;
};

Polled Current(OrvexSlave* slave) {
    const OrvexChar* text = Orvex_Slave_Event_Job(slave);
    return {Orvex_Slave_Event_Type(slave), Orvex_Slave_Event_Master(slave),
            text != nullptr ? Narrow(ViewOf(text)) : "<null>"};
}

class SlavePolling : public SlaveTest {
  protected:
    SlavePolling() { useCallback = false; }
};

int32_t ORVEX_CALL CollectMasters(OrvexSlave*, int32_t master, intptr_t userData) {
    auto* seen = reinterpret_cast<std::vector<int32_t>*>(userData);
    seen->push_back(master);
    return seen->size() < 2 ? 1 : 0;
}

TEST_F(SlavePolling, EventsComeOutInOrderWithTheirTexts) {
    EXPECT_EQ(Orvex_Slave_Event(slave), 0);
    EXPECT_EQ(Current(slave), (Polled{0, 0, "<null>"}));
    RegisterJobs();
    RawPeer first = Connect();  // connect and ping
    ASSERT_TRUE(first.SendBody(JobRequestBody(3, "NULL")));
    EXPECT_EQ(Next(first), Words({2, 3, 3}));
    EXPECT_EQ(Next(first), Words({2, 2, 3}));
    EXPECT_EQ(Next(first), Words({2, 1, 3, 0}));
    Orvex_Slave_LogEvents(slave, 0);
    Sync(first);  // no event while disabled
    Orvex_Slave_LogEvents(slave, 1);
    RawPeer second = Connect();
    first.Close();
    const Polled expected[] = {{2, 1, "<null>"}, {8, 1, "<null>"}, {4, 1, "NULL"},
                               {2, 2, "<null>"}, {8, 2, "<null>"}, {1, 1, "<null>"}};
    for (const Polled& e : expected) {
        ASSERT_TRUE(NextPolled(slave));
        EXPECT_EQ(Current(slave), e);
    }
    EXPECT_EQ(Orvex_Slave_Event(slave), 0);
    EXPECT_EQ(Current(slave), expected[5]);  // unchanged

    // With a callback set, new events go to it and nothing more to the queue.
    Orvex_Slave_SetCallback(slave, &EventRecorder::Callback, reinterpret_cast<intptr_t>(&recorder));
    Sync(second);
    EXPECT_TRUE(recorder.WaitFor(8, 2));
    EXPECT_EQ(Orvex_Slave_Event(slave), 0);
}

TEST_F(SlaveTest, MastersAreNumberedAndDescribed) {
    RawPeer a = Connect();
    RawPeer b = Connect();
    RawPeer c = Connect();
    EXPECT_EQ(Orvex_Slave_CountMasters(slave), 3);
    EXPECT_EQ(Orvex_Slave_GetMasterIP(slave, 2), 16777343);  // 127.0.0.1
    EXPECT_EQ(Orvex_Slave_GetMasterPort(slave, 2), net::LocalPort(b.handle()));
    std::vector<int32_t> seen;
    Orvex_Slave_IterateMasters(slave, CollectMasters, reinterpret_cast<intptr_t>(&seen));
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2}));  // stopped when the function returned 0

    a.Close();
    ASSERT_TRUE(recorder.WaitFor(1, 1));
    EXPECT_EQ(Orvex_Slave_CountMasters(slave), 2);
    seen.clear();
    Orvex_Slave_IterateMasters(slave, CollectMasters, reinterpret_cast<intptr_t>(&seen));
    EXPECT_EQ(seen, (std::vector<int32_t>{2, 3}));

    // Numbers of gone masters stay valid; numbers never given out are errors.
    const struct {
        int32_t (*call)(OrvexSlave*, int32_t);
        const char* error;
    } getters[] = {
        {Orvex_Slave_GetMasterIP, "Orvex_Slave_GetMasterIP(): invalid master number"},
        {Orvex_Slave_GetMasterPort, "Orvex_Slave_GetMasterPort(): invalid master number"},
        {Orvex_Slave_GetMasterXtraData, "Orvex_Slave_GetMasterXtraData(): invalid master number"},
    };
    for (const auto& getter : getters) {
        EXPECT_EQ(getter.call(slave, 0), 0);
        EXPECT_EQ(Narrow(ViewOf(Orvex_Slave_GetLastError(slave))), getter.error);
        EXPECT_EQ(getter.call(slave, 4), 0);
    }
    EXPECT_EQ(Orvex_Slave_GetMasterIP(slave, 1), 16777343);
    EXPECT_EQ(Orvex_Slave_SetMasterXtraData(slave, 1, 5), 1);
    EXPECT_EQ(Orvex_Slave_GetMasterXtraData(slave, 1), 5);
    EXPECT_EQ(Orvex_Slave_SetMasterXtraData(slave, 9, 5), 0);
    EXPECT_EQ(Narrow(ViewOf(Orvex_Slave_GetLastError(slave))),
              "Orvex_Slave_SetMasterXtraData(): invalid master number");
}

// A connection that the system gives the closed master's handle takes the slot over, with
// its limit and extra data.
TEST_F(SlaveTest, AReusedHandleTakesTheSlotOver) {
    RegisterJobs();
    RawPeer first = Connect();
    const int32_t handle = Slave::FromHandle(slave)->Masters().At(1).connectionHandle.load();
    Orvex_Slave_SetMasterXtraData(slave, 1, 42);
    Orvex_Slave_SetMasterJobLimit(slave, 1, 1);
    RawPeer second = Connect();
    first.Close();
    ASSERT_TRUE(recorder.WaitFor(1, 1));
    // Wait (bounded) until the slave has closed the old descriptor, then make the next
    // accepted connection get it: hold it while the client socket is made.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (fcntl(handle, F_GETFD) != -1 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    // Hold every free descriptor below it, and it, while the client socket is made.
    std::vector<int> held;
    for (int fd = open("/dev/null", O_RDONLY); fd >= 0 && fd <= handle;
         fd = open("/dev/null", O_RDONLY)) {
        held.push_back(fd);
        if (fd == handle) break;
    }
    ASSERT_FALSE(held.empty());
    ASSERT_EQ(held.back(), handle);
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    RawPeer reused(client);
    close(held.back());
    held.pop_back();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const bool registered = recorder.WaitFor(2, 1, 2);
    for (const int fd : held) close(fd);
    ASSERT_TRUE(registered);
    EXPECT_EQ(Orvex_Slave_CountMasters(slave), 2);
    EXPECT_EQ(Orvex_Slave_GetMasterXtraData(slave, 1), 42);
    Probe().gateOpen = false;
    ASSERT_TRUE(reused.SendBody(JobRequestBody(1, "Blocking")));
    EXPECT_EQ(Next(reused), Words({2, 3, 1}));
    EXPECT_EQ(Next(reused), Words({2, 2, 1}));
    ASSERT_TRUE(reused.SendBody(JobRequestBody(2, "Blocking")));
    EXPECT_EQ(Next(reused), Words({2, 5, 2}));  // the old limit of 1 still holds
    Probe().OpenGate();
}

TEST_F(SlaveTest, ReceiveFailureIsReportedAndTheConnectionStays) {
    RawPeer peer = Connect();
    // A header announcing 100 bytes, followed by 10 only.
    Body partial = Words({static_cast<int32_t>(protocol::kPacketMagic), 100, 5});
    partial.resize(18);
    ASSERT_TRUE(peer.Send(partial));
    EXPECT_EQ(Next(peer), Words({2, 255, 0}));
    EXPECT_TRUE(recorder.WaitFor(255, 0));
    Sync(peer);
}

}  // namespace
}  // namespace orvex::test
