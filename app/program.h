#pragma once
// The composition root: owns the state of one run (settings, site lists, the
// popup decision, the desktop services, the browser engine, the windows) and
// wires them together. main() creates one after the application object.

#include "core/popupdecision.h"
#include "core/profile.h"
#include "core/programstate.h"
#include "core/settingsstore.h"
#include "core/sitelists.h"
#include "forms/skin.h"
#include "ui/openwindows.h"
#include "ui/uicontext.h"

#include <QObject>

#include <memory>

namespace wendral {

class BrowserWindows;
class DesktopPlatform;
class MainWindow;
class SplashWindow;
class UnwatchedBrowserReporter;
class WebHelper;

class Program : public QObject
{
    Q_OBJECT
public:
    // browsers: the browser windows to watch (not owned); the program's own
    // DevTools engine when null.
    explicit Program(BrowserWindows *browsers = nullptr, QObject *parent = nullptr);
    ~Program() override;

    // Shows the splash; the main window follows when the splash time is over.
    void start();
    // Starts in the tray (or minimised without one) whatever the stored state.
    void setStartMinimized(bool minimized) { m_startMinimized = minimized; }

    MainWindow *mainWindow() const { return m_main.get(); }
    SplashWindow *splash() const { return m_splash.get(); }
    UiContext &context() { return m_context; }
    UnwatchedBrowserReporter *unwatchedReporter() const { return m_reporter; }
    WebHelper *webHelper() const { return m_web.get(); }

    // Brings the main window up (a second start of the program asks for it).
    void showMainWindow();

private:
    void openMainWindow();
    void onTerminationSignal();

    ProgramState m_state;
    SettingsStore m_settings;
    SiteLists m_lists;
    PopupDecider m_decider;
    BrandingProfile m_profile;
    SkinEngine m_skin;
    std::unique_ptr<DesktopPlatform> m_platform;
    OpenWindows m_windows;
    BrowserWindows *m_browsers;
    std::unique_ptr<WebHelper> m_web;
    UiContext m_context;
    UnwatchedBrowserReporter *m_reporter;
    std::unique_ptr<SplashWindow> m_splash;
    std::unique_ptr<MainWindow> m_main;
    bool m_startMinimized = false;
    bool m_showWhenLoaded = false;
};

} // namespace wendral
