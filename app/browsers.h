#pragma once
// The program's one collection of browser windows: every Chromium-family
// browser on the desktop, watched through the DevTools protocol. Created on
// first use, it lives until the application object goes.

namespace wendral {
class ShellWindows;
ShellWindows *programShellWindows();
} // namespace wendral
