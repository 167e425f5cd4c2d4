// The real program under a private X display: ending on a signal with the
// settings saved, the tray icon and its menu, the window state with and
// without a notification area, always-on-top through the window manager,
// Super+Z shared with other X clients, and ending while the setup question
// holds a popup of a real (headless) Chromium. Every case starts its own Xvfb
// (with openbox, and trayer where it needs a tray) and its own HOME, and
// drives the program from outside with xdotool, as a user would.
//
// Super+Z's effect on the pass shows only in the status bar, which cannot be
// read from outside; that case builds the main window in this process on a
// display of its own and presses the key with xdotool.

#include "core/profile.h"
#include "core/programstate.h"
#include "core/settingsstore.h"
#include "forms/formtools.h"
#include "platform/linux/desktopplatform.h"
#include "support/chromiumharness.h"
#include "support/programfixture.h"
#include "support/testenv.h"
#include "support/x11session.h"
#include "ui/mainwindow.h"

#include <xcb/xcb_keysyms.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTest>

#include <X11/keysym.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

using namespace wendral;
using wendral::test::descendantsOf;
using wendral::test::processAlive;
using wendral::test::TestEnvironment;
using wendral::test::waitFor;
using wendral::test::X11Session;

namespace {

const QString kMainTitle = QStringLiteral("Wendral by Brindlemark");
constexpr int kStartTimeout = 45000; // the web engine starts with the program; the machine may be busy
constexpr int kStepTimeout = 10000;
constexpr int kBadAccess = 10;

// The display this test process's own widgets live on (the in-process case).
X11Session *g_home = nullptr;

// ---------------------------------------------------------------- X queries

// WM_CLASS: instance and class.
QList<QByteArray> windowClass(const X11Session &s, xcb_window_t window)
{
    QList<QByteArray> parts = property(s, window, "WM_CLASS").split('\0');
    parts.removeAll(QByteArray());
    return parts;
}

// Every window below the root, with the chain of windows above it.
void walk(const X11Session &s, xcb_window_t window, QList<xcb_window_t> &ancestors,
          const std::function<void(xcb_window_t, const QList<xcb_window_t> &)> &visit)
{
    const QList<xcb_window_t> children = childrenOf(s, window);
    ancestors.append(window);
    for (xcb_window_t child : children) {
        visit(child, ancestors);
        walk(s, child, ancestors, visit);
    }
    ancestors.removeLast();
}

struct Attributes
{
    bool exists = false;
    bool viewable = false;
    bool overrideRedirect = false;
};

Attributes attributes(const X11Session &s, xcb_window_t window)
{
    Attributes a;
    xcb_get_window_attributes_reply_t *reply =
        xcb_get_window_attributes_reply(s.connection(), xcb_get_window_attributes(s.connection(), window), nullptr);
    if (reply) {
        a.exists = true;
        a.viewable = reply->map_state == XCB_MAP_STATE_VIEWABLE;
        a.overrideRedirect = reply->override_redirect != 0;
    }
    std::free(reply);
    return a;
}

// The program's main window (mapped or not); 0 while it does not exist.
xcb_window_t mainWindow(const X11Session &s)
{
    xcb_window_t found = 0;
    QList<xcb_window_t> ancestors;
    walk(s, s.root(), ancestors, [&](xcb_window_t w, const QList<xcb_window_t> &) {
        if (!found && windowName(s, w) == kMainTitle && windowClass(s, w).value(0) == "wendral")
            found = w;
    });
    return found;
}

bool mainWindowViewable(const X11Session &s)
{
    const xcb_window_t w = mainWindow(s);
    return w && attributes(s, w).viewable;
}

// A mapped top-level window of the program with this title; 0 when there is none.
xcb_window_t programWindowNamed(const X11Session &s, const QString &title)
{
    xcb_window_t found = 0;
    QList<xcb_window_t> ancestors;
    walk(s, s.root(), ancestors, [&](xcb_window_t w, const QList<xcb_window_t> &) {
        if (!found && windowName(s, w) == title && windowClass(s, w).value(0) == "wendral" && attributes(s, w).viewable)
            found = w;
    });
    return found;
}

// The program's icon as docked in trayer's panel; 0 when there is none.
xcb_window_t trayIconWindow(const X11Session &s)
{
    xcb_window_t found = 0;
    QList<xcb_window_t> ancestors;
    walk(s, s.root(), ancestors, [&](xcb_window_t w, const QList<xcb_window_t> &above) {
        if (found || windowClass(s, w).value(0) != "wendral")
            return;
        for (xcb_window_t a : above) {
            if (windowClass(s, a).value(1) == "trayer") {
                found = w;
                return;
            }
        }
    });
    return found && attributes(s, found).viewable ? found : 0;
}

// Menus the program has popped up: mapped override-redirect windows of its own.
QList<xcb_window_t> programPopups(const X11Session &s)
{
    QList<xcb_window_t> result;
    for (xcb_window_t w : childrenOf(s, s.root())) {
        const Attributes a = attributes(s, w);
        if (a.viewable && a.overrideRedirect && windowClass(s, w).value(0) == "wendral")
            result.append(w);
    }
    return result;
}

// Windows the manager lists as managed (what a taskbar shows).
QList<xcb_window_t> clientList(const X11Session &s)
{
    const QByteArray raw = property(s, s.root(), "_NET_CLIENT_LIST");
    QList<xcb_window_t> result;
    for (qsizetype i = 0; i + 4 <= raw.size(); i += 4)
        result.append(*reinterpret_cast<const xcb_window_t *>(raw.constData() + i));
    return result;
}

xcb_keycode_t zKeycode(const X11Session &s)
{
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(s.connection());
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, XK_z);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    xcb_key_symbols_free(symbols);
    return code;
}

// This process grabbing Super+Z (with extra lock modifiers) on the root window
// as another program would: 0 when it gets the key, else the X error code.
int grabSuperZ(const X11Session &s, uint16_t locks)
{
    const xcb_void_cookie_t cookie =
        xcb_grab_key_checked(s.connection(), 0, s.root(), static_cast<uint16_t>(XCB_MOD_MASK_4 | locks), zKeycode(s),
                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    xcb_generic_error_t *error = xcb_request_check(s.connection(), cookie);
    const int code = error ? error->error_code : 0;
    std::free(error);
    return code;
}

void ungrabSuperZ(const X11Session &s, uint16_t locks)
{
    xcb_ungrab_key(s.connection(), zKeycode(s), s.root(), static_cast<uint16_t>(XCB_MOD_MASK_4 | locks));
    std::free(xcb_get_input_focus_reply(s.connection(), xcb_get_input_focus(s.connection()), nullptr));
}

const QList<uint16_t> kLockCombinations{0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

// ------------------------------------------------------------------ tools

bool tool(const QStringList &arguments)
{
    int code = -1;
    test::runTool(QStringLiteral("xdotool"), arguments, &code);
    return code == 0;
}

bool clickAt(const QPoint &p, int button)
{
    return tool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()), QStringLiteral("click"),
                 QString::number(button)});
}

bool keys(const QStringList &names)
{
    return tool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40")} + names);
}

// Position and size as xdotool reports them.
QRect xdotoolGeometry(xcb_window_t window)
{
    const QString out = QString::fromLatin1(
        test::runTool(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QString::number(window)}));
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Position: (-?\\d+),(-?\\d+).*Geometry: (\\d+)x(\\d+)"),
                           QRegularExpression::DotMatchesEverythingOption)
            .match(out);
    if (!m.hasMatch())
        return {};
    return QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
}

// The window's _NET_WM_STATE as xprop prints it.
QString xpropState(xcb_window_t window)
{
    return QString::fromLatin1(test::runTool(
        QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_STATE")}));
}

// How many Tab presses lead from the first control of the main window to name,
// following the tab order of its layout.
int tabsTo(const QString &name)
{
    QFile ui(QStringLiteral(WENDRAL_SOURCE_DIR "/ui/layouts/mainwindow.ui"));
    if (!ui.open(QIODevice::ReadOnly))
        return -1;
    QStringList order;
    auto it =
        QRegularExpression(QStringLiteral("<tabstop>(\\w+)</tabstop>")).globalMatch(QString::fromUtf8(ui.readAll()));
    while (it.hasNext())
        order << it.next().captured(1);
    return order.indexOf(name);
}

// ---------------------------------------------------------------- program

// Whether this machine lets us give the program a PID namespace of its own.
bool namespacesAvailable()
{
    static const bool available = [] {
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {QStringLiteral("--pid"), QStringLiteral("--fork"),
                                                QStringLiteral("--mount-proc"), QStringLiteral("true")});
        return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    }();
    return available;
}

QByteArray commOf(qint64 pid)
{
    return test::readFile(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed();
}

// The built program as a child process, its output kept in a log file.
//
// The program looks for browsers among all running processes, so beside other
// tests' browsers it would start watching them. Where the machine allows, it
// therefore runs in a PID namespace of its own (its /proc shows only its own
// processes), below a shell that keeps the namespace for lingerSeconds after
// the program ends, so that processes it leaves behind can still be seen.
class Program
{
public:
    Program(const QString &home, int lingerSeconds)
        : m_log(home + QStringLiteral("/wendral.log")), m_linger(lingerSeconds)
    {}
    ~Program() { stop(); }

    bool start()
    {
        m_process.setWorkingDirectory(QFileInfo(m_log).absolutePath());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_log);
        if (namespacesAvailable()) {
            m_process.setProgram(QStringLiteral("unshare"));
            m_process.setArguments({QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--mount-proc"),
                                    QStringLiteral("--kill-child=SIGKILL"), QStringLiteral("sh"), QStringLiteral("-c"),
                                    QStringLiteral("\"$0\"; rc=$?; sleep %1; exit $rc").arg(m_linger),
                                    TestEnvironment::programPath()});
        } else {
            m_process.setProgram(TestEnvironment::programPath());
        }
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        if (!namespacesAvailable()) {
            m_pid = m_process.processId();
            return true;
        }
        return waitFor(
            [&] {
                const QList<qint64> below = descendantsOf(m_process.processId());
                const auto it =
                    std::find_if(below.begin(), below.end(), [](qint64 pid) { return commOf(pid) == "wendral"; });
                m_pid = it == below.end() ? 0 : *it;
                return m_pid != 0;
            },
            10000);
    }
    // The program itself (not the namespace around it).
    qint64 pid() const { return m_pid; }
    bool running() const { return m_pid && processAlive(m_pid); }
    bool signal(int sig) const { return running() && ::kill(static_cast<pid_t>(m_pid), sig) == 0; }
    // Waits for the program to end, without waiting for the namespace.
    bool waitForEnd(int timeoutMs = 20000)
    {
        return waitFor([&] { return !running() || m_process.state() == QProcess::NotRunning; }, timeoutMs);
    }
    // True when the program ended by itself within timeoutMs with status 0.
    bool endedCleanly(int timeoutMs = 20000)
    {
        if (!waitForEnd(timeoutMs))
            return false;
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(m_linger * 1000 + 10000))
            return false;
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    QString outcome() const
    {
        if (running())
            return QStringLiteral("still running");
        if (m_process.state() != QProcess::NotRunning)
            return QStringLiteral("ended; status not known yet");
        // Through the shell a signal shows as 128 + its number.
        return m_process.exitStatus() == QProcess::CrashExit ? QStringLiteral("crashed")
                                                             : QStringLiteral("exit code %1").arg(m_process.exitCode());
    }
    QByteArray log() const { return test::readFile(m_log); }
    void stop()
    {
        if (running())
            ::kill(static_cast<pid_t>(m_pid), SIGKILL);
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QString m_log;
    int m_linger;
    QProcess m_process;
    qint64 m_pid = 0;
};

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void signalEndsTheProgramWithTheSettingsSaved_data();
    void signalEndsTheProgramWithTheSettingsSaved();
    void trayIconMenuShowsTheHiddenWindowAndExits();
    void superZTogglesThePassWhileTheWindowIsHidden();
    void superZIsHeldWhileTheProgramRunsAndFreeAfterwards();
    void superZHeldByAnotherProgramLeavesItWithThatProgram();
    void alwaysOnTopSetsAndClearsTheAboveStateWithoutMoving();
    void minimiseWithoutATrayKeepsTheWindowOnTheTaskbar();
    void storedDownWithoutATrayStartsMinimisedOnTheTaskbar();
    void closeBoxEndsTheProgramWithTheSettingsSaved();
    void endingWhileTheSetupQuestionIsOpenLetsThePopupGo_data();
    void endingWhileTheSetupQuestionIsOpenLetsThePopupGo();

private:
    // A fresh display for the program: Xvfb, openbox, and trayer if asked.
    bool startDesktop(bool tray);
    // lingerSeconds: how long the namespace outlives the program.
    bool startProgram(int lingerSeconds = 0);
    // Waits for the main window to be on screen; returns it.
    xcb_window_t waitForMainWindow();
    void seed(const QList<std::pair<QString, QString>> &values) { QVERIFY(m_env->seedSettings(values)); }
    // A stored value as the program last wrote it; nullopt when absent.
    std::optional<QString> stored(const QString &key) { return m_env->storedSetting(key); }
    bool storedIs(const QString &key, const QString &value) { return stored(key) == value; }
    bool writeList(const QString &name, const QByteArray &content);
    // Clicks the tray icon with button and returns the menu that opened.
    xcb_window_t openTrayMenu(int button, QPoint *clickedAt = nullptr);

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<X11Session> m_desktop;
    std::unique_ptr<Program> m_program;
};

void TestProgram::init()
{
    // Tools run on the home display unless a case starts a desktop of its own.
    qputenv("DISPLAY", g_home->display().toLocal8Bit());
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void TestProgram::cleanup()
{
    if (m_program && QTest::currentTestFailed())
        qWarning("program output (last 3000 bytes):\n%s", m_program->log().right(3000).constData());
    m_program.reset();
    m_desktop.reset();
    if (g_home->trayRunning())
        g_home->stopTray();
    m_env.reset();
    qputenv("DISPLAY", g_home->display().toLocal8Bit());
}

bool TestProgram::startDesktop(bool tray)
{
    m_desktop = std::make_unique<X11Session>();
    if (!m_desktop->startServer() || !m_desktop->startWindowManager())
        return false;
    return !tray || m_desktop->startTray();
}

bool TestProgram::startProgram(int lingerSeconds)
{
    m_program = std::make_unique<Program>(m_env->home(), lingerSeconds);
    return m_program->start();
}

xcb_window_t TestProgram::waitForMainWindow()
{
    if (!waitFor([&] { return mainWindowViewable(*m_desktop) || !m_program->running(); }, kStartTimeout))
        return 0;
    return mainWindowViewable(*m_desktop) ? mainWindow(*m_desktop) : 0;
}

bool TestProgram::writeList(const QString &name, const QByteArray &content)
{
    return test::writeFile(m_env->wendralDataDir() + u'/' + name, content);
}

xcb_window_t TestProgram::openTrayMenu(int button, QPoint *clickedAt)
{
    xcb_window_t icon = 0;
    if (!waitFor([&] { return (icon = trayIconWindow(*m_desktop)) != 0; }, kStepTimeout))
        return 0;
    const QPoint centre = m_desktop->geometry(icon).center();
    if (clickedAt)
        *clickedAt = centre;
    if (!clickAt(centre, button))
        return 0;
    QList<xcb_window_t> popups;
    waitFor([&] { return !(popups = programPopups(*m_desktop)).isEmpty(); }, kStepTimeout);
    return popups.size() == 1 ? popups.first() : 0;
}

// ---------------------------------------------------------------- cases

void TestProgram::signalEndsTheProgramWithTheSettingsSaved_data()
{
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestProgram::signalEndsTheProgramWithTheSettingsSaved()
{
    QFETCH(int, sig);
    QVERIFY(startDesktop(false));
    // Stored values in forms the program reads but never writes, and stale
    // list copies: each of the nine comes back rewritten by the unload.
    seed({{Settings::kRunAtStart, QStringLiteral(" 1")},
          {Settings::kOnTop, QStringLiteral(" 1")},
          {Settings::kAuto, QStringLiteral(" 0")},
          {Settings::kStopPop, QStringLiteral(" 0")},
          {Settings::kStopped, QStringLiteral("99999999999")},
          {Settings::kAllowed, QStringLiteral("stale")},
          {Settings::kDisallowed, QStringLiteral("stale")},
          {Settings::kLinks, QStringLiteral(" 1")},
          {Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(writeList(QStringLiteral("allowed.txt"), "one.example\r\ntwo.example\r\n"));
    QVERIFY(writeList(QStringLiteral("disallowed.txt"), "bad.example\r\n"));
    QVERIFY(startProgram(3));
    QVERIFY2(waitForMainWindow(), qPrintable(m_program->outcome()));
    QVERIFY(!storedIs(Settings::kStopped, QStringLiteral("2147483647"))); // nothing saved yet

    const QList<qint64> helpers = descendantsOf(m_program->pid());
    QVERIFY(m_program->signal(sig));
    QVERIFY2(m_program->waitForEnd(), qPrintable(m_program->outcome()));
    // The web engine's helper processes end with the program (checked while
    // the namespace still stands).
    QVERIFY2(waitFor([&] { return std::none_of(helpers.begin(), helpers.end(), processAlive); }, 2500),
             "a helper process outlived the program");
    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));

    QCOMPARE(stored(Settings::kRunAtStart), QStringLiteral("1"));
    QCOMPARE(stored(Settings::kOnTop), QStringLiteral("1"));
    QCOMPARE(stored(Settings::kAuto), QStringLiteral("0"));
    QCOMPARE(stored(Settings::kStopPop), QStringLiteral("0"));
    QCOMPARE(stored(Settings::kStopped), QStringLiteral("2147483647"));
    QCOMPARE(stored(Settings::kAllowed), QStringLiteral("one.example\r\ntwo.example\r\n"));
    QCOMPARE(stored(Settings::kDisallowed), QStringLiteral("bad.example\r\n"));
    QCOMPARE(stored(Settings::kLinks), QStringLiteral("1"));
    QCOMPARE(stored(Settings::kState), QStringLiteral("up"));
}

void TestProgram::trayIconMenuShowsTheHiddenWindowAndExits()
{
    QVERIFY(startDesktop(true));
    // Only the exact text "up" starts the window shown.
    seed({{Settings::kState, QStringLiteral("Up")}, {Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(startProgram());
    QVERIFY2(waitFor([&] { return trayIconWindow(*m_desktop) != 0 || !m_program->running(); }, kStartTimeout),
             qPrintable(m_program->outcome()));
    QVERIFY(m_program->running());
    QTRY_VERIFY_WITH_TIMEOUT(storedIs(Settings::kState, QStringLiteral("down")), kStepTimeout);
    QVERIFY(!mainWindowViewable(*m_desktop));

    // A middle click opens nothing.
    xcb_window_t icon = trayIconWindow(*m_desktop);
    QVERIFY(clickAt(m_desktop->geometry(icon).center(), 2));
    QTest::qWait(500);
    QVERIFY(programPopups(*m_desktop).isEmpty());

    // A right click opens the menu; Escape closes it and nothing changes.
    QVERIFY(openTrayMenu(3));
    QVERIFY(keys({QStringLiteral("Escape")}));
    QTRY_VERIFY_WITH_TIMEOUT(programPopups(*m_desktop).isEmpty(), kStepTimeout);
    QVERIFY(!mainWindowViewable(*m_desktop));

    // A left click opens it at the mouse; the second item is "Show program".
    QPoint clicked;
    const xcb_window_t menu = openTrayMenu(1, &clicked);
    QVERIFY(menu);
    QVERIFY2(m_desktop->geometry(menu).adjusted(-2, -2, 2, 2).contains(clicked), "menu not at the mouse");
    QVERIFY(keys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")}));
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(*m_desktop), kStepTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(storedIs(Settings::kState, QStringLiteral("up")), kStepTimeout);
    QVERIFY(programPopups(*m_desktop).isEmpty());

    // The fourth item, "Exit", ends the program through the unload. The window
    // manager is still activating the restored window for a moment; a menu
    // opened meanwhile loses its grab to it and closes, so let it settle.
    QTest::qWait(500);
    QVERIFY(openTrayMenu(1));
    QVERIFY(keys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"),
                  QStringLiteral("Return")}));
    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));
    QCOMPARE(stored(Settings::kState), QStringLiteral("up"));
    QVERIFY(stored(Settings::kStopPop).has_value());
    QTRY_VERIFY_WITH_TIMEOUT(trayIconWindow(*m_desktop) == 0, kStepTimeout);
}

void TestProgram::superZTogglesThePassWhileTheWindowIsHidden()
{
    X11Session &home = *g_home;
    QVERIFY(home.startTray());
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), kStepTimeout);
    seed({{Settings::kShowHelp, QStringLiteral("0")}});
    // The program's own desktop services on this display: the real key grab
    // and the real tray.
    DesktopPlatform desktop;
    test::ProgramFixture program;
    program.platform.services = desktop.services();
    program.profile = BrandingProfile::fromBuild();
    program.profile.bannerEnabled = false; // keeps the web engine out of this process

    auto window = std::make_unique<MainWindow>(program.context);
    window->load();
    window->showLoaded();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const xcb_window_t id = static_cast<xcb_window_t>(window->winId());

    // Minimise to the tray: the window leaves the screen.
    auto *minimise = window->findChild<QAbstractButton *>(QStringLiteral("Command6"));
    QVERIFY(minimise);
    minimise->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), kStepTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!attributes(home, id).viewable, kStepTimeout);
    QCOMPARE(stored(Settings::kState), QStringLiteral("down"));
    QVERIFY(!program.state.allowNext);

    QVERIFY(keys({QStringLiteral("super+z")}));
    QTRY_COMPARE_WITH_TIMEOUT(window->panels().text(2), QStringLiteral("The next popup will be allowed."),
                              kStepTimeout);
    QVERIFY(program.state.allowNext);
    QVERIFY(keys({QStringLiteral("super+z")}));
    QTRY_COMPARE_WITH_TIMEOUT(window->panels().text(2), QStringLiteral("The next popup will NOT be allowed."),
                              kStepTimeout);
    QVERIFY(!program.state.allowNext);
    QVERIFY(!window->isVisible());

    // A window destroyed without its unload still gives the key back.
    window.reset();
    QCOMPARE(grabSuperZ(home, 0), 0);
    ungrabSuperZ(home, 0);
    home.stopTray();
}

void TestProgram::superZIsHeldWhileTheProgramRunsAndFreeAfterwards()
{
    QVERIFY(startDesktop(false));
    seed({{Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(startProgram());
    QVERIFY2(waitForMainWindow(), qPrintable(m_program->outcome()));
    for (uint16_t locks : kLockCombinations)
        QCOMPARE(grabSuperZ(*m_desktop, locks), kBadAccess);
    QVERIFY(m_program->signal(SIGTERM));
    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));
    for (uint16_t locks : kLockCombinations)
        QCOMPARE(grabSuperZ(*m_desktop, locks), 0);
    for (uint16_t locks : kLockCombinations)
        ungrabSuperZ(*m_desktop, locks);
}

void TestProgram::superZHeldByAnotherProgramLeavesItWithThatProgram()
{
    QVERIFY(startDesktop(false));
    X11Session &other = *m_desktop; // this process is the other program
    QCOMPARE(grabSuperZ(other, 0), 0);
    seed({{Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(startProgram());
    QVERIFY2(waitForMainWindow(), qPrintable(m_program->outcome()));

    QVERIFY(keys({QStringLiteral("super+z")}));
    bool pressed = false;
    QVERIFY(waitFor(
        [&] {
            while (xcb_generic_event_t *event = xcb_poll_for_event(other.connection())) {
                if ((event->response_type & 0x7f) == XCB_KEY_PRESS)
                    pressed = true;
                std::free(event);
            }
            return pressed;
        },
        kStepTimeout));
    QVERIFY(m_program->running());
    QVERIFY(m_program->signal(SIGTERM));
    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));
    // Still ours: the program's failed grab released nothing of it.
    QCOMPARE(grabSuperZ(other, 0), 0);
    QVERIFY2(!m_program->log().contains("BadAccess"), "the failed grab was reported as an X error");
}

void TestProgram::alwaysOnTopSetsAndClearsTheAboveStateWithoutMoving()
{
    QVERIFY(startDesktop(false));
    // Stored on: the window starts in the topmost band.
    seed({{Settings::kOnTop, QStringLiteral("1")}, {Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(startProgram());
    const xcb_window_t window = waitForMainWindow();
    QVERIFY2(window, qPrintable(m_program->outcome()));
    QTRY_VERIFY_WITH_TIMEOUT(xpropState(window).contains(QLatin1String("_NET_WM_STATE_ABOVE")), kStepTimeout);
    QVERIFY(m_desktop->activate(window));
    const QRect before = xdotoolGeometry(window);
    QVERIFY(before.isValid());

    // Keyboard to the check box, as the layout orders the controls.
    const int tabs = tabsTo(QStringLiteral("Check3")) - tabsTo(QStringLiteral("Command5"));
    QVERIFY(tabs > 0);
    QVERIFY(keys(QStringList(tabs, QStringLiteral("Tab")) << QStringLiteral("space")));
    QTRY_VERIFY_WITH_TIMEOUT(!xpropState(window).contains(QLatin1String("_NET_WM_STATE_ABOVE")), kStepTimeout);
    QCOMPARE(stored(Settings::kOnTop), QStringLiteral("0")); // written at once
    QCOMPARE(xdotoolGeometry(window), before);

    QVERIFY(keys({QStringLiteral("space")}));
    QTRY_VERIFY_WITH_TIMEOUT(xpropState(window).contains(QLatin1String("_NET_WM_STATE_ABOVE")), kStepTimeout);
    QCOMPARE(stored(Settings::kOnTop), QStringLiteral("1"));
    QCOMPARE(xdotoolGeometry(window), before);

    QVERIFY(keys({QStringLiteral("space")}));
    QTRY_VERIFY_WITH_TIMEOUT(!xpropState(window).contains(QLatin1String("_NET_WM_STATE_ABOVE")), kStepTimeout);
    QCOMPARE(xdotoolGeometry(window), before);
    QVERIFY(mainWindowViewable(*m_desktop));

    QVERIFY(m_program->signal(SIGTERM));
    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));
    QCOMPARE(stored(Settings::kOnTop), QStringLiteral("0"));
}

void TestProgram::minimiseWithoutATrayKeepsTheWindowOnTheTaskbar()
{
    QVERIFY(startDesktop(false));
    seed({{Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(startProgram());
    const xcb_window_t window = waitForMainWindow();
    QVERIFY2(window, qPrintable(m_program->outcome()));
    QVERIFY(m_desktop->activate(window));

    const int tabs = tabsTo(QStringLiteral("Command6")) - tabsTo(QStringLiteral("Command5"));
    QVERIFY(tabs > 0);
    QVERIFY(keys(QStringList(tabs, QStringLiteral("Tab")) << QStringLiteral("space")));
    // Minimised (iconic), not withdrawn: the manager still lists it.
    QTRY_COMPARE_WITH_TIMEOUT(m_desktop->wmState(window), 3, kStepTimeout);
    QVERIFY(clientList(*m_desktop).contains(window));
    QTRY_VERIFY_WITH_TIMEOUT(storedIs(Settings::kState, QStringLiteral("down")), kStepTimeout);
    QTest::qWait(300); // nothing hides it later either
    QCOMPARE(m_desktop->wmState(window), 3);
    QVERIFY(clientList(*m_desktop).contains(window));

    // A tray that appears later gets the icon, and its menu brings the window back.
    QVERIFY(m_desktop->startTray());
    QTRY_VERIFY_WITH_TIMEOUT(trayIconWindow(*m_desktop) != 0, kStepTimeout);
    QVERIFY(openTrayMenu(1));
    QVERIFY(keys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")}));
    QTRY_COMPARE_WITH_TIMEOUT(m_desktop->wmState(window), 1, kStepTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindowViewable(*m_desktop), kStepTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(storedIs(Settings::kState, QStringLiteral("up")), kStepTimeout);

    QVERIFY(m_program->signal(SIGTERM));
    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));
}

void TestProgram::storedDownWithoutATrayStartsMinimisedOnTheTaskbar()
{
    QVERIFY(startDesktop(false));
    seed({{Settings::kState, QStringLiteral("down")}, {Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(startProgram());
    // Wait until the manager has taken the window on, whichever way.
    xcb_window_t window = 0;
    QVERIFY2(waitFor(
                 [&] {
                     window = mainWindow(*m_desktop);
                     return (window && clientList(*m_desktop).contains(window)) || !m_program->running();
                 },
                 kStartTimeout),
             qPrintable(m_program->outcome()));
    QVERIFY(m_program->running());
    QTest::qWait(500); // let a late change of state arrive
    window = mainWindow(*m_desktop);
    QVERIFY(clientList(*m_desktop).contains(window));
    QCOMPARE(m_desktop->wmState(window), 3); // iconic: minimised on the taskbar
    QCOMPARE(stored(Settings::kState), QStringLiteral("down"));

    QVERIFY(m_program->signal(SIGTERM));
    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));
    QCOMPARE(stored(Settings::kState), QStringLiteral("down"));
}

void TestProgram::closeBoxEndsTheProgramWithTheSettingsSaved()
{
    QVERIFY(startDesktop(false));
    seed({{Settings::kShowHelp, QStringLiteral("0")}, {Settings::kStopped, QStringLiteral("7")}});
    QVERIFY(startProgram());
    const xcb_window_t window = waitForMainWindow();
    QVERIFY2(window, qPrintable(m_program->outcome()));
    QVERIFY(!stored(Settings::kAllowed).has_value());

    // What the frame's close button does: ask the manager to close the window.
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = m_desktop->atom("_NET_CLOSE_WINDOW");
    message.data.data32[0] = XCB_CURRENT_TIME;
    message.data.data32[1] = 2; // from a pager or the user
    xcb_send_event(m_desktop->connection(), 0, m_desktop->root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(m_desktop->connection());

    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));
    QCOMPARE(stored(Settings::kStopped), QStringLiteral("7"));
    QCOMPARE(stored(Settings::kAllowed), QStringLiteral("brindlemark.example\r\n"));
    QCOMPARE(stored(Settings::kState), QStringLiteral("up"));
}

void TestProgram::endingWhileTheSetupQuestionIsOpenLetsThePopupGo_data()
{
    QTest::addColumn<bool>("throughTheMenu");
    QTest::newRow("SIGTERM") << false;
    QTest::newRow("File > Exit") << true;
}

void TestProgram::endingWhileTheSetupQuestionIsOpenLetsThePopupGo()
{
    QFETCH(bool, throughTheMenu);
    if (!test::ChromiumProcess::available())
        QSKIP("Chromium is not installed");
    QVERIFY(startDesktop(true));
    // Setup mode on; the other stored values in forms the program reads but
    // never writes, so each of the nine comes back rewritten by the unload.
    seed({{Settings::kAuto, QStringLiteral("1")},
          {Settings::kShowHelp, QStringLiteral("0")},
          {Settings::kRunAtStart, QStringLiteral(" 0")},
          {Settings::kOnTop, QStringLiteral(" 0")},
          {Settings::kStopPop, QStringLiteral(" 1")},
          {Settings::kStopped, QStringLiteral("0007")},
          {Settings::kAllowed, QStringLiteral("stale")},
          {Settings::kDisallowed, QStringLiteral("stale")},
          {Settings::kLinks, QStringLiteral(" 0")}});
    QVERIFY(writeList(QStringLiteral("allowed.txt"), "one.example\r\n"));
    QVERIFY(writeList(QStringLiteral("disallowed.txt"), "bad.example\r\n"));

    // A browser in the standard profile folder under this test's
    // XDG_CONFIG_HOME, where the program looks for a user's browser.
    test::HttpCounter http;
    QVERIFY(http.listen());
    const QString openerPath = QStringLiteral("/setup-opener");
    const QString popupPath = QStringLiteral("/setup-popup");
    http.setPage(openerPath, "<!doctype html><title>opener</title><p>opener");
    test::ChromiumProcess chrome;
    QVERIFY(chrome.start(m_env->configHome() + QStringLiteral("/chromium")));
    test::CdpTestClient client;
    QVERIFY(client.open(chrome.browserWsUrl()));
    QVERIFY(!client.call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}})
                 .contains(QStringLiteral("error")));

    QVERIFY(startProgram());
    const xcb_window_t window = waitForMainWindow();
    QVERIFY2(window, qPrintable(m_program->outcome()));
    // The program is connected once it has attached to the browser's first
    // page (this client attaches to nothing by itself).
    QString opener;
    const auto programAttached = [&] {
        for (const QJsonObject &page : client.pageTargets()) {
            if (page.value(QStringLiteral("attached")).toBool())
                opener = page.value(QStringLiteral("targetId")).toString();
        }
        return !opener.isEmpty();
    };
    QVERIFY2(waitFor(programAttached, kStartTimeout), "the program did not connect to the browser");

    // That page, which the program has let run since it connected, goes to
    // an unlisted site. (A tab that opens a popup before the program has let
    // the tab itself run is another case.)
    const QString session = client.attach(opener);
    QVERIFY(!session.isEmpty());
    const QString openerUrl = http.url(openerPath);
    QVERIFY(!client.call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), openerUrl}}, session)
                 .contains(QStringLiteral("error")));
    QVERIFY(waitFor(
        [&] {
            return client.evaluate(session, QStringLiteral("document.readyState === 'complete' && location.href"))
                       .toString() == openerUrl;
        },
        kStepTimeout));
    QCOMPARE(http.count(openerPath), 1);

    // An unlisted site opens a popup: it is held and the question comes up.
    client.post(QStringLiteral("Runtime.evaluate"),
                {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(popupPath)}}, session);
    const auto created = client.waitEvent(
        QStringLiteral("Target.targetCreated"),
        [&](const test::CdpTestClient::Event &e) {
            return e.params.value(QStringLiteral("targetInfo"))
                       .toObject()
                       .value(QStringLiteral("openerId"))
                       .toString() == opener;
        },
        kStepTimeout);
    QVERIFY2(created, "the page opened no window");
    const QString popup =
        created->params.value(QStringLiteral("targetInfo")).toObject().value(QStringLiteral("targetId")).toString();
    xcb_window_t prompt = 0;
    QVERIFY2(waitFor([&] { return (prompt = programWindowNamed(*m_desktop, QStringLiteral("Popup Detected!"))) != 0; },
                     kStepTimeout),
             "the setup question did not come up");
    QTest::qWait(300);
    QCOMPARE(http.count(popupPath), 0); // held while the question is open
    QVERIFY(m_program->running());

    QElapsedTimer ending;
    if (throughTheMenu) {
        // File is the first entry of the menu bar, at the top left of the
        // window's client area; its first item is Exit.
        QVERIFY(m_desktop->activate(window));
        const QPoint file(14, 10);
        QVERIFY(!m_desktop->geometry(prompt).contains(m_desktop->geometry(window).topLeft() + file));
        QVERIFY(
            tool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(window),
                  QString::number(file.x()), QString::number(file.y()), QStringLiteral("click"), QStringLiteral("1")}));
        QVERIFY2(waitFor([&] { return !programPopups(*m_desktop).isEmpty(); }, kStepTimeout), "no File menu");
        QVERIFY(keys({QStringLiteral("Down")}));
        ending.start();
        QVERIFY(keys({QStringLiteral("Return")}));
    } else {
        ending.start();
        QVERIFY(m_program->signal(SIGTERM));
    }
    QVERIFY2(m_program->waitForEnd(1000), qPrintable(m_program->outcome()));
    const qint64 endedAfter = ending.elapsed();
    QVERIFY2(m_program->endedCleanly(), qPrintable(m_program->outcome()));
    qInfo("ended %lld ms after it was asked to", endedAfter);

    QCOMPARE(stored(Settings::kRunAtStart), QStringLiteral("0"));
    QCOMPARE(stored(Settings::kOnTop), QStringLiteral("0"));
    QCOMPARE(stored(Settings::kAuto), QStringLiteral("1"));
    QCOMPARE(stored(Settings::kStopPop), QStringLiteral("1"));
    QCOMPARE(stored(Settings::kStopped), QStringLiteral("7"));
    QCOMPARE(stored(Settings::kAllowed), QStringLiteral("one.example\r\n"));
    QCOMPARE(stored(Settings::kDisallowed), QStringLiteral("bad.example\r\n"));
    QCOMPARE(stored(Settings::kLinks), QStringLiteral("0"));
    QCOMPARE(stored(Settings::kState), QStringLiteral("up"));

    // The popup is not left a blank tab: it loads, or it is gone.
    QVERIFY2(waitFor([&] { return http.count(popupPath) >= 1 || !client.targetExists(popup); }, 5000),
             "the held popup was left blank");
    qInfo("the popup %s", http.count(popupPath) >= 1 ? "loaded" : "was closed");
    // Its opener runs on.
    QCOMPARE(client.evaluate(session, QStringLiteral("6 * 7")).toInt(), 42);
    client.close();
}

// The test process's own widgets need a real display with a window manager
// before the application object exists; each program case adds its own.
int main(int argc, char **argv)
{
    TestEnvironment environment;
    X11Session home;
    if (!home.startServer() || !home.startWindowManager()) {
        qCritical("could not start Xvfb and openbox");
        return 1;
    }
    g_home = &home;
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestProgram test;
    const int result = QTest::qExec(&test, argc, argv);
    g_home = nullptr;
    return result;
}

#include "tst_program.moc"
