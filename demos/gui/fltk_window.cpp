// The real-window back-end on FLTK 1.3.
//
// Threads: FLTK's global lock (Fl::lock, a recursive mutex) guards every widget. The main
// thread holds it only inside WaitEvent and inside each control call, never while the demo
// calls into the library, so a library callback thread that updates a control can always get
// it, and a library call that waits for such a thread (DeInit) cannot deadlock with it.
// Message boxes are modal loops and run on the main thread only: a box asked for by another
// thread is queued, and that thread waits until WaitEvent has shown it (or EndDialogs).
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "gui/close_signal.hpp"
#include "gui/window.hpp"

namespace orvex::demo::gui {
namespace {

constexpr int kFontSize = 10;

// Holds FLTK's lock for one scope.
class FltkLock {
  public:
    FltkLock() { Fl::lock(); }
    ~FltkLock() { Fl::unlock(); }
    FltkLock(const FltkLock&) = delete;
    FltkLock& operator=(const FltkLock&) = delete;
};

// FLTK draws "@..." in labels as symbols; "@@" is a plain "@".
std::string PlainLabel(std::string_view text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '@') out += '@';
    }
    return out;
}

std::string UnescapeLabel(const char* label) {
    std::string out;
    for (const char* p = label ? label : ""; *p; ++p) {
        out += *p;
        if (p[0] == '@' && p[1] == '@') ++p;
    }
    return out;
}

struct Control {
    Fl_Widget* widget = nullptr;            // owned by the window
    Fl_Text_Buffer* buffer = nullptr;       // log only
    std::unique_ptr<Fl_RGB_Image> picture;  // image view only
    std::vector<uint8_t> pixels;            // what picture points into
};

struct PendingBox {
    std::string title, text;
    bool done = false;
};

class FltkWindow final : public Window {
  public:
    FltkWindow(std::string_view title, int width, int height) : title_(title) {
        FltkLock lock;
        Fl::scheme("gtk+");
        window_ = std::make_unique<Fl_Double_Window>(width, height, title_.c_str());
        window_->callback(OnWindowClose, this);
        int sx, sy, sw, sh;
        Fl::screen_xywh(sx, sy, sw, sh);
        window_->position(sx + (sw - width) / 2, sy + (sh - height) / 2);
        Fl::add_fd(CloseSignalFd(), FL_READ, OnCloseSignal, this);
    }

    ~FltkWindow() override {
        EndDialogs();
        FltkLock lock;
        Fl::remove_fd(CloseSignalFd());
        window_->hide();
        window_.reset();  // deletes the widgets; the log buffers outlive their displays
        for (Control& c : controls_) delete c.buffer;
        Fl::flush();
    }

    ControlId AddLabel(std::string_view, Rect r, std::string_view text, Align align) override {
        FltkLock lock;
        auto* box = new Fl_Box(r.x, r.y, r.w, r.h);
        box->box(FL_NO_BOX);
        box->labelsize(kFontSize);
        box->align((align == Align::Center ? FL_ALIGN_CENTER : FL_ALIGN_LEFT) | FL_ALIGN_INSIDE |
                   FL_ALIGN_CLIP);
        box->copy_label(PlainLabel(text).c_str());
        return Add(box);
    }

    ControlId AddEdit(std::string_view, Rect r, std::string_view text) override {
        FltkLock lock;
        auto* input = new Fl_Input(r.x, r.y, r.w, r.h);
        input->textsize(kFontSize);
        input->value(std::string(text).c_str());
        return Add(input);
    }

    ControlId AddButton(std::string_view, Rect r, std::string_view caption) override {
        FltkLock lock;
        auto* button = new Fl_Button(r.x, r.y, r.w, r.h);
        button->labelsize(kFontSize);
        button->copy_label(PlainLabel(caption).c_str());
        const ControlId id = Add(button);
        button->callback(OnButton, reinterpret_cast<void*>(intptr_t(id)));
        return id;
    }

    ControlId AddLog(std::string_view, Rect r) override {
        FltkLock lock;
        auto* display = new Fl_Text_Display(r.x, r.y, r.w, r.h);
        auto* buffer = new Fl_Text_Buffer();
        display->buffer(buffer);
        display->textsize(kFontSize);
        display->scrollbar_width(14);
        const ControlId id = Add(display);
        controls_[size_t(id)].buffer = buffer;
        return id;
    }

    ControlId AddImageView(std::string_view, Rect r) override {
        FltkLock lock;
        auto* box = new Fl_Box(r.x, r.y, r.w, r.h);
        box->box(FL_NO_BOX);
        box->align(FL_ALIGN_TOP_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
        return Add(box);
    }

    void Show() override {
        FltkLock lock;
        window_->end();
        window_->show();
    }

    void SetText(ControlId id, std::string_view text) override {
        {
            FltkLock lock;
            Fl_Widget* widget = At(id).widget;
            if (auto* input = dynamic_cast<Fl_Input*>(widget)) {
                input->value(std::string(text).c_str());
            } else {
                widget->copy_label(PlainLabel(text).c_str());
                widget->redraw_label();
                widget->redraw();
            }
        }
        Fl::awake();
    }

    std::string Text(ControlId id) override {
        FltkLock lock;
        Fl_Widget* widget = At(id).widget;
        if (auto* input = dynamic_cast<Fl_Input*>(widget)) return input->value();
        return UnescapeLabel(widget->label());
    }

    void SetEnabled(ControlId id, bool enabled) override {
        {
            FltkLock lock;
            Fl_Widget* widget = At(id).widget;
            if (enabled) {
                widget->activate();
            } else {
                widget->deactivate();
            }
        }
        Fl::awake();
    }

    bool Enabled(ControlId id) override {
        FltkLock lock;
        return At(id).widget->active() != 0;
    }

    void AddLogLine(ControlId id, std::string_view line) override {
        {
            FltkLock lock;
            Control& control = At(id);
            control.buffer->insert(0, (std::string(line) + "\n").c_str());
        }
        Fl::awake();
    }

    std::vector<std::string> LogLines(ControlId id) override {
        FltkLock lock;
        std::vector<std::string> lines;
        char* text = At(id).buffer->text();
        std::string all = text;
        free(text);
        for (size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos;
             start = end + 1) {
            lines.push_back(all.substr(start, end - start));
        }
        return lines;
    }

    void SetImage(ControlId id, const Image& image) override {
        {
            FltkLock lock;
            Control& control = At(id);
            control.widget->image(nullptr);
            control.picture.reset();
            control.pixels = image.rgb;
            control.picture =
                std::make_unique<Fl_RGB_Image>(control.pixels.data(), image.width, image.height, 3);
            control.widget->image(control.picture.get());
            control.widget->redraw();
        }
        Fl::awake();
    }

    void MessageBox(std::string_view title, std::string_view text) override {
        if (std::this_thread::get_id() == mainThread_) {
            ShowBox(std::string(title), std::string(text));
            return;
        }
        auto box = std::make_shared<PendingBox>();
        box->title = title;
        box->text = text;
        std::unique_lock lock(boxMutex_);
        if (dialogsEnded_) return;
        boxes_.push_back(box);
        Fl::awake();
        boxShown_.wait(lock, [&] { return box->done || dialogsEnded_; });
    }

    void EndDialogs() override {
        std::scoped_lock lock(boxMutex_);
        dialogsEnded_ = true;
        boxShown_.notify_all();
    }

    void Press(ControlId id) override {
        PushEvent({EventKind::Click, id});
        Fl::awake();
    }

    void RequestClose() override {
        PushEvent({EventKind::Close, -1});
        Fl::awake();
    }

    Event WaitEvent(int timeoutMs) override {
        FltkLock lock;
        if (auto event = NextEvent()) return *event;
        Fl::wait(timeoutMs < 0 ? 1e9 : timeoutMs / 1000.0);
        ShowQueuedBoxes();
        if (auto event = NextEvent()) return *event;
        return {};
    }

  private:
    ControlId Add(Fl_Widget* widget) {
        controls_.push_back({widget, nullptr, nullptr, {}});
        return ControlId(controls_.size() - 1);
    }

    Control& At(ControlId id) {
        if (id < 0 || size_t(id) >= controls_.size()) throw std::out_of_range("no such control");
        return controls_[size_t(id)];
    }

    void PushEvent(Event event) {
        std::scoped_lock lock(eventMutex_);
        events_.push_back(event);
    }

    // Main thread, FLTK lock held. Scripted presses of disabled buttons are dropped.
    std::optional<Event> NextEvent() {
        std::scoped_lock lock(eventMutex_);
        while (!events_.empty()) {
            const Event event = events_.front();
            events_.pop_front();
            if (event.kind == EventKind::Click && !At(event.control).widget->active()) continue;
            return event;
        }
        return std::nullopt;
    }

    // A modal box with the text and an OK button; its own loop ends when the box is closed or
    // the program is asked to close (a signal), so a box never keeps the demo from ending.
    void ShowBox(const std::string& title, const std::string& text) {
        FltkLock lock;
        if (closing_) return;
        const std::string label = PlainLabel(text);
        fl_font(FL_HELVETICA, kFontSize);
        int textWidth = 0, textHeight = 0;
        fl_measure(label.c_str(), textWidth, textHeight, 0);
        const int width = std::clamp(textWidth + 40, 220, 640);
        const int height = textHeight + 75;
        Fl_Double_Window box(width, height, title.c_str());
        Fl_Box message(10, 15, width - 20, textHeight + 10);
        message.labelsize(kFontSize);
        message.copy_label(label.c_str());
        message.align(FL_ALIGN_INSIDE | FL_ALIGN_CENTER | FL_ALIGN_WRAP);
        Fl_Button ok(width / 2 - 35, height - 38, 70, 25, "OK");
        ok.labelsize(kFontSize);
        ok.callback([](Fl_Widget* button, void*) { button->window()->hide(); });
        box.end();
        int sx, sy, sw, sh;
        Fl::screen_xywh(sx, sy, sw, sh);
        box.position(sx + (sw - width) / 2, sy + (sh - height) / 2);
        box.set_modal();
        box.show();
        while (box.shown() && !closing_) Fl::wait();
        box.hide();
    }

    // Main thread: shows the boxes other threads asked for, oldest first.
    void ShowQueuedBoxes() {
        for (;;) {
            std::shared_ptr<PendingBox> box;
            {
                std::scoped_lock lock(boxMutex_);
                if (boxes_.empty() || dialogsEnded_) return;
                box = boxes_.front();
                boxes_.pop_front();
            }
            ShowBox(box->title, box->text);
            std::scoped_lock lock(boxMutex_);
            box->done = true;
            boxShown_.notify_all();
        }
    }

    static void OnButton(Fl_Widget* widget, void* data) {
        auto* self = static_cast<FltkWindow*>(widget->window()->user_data());
        self->PushEvent({EventKind::Click, ControlId(reinterpret_cast<intptr_t>(data))});
    }

    static void OnWindowClose(Fl_Widget*, void* data) {
        // FLTK also closes windows on Escape; only the close box (or a signal) closes ours.
        if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
        static_cast<FltkWindow*>(data)->PushEvent({EventKind::Close, -1});
    }

    static void OnCloseSignal(int, void* data) {
        if (!DrainCloseSignal()) return;
        auto* self = static_cast<FltkWindow*>(data);
        self->closing_ = true;  // also ends an open message box
        self->PushEvent({EventKind::Close, -1});
    }

    const std::string title_;
    const std::thread::id mainThread_ = std::this_thread::get_id();
    std::unique_ptr<Fl_Double_Window> window_;  // owns the widgets
    std::vector<Control> controls_;             // under the FLTK lock
    bool closing_ = false;  // under the FLTK lock: a signal asked to close (ends an open box)

    std::mutex eventMutex_;  // guards events_; never held while taking the FLTK lock
    std::deque<Event> events_;

    std::mutex boxMutex_;  // guards boxes_, dialogsEnded_ and every PendingBox::done
    std::condition_variable boxShown_;
    std::deque<std::shared_ptr<PendingBox>> boxes_;
    bool dialogsEnded_ = false;
};

}  // namespace

bool HaveRealWindows() {
    return true;
}

std::unique_ptr<Window> OpenRealWindow(std::string_view title, int width, int height) {
    CloseSignalFd();  // from now on SIGINT and SIGTERM close the window
    {
        FltkLock lock;  // the first Fl::lock also switches FLTK's thread support on
        if (!fl_display) {
            const char* display = std::getenv("DISPLAY");
            if (display == nullptr || *display == '\0') {
                std::fprintf(stderr, "no display (DISPLAY is not set): run with --headless\n");
                return nullptr;
            }
            fl_open_display();
        }
    }
    return std::make_unique<FltkWindow>(title, width, height);
}

}  // namespace orvex::demo::gui
