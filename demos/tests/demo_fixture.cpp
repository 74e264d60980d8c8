#include "demo_fixture.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "common/checksums.hpp"
#include "common/md5.hpp"
#include "logo/logo.hpp"

namespace orvex::demo::testing {

std::string ProgramPath(const std::string& name) {
    return std::string(ORVEX_DEMO_BIN_DIR) + "/" + name;
}
std::string LibraryPath() {
    return ORVEX_DEMO_LIBRARY;
}

RunningSlaveDemo StartSlaveDemo() {
    RunningSlaveDemo slave;
    // A port found free may be taken by another test before the demo listens: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        slave.port = FreePort();
        const std::string port = std::to_string(slave.port);
        slave.process = std::make_unique<ChildProcess>(std::vector<std::string>{
            ProgramPath("slave_demo"), "--headless", "--port", port, "--library", LibraryPath()});
        if (slave.process->WaitForLine(
                "window \"Slave Demo [Port: " + port + " / 32 Worker]\" 400x300",
                milliseconds(10000))) {
            return slave;
        }
        slave.process->WaitExit(milliseconds(2000));
    }
    ADD_FAILURE() << "slave_demo did not start:\n" << slave.process->Output();
    return slave;
}

FakeSlave::FakeSlave(Script script) {
    for (int attempt = 0; attempt < 5 && listener_ == nullptr; ++attempt) {
        port_ = FreePort();
        listener_ = WireListener::Listen(port_);
    }
    if (listener_ == nullptr) throw std::runtime_error("no port for the fake slave");
    thread_ = std::thread([this, script = std::move(script)] {
        auto connection = listener_->Accept(milliseconds(15000));
        if (connection) script(*connection, stopping_);
    });
}

FakeSlave::~FakeSlave() {
    stopping_ = true;
    thread_.join();
}

std::vector<Bytes> GoodReplies(const ParsedJob& job) {
    std::vector<Bytes> replies = {Words({2, 3, job.jobId}), Words({2, 2, job.jobId})};
    const std::string text = job.parameters.empty() ? "" : job.parameters[0];
    Bytes payload;
    if (job.name == "CRC_Text") {
        AppendWord(payload, Crc32Of(text));
    } else if (job.name == "MD5_Text") {
        const std::string md5 = Md5Hex(text);
        payload.assign(md5.begin(), md5.end());
        payload.push_back(0);
    } else if (job.name == "GetLogo") {
        const auto logo = LogoJpeg();
        payload.assign(logo.begin(), logo.end());
    } else {
        return {Words({2, 6, job.jobId})};
    }
    replies.push_back(JobResult(job.jobId, payload));
    return replies;
}

void ServeJobs(WireConnection& connection, const std::atomic<bool>& stopping,
               const std::function<std::vector<Bytes>(const ParsedJob&)>& reply) {
    while (!stopping && !connection.Closed()) {
        const auto body = connection.Receive(milliseconds(20));
        if (!body) continue;
        if (const auto job = ParseJob(*body)) {
            for (const Bytes& answer : reply(*job)) connection.Send(answer);
        }
    }
}

}  // namespace orvex::demo::testing
