#pragma once
// A logout or `kill` sends SIGTERM, SIGHUP or SIGINT. The signal handler only
// writes a byte to a pipe; the event loop reads it and runs the program's own
// orderly ending (the main window's unload), so settings are saved and the
// tray icon, hotkey and browsers are released.

#include <functional>

namespace wendral {

void installTerminationHandlers();
// What runs on the UI thread when a termination signal arrives. Without one
// the application quits.
void setTerminationHandler(std::function<void()> handler);

} // namespace wendral
