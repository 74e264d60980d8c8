// SIGINT and SIGTERM close the demo window as closing it by hand would: the handler writes a
// byte to a pipe that the window's event loop watches.
#pragma once

namespace orvex::demo::gui {

// Installs the handlers (once per process) and returns the pipe's read end.
int CloseSignalFd();

// Takes the pending bytes off the pipe; true when a signal arrived.
bool DrainCloseSignal();

}  // namespace orvex::demo::gui
