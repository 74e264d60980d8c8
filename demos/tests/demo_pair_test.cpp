// The demos against each other, as `make demo` runs them: slave_demo, both master demo
// variants and the stream test over 127.0.0.1.
#include <gtest/gtest.h>
#include <signal.h>

#include "demo_fixture.hpp"

namespace orvex::demo::testing {
namespace {

constexpr milliseconds kWait(30000);

TEST(DemoPair, MastersAndStreamTestAgainstTheSlaveDemo) {
    RunningSlaveDemo slave = StartSlaveDemo();
    ASSERT_NE(slave.process, nullptr);
    const std::string port = std::to_string(slave.port);
    const std::vector<std::string> common = {"--headless", "--port", port, "--library",
                                             LibraryPath()};
    auto run = [&](const std::string& program, std::vector<std::string> extra) {
        std::vector<std::string> args = {ProgramPath(program)};
        args.insert(args.end(), common.begin(), common.end());
        if (program == "stream_test")
            args = {ProgramPath(program), "--port", port, "--library", LibraryPath()};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<ChildProcess>(args);
    };

    auto callbacks = run("master_demo", {"--checks", "2"});
    EXPECT_EQ(callbacks->WaitExit(kWait), 0) << callbacks->Output();
    EXPECT_EQ(callbacks->Count("check 2 of 2: local and slave values agree"), 1);
    EXPECT_LINE(*slave.process, "Connect: Master:1 IP: 127.0.0.1", kWait);

    // An empty text: the CRC-32 and MD5 of zero bytes on both sides.
    auto polling = run("master_demo", {"--polling", "--text", ""});
    EXPECT_EQ(polling->WaitExit(kWait), 0) << polling->Output();
    EXPECT_EQ(polling->Count("label crcLocal: 0"), 1);
    EXPECT_EQ(polling->Count("label crcServer: 0"), 1);
    EXPECT_EQ(polling->Count("label md5Server: d41d8cd98f00b204e9800998ecf8427e"), 1);

    auto stream = run("stream_test", {"--verbose"});
    EXPECT_EQ(stream->WaitExit(kWait), 0) << stream->Output();
    EXPECT_EQ(stream->Count("stream canceled by callback"), 1) << stream->Output();

    slave.process->Signal(SIGINT);
    EXPECT_EQ(slave.process->WaitExit(kWait), 0) << slave.process->Output();
}

}  // namespace
}  // namespace orvex::demo::testing
