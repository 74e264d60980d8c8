#include "master_demo/master_demo.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "binding/orvex_api.hpp"
#include "common/checksums.hpp"
#include "common/display_text.hpp"
#include "common/jpeg_image.hpp"
#include "common/log_line.hpp"
#include "common/md5.hpp"
#include "common/relay_refusal.hpp"

namespace orvex::demo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCallbackRepeats = 100;
constexpr auto kCheckTimeLimit = std::chrono::seconds(30);
constexpr auto kLogoTimeLimit = std::chrono::seconds(3);

constexpr const char* kJobNames[] = {"CRC_Text", "MD5_Text"};
constexpr const char* kPrefixes[] = {"CRC", "MD5"};

// The 32-bit integer at the start of a result, when it has one.
std::optional<int32_t> IntegerResult(const void* memory, int32_t size) {
    if (memory == nullptr || size < 4) return std::nullopt;
    int32_t value;
    std::memcpy(&value, memory, sizeof value);
    return value;
}

// Job event types after which no further event of that job comes.
bool EndsJob(int32_t type) {
    return type == 1 || type == 5 || type == 6 || type == 7 || type == 159;
}

}  // namespace

MasterDemo::MasterDemo(std::unique_ptr<gui::Window> window, MasterDemoOptions options)
    : window_(std::move(window)),
      options_(std::move(options)),
      repeats_(options_.polling ? 1 : kCallbackRepeats) {
    window_->AddLabel("text", {5, 8, 30, 20}, "Text: ");
    edit_ = window_->AddEdit("text", {35, 5, 185, 20}, options_.text);
    check_ = window_->AddButton("check", {225, 5, 70, 20}, "Prüfen");
    window_->AddLabel("crcLocalCaption", {5, 38, 70, 20}, "CRC Lokal: ");
    crcLocal_ = window_->AddLabel("crcLocal", {80, 38, 215, 20}, "");
    window_->AddLabel("crcServerCaption", {5, 58, 70, 20}, "CRC Server: ");
    crcServer_ = window_->AddLabel("crcServer", {80, 58, 215, 20}, "");
    window_->AddLabel("md5LocalCaption", {5, 78, 70, 20}, "MD5 Lokal: ");
    md5Local_ = window_->AddLabel("md5Local", {80, 78, 215, 20}, "");
    window_->AddLabel("md5ServerCaption", {5, 98, 70, 20}, "MD5 Server: ");
    md5Server_ = window_->AddLabel("md5Server", {80, 98, 215, 20}, "");
    log_ = window_->AddLog("log", {5, 130, 290, 65});
    // Reaches past the right edge of the client area and is clipped there.
    image_ = window_->AddImageView("logo", {35, 200, 290, 95});
}

MasterDemo::~MasterDemo() {
    Shutdown();
}

bool MasterDemo::Start() {
    const OrvexApi& api = TheApi();
    master_ = api.Orvex_Master_Init(RefuseRelayedStream);
    if (master_ == nullptr) return false;
    if (options_.polling) {
        api.Orvex_Master_ThreadReceive(master_, 1);
    } else {
        api.Orvex_Master_SetReceiveBlockSize(master_, 1000);
        api.Orvex_Master_SetCallback(master_, OnMasterEvent, reinterpret_cast<intptr_t>(this));
    }
    slave_ = api.Orvex_Master_AddSlave(master_, "localhost", options_.port, "", 0, "", "", 0, 5);
    if (slave_ == 0) {
        const OrvexChar* error = api.Orvex_Master_GetLastError(master_);
        const std::string reason = error != nullptr ? error : "";
        if (options_.polling) window_->MessageBox("", reason);
        std::fprintf(stderr, "master_demo: %s\n", reason.c_str());
        Shutdown();
        return false;
    }
    window_->Show();
    // The logo: its job id is not kept; the logo callback gets the demo as user data.
    api.Orvex_Master_DoJob(master_, "GetLogo", slave_, nullptr, OnLogoEvent,
                           reinterpret_cast<intptr_t>(this), nullptr, 0, 0, nullptr, 0, 0, 1);
    return true;
}

int MasterDemo::Run() {
    for (;;) {
        const gui::Event event = window_->WaitEvent(1);
        if (event.kind == gui::EventKind::Close) break;
        if (event.kind == gui::EventKind::Click && event.control == check_) Check();
        if (options_.polling) {
            DrainEvents();
            if (slaveQuit_) break;
        } else if (quitFlag_.load() != 0) {
            break;
        }
        if (options_.headless) DriveScript();
    }
    Shutdown();
    if (!options_.headless) return 0;
    std::printf("master_demo: %d of %d checks with agreeing values\n", checksAgreed_,
                options_.checks);
    return checksAgreed_ == options_.checks ? 0 : 1;
}

void MasterDemo::Shutdown() {
    if (master_ == nullptr) return;
    window_->EndDialogs();  // a callback waiting on a message box must not hold up DeInit
    StopRefusingRelayedStreams();
    TheApi().Orvex_Master_DeInit(master_);
    master_ = nullptr;
}

// One press of the check button. The local values are shown and the slave's labels emptied
// before the jobs leave, so that an answer that arrives at once is not wiped out afterwards.
void MasterDemo::Check() {
    window_->SetEnabled(check_, false);
    crcDone_ = false;
    md5Done_ = false;
    const std::string text = window_->Text(edit_);
    window_->SetText(crcLocal_, CrcText(Crc32Of(text)));
    window_->SetText(md5Local_, Md5Hex(text));
    window_->SetText(crcServer_, "");
    window_->SetText(md5Server_, "");
    presses_.push_back(std::make_unique<Press>(this, int(presses_.size()) + 1));
    Press& press = *presses_.back();
    currentPress_ = &press;
    int failures = 0;
    for (int i = 0; i < repeats_; ++i) {
        failures += !Dispatch(press, kCrc, text);
        failures += !Dispatch(press, kMd5, text);
    }
    for (int i = 0; i < failures; ++i) window_->MessageBox("Fehler", "Fehler beim senden");
}

// DoJob takes the parameter list over, also when it fails.
bool MasterDemo::Dispatch(Press& press, Kind kind, const std::string& text) {
    const OrvexApi& api = TheApi();
    OrvexParameterList* params = api.Orvex_Parameter_New();
    int32_t id = 0;
    if (params != nullptr) {
        api.Orvex_Parameter_AddString(params, text.c_str());
        OrvexMasterCallback callback = nullptr;
        if (!options_.polling) callback = kind == kCrc ? OnCrcEvent : OnMd5Event;
        const intptr_t userData = options_.polling ? 0 : reinterpret_cast<intptr_t>(&press);
        id = api.Orvex_Master_DoJob(master_, kJobNames[kind], slave_, params, callback, userData,
                                    nullptr, 0, 0, nullptr, 0, 0, 1);
    }
    if (id == 0) {
        ++press.ended[kind];  // no event will come for it
        return false;
    }
    (kind == kCrc ? crcJobId_ : md5JobId_) = id;
    if (options_.polling) openJobs_.emplace_back(id, kind);
    return true;
}

// The job that an event of jobId belongs to: the oldest open job with that id. The library
// gives an id again once the job holding it has finished, so the CRC and the MD5 job of one
// press can share an id; the older one's events are all queued before the newer one's.
std::deque<std::pair<int32_t, MasterDemo::Kind>>::iterator MasterDemo::FindOpenJob(int32_t jobId) {
    return std::find_if(openJobs_.begin(), openJobs_.end(),
                        [&](const auto& job) { return job.first == jobId; });
}

int32_t ORVEX_CALL MasterDemo::OnCrcEvent(OrvexMaster*, int32_t, int32_t, int32_t type,
                                          void* memory, int32_t size, intptr_t userData) {
    auto* press = reinterpret_cast<Press*>(userData);
    press->demo->HandleJobEvent(*press, kCrc, type, memory, size);
    return 0;
}

int32_t ORVEX_CALL MasterDemo::OnMd5Event(OrvexMaster*, int32_t, int32_t, int32_t type,
                                          void* memory, int32_t size, intptr_t userData) {
    auto* press = reinterpret_cast<Press*>(userData);
    press->demo->HandleJobEvent(*press, kMd5, type, memory, size);
    return 0;
}

// Callback variant, on the master's callback thread. A result without memory (a job that
// returned nothing) shows an empty value.
void MasterDemo::HandleJobEvent(Press& press, Kind kind, int32_t type, void* memory, int32_t size) {
    const std::string prefix = kPrefixes[kind];
    const bool current = &press == currentPress_.load();
    switch (type) {
        case 1:
            Log(kind == kCrc ? "CRC Finished" : "MD5 Finished ");
            if (current) {
                if (kind == kCrc) {
                    ShowCrc(IntegerResult(memory, size));
                } else {
                    ShowMd5(TextInBlock(memory, size));
                }
                ResultArrived(kind);
            }
            break;
        case 2:
            Log(prefix + " in Progress");
            break;
        case 3:
            Log(prefix + " Received");
            break;
        case 5:
            window_->MessageBox("", "JobLimit überschritten");
            break;
        case 6:
            Log(prefix + " Unknown");
            break;
        default:
            break;
    }
    if (EndsJob(type)) ++press.ended[kind];
    TheApi().Orvex_FreeMemory(memory);  // every memory handed to a callback is the demo's
}

void MasterDemo::ShowCrc(std::optional<int32_t> crc) {
    window_->SetText(crcServer_, crc ? CrcText(*crc) : "");
}

void MasterDemo::ShowMd5(const std::string& md5) {
    window_->SetText(md5Server_, Printable(md5));
}

// The check button comes back once a CRC and an MD5 result of the press have arrived.
void MasterDemo::ResultArrived(Kind kind) {
    (kind == kCrc ? crcDone_ : md5Done_) = true;
    if (crcDone_ && md5Done_) window_->SetEnabled(check_, true);
}

int32_t ORVEX_CALL MasterDemo::OnLogoEvent(OrvexMaster*, int32_t, int32_t, int32_t type,
                                           void* memory, int32_t size, intptr_t userData) {
    reinterpret_cast<MasterDemo*>(userData)->HandleLogoEvent(type, memory, size);
    return 0;
}

// Both variants, on the callback thread. The memory is freed before the picture is shown.
void MasterDemo::HandleLogoEvent(int32_t type, void* memory, int32_t size) {
    std::optional<Image> image;
    if (type == 1 && memory != nullptr && size > 0) {
        image = DecodeJpeg(std::span(static_cast<const uint8_t*>(memory), size_t(size)));
    }
    TheApi().Orvex_FreeMemory(memory);
    if (image) window_->SetImage(image_, *image);
    if (type == 7 && !options_.polling) window_->MessageBox("", "Job verweigert");
    if (EndsJob(type)) logoAnswered_ = true;
}

int32_t ORVEX_CALL MasterDemo::OnMasterEvent(OrvexMaster*, int32_t, int32_t, int32_t type,
                                             void* memory, int32_t, intptr_t userData) {
    auto* demo = reinterpret_cast<MasterDemo*>(userData);
    TheApi().Orvex_FreeMemory(memory);
    demo->HandleMasterEvent(type);
    return 0;
}

// Callback variant: events without a job callback.
void MasterDemo::HandleMasterEvent(int32_t type) {
    switch (type) {
        case 160:
            window_->MessageBox("Slave Quit", "Slave Quit");
            quitFlag_ = 1;
            break;
        case 161:
            Log("Slave Paused");
            break;
        case 162:
            Log("Slave Resumed");
            break;
        case 163:
            window_->MessageBox("Slave Kick", "Wir waren böse ^^");
            quitFlag_ = 1;
            break;
        case 254:
            window_->MessageBox("Error", "Master Buffer Underrun");
            break;
        case 255:
            window_->MessageBox("Error", "Slave Buffer Underrun");
            break;
        default:
            break;
    }
}

// Polling variant, main thread: every queued event.
void MasterDemo::DrainEvents() {
    const OrvexApi& api = TheApi();
    while (!slaveQuit_ && api.Orvex_Master_Event(master_) != 0) {
        const int32_t type = api.Orvex_Master_Event_Type(master_);
        const int32_t jobId = api.Orvex_Master_Event_JobId(master_);
        const auto open = type < 160 ? FindOpenJob(jobId) : openJobs_.end();
        if (open != openJobs_.end()) {
            const Kind kind = open->second;
            if (EndsJob(type)) openJobs_.erase(open);
            HandlePolledJobEvent(kind, type);
        } else if (type == 160) {
            window_->MessageBox("Slave Quit", "Slave Quit");
            slaveQuit_ = true;  // the loop ends; DeInit still runs
        } else if (type == 161) {
            Log("Slave Paused");
        } else if (type == 162) {
            Log("Slave Resumed");
        } else if (type == 254 || type == 255) {
            window_->MessageBox("Error", "Slave Buffer Underrun");
        }
        // Memory that no accessor took (job messages, results of other jobs) is freed here.
        if (api.Orvex_Master_Event_JobMemSize(master_) > 0) {
            api.Orvex_FreeMemory(api.Orvex_Master_Event_JobMem(master_));
        }
    }
}

void MasterDemo::HandlePolledJobEvent(Kind kind, int32_t type) {
    const OrvexApi& api = TheApi();
    if (EndsJob(type)) ++currentPress_.load()->ended[kind];
    const std::string prefix = kPrefixes[kind];
    switch (type) {
        case 1:
            Log(prefix + " Finished");
            if (kind == kCrc) {
                // JobLong reads 4 bytes: only a result that has them is read that way.
                std::optional<int32_t> crc;
                if (api.Orvex_Master_Event_JobMemSize(master_) >= 4) {
                    crc = api.Orvex_Master_Event_JobLong(master_);
                }
                ShowCrc(crc);
            } else {
                const int32_t size = api.Orvex_Master_Event_JobMemSize(master_);
                std::string md5;
                if (size > 0) {
                    OrvexChar* text = api.Orvex_Master_Event_JobString(master_);
                    md5 = TextInBlock(text, size);
                    api.Orvex_FreeMemory(text);
                }
                ShowMd5(md5);
            }
            ResultArrived(kind);
            break;
        case 2:
            Log(prefix + " in Progress");
            break;
        case 3:
            Log(prefix + " Received");
            break;
        case 6:
            Log(prefix + " Unknown");
            break;
        default:
            break;
    }
}

void MasterDemo::Log(std::string_view message) {
    std::scoped_lock lock(logLock_);
    window_->AddLogLine(log_, LogLine(message));
}

// Headless: press the check button `checks` times, one press after the answers of the one
// before, and judge each press by what the labels show; then wait briefly for the logo's
// answer and close the window.
void MasterDemo::DriveScript() {
    const auto now = Clock::now();
    switch (script_) {
        case Script::NextCheck:
            if (checksStarted_ == options_.checks) {
                script_ = Script::WaitLogo;
                scriptDeadline_ = now + kLogoTimeLimit;
            } else if (window_->Enabled(check_)) {
                ++checksStarted_;
                window_->Press(check_);
                script_ = Script::Checking;
                scriptDeadline_ = now + kCheckTimeLimit;
            }
            break;
        case Script::Checking: {
            const Press* press = currentPress_.load();
            const bool ended = press != nullptr && press->number == checksStarted_ &&
                               press->ended[kCrc] >= repeats_ && press->ended[kMd5] >= repeats_;
            const bool late = now > scriptDeadline_;
            if (!ended && !late) break;
            const bool agreed = ended && window_->Enabled(check_) &&
                                !window_->Text(crcServer_).empty() &&
                                window_->Text(crcLocal_) == window_->Text(crcServer_) &&
                                window_->Text(md5Local_) == window_->Text(md5Server_);
            checksAgreed_ += agreed;
            std::printf("check %d of %d: %s\n", checksStarted_, options_.checks,
                        agreed ? "local and slave values agree"
                        : late ? "no complete answer in time"
                               : "local and slave values differ or are missing");
            std::fflush(stdout);
            script_ = late ? Script::WaitLogo : Script::NextCheck;
            if (late) scriptDeadline_ = now + kLogoTimeLimit;
            break;
        }
        case Script::WaitLogo:
            if (logoAnswered_ || now > scriptDeadline_) {
                window_->RequestClose();
                script_ = Script::Done;
            }
            break;
        case Script::Done:
            break;
    }
}

}  // namespace orvex::demo
