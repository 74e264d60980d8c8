#include "slave_demo/slave_demo.hpp"

#include "binding/orvex_api.hpp"
#include "common/display_text.hpp"
#include "common/log_line.hpp"
#include "slave_demo/slave_jobs.hpp"

namespace orvex::demo {
namespace {

std::string MasterText(std::string_view what, int32_t master) {
    return std::string(what) + ": Master:" + std::to_string(master);
}

std::string PendingText(int32_t count) {
    return "Ausstehende Jobs: " + std::to_string(count);
}

}  // namespace

SlaveDemo::SlaveDemo(std::unique_ptr<gui::Window> window, int port)
    : window_(std::move(window)), port_(port) {
    log_ = window_->AddLog("log", {5, 5, 390, 260});
    pause_ = window_->AddButton("pause", {5, 270, 70, 20}, "Pause");
    resume_ = window_->AddButton("resume", {325, 270, 70, 20}, "Resume");
    window_->SetEnabled(resume_, false);
    pending_ = window_->AddLabel("pending", {80, 273, 240, 20}, PendingText(0), gui::Align::Center);
}

SlaveDemo::~SlaveDemo() {
    Shutdown();
}

std::string SlaveDemo::Title(int port) {
    return "Slave Demo [Port: " + std::to_string(port) + " / " + std::to_string(kSlaveDemoWorkers) +
           " Worker]";
}

bool SlaveDemo::Start() {
    const OrvexApi& api = TheApi();
    slave_ = api.Orvex_Slave_Init(port_, kSlaveDemoWorkers);
    if (slave_ == nullptr) return false;
    // The window exists before the callback is set: the first event may come at once. The
    // jobs are registered before the window shows, so that a shown window means a slave that
    // serves them.
    api.Orvex_Slave_SetCallback(slave_, OnEvent, reinterpret_cast<intptr_t>(this));
    api.Orvex_Slave_AddJob(slave_, "CRC_Text", "CRC Berechnung (1 String Parameter)", CrcTextJob,
                           0);
    api.Orvex_Slave_AddJob(slave_, "MD5_Text", "MD5 Berechnung (1 String Parameter)", Md5TextJob,
                           0);
    api.Orvex_Slave_AddJob(slave_, "GetLogo", "Orvex Logo holen", GetLogoJob, 0);
    // Bodies of 32768 bytes or more leave compressed at zlib level 9.
    api.Orvex_Slave_SetCompressionOptions(slave_, 32768, 9);
    window_->Show();
    return true;
}

void SlaveDemo::Run() {
    for (;;) {
        const gui::Event event = window_->WaitEvent(-1);
        if (event.kind == gui::EventKind::Close) break;
        if (event.kind != gui::EventKind::Click) continue;
        if (event.control == pause_) OnPause();
        if (event.control == resume_) OnResume();
    }
    Shutdown();
}

void SlaveDemo::Shutdown() {
    if (slave_ == nullptr) return;
    window_->EndDialogs();
    TheApi().Orvex_Slave_DeInit(slave_);  // tells the masters that this slave shuts down
    slave_ = nullptr;
}

void SlaveDemo::OnPause() {
    window_->SetEnabled(pause_, false);
    window_->SetEnabled(resume_, true);
    TheApi().Orvex_Slave_Pause(slave_);
    Log("Slave Paused");
}

void SlaveDemo::OnResume() {
    window_->SetEnabled(pause_, true);
    window_->SetEnabled(resume_, false);
    TheApi().Orvex_Slave_Resume(slave_);
    Log("Slave Resumed");
}

int32_t ORVEX_CALL SlaveDemo::OnEvent(OrvexSlave*, int32_t master, const OrvexChar* text,
                                      int32_t type, intptr_t userData) {
    auto* demo = reinterpret_cast<SlaveDemo*>(userData);
    demo->HandleEvent(master, text != nullptr ? text : "", type);
    return 0;
}

void SlaveDemo::HandleEvent(int32_t master, std::string_view text, int32_t type) {
    const OrvexApi& api = TheApi();
    switch (type) {
        case 2: {
            // The check is installed before the line is logged, so that the line also says
            // that the master's later requests are checked.
            api.Orvex_Slave_SetMasterJobAccessCheck(slave_, master, SlaveDemoAccessCheck);
            const int32_t address = api.Orvex_Slave_GetMasterIP(slave_, master);
            Log(MasterText("Connect", master) + " IP: " + DottedAddress(address));
            break;
        }
        case 1:
            Log(MasterText("Disconnect", master));
            break;
        case 8:
            Log(MasterText("Ping", master));
            break;
        case 5:
            Log(MasterText("Count Jobs", master));
            break;
        case 6:
            Log(MasterText("Count Workers", master));
            break;
        case 3:
            Log(MasterText("Ordered Job Info", master));
            break;
        case 4:
            Log(MasterText("Execute Job", master) + " Job: " + Printable(text));
            break;
        case 255:
            Log("Error: Buffer Underrun");
            break;
        default:
            break;
    }
    RefreshPendingLabel();
}

// The label follows the pending count only when an event arrives: jobs that finish between
// events do not refresh it.
void SlaveDemo::RefreshPendingLabel() {
    const int32_t count = TheApi().Orvex_Slave_CountJobs(slave_);
    if (count == shownCount_) return;
    window_->SetText(pending_, PendingText(count));
    shownCount_ = count;
}

void SlaveDemo::Log(std::string_view message) {
    std::scoped_lock lock(logLock_);
    window_->AddLogLine(log_, LogLine(message));
}

}  // namespace orvex::demo
