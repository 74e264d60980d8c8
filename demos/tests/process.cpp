#include "process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace orvex::demo::testing {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(std::vector<std::string> args,
                           std::vector<std::string> extraEnvironment) {
    signal(SIGPIPE, SIG_IGN);  // a program that ended must not end the test through its pipe
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    fcntl(output_, F_SETFL, O_NONBLOCK);
    if (error != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(error));
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) close(input_);
    if (output_ >= 0) close(output_);
}

void ChildProcess::ReadAvailable(milliseconds limit) {
    pollfd fd{output_, POLLIN, 0};
    if (poll(&fd, 1, int(limit.count())) <= 0) return;
    char bytes[4096];
    for (ssize_t got; (got = read(output_, bytes, sizeof bytes)) > 0;) {
        partial_.append(bytes, size_t(got));
        for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
    }
}

bool ChildProcess::WaitForLine(std::string_view fragment, milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        for (; cursor_ < lines_.size(); ++cursor_) {
            if (lines_[cursor_].find(fragment) != std::string::npos) {
                ++cursor_;
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        ReadAvailable(std::min(left, milliseconds(50)));
    }
}

std::vector<std::string> ChildProcess::Lines() {
    ReadAvailable(milliseconds(0));
    return lines_;
}

std::string ChildProcess::Output() {
    std::string all;
    for (const std::string& line : Lines()) all += line + "\n";
    return all + partial_;
}

int ChildProcess::Count(std::string_view fragment) {
    int count = 0;
    for (const std::string& line : Lines()) count += line.find(fragment) != std::string::npos;
    return count;
}

void ChildProcess::Send(std::string_view text) {
    [[maybe_unused]] const ssize_t written = write(input_, text.data(), text.size());
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !status_) kill(pid_, signal);
}

std::optional<int> ChildProcess::WaitExit(milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!status_) {
        int raw = 0;
        const pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
            break;
        }
        if (Clock::now() >= deadline) return std::nullopt;
        ReadAvailable(milliseconds(10));
    }
    ReadAvailable(milliseconds(0));
    return status_;
}

}  // namespace orvex::demo::testing
