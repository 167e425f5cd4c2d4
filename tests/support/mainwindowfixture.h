#pragma once
// A main window built the way the program builds it, on a ProgramFixture whose
// tracker watches in-memory browser windows: the profile is filled from the
// build (as the splash does), then the window is loaded and shown.

#include "support/memorybrowsers.h"
#include "support/programfixture.h"
#include "ui/mainwindow.h"

#include <memory>

namespace wendral::test {

// Create it after the test environment. It closes whatever windows it opened
// (the main window, its prompt, the help and About windows) before
// the state they point at goes.
class MainWindowFixture
{
public:
    MainWindowFixture();
    ~MainWindowFixture();
    MainWindowFixture(const MainWindowFixture &) = delete;
    MainWindowFixture &operator=(const MainWindowFixture &) = delete;

    // The window as designed: constructed, not loaded.
    MainWindow &create();
    // The window as the program starts it: profile from the build (banner on
    // or off as asked), load, then showLoaded.
    MainWindow &load(bool banner = false);
    // Destroys the main window (and its prompt) without unloading it.
    void destroyWindow();

    MainWindow *window() const { return m_main.get(); }

    MemoryBrowserWindows browsers;
    ProgramFixture program{&browsers};

private:
    std::unique_ptr<MainWindow> m_main;
};

} // namespace wendral::test
