#pragma once
// A private X display for end-to-end tests: Xvfb, optionally the openbox window
// manager and the trayer notification area, all stopped again by the session.
// The session keeps an X connection of its own, which is a separate X client
// from the program under test (another program, as far as the server knows).

#include "support/testenv.h"

#include <xcb/xcb.h>

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QRect>
#include <QStringList>

#include <memory>

namespace wendral::test {

class X11Session
{
public:
    X11Session() = default;
    ~X11Session();
    X11Session(const X11Session &) = delete;
    X11Session &operator=(const X11Session &) = delete;

    // Starts Xvfb and points DISPLAY (and Qt) at it; call before the
    // application object is made.
    bool startServer();
    // openbox; returns once it manages the screen.
    bool startWindowManager();
    // trayer at the top right; returns once it owns the tray selection.
    bool startTray();
    void stopTray();
    bool trayRunning() const;
    void stopAll();

    QString display() const { return m_xvfb.display(); }
    // The session's own client connection and the root window.
    xcb_connection_t *connection() const { return m_connection; }
    xcb_window_t root() const { return m_root; }

    // The session started for the running test binary.
    static X11Session *current();

    // Queries through the session's own connection.
    xcb_atom_t atom(const char *name) const;
    bool selectionOwned(const char *selection) const;
    // The window's position on the screen and its size; null when it is gone.
    QRect geometry(xcb_window_t window) const;
    // The child of the root that holds window (its frame under a manager).
    xcb_window_t topLevelOf(xcb_window_t window) const;
    // Children of the root, bottom to top.
    QList<xcb_window_t> stackingOrder() const;
    // Names of the atoms in the window's _NET_WM_STATE.
    QStringList netWmState(xcb_window_t window) const;
    // ICCCM WM_STATE (1 normal, 3 iconic), -1 when unset.
    int wmState(xcb_window_t window) const;
    // Asks the window manager to activate (and raise) window as a taskbar
    // does when the user picks it; returns once the manager reports it active.
    bool activate(xcb_window_t window);
    xcb_window_t activeWindow() const;

private:
    std::unique_ptr<QProcess> startProcess(const QString &program, const QStringList &arguments);
    static void stopProcess(std::unique_ptr<QProcess> &process);

    XvfbServer m_xvfb;
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    std::unique_ptr<QProcess> m_windowManager;
    std::unique_ptr<QProcess> m_tray;
};

// Queries about any window through the session's own connection.
// A property's raw value (empty when unset).
QByteArray property(const X11Session &s, xcb_window_t window, const char *name);
// _NET_WM_NAME, or WM_NAME where it is unset.
QString windowName(const X11Session &s, xcb_window_t window);
// Children, bottom to top; empty when the window is gone.
QList<xcb_window_t> childrenOf(const X11Session &s, xcb_window_t window);
// 0 when the window is gone.
xcb_window_t parentOf(const X11Session &s, xcb_window_t window);
bool viewable(const X11Session &s, xcb_window_t window);

// Runs a command-line tool on the session's display and returns its output.
// exitCode is -1 when it did not run or did not end within timeoutMs.
QByteArray runTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr,
                   int timeoutMs = 10000);

// Waits (running events) until condition holds or timeoutMs passes.
template <typename Condition> bool waitFor(Condition condition, int timeoutMs = 5000);

} // namespace wendral::test

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

template <typename Condition> bool wendral::test::waitFor(Condition condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return true;
}

// main() for a QtTest class that needs a real X display with a window manager:
// the display is up before the application object exists.
#define WENDRAL_X11_TEST_MAIN(TestClass)                                                                               \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        wendral::test::TestEnvironment environment;                                                                    \
        wendral::test::X11Session session;                                                                             \
        if (!session.startServer() || !session.startWindowManager()) {                                                 \
            qCritical("could not start Xvfb and openbox");                                                             \
            return 1;                                                                                                  \
        }                                                                                                              \
        QApplication app(argc, argv);                                                                                  \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
