// The master demo: connects to the slave demo, sends the text of its edit field to the jobs
// "CRC_Text" and "MD5_Text" on every press of the check button and shows the slave's answers
// next to the same checksums computed here; at start it asks "GetLogo" for the logo.
//
// Two variants: the callback variant gets results in job callbacks and slave notices in the
// event callback (both on the master's callback thread) and sends each job 100 times per
// press; the polling variant takes the CRC and MD5 events from the event queue in its own
// loop and sends each job once.
//
// Headless, the demo presses the check button itself (`checks` times), waits for the answers
// of each press and reports whether the local and the slave's values agree.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Orvex.h"
#include "gui/window.hpp"

namespace orvex::demo {

struct MasterDemoOptions {
    bool headless = false;
    bool polling = false;
    int port = 444;
    std::string text = "Demotext";  // the edit field's first content
    int checks = 1;                 // headless presses of the check button
};

class MasterDemo {
  public:
    MasterDemo(std::unique_ptr<gui::Window> window, MasterDemoOptions options);
    ~MasterDemo();
    MasterDemo(const MasterDemo&) = delete;
    MasterDemo& operator=(const MasterDemo&) = delete;

    // Creates the master, connects to the slave, shows the window and asks for the logo.
    // False when the master cannot be made or the slave cannot be reached.
    bool Start();

    // The window loop, until the window is closed (or the slave quits or kicks us out).
    // Returns the exit status: 0, or headless 1 when a check found no agreeing values.
    int Run();

  private:
    enum Kind { kCrc = 0, kMd5 = 1 };
    enum class Script { NextCheck, Checking, WaitLogo, Done };

    // One press of the check button: the callback variant's jobs carry it as their user data,
    // so that answers to jobs of an earlier press are logged but not shown (a press with a new
    // text never shows an old text's values; job ids are reused, so they cannot tell).
    struct Press {
        MasterDemo* demo;
        int number;
        std::array<std::atomic<int>, 2> ended{};  // jobs of each kind that ended (or never left)
    };

    // Library callbacks; user data is the demo.
    static int32_t ORVEX_CALL OnCrcEvent(OrvexMaster*, int32_t slave, int32_t jobId, int32_t type,
                                         void* memory, int32_t size, intptr_t userData);
    static int32_t ORVEX_CALL OnMd5Event(OrvexMaster*, int32_t slave, int32_t jobId, int32_t type,
                                         void* memory, int32_t size, intptr_t userData);
    static int32_t ORVEX_CALL OnLogoEvent(OrvexMaster*, int32_t slave, int32_t jobId, int32_t type,
                                          void* memory, int32_t size, intptr_t userData);
    static int32_t ORVEX_CALL OnMasterEvent(OrvexMaster*, int32_t slave, int32_t jobId,
                                            int32_t type, void* memory, int32_t size,
                                            intptr_t userData);

    void Check();
    bool Dispatch(Press& press, Kind kind, const std::string& text);
    void HandleJobEvent(Press& press, Kind kind, int32_t type, void* memory, int32_t size);
    void HandleLogoEvent(int32_t type, void* memory, int32_t size);
    void HandleMasterEvent(int32_t type);
    void DrainEvents();
    void HandlePolledJobEvent(Kind kind, int32_t type);
    std::deque<std::pair<int32_t, Kind>>::iterator FindOpenJob(int32_t jobId);
    void ShowCrc(std::optional<int32_t> crc);
    void ShowMd5(const std::string& md5);
    void ResultArrived(Kind kind);
    void Log(std::string_view message);
    void DriveScript();
    void Shutdown();

    std::unique_ptr<gui::Window> window_;
    const MasterDemoOptions options_;
    const int repeats_;  // sends of each job per press: 100 (callback), 1 (polling)
    OrvexMaster* master_ = nullptr;
    int32_t slave_ = 0;
    gui::ControlId edit_ = -1, check_ = -1, crcLocal_ = -1, crcServer_ = -1, md5Local_ = -1,
                   md5Server_ = -1, log_ = -1, image_ = -1;

    // The job ids of the last dispatch of each job; main thread only.
    int32_t crcJobId_ = 0, md5JobId_ = 0;
    // Polling variant: the dispatched jobs whose final event has not been taken yet, oldest
    // first; main thread only.
    std::deque<std::pair<int32_t, Kind>> openJobs_;
    std::atomic<bool> crcDone_{false}, md5Done_{false};
    std::atomic<int32_t> quitFlag_{0};  // set by the event callback: leave the loop
    bool slaveQuit_ = false;            // polling variant: the slave said goodbye; main thread
    std::atomic<bool> logoAnswered_{false};
    std::mutex logLock_;  // held while a log line is added

    // Every press so far; a press lives until the demo ends, after the library's last callback.
    std::deque<std::unique_ptr<Press>> presses_;  // main thread only
    std::atomic<Press*> currentPress_{nullptr};

    // Headless script state; main thread only.
    Script script_ = Script::NextCheck;
    int checksStarted_ = 0, checksAgreed_ = 0;
    std::chrono::steady_clock::time_point scriptDeadline_{};
};

}  // namespace orvex::demo
