// Stands in for the real-window back-end in builds without FLTK.
#include <cstdio>

#include "gui/window.hpp"

namespace orvex::demo::gui {

bool HaveRealWindows() {
    return false;
}

std::unique_ptr<Window> OpenRealWindow(std::string_view, int, int) {
    std::fprintf(stderr,
                 "this build has no real windows (FLTK was not found): run with --headless\n");
    return nullptr;
}

}  // namespace orvex::demo::gui
