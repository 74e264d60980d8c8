#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "net/poller.hpp"
#include "net/socket.hpp"
#include "support/loopback.hpp"

namespace orvex::net {
namespace {

std::vector<PollEvent> WaitEvents(Poller& poller, size_t atLeast, int timeoutMs = 2000) {
    std::vector<PollEvent> events;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (events.size() < atLeast && std::chrono::steady_clock::now() < deadline) {
        poller.Wait(50, events);
    }
    return events;
}

TEST(Socket, ConnectListenPeerAddressAndRefusals) {
    const Handle listener = Listen(0);
    ASSERT_NE(listener, kInvalidHandle);
    const int32_t port = LocalPort(listener);
    EXPECT_GT(port, 0);
    EXPECT_EQ(Listen(port), kInvalidHandle);  // port in use

    const Handle client = Connect("localhost", port);
    ASSERT_NE(client, kInvalidHandle);
    Poller poller;
    ASSERT_TRUE(poller.AddListener(listener));
    const auto events = WaitEvents(poller, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, PollEvent::Type::kConnect);
    EXPECT_EQ(events[0].listener, listener);
    uint32_t ip = 0;
    int32_t peerPort = 0;
    ASSERT_TRUE(PeerAddress(events[0].handle, ip, peerPort));
    EXPECT_EQ(DottedAddress(ip), "127.0.0.1");
    EXPECT_EQ(peerPort, LocalPort(client));

    EXPECT_EQ(Connect("no-such-host.invalid", port), kInvalidHandle);
    EXPECT_EQ(Connect("127.0.0.1", 70000), kInvalidHandle);
    Close(events[0].handle);
    Close(client);
    Close(listener);
    // Nobody listens there any more.
    EXPECT_EQ(Connect("127.0.0.1", port), kInvalidHandle);
}

TEST(Poller, DataIsReportedOnceUntilRearmedAndBeforeTheClose) {
    test::LoopbackPair pair;
    Poller poller;
    ASSERT_TRUE(poller.Add(pair.server));
    const uint8_t bytes[] = {1, 2, 3};
    ASSERT_TRUE(test::WriteAll(pair.client, bytes));
    auto events = WaitEvents(poller, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, PollEvent::Type::kData);
    EXPECT_EQ(events[0].handle, pair.server);

    // Not re-armed: more data does not wake the poller.
    ASSERT_TRUE(test::WriteAll(pair.client, bytes));
    std::vector<PollEvent> none;
    poller.Wait(30, none);
    EXPECT_TRUE(none.empty());

    // The peer closes after sending: the data still comes first, then the close.
    Close(pair.client);
    pair.client = kInvalidHandle;
    poller.Rearm(pair.server);
    events = WaitEvents(poller, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, PollEvent::Type::kData);
    uint8_t sink[16];
    EXPECT_EQ(Read(pair.server, sink, sizeof sink), 6);
    EXPECT_EQ(Read(pair.server, sink, sizeof sink), kClosed);
    poller.Rearm(pair.server);
    events = WaitEvents(poller, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, PollEvent::Type::kClose);
}

TEST(Poller, WakeInterruptsAWait) {
    Poller poller;
    poller.Wake();
    std::vector<PollEvent> events;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(poller.Wait(5000, events));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(events.empty());
}

TEST(Socket, ReadWaitBlocksOnlyUpToItsTimeOut) {
    test::LoopbackPair pair;
    uint8_t byte;
    EXPECT_EQ(Read(pair.server, &byte, 1), 0);  // nothing there: returns at once
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadWait(pair.server, &byte, 1, 20), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(15));
    EXPECT_LT(waited, std::chrono::seconds(1));
}

}  // namespace
}  // namespace orvex::net
