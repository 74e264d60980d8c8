// The headless back-end: the window exists only as state; everything it would show is printed
// as one line each on the output:
//   window "TITLE" WxH            when the window is shown
//   [hh:mm:ss] message            a log line, as the log shows it
//   label NAME: TEXT              a label (or edit field: "edit NAME: TEXT") whose text changed
//   button CAPTION: enabled       a button that was enabled or disabled
//   image NAME: WxH               a picture shown in an image view
//   message box "TITLE": TEXT     a message box (also before the window is shown)
//   press ignored: CAPTION is disabled
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "gui/close_signal.hpp"
#include "gui/window.hpp"

namespace orvex::demo::gui {
namespace {

enum class Kind { Label, Edit, Button, Log, ImageView };

struct Control {
    Kind kind;
    std::string name;
    std::string text;  // label or edit text, button caption
    bool enabled = true;
    std::deque<std::string> lines;  // log, newest first
};

// The log keeps this many of its newest lines for LogLines; all of them are printed.
constexpr size_t kKeptLogLines = 5000;

class HeadlessWindow final : public Window {
  public:
    HeadlessWindow(std::string_view title, int width, int height, std::FILE* out, bool readScript)
        : title_(title), width_(width), height_(height), out_(out), readScript_(readScript) {
        if (pipe2(wakeFds_, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
        CloseSignalFd();  // from now on SIGINT and SIGTERM close the window
    }
    ~HeadlessWindow() override {
        close(wakeFds_[0]);
        close(wakeFds_[1]);
    }

    ControlId AddLabel(std::string_view name, Rect, std::string_view text, Align) override {
        return Add(Kind::Label, name, text);
    }
    ControlId AddEdit(std::string_view name, Rect, std::string_view text) override {
        return Add(Kind::Edit, name, text);
    }
    ControlId AddButton(std::string_view name, Rect, std::string_view caption) override {
        return Add(Kind::Button, name, caption);
    }
    ControlId AddLog(std::string_view name, Rect) override { return Add(Kind::Log, name, ""); }
    ControlId AddImageView(std::string_view name, Rect) override {
        return Add(Kind::ImageView, name, "");
    }

    void Show() override {
        std::scoped_lock lock(mutex_);
        shown_ = true;
        Print("window \"" + title_ + "\" " + std::to_string(width_) + "x" +
              std::to_string(height_));
    }

    void SetText(ControlId id, std::string_view text) override {
        std::scoped_lock lock(mutex_);
        Control& control = At(id);
        if (control.text == text) return;
        control.text = text;
        PrintShown((control.kind == Kind::Edit ? "edit " : "label ") + control.name + ": " +
                   control.text);
    }

    std::string Text(ControlId id) override {
        std::scoped_lock lock(mutex_);
        return At(id).text;
    }

    void SetEnabled(ControlId id, bool enabled) override {
        std::scoped_lock lock(mutex_);
        Control& control = At(id);
        if (control.enabled == enabled) return;
        control.enabled = enabled;
        PrintShown("button " + control.text + (enabled ? ": enabled" : ": disabled"));
    }

    bool Enabled(ControlId id) override {
        std::scoped_lock lock(mutex_);
        return At(id).enabled;
    }

    void AddLogLine(ControlId id, std::string_view line) override {
        std::scoped_lock lock(mutex_);
        Control& control = At(id);
        control.lines.emplace_front(line);
        if (control.lines.size() > kKeptLogLines) control.lines.pop_back();
        PrintShown(std::string(line));
    }

    std::vector<std::string> LogLines(ControlId id) override {
        std::scoped_lock lock(mutex_);
        const Control& control = At(id);
        return {control.lines.begin(), control.lines.end()};
    }

    void SetImage(ControlId id, const Image& image) override {
        std::scoped_lock lock(mutex_);
        PrintShown("image " + At(id).name + ": " + std::to_string(image.width) + "x" +
                   std::to_string(image.height));
    }

    void MessageBox(std::string_view title, std::string_view text) override {
        std::scoped_lock lock(mutex_);
        Print("message box \"" + std::string(title) + "\": " + std::string(text));
    }

    void EndDialogs() override {}

    void Press(ControlId id) override {
        std::scoped_lock lock(mutex_);
        At(id);
        events_.push_back({EventKind::Click, id});
        Wake();
    }

    void RequestClose() override {
        std::scoped_lock lock(mutex_);
        events_.push_back({EventKind::Close, -1});
        Wake();
    }

    Event WaitEvent(int timeoutMs) override {
        if (auto event = NextEvent()) return *event;
        WaitForInput(timeoutMs);
        if (auto event = NextEvent()) return *event;
        return {};
    }

  private:
    ControlId Add(Kind kind, std::string_view name, std::string_view text) {
        std::scoped_lock lock(mutex_);
        controls_.push_back({kind, std::string(name), std::string(text), true, {}});
        return ControlId(controls_.size() - 1);
    }

    // Caller holds mutex_.
    Control& At(ControlId id) {
        if (id < 0 || size_t(id) >= controls_.size()) throw std::out_of_range("no such control");
        return controls_[size_t(id)];
    }

    // Caller holds mutex_, so lines of different threads never mix.
    // Changes of controls are printed once the window is shown; building it prints nothing.
    void PrintShown(std::string line) {
        if (shown_) Print(std::move(line));
    }

    // One write per line, so that lines printed elsewhere by the program never split it.
    void Print(std::string line) {
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fflush(out_);
    }

    void Wake() {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFds_[1], &byte, 1);
    }

    // The next deliverable event; presses of disabled buttons are dropped here.
    std::optional<Event> NextEvent() {
        std::scoped_lock lock(mutex_);
        while (!events_.empty()) {
            const Event event = events_.front();
            events_.pop_front();
            if (event.kind == EventKind::Click && !At(event.control).enabled) {
                Print("press ignored: " + At(event.control).text + " is disabled");
                continue;
            }
            return event;
        }
        return std::nullopt;
    }

    void WaitForInput(int timeoutMs) {
        pollfd fds[3] = {{wakeFds_[0], POLLIN, 0},
                         {CloseSignalFd(), POLLIN, 0},
                         {readScript_ ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 3, timeoutMs < 0 ? -1 : timeoutMs) <= 0) return;
        char bytes[64];
        while (read(wakeFds_[0], bytes, sizeof bytes) > 0) {
        }
        if (DrainCloseSignal()) RequestClose();
        if (fds[2].revents != 0) ReadScript();
    }

    // Reads what standard input has and turns complete lines into events.
    void ReadScript() {
        char bytes[512];
        const ssize_t got = read(0, bytes, sizeof bytes);
        if (got <= 0) {
            if (got == 0 || errno != EINTR) readScript_ = false;  // end of the script
            return;
        }
        script_.append(bytes, size_t(got));
        for (size_t end; (end = script_.find('\n')) != std::string::npos;) {
            std::string line = script_.substr(0, end);
            script_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            RunScriptLine(line);
        }
    }

    void RunScriptLine(const std::string& line) {
        if (line.empty()) return;
        if (line == "close") return RequestClose();
        const std::string_view press = "press ";
        if (line.starts_with(press)) {
            const std::string what = line.substr(press.size());
            std::scoped_lock lock(mutex_);
            for (size_t i = 0; i < controls_.size(); ++i) {
                const Control& c = controls_[i];
                if (c.kind == Kind::Button && (c.text == what || c.name == what)) {
                    events_.push_back({EventKind::Click, ControlId(i)});
                    return;
                }
            }
        }
        std::fprintf(stderr, "unknown command: %s (use \"press CAPTION\" or \"close\")\n",
                     line.c_str());
    }

    const std::string title_;
    const int width_, height_;
    std::FILE* const out_;
    bool readScript_;     // main thread only
    std::string script_;  // main thread only: a partial script line
    int wakeFds_[2] = {-1, -1};

    std::mutex mutex_;  // guards controls_, events_ and the output
    std::vector<Control> controls_;
    std::deque<Event> events_;
    bool shown_ = false;
};

}  // namespace

std::unique_ptr<Window> OpenHeadlessWindow(std::string_view title, int width, int height,
                                           std::FILE* out, bool readScript) {
    return std::make_unique<HeadlessWindow>(title, width, height, out, readScript);
}

}  // namespace orvex::demo::gui
