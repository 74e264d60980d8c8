// The window layer of the demos: one top-level window with exactly the controls the demos
// use, and its event loop. Two back-ends implement it: real windows (FLTK) and a headless one
// that prints what a window would show on standard output and takes scripted button presses.
//
// Threads: the window is built, shown and polled (WaitEvent) by the main thread. The control
// setters and getters, MessageBox, Press and RequestClose may be called from any thread (the
// demos call them from library callback threads too).
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/image.hpp"

namespace orvex::demo::gui {

// Position and size in client pixels.
struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

enum class Align { Left, Center };

using ControlId = int;

enum class EventKind {
    Timeout,  // the wait ended without an event
    Click,    // a push button was pressed (control says which)
    Close,    // the window was closed (close box, SIGINT/SIGTERM, scripted "close")
};

struct Event {
    EventKind kind = EventKind::Timeout;
    ControlId control = -1;
};

class Window {
  public:
    virtual ~Window() = default;

    // Building, main thread, before Show. `name` identifies the control in headless output.
    virtual ControlId AddLabel(std::string_view name, Rect area, std::string_view text,
                               Align align = Align::Left) = 0;
    virtual ControlId AddEdit(std::string_view name, Rect area, std::string_view text) = 0;
    virtual ControlId AddButton(std::string_view name, Rect area, std::string_view caption) = 0;
    // A read-only multi-line log with both scroll bars; the newest line is on top.
    virtual ControlId AddLog(std::string_view name, Rect area) = 0;
    virtual ControlId AddImageView(std::string_view name, Rect area) = 0;
    virtual void Show() = 0;

    // Any thread.
    virtual void SetText(ControlId control, std::string_view text) = 0;  // label or edit field
    virtual std::string Text(ControlId control) = 0;
    virtual void SetEnabled(ControlId button, bool enabled) = 0;
    virtual bool Enabled(ControlId button) = 0;
    virtual void AddLogLine(ControlId log, std::string_view line) = 0;
    virtual std::vector<std::string> LogLines(ControlId log) = 0;  // newest first
    virtual void SetImage(ControlId view, const Image& image) = 0;
    // Shows a message box and returns once it is dismissed (headless: once printed). Called off
    // the main thread it waits until the main thread has shown it, or until EndDialogs.
    virtual void MessageBox(std::string_view title, std::string_view text) = 0;
    // Releases every thread waiting in MessageBox; later message boxes return at once. Called
    // before the library instance whose callbacks may show boxes is torn down.
    virtual void EndDialogs() = 0;
    // Queues a click as if the user pressed the button; a press of a disabled button is
    // ignored when it is delivered.
    virtual void Press(ControlId button) = 0;
    virtual void RequestClose() = 0;

    // Main thread: waits up to timeoutMs (negative: without limit) for the next event.
    virtual Event WaitEvent(int timeoutMs) = 0;
};

// A window that prints to `out`. With readScript, lines on standard input drive it:
// "press CAPTION" (or the button's name) and "close".
std::unique_ptr<Window> OpenHeadlessWindow(std::string_view title, int width, int height,
                                           std::FILE* out, bool readScript);

// True when this build has real windows.
bool HaveRealWindows();

// A real window, centred on the screen, or null (with the reason on standard error) when this
// build has no real windows or no display can be opened.
std::unique_ptr<Window> OpenRealWindow(std::string_view title, int width, int height);

}  // namespace orvex::demo::gui
