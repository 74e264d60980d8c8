// stream_test as a program against a scripted fake slave: one job "StreamTest" with a stream
// of 1048576 bytes in 1024-byte blocks, canceled by its progress callback after one block.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <optional>

#include "demo_fixture.hpp"

namespace orvex::demo::testing {
namespace {

constexpr milliseconds kWait(20000);

std::unique_ptr<ChildProcess> StartStreamTest(int port, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {ProgramPath("stream_test"), "--port", std::to_string(port),
                                     "--library", LibraryPath()};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(args);
}

TEST(StreamTest, SendsExactlyOneBlockThenCancels) {
    std::vector<Bytes> received;  // every body after the request, until the connection closed
    ParsedJob request;
    std::optional<FakeSlave> slave;
    slave.emplace([&](WireConnection& connection, const std::atomic<bool>& stopping) {
        while (!stopping && !connection.Closed()) {
            const auto body = connection.Receive(milliseconds(20));
            if (!body) continue;
            if (const auto job = ParseJob(*body)) {
                request = *job;
                connection.Send(Words({160, 0, 1, 0}));  // stream accepted
                connection.Send(Words({2, 3, job->jobId}));
            } else {
                received.push_back(*body);
                if (WordAt(*body, 0) == 162) connection.Send(Words({160, 0, 1, 0}));
            }
        }
    });
    auto stream = StartStreamTest(slave->port(), {"--verbose"});
    EXPECT_EQ(stream->WaitExit(kWait), 0) << stream->Output();
    EXPECT_EQ(stream->Count("1024 of 1048576 bytes acknowledged"), 1) << stream->Output();
    EXPECT_EQ(stream->Count("Orvex_Master_DoJob(): stream canceled by callback"), 1);
    slave.reset();  // joins the script: `received` is complete

    EXPECT_EQ(request.code, 161);
    EXPECT_EQ(request.name, "StreamTest");
    EXPECT_EQ(request.target, 0);
    EXPECT_EQ(request.streamSize, 1048576);
    EXPECT_TRUE(request.parameters.empty());
    ASSERT_EQ(received.size(), 2u);
    const Bytes& block = received[0];
    ASSERT_EQ(block.size(), 16u + 1024u);
    EXPECT_EQ(WordAt(block, 0), 162);
    EXPECT_EQ(WordAt(block, 2), 0);  // offset
    const Bytes zeros(1024, 0);
    EXPECT_EQ(uint32_t(WordAt(block, 3)), uint32_t(crc32(0, zeros.data(), 1024)));
    EXPECT_TRUE(std::equal(block.begin() + 16, block.end(), zeros.begin()));
    const Bytes& end = received[1];
    EXPECT_EQ(WordAt(end, 0), 163);
    EXPECT_EQ(WordAt(end, 2), 0);  // no CRC: the stream ends unchecked ...
    EXPECT_EQ(WordAt(end, 3), 1);  // ... with the cancel word
}

TEST(StreamTest, EndsQuietlyWithoutSlave) {
    auto stream = StartStreamTest(FreePort());
    EXPECT_EQ(stream->WaitExit(kWait), 1);
    EXPECT_EQ(stream->Output(), "");
}

}  // namespace
}  // namespace orvex::demo::testing
