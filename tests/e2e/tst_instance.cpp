// The real program's command line and its one copy per desktop, as a user and
// an autostart entry meet them: --version, --help and a wrong option answer
// without a display; --minimized starts in the tray or, without one,
// minimised on the taskbar; a second start shows the running copy's window
// and ends at once without touching settings or lists; a copy that was killed
// does not stop the next start.
//
// The program watches every browser it can see, so copies that run (rather
// than only answer the command line) run in a PID namespace of their own, one
// for all copies of a case, driven by a small shell inside it. Where the
// machine gives no namespaces those cases are skipped.

#include "core/settingsstore.h"
#include "support/testenv.h"
#include "support/x11session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

using namespace wendral;
using wendral::test::TestEnvironment;
using wendral::test::waitFor;
using wendral::test::X11Session;

namespace {

const QString kMainTitle = QStringLiteral("Wendral by Brindlemark");
constexpr int kStartTimeout = 45000; // the web engine starts with the program; the machine may be busy
constexpr int kStepTimeout = 10000;

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

// The program run once, for its command line alone.
struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runProgram(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(TestEnvironment::programPath(), arguments);
    Run run;
    if (!process.waitForFinished(20000)) {
        test::stopProcess(process);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// A PID namespace with a shell in it that starts copies of the program and
// sends them signals on request. Each copy has a name; its output goes to
// <name>.log and its exit code to <name>.rc in the case's folder.
class Namespace
{
public:
    explicit Namespace(const QString &folder) : m_folder(folder), m_control(folder + QStringLiteral("/control")) {}
    ~Namespace()
    {
        command(QStringLiteral("quit"));
        test::stopProcess(m_shell, 3000);
    }

    bool start()
    {
        if (QProcess::execute(QStringLiteral("mkfifo"), {m_control}) != 0)
            return false;
        // One request per line: "start NAME COMMAND...", "signal NAME SIGNAL", "quit".
        // clang-format off
        static const char supervisor[] = R"sh(
cd "$0" || exit 1
exec 3<>control
while read -r request name rest <&3; do
    case $request in
    start)
        ( $rest >"$name.log" 2>&1 &
          echo $! >"$name.pid.tmp"; mv "$name.pid.tmp" "$name.pid"
          wait $!; echo $? >"$name.rc.tmp"; mv "$name.rc.tmp" "$name.rc" ) & ;;
    signal) kill -s "$rest" "$(cat "$name.pid")" ;;
    quit) exit 0 ;;
    esac
done
)sh";
        // clang-format on
        // Its own messages (a copy killed on purpose is reported) go to a log.
        m_shell.setProcessChannelMode(QProcess::MergedChannels);
        m_shell.setStandardOutputFile(m_folder + QStringLiteral("/supervisor.log"));
        m_shell.start(QStringLiteral("unshare"),
                      {QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--mount-proc"),
                       QStringLiteral("--kill-child=SIGKILL"), QStringLiteral("sh"), QStringLiteral("-c"),
                       QString::fromLatin1(supervisor), m_folder});
        return m_shell.waitForStarted(5000);
    }

    // Starts a copy; environment entries as NAME=VALUE (no spaces anywhere).
    bool startCopy(const QString &name, const QStringList &environment, const QStringList &arguments)
    {
        QFile::remove(m_folder + u'/' + name + QStringLiteral(".rc"));
        if (!command(QStringLiteral("start %1 env %2 %3 %4")
                         .arg(name, environment.join(u' '), TestEnvironment::programPath(), arguments.join(u' '))))
            return false;
        return waitFor([&] { return QFileInfo::exists(m_folder + u'/' + name + QStringLiteral(".pid")); }, 5000);
    }
    bool signal(const QString &name, const QString &signalName)
    {
        return command(QStringLiteral("signal %1 %2").arg(name, signalName));
    }
    // The copy's exit code once it has ended; nullopt while it runs.
    std::optional<int> exitCode(const QString &name) const
    {
        const QByteArray rc = test::readFile(m_folder + u'/' + name + QStringLiteral(".rc")).trimmed();
        if (rc.isEmpty())
            return std::nullopt;
        return rc.toInt();
    }
    bool waitForEnd(const QString &name, int timeoutMs)
    {
        return waitFor([&] { return exitCode(name).has_value(); }, timeoutMs);
    }
    QByteArray log(const QString &name) const
    {
        return test::readFile(m_folder + u'/' + name + QStringLiteral(".log"));
    }

private:
    bool command(const QString &line)
    {
        QFile control(m_control);
        if (m_shell.state() != QProcess::Running || !control.open(QIODevice::WriteOnly))
            return false;
        return control.write(line.toLocal8Bit() + '\n') > 0;
    }

    QString m_folder;
    QString m_control;
    QProcess m_shell;
};

// ---- X queries through the session's own connection

void collectMainWindows(const X11Session &s, xcb_window_t window, QList<xcb_window_t> &found)
{
    xcb_query_tree_reply_t *tree =
        xcb_query_tree_reply(s.connection(), xcb_query_tree(s.connection(), window), nullptr);
    if (!tree)
        return;
    const xcb_window_t *children = xcb_query_tree_children(tree);
    const int count = xcb_query_tree_children_length(tree);
    for (int i = 0; i < count; ++i) {
        const QByteArray name = property(s, children[i], "_NET_WM_NAME");
        if (QString::fromUtf8(name) == kMainTitle &&
            property(s, children[i], "WM_CLASS").split('\0').value(0) == "wendral")
            found.append(children[i]);
        collectMainWindows(s, children[i], found);
    }
    std::free(tree);
}

// Every main window of the program on the display, mapped or not (one that
// goes straight into the tray may never have been made).
QList<xcb_window_t> mainWindows(const X11Session &s)
{
    QList<xcb_window_t> found;
    collectMainWindows(s, s.root(), found);
    return found;
}

} // namespace

class TestInstance : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void commandLineIsAnsweredWithoutADisplay();
    void watchLaunchersFromTheCommandLine();
    void minimizedWithATrayStartsHiddenInTheTray();
    void minimizedWithoutATrayStartsOnTheTaskbar();
    void secondStartShowsTheRunningCopyAndEnds();
    void killedCopyDoesNotStopTheNextStart();

private:
    bool startCase(bool tray);
    QStringList environmentFor(const QString &home) const;
    void seed(const QList<std::pair<QString, QString>> &values) { QVERIFY(m_env->seedSettings(values)); }
    std::optional<QString> stored(const QString &key) { return m_env->storedSetting(key); }
    bool storedIs(const QString &key, const QString &value) { return stored(key) == value; }
    // Main windows are looked up afresh each time: Qt may replace the X window
    // behind the main window while it starts.
    bool anyMainWindowViewable() const;
    // ICCCM WM_STATE: 1 normal, 3 iconic (minimised).
    bool anyMainWindowInState(int wmState) const;

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<X11Session> m_desktop;
    std::unique_ptr<Namespace> m_namespace;
};

void TestInstance::init()
{
    m_env = std::make_unique<TestEnvironment>();
    QVERIFY(m_env->isValid());
}

void TestInstance::cleanup()
{
    if (QTest::currentTestFailed() && m_env) {
        const QStringList logs = QDir(m_env->home()).entryList({QStringLiteral("*.log")});
        for (const QString &log : logs)
            qWarning("%s (last 2000 bytes):\n%s", qPrintable(log),
                     test::readFile(m_env->home() + u'/' + log).right(2000).constData());
    }
    m_namespace.reset();
    m_desktop.reset();
    m_env.reset();
}

bool TestInstance::startCase(bool tray)
{
    if (!namespacesAvailable())
        return false;
    m_desktop = std::make_unique<X11Session>();
    if (!m_desktop->startServer() || !m_desktop->startWindowManager() || (tray && !m_desktop->startTray()))
        return false;
    m_namespace = std::make_unique<Namespace>(m_env->home());
    return m_namespace->start();
}

QStringList TestInstance::environmentFor(const QString &home) const
{
    return {QStringLiteral("HOME=") + home,
            QStringLiteral("XDG_CONFIG_HOME=") + home + QStringLiteral("/config"),
            QStringLiteral("XDG_DATA_HOME=") + home + QStringLiteral("/data"),
            QStringLiteral("XDG_CACHE_HOME=") + home + QStringLiteral("/cache"),
            QStringLiteral("XDG_RUNTIME_DIR=") + m_env->runtimeDir(),
            QStringLiteral("DISPLAY=") + m_desktop->display(),
            QStringLiteral("QT_QPA_PLATFORM=xcb"),
            QStringLiteral("DBUS_SESSION_BUS_ADDRESS=disabled:")};
}

bool TestInstance::anyMainWindowViewable() const
{
    const QList<xcb_window_t> windows = mainWindows(*m_desktop);
    return std::any_of(windows.begin(), windows.end(), [&](xcb_window_t w) { return viewable(*m_desktop, w); });
}

bool TestInstance::anyMainWindowInState(int wmState) const
{
    const QList<xcb_window_t> windows = mainWindows(*m_desktop);
    return std::any_of(windows.begin(), windows.end(),
                       [&](xcb_window_t w) { return m_desktop->wmState(w) == wmState; });
}

// ---------------------------------------------------------------- cases

void TestInstance::commandLineIsAnsweredWithoutADisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));

    const Run version = runProgram({QStringLiteral("--version")}, environment);
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QByteArray("Wendral 1.0.0\n"));
    QCOMPARE(version.err, QByteArray());

    const Run help = runProgram({QStringLiteral("--help")}, environment);
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith("Usage: wendral [options]\n"));
    QVERIFY(help.out.contains("--minimized"));

    const Run wrong = runProgram({QStringLiteral("--minimised")}, environment);
    QCOMPARE(wrong.exitCode, 2);
    QCOMPARE(wrong.out, QByteArray());
    QCOMPARE(wrong.err,
             QByteArray("wendral: Unknown option 'minimised'.\nTry 'wendral --help' for more information.\n"));

    // None of these made the program's folders.
    QVERIFY(!QFileInfo::exists(m_env->wendralConfigDir()));
    QVERIFY(!QFileInfo::exists(m_env->wendralDataDir()));
}

void TestInstance::watchLaunchersFromTheCommandLine()
{
    // The system's browser entries come from the test's own data folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral(WENDRAL_TEST_DATA "/desktop/share"));
    const QString entry = m_env->dataHome() + QStringLiteral("/applications/chromium.desktop");

    const Run on = runProgram({QStringLiteral("--watch-launchers=on")}, environment);
    QCOMPARE(on.exitCode, 0);
    QVERIFY2(QFileInfo::exists(entry), on.out.constData());
    QVERIFY(test::readFile(entry).contains("X-Wendral-Watched=true"));
    QVERIFY(!on.out.isEmpty());

    const Run off = runProgram({QStringLiteral("--watch-launchers=off")}, environment);
    QCOMPARE(off.exitCode, 0);
    QVERIFY(!QFileInfo::exists(entry));

    const Run wrong = runProgram({QStringLiteral("--watch-launchers=maybe")}, environment);
    QCOMPARE(wrong.exitCode, 2);
    // Only the entries were touched: the program itself never started.
    QVERIFY(!QFileInfo::exists(m_env->wendralConfigDir()));
}

void TestInstance::minimizedWithATrayStartsHiddenInTheTray()
{
    if (!namespacesAvailable())
        QSKIP("no PID namespaces here: the program would watch other programs' browsers");
    QVERIFY(startCase(true));
    // The stored state says "up"; the option wins.
    seed({{Settings::kState, QStringLiteral("up")}, {Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(m_namespace->startCopy(QStringLiteral("first"), environmentFor(m_env->home()), {"--minimized"}));
    QTRY_VERIFY_WITH_TIMEOUT(storedIs(Settings::kState, QStringLiteral("down")), kStartTimeout);
    QTest::qWait(500); // nothing shows it later either
    QVERIFY(!anyMainWindowViewable());
    QVERIFY(!m_namespace->exitCode(QStringLiteral("first")).has_value());

    QVERIFY(m_namespace->signal(QStringLiteral("first"), QStringLiteral("TERM")));
    QVERIFY(m_namespace->waitForEnd(QStringLiteral("first"), 20000));
    QCOMPARE(*m_namespace->exitCode(QStringLiteral("first")), 0);
}

void TestInstance::minimizedWithoutATrayStartsOnTheTaskbar()
{
    if (!namespacesAvailable())
        QSKIP("no PID namespaces here: the program would watch other programs' browsers");
    QVERIFY(startCase(false));
    seed({{Settings::kState, QStringLiteral("up")}, {Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(m_namespace->startCopy(QStringLiteral("first"), environmentFor(m_env->home()), {"--minimized"}));
    // Iconic (minimised), not withdrawn: it stays reachable from the taskbar.
    QTRY_VERIFY_WITH_TIMEOUT(anyMainWindowInState(3), kStartTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(storedIs(Settings::kState, QStringLiteral("down")), kStepTimeout);
    QTest::qWait(500);
    QVERIFY(anyMainWindowInState(3));
    QVERIFY(!anyMainWindowViewable());
    QCOMPARE(mainWindows(*m_desktop).size(), 1);

    QVERIFY(m_namespace->signal(QStringLiteral("first"), QStringLiteral("TERM")));
    QVERIFY(m_namespace->waitForEnd(QStringLiteral("first"), 20000));
    QCOMPARE(*m_namespace->exitCode(QStringLiteral("first")), 0);
}

void TestInstance::secondStartShowsTheRunningCopyAndEnds()
{
    if (!namespacesAvailable())
        QSKIP("no PID namespaces here: the program would watch other programs' browsers");
    QVERIFY(startCase(true));
    seed({{Settings::kState, QStringLiteral("down")}, {Settings::kShowHelp, QStringLiteral("0")}});
    QVERIFY(m_namespace->startCopy(QStringLiteral("first"), environmentFor(m_env->home()), {}));
    QTRY_VERIFY_WITH_TIMEOUT(storedIs(Settings::kState, QStringLiteral("down")), kStartTimeout);
    QTest::qWait(500);
    QVERIFY(!anyMainWindowViewable());

    // The second start has settings and lists of its own, so that anything it
    // wrote would show; it shares the desktop and the runtime folder.
    const QString otherHome = m_env->home() + QStringLiteral("/second-home");
    QVERIFY(QDir().mkpath(otherHome));
    QVERIFY(m_namespace->startCopy(QStringLiteral("second"), environmentFor(otherHome), {}));
    QVERIFY(m_namespace->waitForEnd(QStringLiteral("second"), kStepTimeout));
    QCOMPARE(*m_namespace->exitCode(QStringLiteral("second")), 0);
    QCOMPARE(m_namespace->log(QStringLiteral("second")), QByteArray());
    // Settings, lists, registry hives and autostart entries live below these.
    QVERIFY(!QFileInfo::exists(otherHome + QStringLiteral("/config")));
    QVERIFY(!QFileInfo::exists(otherHome + QStringLiteral("/data")));

    // The running copy shows its window, records it, and is still the only one.
    QTRY_VERIFY_WITH_TIMEOUT(anyMainWindowViewable(), kStepTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(storedIs(Settings::kState, QStringLiteral("up")), kStepTimeout);
    QCOMPARE(mainWindows(*m_desktop).size(), 1);
    QVERIFY(!m_namespace->exitCode(QStringLiteral("first")).has_value());

    QVERIFY(m_namespace->signal(QStringLiteral("first"), QStringLiteral("TERM")));
    QVERIFY(m_namespace->waitForEnd(QStringLiteral("first"), 20000));
    QCOMPARE(*m_namespace->exitCode(QStringLiteral("first")), 0);
    QCOMPARE(stored(Settings::kState), QStringLiteral("up"));
}

void TestInstance::killedCopyDoesNotStopTheNextStart()
{
    if (!namespacesAvailable())
        QSKIP("no PID namespaces here: the program would watch other programs' browsers");
    QVERIFY(startCase(false));
    seed({{Settings::kShowHelp, QStringLiteral("0")}, {Settings::kStopped, QStringLiteral("5")}});
    QVERIFY(m_namespace->startCopy(QStringLiteral("killed"), environmentFor(m_env->home()), {}));
    QTRY_VERIFY_WITH_TIMEOUT(anyMainWindowViewable(), kStartTimeout);
    QVERIFY(m_namespace->signal(QStringLiteral("killed"), QStringLiteral("KILL")));
    QVERIFY(m_namespace->waitForEnd(QStringLiteral("killed"), kStepTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(mainWindows(*m_desktop).isEmpty(), kStepTimeout);
    // Its lock and socket are left behind.
    QVERIFY(!QDir(m_env->runtimeDir()).entryList({QStringLiteral("wendral-*.lock")}).isEmpty());

    QVERIFY(m_namespace->startCopy(QStringLiteral("next"), environmentFor(m_env->home()), {}));
    QTRY_VERIFY_WITH_TIMEOUT(anyMainWindowViewable(), kStartTimeout);
    QVERIFY(!m_namespace->exitCode(QStringLiteral("next")).has_value());

    QVERIFY(m_namespace->signal(QStringLiteral("next"), QStringLiteral("TERM")));
    QVERIFY(m_namespace->waitForEnd(QStringLiteral("next"), 20000));
    QCOMPARE(*m_namespace->exitCode(QStringLiteral("next")), 0);
    QCOMPARE(stored(Settings::kStopped), QStringLiteral("5"));
    // A copy that ended normally takes its files with it.
    const QStringList left = QDir(m_env->runtimeDir()).entryList({QStringLiteral("wendral-*")});
    QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
}

QTEST_GUILESS_MAIN(TestInstance)
#include "tst_instance.moc"
