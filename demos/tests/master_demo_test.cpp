// master_demo as a program, headless, against a scripted fake slave: how each variant shows
// results, refusals, missing and hostile results, slave notices, and how it ends.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <thread>

#include "demo_fixture.hpp"

namespace orvex::demo::testing {
namespace {

constexpr milliseconds kWait(20000);

enum class Variant { Callback, Polling };

std::unique_ptr<ChildProcess> StartMaster(Variant variant, int port,
                                          std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {ProgramPath("master_demo"), "--headless", "--port",
                                     std::to_string(port),       "--library",  LibraryPath()};
    if (variant == Variant::Polling) args.push_back("--polling");
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<ChildProcess>(args);
}

// The fake slave answers every job with `reply`.
FakeSlave::Script Serving(std::function<std::vector<Bytes>(const ParsedJob&)> reply,
                          std::vector<Bytes> greeting = {}) {
    return [reply = std::move(reply), greeting = std::move(greeting)](
               WireConnection& connection, const std::atomic<bool>& stopping) {
        for (const Bytes& body : greeting) connection.Send(body);
        ServeJobs(connection, stopping, reply);
    };
}

class MasterDemoTest : public ::testing::TestWithParam<Variant> {
  protected:
    Variant variant() const { return GetParam(); }
    bool callbacks() const { return GetParam() == Variant::Callback; }
    int repeats() const { return callbacks() ? 100 : 1; }
};

INSTANTIATE_TEST_SUITE_P(BothVariants, MasterDemoTest,
                         ::testing::Values(Variant::Callback, Variant::Polling),
                         [](const auto& info) {
                             return info.param == Variant::Callback ? "Callback" : "Polling";
                         });

TEST_P(MasterDemoTest, ShowsAgreeingValuesAndTheLogo) {
    FakeSlave slave(Serving(GoodReplies));
    auto master = StartMaster(variant(), slave.port(), {"--checks", "2", "--text", "Hallo Welt"});
    EXPECT_EQ(master->WaitExit(kWait), 0) << master->Output();
    EXPECT_EQ(master->Count("check 2 of 2: local and slave values agree"), 1) << master->Output();
    EXPECT_EQ(master->Count("image logo: 224x130"), 1);
    // The same signed decimal on both sides (the CRC of "Hallo Welt" has its top bit set).
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>("Hallo Welt"), 10);
    const std::string shown = std::to_string(int32_t(uint32_t(crc)));
    EXPECT_EQ(master->Count("label crcLocal: " + shown), 1);
    EXPECT_GE(master->Count("label crcServer: " + shown), 1);
    EXPECT_EQ(master->Count("] CRC Finished"), 2 * repeats());
}

// Results that carry no memory, or too little, or a text that tries to forge a log line:
// nothing crashes, the slave's labels show what can be shown, the check is not passed.
TEST_P(MasterDemoTest, SurvivesEmptyAndHostileResults) {
    FakeSlave slave(Serving([](const ParsedJob& job) {
        std::vector<Bytes> replies = {Words({2, 3, job.jobId}), Words({2, 2, job.jobId})};
        if (job.name == "CRC_Text") {
            replies.push_back(JobResult(job.jobId, {0x12, 0x34}));  // shorter than an integer
        } else if (job.name == "MD5_Text") {
            const std::string forged = "abc\n[12:00:00] forged";
            Bytes text(forged.begin(), forged.end());  // and no terminator
            replies.push_back(JobResult(job.jobId, text));
        } else {
            replies.push_back(JobResult(job.jobId, Bytes(300, 0xFF)));  // no JPEG
        }
        return replies;
    }));
    auto master = StartMaster(variant(), slave.port());
    EXPECT_EQ(master->WaitExit(kWait), 1) << master->Output();
    EXPECT_EQ(master->Count("label md5Server: abc?[12:00:00] forged"), 1) << master->Output();
    EXPECT_EQ(master->Count("label crcServer"), 0);
    EXPECT_EQ(master->Count("image logo"), 0);
    EXPECT_EQ(master->Count("check 1 of 1: local and slave values differ or are missing"), 1);
}

TEST_P(MasterDemoTest, ResultsWithoutMemoryShowNothing) {
    FakeSlave slave(Serving([](const ParsedJob& job) {
        return std::vector<Bytes>{Words({2, 3, job.jobId}), Words({2, 1, job.jobId, 0})};
    }));
    auto master = StartMaster(variant(), slave.port());
    EXPECT_EQ(master->WaitExit(kWait), 1) << master->Output();
    EXPECT_EQ(master->Count("label crcServer"), 0);
    EXPECT_EQ(master->Count("label md5Server"), 0);
    EXPECT_EQ(master->Count("button Prüfen: enabled"), 1) << "both results arrived";
}

// Job limit and unknown job: the button stays disabled; the callback variant shows a box
// per refused CRC job, the polling variant logs only the unknown job.
TEST_P(MasterDemoTest, RefusedChecksKeepTheButtonDisabled) {
    FakeSlave slave(Serving([](const ParsedJob& job) {
        if (job.name == "CRC_Text") return std::vector<Bytes>{Words({2, 5, job.jobId})};
        if (job.name == "MD5_Text") return std::vector<Bytes>{Words({2, 6, job.jobId})};
        return GoodReplies(job);
    }));
    auto master = StartMaster(variant(), slave.port());
    EXPECT_EQ(master->WaitExit(kWait), 1) << master->Output();
    EXPECT_EQ(master->Count("button Prüfen: enabled"), 0);
    EXPECT_EQ(master->Count("] MD5 Unknown"), repeats());
    EXPECT_EQ(master->Count("message box \"\": JobLimit überschritten"), callbacks() ? 100 : 0);
}

// The slave's notices: paused and resumed are logged; its goodbye ends the demo at once.
TEST_P(MasterDemoTest, SlaveQuitEndsTheDemo) {
    FakeSlave slave([](WireConnection& connection, const std::atomic<bool>& stopping) {
        connection.Send(Words({2, 161, 0}));
        connection.Send(Words({2, 162, 0}));
        // Answer the logo; at the first check job say goodbye once and go, as a slave that
        // shuts down does.
        bool said = false;
        ServeJobs(connection, stopping, [&](const ParsedJob& job) {
            if (job.name == "GetLogo" || said) return GoodReplies(job);
            said = true;
            return std::vector<Bytes>{Words({160})};
        });
    });
    const auto start = std::chrono::steady_clock::now();
    auto master = StartMaster(variant(), slave.port());
    EXPECT_EQ(master->WaitExit(kWait), 1) << master->Output();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(master->Count("] Slave Paused"), 1) << master->Output();
    EXPECT_EQ(master->Count("] Slave Resumed"), 1);
    EXPECT_EQ(master->Count("message box \"Slave Quit\": Slave Quit"), 1);
}

TEST_P(MasterDemoTest, NoSlaveListening) {
    const int port = FreePort();
    auto master = StartMaster(variant(), port);
    EXPECT_EQ(master->WaitExit(kWait), 1) << master->Output();
    const std::string box =
        "message box \"\": Orvex_Master_AddSlave(): can not connect to "
        "'localhost' at port " +
        std::to_string(port);
    EXPECT_EQ(master->Count(box), callbacks() ? 0 : 1) << master->Output();
    EXPECT_EQ(master->Count("window \"Master Demo\""), 0);
}

// Callback variant only: a refused logo shows "Job verweigert"; a kick ends the demo.
TEST(MasterDemoCallbackTest, RefusedLogoSaysJobVerweigert) {
    FakeSlave slave(Serving([](const ParsedJob& job) {
        if (job.name == "GetLogo")
            return std::vector<Bytes>{Words({2, 3, job.jobId}), Words({2, 7, job.jobId})};
        return GoodReplies(job);
    }));
    auto master = StartMaster(Variant::Callback, slave.port());
    EXPECT_EQ(master->WaitExit(kWait), 0) << master->Output();
    EXPECT_EQ(master->Count("message box \"\": Job verweigert"), 1) << master->Output();
    EXPECT_EQ(master->Count("image logo"), 0);
}

TEST(MasterDemoCallbackTest, KickEndsTheDemo) {
    FakeSlave slave([](WireConnection& connection, const std::atomic<bool>& stopping) {
        bool kicked = false;
        ServeJobs(connection, stopping, [&](const ParsedJob& job) {
            if (job.name == "GetLogo" || kicked) return GoodReplies(job);
            kicked = true;
            return std::vector<Bytes>{Words({2, 163, 0})};
        });
    });
    auto master = StartMaster(Variant::Callback, slave.port());
    EXPECT_EQ(master->WaitExit(kWait), 1) << master->Output();
    EXPECT_EQ(master->Count("message box \"Slave Kick\": Wir waren böse ^^"), 1)
        << master->Output();
}

// A stream relayed to the demo is refused: its handler sets the cancel request, so a block
// is acknowledged with the cancel word; the demo goes on with its checks.
TEST(MasterDemoCallbackTest, RefusesRelayedStreams) {
    constexpr int32_t kStreamId = 7;
    std::atomic<bool> canceled{false};
    FakeSlave slave([&](WireConnection& connection, const std::atomic<bool>& stopping) {
        constexpr int32_t kSize = 1 << 20;
        connection.Send(JobRequest(kStreamId, "Relay", StringParameters({}), 161, 0, kSize));
        const Bytes data(1024, 0xAB);
        const int32_t crc = int32_t(uint32_t(crc32(0, data.data(), uInt(data.size()))));
        int32_t offset = 0;
        std::vector<ParsedJob> held;
        bool gaveUp = false;
        while (!stopping && !connection.Closed()) {
            // The jobs are answered once the stream is refused, so the demo is still running.
            if (canceled || gaveUp) {
                for (const ParsedJob& job : held) {
                    for (const Bytes& reply : GoodReplies(job)) connection.Send(reply);
                }
                held.clear();
            }
            const auto body = connection.Receive(milliseconds(20));
            if (!body) continue;
            if (WordAt(*body, 0) == 160 && WordAt(*body, 1) == kStreamId) {
                if (WordAt(*body, 3) == 1) canceled = true;
                if (canceled) continue;
                if (offset + 1024 > kSize) {  // all sent, never canceled: let the demo finish
                    gaveUp = true;
                    continue;
                }
                // The handler runs in a thread of its own: the blocks come slowly enough for
                // it to start long before the last one.
                std::this_thread::sleep_for(milliseconds(1));
                Bytes block = Words({162, kStreamId, offset, crc});
                block.insert(block.end(), data.begin(), data.end());
                connection.Send(block);
                offset += 1024;
            } else if (const auto job = ParseJob(*body)) {
                held.push_back(*job);
            }
        }
    });
    auto master = StartMaster(Variant::Callback, slave.port());
    EXPECT_EQ(master->WaitExit(kWait), 0) << master->Output();
    EXPECT_TRUE(canceled);
}

}  // namespace
}  // namespace orvex::demo::testing
