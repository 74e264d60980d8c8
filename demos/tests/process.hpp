// A demo program started by a test: its standard input, and its standard output and error
// merged into one stream of lines that the test waits on with a time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::demo::testing {

using std::chrono::milliseconds;

class ChildProcess {
  public:
    // Starts args[0] with the arguments; extraEnvironment entries ("NAME=value") are added to
    // the test's own environment.
    explicit ChildProcess(std::vector<std::string> args,
                          std::vector<std::string> extraEnvironment = {});
    ~ChildProcess();  // kills the program if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits until a line containing `fragment` appears after the last line matched by an
    // earlier WaitForLine; true when it did within the limit.
    bool WaitForLine(std::string_view fragment, milliseconds limit);
    // Every line printed so far.
    std::vector<std::string> Lines();
    // The lines so far joined, for failure messages.
    std::string Output();
    // Number of lines so far that contain `fragment`.
    int Count(std::string_view fragment);

    void Send(std::string_view text);  // to standard input
    void Signal(int signal);
    // The exit status once the program has ended within the limit (-signal when killed).
    std::optional<int> WaitExit(milliseconds limit);

  private:
    void ReadAvailable(milliseconds limit);

    pid_t pid_ = -1;
    int input_ = -1, output_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    size_t cursor_ = 0;  // lines before it have been matched already
    std::optional<int> status_;
};

}  // namespace orvex::demo::testing
