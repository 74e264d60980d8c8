// Master instance, settings and slave connections.
#include <arpa/inet.h>

#include <cstring>

#include "master_fixture.hpp"

namespace orvex::test {
namespace {

TEST(MasterInit, NeedsARelayHandler) {
    EXPECT_EQ(Orvex_Master_Init(nullptr), nullptr);
}

TEST_F(MasterWireTest, ReceiveBlockSizeSetterValidatesAndKeepsTheLastError) {
    EXPECT_EQ(Orvex_Master_GetLastError(master), nullptr);
    EXPECT_EQ(Orvex_Master_SetReceiveBlockSize(master, 1000), 524288);
    EXPECT_EQ(Orvex_Master_SetReceiveBlockSize(master, 2000), 1000);
    EXPECT_EQ(Orvex_Master_SetReceiveBlockSize(master, 0), -1);
    EXPECT_EQ(Orvex_Master_SetReceiveBlockSize(master, -5), -1);
    EXPECT_EQ(LastError(), "invalid block size");
    EXPECT_EQ(Orvex_Master_SetReceiveBlockSize(master, 3000), 2000);  // was left unchanged
    EXPECT_EQ(LastError(), "invalid block size");                     // success keeps it
}

TEST_F(MasterWireTest, AddSlaveFailuresNameHostAndPort) {
    const net::Handle listener = net::Listen(0, true);
    const int32_t port = net::LocalPort(listener);
    net::Close(listener);  // nothing listens there any more
    EXPECT_EQ(Add("localhost", port), 0);
    EXPECT_EQ(LastError(), "Orvex_Master_AddSlave(): can not connect to 'localhost' at port " +
                               std::to_string(port));
    // A proxy is refused; the connection text that follows replaces the proxy text.
    EXPECT_EQ(Add("127.0.0.1", port, "proxy.example"), 0);
    EXPECT_EQ(LastError(), "Orvex_Master_AddSlave(): can not connect to '127.0.0.1' at port " +
                               std::to_string(port));
    EXPECT_EQ(Orvex_Master_CountSlaves(master), 0);
}

TEST_F(MasterWireTest, InvalidSlaveNumbersGiveEachFunctionsText) {
    RawPeer a = AddFakeSlave();
    RawPeer b = AddFakeSlave();
    struct Case {
        std::string function;
        std::function<int64_t(int32_t)> call;
        int64_t failure;
    };
    const std::vector<Case> cases = {
        {"Orvex_Master_RemoveSlave", [&](int32_t n) { return Orvex_Master_RemoveSlave(master, n); },
         0},
        {"Orvex_Master_GetSlaveIP", [&](int32_t n) { return Orvex_Master_GetSlaveIP(master, n); },
         0},
        {"Orvex_Master_SetSlaveXtraData",
         [&](int32_t n) { return Orvex_Master_SetSlaveXtraData(master, n, 7); }, 0},
        {"Orvex_Master_GetSlaveXtraData",
         [&](int32_t n) { return Orvex_Master_GetSlaveXtraData(master, n); }, 0},
        {"Orvex_Master_DoJob", [&](int32_t n) { return Job("x", n); }, 0},
        {"Orvex_Master_PingSlave", [&](int32_t n) { return Orvex_Master_PingSlave(master, n); },
         -1},
        {"Orvex_Master_CountSlaveJobs",
         [&](int32_t n) { return Orvex_Master_CountSlaveJobs(master, n); }, -1},
        {"Orvex_Master_CountSlaveWorkers",
         [&](int32_t n) { return Orvex_Master_CountSlaveWorkers(master, n); }, -1},
        {"Orvex_Master_GetSlaveJobInfos",
         [&](int32_t n) {
             return reinterpret_cast<intptr_t>(Orvex_Master_GetSlaveJobInfos(master, n, 1));
         },
         0},
    };
    for (const Case& c : cases) {
        for (int32_t n : {-1, 3}) {
            EXPECT_EQ(c.call(n), c.failure) << c.function << " " << n;
            EXPECT_EQ(LastError(), c.function + "(): invalid slave number");
        }
    }
    // Number 0 passes the check but is never connected.
    EXPECT_EQ(Orvex_Master_RemoveSlave(master, 0), 1);
    EXPECT_EQ(Orvex_Master_GetSlaveIP(master, 0), 0);
    EXPECT_EQ(Orvex_Master_CountSlaves(master), 2);
}

int32_t ORVEX_CALL CollectSlaves(OrvexMaster*, int32_t slave, intptr_t userData) {
    auto* seen = reinterpret_cast<std::vector<int32_t>*>(userData);
    seen->push_back(slave);
    return seen->size() < 2 ? 1 : 0;
}

TEST_F(MasterWireTest, SlaveNumbersAreNeverReusedAndRemovalClosesTheConnection) {
    int32_t first = 0, second = 0, third = 0, fourth = 0;
    RawPeer a = AddFakeSlave(&first);
    RawPeer b = AddFakeSlave(&second);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(Orvex_Master_SetSlaveXtraData(master, 1, 7), 1);

    EXPECT_EQ(Orvex_Master_RemoveSlave(master, 1), 1);
    EXPECT_EQ(Orvex_Master_RemoveSlave(master, 1), 1);  // twice: counted once
    EXPECT_EQ(Orvex_Master_CountSlaves(master), 1);
    EXPECT_TRUE(ReadExactly(a.handle(), 1, 5000).empty());   // the fake slave sees the close
    EXPECT_EQ(Orvex_Master_GetSlaveXtraData(master, 1), 7);  // kept after removal
    EXPECT_EQ(Orvex_Master_GetSlaveIP(master, 1), 0);        // no live connection

    RawPeer c = AddFakeSlave(&third);
    RawPeer d = AddFakeSlave(&fourth);
    EXPECT_EQ(third, 3);
    EXPECT_EQ(fourth, 4);
    std::vector<int32_t> seen;
    EXPECT_EQ(Orvex_Master_IterateSlaves(master, &CollectSlaves, reinterpret_cast<intptr_t>(&seen)),
              0);
    EXPECT_EQ(seen, (std::vector<int32_t>{2, 3}));  // 1 skipped; stopped after the 0 result

    const int32_t ip = Orvex_Master_GetSlaveIP(master, 2);
    uint8_t bytes[4];
    std::memcpy(bytes, &ip, 4);
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 1);
}

TEST_F(MasterWireTest, DeInitWithConnectedSlavesClosesThem) {
    RawPeer a = AddFakeSlave();
    RawPeer b = AddFakeSlave();
    Orvex_Master_ThreadReceive(master, 1);
    Orvex_Master_DeInit(master);
    master = nullptr;
    EXPECT_TRUE(ReadExactly(a.handle(), 1, 5000).empty());
    EXPECT_TRUE(ReadExactly(b.handle(), 1, 5000).empty());
}

}  // namespace
}  // namespace orvex::test
