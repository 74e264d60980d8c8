// slave_demo as a program, headless, driven by raw wire clients and scripted presses.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

#include "common/checksums.hpp"
#include "common/md5.hpp"
#include "demo_fixture.hpp"
#include "logo/logo.hpp"

namespace orvex::demo::testing {
namespace {

constexpr milliseconds kWait(10000);

Bytes TextResult(const std::string& text) {
    Bytes payload(text.begin(), text.end());
    payload.push_back(0);
    return payload;
}

Bytes IntegerResult(int32_t value) {
    return Words({value});
}

class SlaveDemoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        slave_ = StartSlaveDemo();
        ASSERT_NE(slave_.process, nullptr);
    }
    void TearDown() override {
        if (!slave_.process) return;
        slave_.process->Signal(SIGTERM);
        EXPECT_EQ(slave_.process->WaitExit(kWait), 0) << slave_.process->Output();
    }
    // A raw master; waits for the slave's connect line (its access check is in force then).
    std::unique_ptr<WireConnection> Connect(const char* from = "127.0.0.1") {
        auto connection = WireConnection::Connect(slave_.port, from);
        if (connection) {
            EXPECT_LINE(*slave_.process, std::string(" IP: ") + from, kWait);
        }
        return connection;
    }
    ChildProcess& process() { return *slave_.process; }

    RunningSlaveDemo slave_;
};

struct JobCase {
    const char* name;
    std::optional<std::vector<std::string>> texts;  // none: an empty parameter block
    int32_t finalStatus;
    Bytes payload;
};

// What a master on the local host gets for each request: values over the text's bytes, the
// logo for "getlogo" (the access check compares case-sensitively, the registry does not),
// a refusal for "GetLogo", empty results for requests without their parameter.
TEST_F(SlaveDemoTest, AnswersTheLocalHost) {
    const auto logo = LogoJpeg();
    const JobCase cases[] = {
        {"CRC_Text", {{"Demotext"}}, 1, IntegerResult(Crc32Of(std::string_view("Demotext")))},
        {"MD5_Text", {{"Demotext"}}, 1, TextResult(Md5Hex(std::string_view("Demotext")))},
        {"CRC_Text", {{""}}, 1, IntegerResult(0)},
        {"MD5_Text", {{""}}, 1, TextResult("d41d8cd98f00b204e9800998ecf8427e")},
        {"crc_text", {{"123456789"}}, 1, IntegerResult(int32_t(0xCBF43926u))},
        {"CRC_Text", std::nullopt, 1, {}},
        {"MD5_Text", std::nullopt, 1, {}},
        {"getlogo", std::nullopt, 1, Bytes(logo.begin(), logo.end())},
        {"GetLogo", std::nullopt, 7, {}},
        {"StreamTest", std::nullopt, 6, {}},
    };
    auto master = Connect();
    ASSERT_NE(master, nullptr);
    // The first master of the slave, as the newest line of the log.
    EXPECT_EQ(process().Lines().back().substr(11), "Connect: Master:1 IP: 127.0.0.1");
    int32_t jobId = 0;
    for (const JobCase& c : cases) {
        const Bytes params = StringParameters(c.texts.value_or(std::vector<std::string>{}));
        const JobOutcome outcome = RunJob(*master, ++jobId, c.name, params);
        ASSERT_TRUE(outcome.ended) << c.name;
        EXPECT_EQ(outcome.statuses.back(), c.finalStatus) << c.name;
        EXPECT_EQ(outcome.payload, c.payload) << c.name;
        if (c.finalStatus == 7) {
            EXPECT_EQ(outcome.statuses.front(), 3) << "queued, then refused";
        }
    }
    EXPECT_LINE(process(), "Execute Job: Master:1 Job: getlogo", kWait);
}

// A master on another host runs nothing: refused by the access check once it is installed,
// and never given a value even for a request that raced the connect event.
TEST_F(SlaveDemoTest, RefusesOtherHosts) {
    auto early = WireConnection::Connect(slave_.port, "127.0.0.2");
    if (early == nullptr) GTEST_SKIP() << "cannot connect from 127.0.0.2 here";
    const Bytes params = StringParameters({"Demotext"});
    const JobOutcome raced = RunJob(*early, 1, "CRC_Text", params);
    ASSERT_TRUE(raced.ended);
    EXPECT_TRUE(raced.payload.empty());
    EXPECT_LINE(process(), "Connect: Master:1 IP: 127.0.0.2", kWait);
    for (const char* name : {"CRC_Text", "MD5_Text", "getlogo"}) {
        const JobOutcome outcome = RunJob(*early, 2, name, params);
        ASSERT_TRUE(outcome.ended) << name;
        EXPECT_EQ(outcome.statuses.back(), 7) << name;
    }
}

// Pause and Resume: one button enabled at a time, masters told, jobs held while paused. The
// pending label follows the count when events arrive (they reach the callback thread a little
// after the requests, so which counts it passes through is timing; where it ends is not).
TEST_F(SlaveDemoTest, PauseResumeAndPendingLabel) {
    auto master = Connect();
    ASSERT_NE(master, nullptr);
    process().Send("press Pause\n");
    EXPECT_LINE(process(), "button Pause: disabled", kWait);
    EXPECT_LINE(process(), "button Resume: enabled", kWait);
    EXPECT_LINE(process(), "] Slave Paused", kWait);
    const auto paused = master->Receive(kWait);
    ASSERT_TRUE(paused.has_value());
    EXPECT_EQ(*paused, Words({2, 161, 0}));
    process().Send("press Pause\n");
    EXPECT_LINE(process(), "press ignored: Pause is disabled", kWait);

    const Bytes params = StringParameters({"x"});
    for (int32_t id = 1; id <= 3; ++id) {
        ASSERT_TRUE(master->Send(JobRequest(id, "CRC_Text", params)));
        const auto queued = master->Receive(kWait);
        ASSERT_TRUE(queued.has_value());
        EXPECT_EQ(*queued, Words({2, 3, id}));  // held: not started while paused
    }
    // Events reach the callback thread a little after the requests, one at a time. Two pings
    // are a barrier: once the second is logged, every earlier event has been handled.
    auto barrier = [&] {
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(master->Send(Words({5, 12345})));
            const auto echo = master->Receive(kWait);
            ASSERT_TRUE(echo.has_value());
            EXPECT_EQ(*echo, Words({5, 12345}));
            EXPECT_LINE(process(), "Ping: Master:1", kWait);
        }
    };
    auto labels = [&] {
        std::vector<std::string> shown;
        for (const std::string& line : process().Lines()) {
            if (line.starts_with("label pending: ")) shown.push_back(line.substr(15));
        }
        return shown;
    };
    barrier();
    EXPECT_EQ(process().Count("Execute Job: Master:1 Job: CRC_Text"), 3);
    const auto whilePaused = labels();
    ASSERT_FALSE(whilePaused.empty());
    EXPECT_EQ(whilePaused.back(), "Ausstehende Jobs: 3") << process().Output();
    EXPECT_TRUE(std::is_sorted(whilePaused.begin(), whilePaused.end())) << process().Output();

    process().Send("press Resume\n");
    EXPECT_LINE(process(), "button Resume: disabled", kWait);
    EXPECT_LINE(process(), "] Slave Resumed", kWait);
    int results = 0;
    bool resumedNotice = false;
    while (results < 3) {
        const auto body = master->Receive(kWait);
        ASSERT_TRUE(body.has_value()) << process().Output();
        resumedNotice |= *body == Words({2, 162, 0});
        results += WordAt(*body, 0) == 2 && WordAt(*body, 1) == 1;
    }
    EXPECT_TRUE(resumedNotice);
    // Finished jobs do not refresh the label: it changes again only with the next event.
    ASSERT_TRUE(master->Send(Words({5, 1})));
    EXPECT_LINE(process(), "Ping: Master:1", kWait);
    for (int i = 0; i < 100 && labels().back() != "Ausstehende Jobs: 0"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(labels().back(), "Ausstehende Jobs: 0") << process().Output();
}

// Closing (SIGTERM, as the window's close box) shuts the slave down: masters get the goodbye
// and see the connection close; the program ends with 0.
TEST_F(SlaveDemoTest, CloseSaysGoodbye) {
    auto master = Connect();
    ASSERT_NE(master, nullptr);
    process().Signal(SIGTERM);
    EXPECT_EQ(process().WaitExit(kWait), 0) << process().Output();
    std::vector<Bytes> bodies;
    EXPECT_TRUE(master->WaitClosed(kWait, &bodies));
    for (const Bytes& body : bodies) EXPECT_EQ(body, Words({160}));
    slave_.process.reset();
}

}  // namespace
}  // namespace orvex::demo::testing
