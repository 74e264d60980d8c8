// The slave demo: serves "CRC_Text", "MD5_Text" and "GetLogo" on a port with 32 workers,
// lets only masters on the local host run jobs and refuses them "GetLogo" (the access check
// compares the name as sent, case-sensitively, so "getlogo" passes), logs what its masters
// do, shows how many jobs are pending, and pauses and resumes job execution.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "Orvex.h"
#include "gui/window.hpp"

namespace orvex::demo {

inline constexpr int kSlaveDemoWorkers = 32;

class SlaveDemo {
  public:
    // Builds the window (not shown yet). The library must be bound.
    SlaveDemo(std::unique_ptr<gui::Window> window, int port);
    ~SlaveDemo();
    SlaveDemo(const SlaveDemo&) = delete;
    SlaveDemo& operator=(const SlaveDemo&) = delete;

    // The window title for a port: "Slave Demo [Port: 444 / 32 Worker]".
    static std::string Title(int port);

    // Starts the slave, shows the window, registers the jobs. False when the port cannot be
    // listened on (nothing is shown then).
    bool Start();

    // Runs the window loop until the window is closed, then shuts the slave down.
    void Run();

  private:
    static int32_t ORVEX_CALL OnEvent(OrvexSlave* slave, int32_t master, const OrvexChar* text,
                                      int32_t type, intptr_t userData);
    void HandleEvent(int32_t master, std::string_view text, int32_t type);
    void RefreshPendingLabel();
    void Log(std::string_view message);
    void OnPause();
    void OnResume();
    void Shutdown();

    std::unique_ptr<gui::Window> window_;
    const int port_;
    OrvexSlave* slave_ = nullptr;
    gui::ControlId log_ = -1, pause_ = -1, resume_ = -1, pending_ = -1;
    std::mutex logLock_;      // held while a log line is added, so lines keep their order
    int32_t shownCount_ = 0;  // the pending count last shown; callback thread only
};

}  // namespace orvex::demo
