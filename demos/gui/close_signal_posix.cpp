#include "gui/close_signal.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace orvex::demo::gui {
namespace {

int pipeFds[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(pipeFds[1], &byte, 1);
    errno = saved;
}

void Install() {
    if (pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int CloseSignalFd() {
    static std::once_flag once;
    std::call_once(once, Install);
    return pipeFds[0];
}

bool DrainCloseSignal() {
    bool any = false;
    char bytes[16];
    while (read(CloseSignalFd(), bytes, sizeof bytes) > 0) any = true;
    return any;
}

}  // namespace orvex::demo::gui
