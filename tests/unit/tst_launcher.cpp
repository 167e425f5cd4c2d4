// The wendral-browser launcher, run with fake browsers: it picks the desktop's default
// browser when that is Chromium-family (else the first installed), passes the arguments on
// unchanged, gives Google Chrome its own profile, and says so (once, on stderr and in a
// notification) when the browser already runs without the debugging switch.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

const QString launcher = QStringLiteral(WENDRAL_SOURCE_DIR "/scripts/wendral-browser");
using Calls = QList<QStringList>;

const QString runningMessage =
    QStringLiteral(" is already running without Wendral; close it and start it again to have its popups stopped");

bool writeScript(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write("#!/bin/sh\n" + text) > 0 &&
           f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// A fake program that appends how it was called (name and arguments, NUL-separated, one
// call per "END") to a record file named after it.
QByteArray recorder(const QString &record)
{
    return "printf '%s\\0' \"${0##*/}\" \"$@\" END >> \"$RECORDS/" + record.toUtf8() + "\"\n";
}

} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void choosesTheBrowser_data();
    void choosesTheBrowser();
    void argumentsPassUnchanged();
    void chromeUsesItsOwnProfile();
    void runningBrowser_data();
    void runningBrowser();

private:
    void install(const QString &program);
    struct Result
    {
        int exitCode = -1;
        QByteArray out, err;
    };
    Result run(const QStringList &args, const QMap<QString, QString> &env = {});
    QList<QStringList> calls(const QString &record) const;
    QString path(QString text) const;

    QTemporaryDir m_tools; // the system's programs, without any browser, notifier or xdg tool
    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<QProcess> m_running; // a browser that holds a profile
};

void TestLauncher::initTestCase()
{
    QVERIFY(m_tools.isValid());
    const QRegularExpression hidden("^(chromium|google-chrome|microsoft-edge|brave-browser|vivaldi|notify-send$|"
                                    "gdbus$|xdg-settings$|xdg-mime$)");
    for (const QString &dir : QStringList{"/usr/bin", "/bin"}) {
        for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::System)) {
            if (!hidden.match(name).hasMatch() && !QFileInfo::exists(m_tools.filePath(name)))
                QVERIFY(QFile::link(dir + "/" + name, m_tools.filePath(name)));
        }
    }
    QVERIFY(QFileInfo::exists(m_tools.filePath("sh")) && QFileInfo::exists(m_tools.filePath("awk")));
}

void TestLauncher::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    for (const char *dir : {"bin", "config", "data/applications", "system/applications", "records"})
        QVERIFY(QDir(m_root->path()).mkpath(dir));
}

void TestLauncher::cleanup()
{
    if (m_running) {
        m_running->closeWriteChannel();
        if (!m_running->waitForFinished(5000))
            m_running->kill();
        m_running->waitForFinished(5000);
        m_running.reset();
    }
}

QString TestLauncher::path(QString text) const
{
    return text.replace("ROOT", m_root->path()).replace("CONFIG", m_root->path() + "/config");
}

void TestLauncher::install(const QString &program)
{
    // A name goes on PATH; a path is a program outside PATH.
    const QString file = program.contains('/') ? path(program) : m_root->path() + "/bin/" + program;
    QVERIFY(writeScript(file, recorder(program == "notify-send" || program == "gdbus" ? program : "browser")));
}

TestLauncher::Result TestLauncher::run(const QStringList &args, const QMap<QString, QString> &env)
{
    QProcessEnvironment e;
    e.insert("PATH", m_root->path() + "/bin:" + m_tools.path());
    e.insert("HOME", m_root->path());
    e.insert("XDG_CONFIG_HOME", m_root->path() + "/config");
    e.insert("XDG_DATA_HOME", m_root->path() + "/data");
    e.insert("XDG_DATA_DIRS", m_root->path() + "/system");
    e.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    e.insert("RECORDS", m_root->path() + "/records");
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), path(it.value()));
    QProcess p;
    p.setProcessEnvironment(e);
    p.start(launcher, args);
    Result r;
    if (!p.waitForFinished(20000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QList<QStringList> TestLauncher::calls(const QString &record) const
{
    QFile f(m_root->path() + "/records/" + record);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QStringList> out{{}};
    for (const QByteArray &field : f.readAll().split('\0')) {
        if (field == "END")
            out.append(QStringList());
        else
            out.last().append(QString::fromUtf8(field));
    }
    out.removeLast();
    return out;
}

void TestLauncher::choosesTheBrowser_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("tool");     // how the desktop tells its default browser
    QTest::addColumn<QString>("id");       // the default browser's desktop file id
    QTest::addColumn<QString>("entry");    // where its entry is, empty for nowhere
    QTest::addColumn<QString>("exec");     // the entry's Exec line
    QTest::addColumn<QStringList>("args"); // options before the URL
    QTest::addColumn<QString>("variable"); // WENDRAL_BROWSER
    QTest::addColumn<QString>("expected"); // program started, or the error on stderr
    const QString system = "system/applications";
    const QString user = "data/applications";
    QTest::newRow("default from xdg-settings")
        << QStringList{"chromium", "brave-browser-stable"} << "xdg-settings"
        << "brave-browser.desktop" << system << "ROOT/bin/brave-browser-stable %U" << QStringList() << ""
        << "brave-browser-stable";
    QTest::newRow("default from xdg-mime")
        << QStringList{"chromium", "microsoft-edge-stable"} << "xdg-mime"
        << "microsoft-edge.desktop" << system << "microsoft-edge-stable %U\n[Desktop Action x]\nExec=chromium"
        << QStringList() << ""
        << "microsoft-edge-stable";
    QTest::newRow("default outside PATH, quoted")
        << QStringList{"chromium", "ROOT/opt/Vivaldi Browser/vivaldi-stable"} << "xdg-settings"
        << "vivaldi-stable.desktop" << user << "\"ROOT/opt/Vivaldi Browser/vivaldi-stable\" %U" << QStringList() << ""
        << "vivaldi-stable";
    QTest::newRow("default is Wendral's own entry")
        << QStringList{"chromium", "brave-browser"} << "xdg-settings"
        << "brave-browser.desktop" << user
        << "/bin/sh -c \"x\" sh wendral-browser --browser brave-browser\nX-Wendral-Browser=brave-browser"
        << QStringList() << ""
        << "brave-browser";
    QTest::newRow("default not Chromium-family")
        << QStringList{"firefox-esr", "vivaldi", "brave-browser"} << "xdg-settings"
        << "firefox-esr.desktop" << system << "firefox-esr %u" << QStringList() << ""
        << "brave-browser";
    QTest::newRow("default not installed")
        << QStringList{"vivaldi"} << "xdg-settings"
        << "chromium.desktop" << system << "ROOT/missing/chromium %U" << QStringList() << ""
        << "vivaldi";
    QTest::newRow("default without an entry") << QStringList{"microsoft-edge", "vivaldi-stable"} << "xdg-mime"
                                              << "vivaldi-stable.desktop"
                                              << ""
                                              << "" << QStringList() << ""
                                              << "microsoft-edge";
    QTest::newRow("no default known") << QStringList{"vivaldi-stable", "chromium-browser"} << ""
                                      << ""
                                      << ""
                                      << "" << QStringList() << ""
                                      << "chromium-browser";
    QTest::newRow("--browser") << QStringList{"chromium", "brave-browser"} << ""
                               << ""
                               << ""
                               << "" << QStringList{"--browser", "brave-browser"} << "chromium"
                               << "brave-browser";
    QTest::newRow("--browser= path") << QStringList{"chromium", "ROOT/opt/microsoft-edge-beta"} << ""
                                     << ""
                                     << ""
                                     << "" << QStringList{"--browser=ROOT/opt/microsoft-edge-beta"} << ""
                                     << "microsoft-edge-beta";
    QTest::newRow("WENDRAL_BROWSER") << QStringList{"chromium", "vivaldi"} << "xdg-settings"
                                     << "chromium.desktop" << system << "chromium" << QStringList() << "vivaldi"
                                     << "vivaldi";
    QTest::newRow("--browser not installed") << QStringList{"chromium"} << ""
                                             << ""
                                             << ""
                                             << "" << QStringList{"--browser", "brave"} << ""
                                             << "wendral-browser: browser not found: brave\n";
    QTest::newRow("nothing installed") << QStringList{"firefox-esr"} << ""
                                       << ""
                                       << ""
                                       << "" << QStringList() << ""
                                       << "wendral-browser: no Chromium-family browser found";
}

void TestLauncher::choosesTheBrowser()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, tool);
    QFETCH(QString, id);
    QFETCH(QString, entry);
    QFETCH(QString, exec);
    QFETCH(QStringList, args);
    QFETCH(QString, variable);
    QFETCH(QString, expected);
    for (const QString &program : installed)
        install(program);
    if (!entry.isEmpty()) {
        QFile f(m_root->path() + "/" + entry + "/" + id);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(path("[Desktop Entry]\nType=Application\nName=B\nExec=" + exec + "\n").toUtf8());
    }
    if (!tool.isEmpty())
        QVERIFY(writeScript(m_root->path() + "/bin/" + tool, "echo '" + id.toUtf8() + "'\n"));
    QMap<QString, QString> env;
    if (!variable.isEmpty())
        env.insert("WENDRAL_BROWSER", variable);
    const Result r = run(args.replaceInStrings("ROOT", m_root->path()) << "https://example.com/", env);
    if (expected.startsWith("wendral-browser:")) {
        QCOMPARE(r.exitCode, 127);
        QVERIFY2(r.err.startsWith(expected.toUtf8()), r.err.constData());
        QVERIFY(calls("browser").isEmpty());
        return;
    }
    QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
    QCOMPARE(calls("browser"), (Calls{{expected, "--remote-debugging-port=0", "https://example.com/"}}));
}

void TestLauncher::argumentsPassUnchanged()
{
    install("chromium");
    const QStringList args{"a b", "", "it's \"q\"", "$HOME `id` \\", "*", "--x=1\n2", "--browser", "-", " "};
    const Result r = run(args);
    QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), r.err.constData());
    QCOMPARE(calls("browser"), Calls{QStringList({"chromium", "--remote-debugging-port=0"}) + args});
    // Without arguments the browser gets none either.
    QFile::remove(m_root->path() + "/records/browser");
    QCOMPARE(run({}).exitCode, 0);
    QCOMPARE(calls("browser"), (Calls{{"chromium", "--remote-debugging-port=0"}}));
}

void TestLauncher::chromeUsesItsOwnProfile()
{
    install("google-chrome-stable");
    const QString profile = m_root->path() + "/config/Wendral/chrome-profile";
    QCOMPARE(run({"https://example.com/"}).exitCode, 0);
    QCOMPARE(calls("browser"), (Calls{{"google-chrome-stable", "--remote-debugging-port=0",
                                       "--user-data-dir=" + profile, "https://example.com/"}}));
    QVERIFY(QFileInfo(profile).isDir());
    // A profile the user names is used as it is.
    QFile::remove(m_root->path() + "/records/browser");
    QCOMPARE(run({"--user-data-dir=/elsewhere", "x"}).exitCode, 0);
    QCOMPARE(calls("browser"),
             (Calls{{"google-chrome-stable", "--remote-debugging-port=0", "--user-data-dir=/elsewhere", "x"}}));
}

void TestLauncher::runningBrowser_data()
{
    QTest::addColumn<QString>("browser");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("profile");  // where the running browser's lock is
    QTest::addColumn<QString>("running");  // "unwatched", "watched" (" title"), "ended", "other host"
    QTest::addColumn<QString>("notifier"); // fake notifier on PATH
    QTest::addColumn<QString>("message");  // expected on stderr, empty for none
    const QStringList url{"https://example.com/a?b=c d"};
    QTest::newRow("Chromium unwatched") << "chromium" << url << "CONFIG/chromium"
                                        << "unwatched"
                                        << "notify-send"
                                        << "Chromium" + runningMessage;
    QTest::newRow("Chrome unwatched") << "google-chrome" << url << "CONFIG/Wendral/chrome-profile"
                                      << "unwatched"
                                      << "notify-send"
                                      << "Google Chrome" + runningMessage +
                                             ". Wendral starts Google Chrome with a profile of its own (CONFIG/Wendral/"
                                             "chrome-profile), because Chrome 136 and later refuse to be watched on "
                                             "their default profile.";
    QTest::newRow("Edge, own profile folder")
        << "microsoft-edge-stable" << QStringList{"--user-data-dir=ROOT/my edge", "x"} << "ROOT/my edge"
        << "unwatched"
        << "gdbus"
        << "Microsoft Edge" + runningMessage;
    QTest::newRow("no notifier") << "brave-browser" << url << "CONFIG/BraveSoftware/Brave-Browser"
                                 << "unwatched"
                                 << ""
                                 << "Brave" + runningMessage;
    QTest::newRow("watched") << "chromium" << url << "CONFIG/chromium"
                             << "watched"
                             << "notify-send"
                             << "";
    // Chromium rewrites its process title: the whole command line in one string.
    QTest::newRow("watched, one-string title") << "chromium" << url << "CONFIG/chromium"
                                               << "watched title"
                                               << "notify-send"
                                               << "";
    QTest::newRow("unwatched, one-string title") << "chromium" << url << "CONFIG/chromium"
                                                 << "unwatched title"
                                                 << "notify-send"
                                                 << "Chromium" + runningMessage;
    QTest::newRow("ended, lock left behind") << "chromium" << url << "CONFIG/chromium"
                                             << "ended"
                                             << "notify-send"
                                             << "";
    QTest::newRow("on another host") << "vivaldi-stable" << url << "CONFIG/vivaldi"
                                     << "other host"
                                     << "notify-send"
                                     << "";
    QTest::newRow("other profile") << "chromium" << QStringList{"--user-data-dir=ROOT/p"} << "CONFIG/chromium"
                                   << "unwatched"
                                   << "notify-send"
                                   << "";
}

void TestLauncher::runningBrowser()
{
    QFETCH(QString, browser);
    QFETCH(QStringList, args);
    QFETCH(QString, profile);
    QFETCH(QString, running);
    QFETCH(QString, notifier);
    QFETCH(QString, message);
    // Like Chromium, the fake exits with status 1 after handing its arguments over.
    QVERIFY(writeScript(m_root->path() + "/bin/" + browser, recorder("browser") + "exit 1\n"));
    if (!notifier.isEmpty())
        install(notifier);
    // The running browser: a process that waits on its input, with or without the switch.
    m_running = std::make_unique<QProcess>();
    QStringList processArgs{"-c", "read line", "browser", "--no-first-run"};
    if (running.startsWith("watched"))
        processArgs.append("--remote-debugging-port=0");
    if (running.endsWith(" title"))
        processArgs = QStringList{"-c", "read line", processArgs.mid(2).join(' ') + " about:blank"};
    m_running->start("/bin/sh", processArgs);
    QVERIFY(m_running->waitForStarted());
    qint64 pid = m_running->processId();
    if (running == "ended") {
        m_running->closeWriteChannel();
        QVERIFY(m_running->waitForFinished());
    }
    const QString host = running == "other host" ? "elsewhere.example" : QSysInfo::machineHostName();
    QVERIFY(QDir().mkpath(path(profile)));
    const QByteArray lock = QFile::encodeName(path(profile) + "/SingletonLock");
    QCOMPARE(symlink((host + "-" + QString::number(pid)).toUtf8().constData(), lock.constData()), 0);

    const Result r = run(args.replaceInStrings("ROOT", m_root->path()));
    QCOMPARE(r.exitCode, message.isEmpty() ? 1 : 0); // the browser's own status when it starts anew
    QCOMPARE(QString::fromUtf8(r.err), message.isEmpty() ? QString() : path(message) + "\n");
    // The running browser still gets the arguments, so the link opens.
    const QList<QStringList> started = calls("browser");
    QCOMPARE(started.size(), 1);
    QCOMPARE(started.first().mid(started.first().size() - args.size()), args);

    if (message.isEmpty() || notifier.isEmpty()) {
        QVERIFY(calls("notify-send").isEmpty() && calls("gdbus").isEmpty());
        return;
    }
    QDeadlineTimer deadline(10000);
    while (calls(notifier).isEmpty() && !deadline.hasExpired())
        QThread::msleep(20);
    const QList<QStringList> notified = calls(notifier);
    QCOMPARE(notified.size(), 1);
    if (notifier == "notify-send") {
        QCOMPARE(notified.first(), QStringList({"notify-send", "--app-name=Wendral", "Wendral", path(message)}));
    } else {
        QVERIFY(notified.first().contains("org.freedesktop.Notifications.Notify"));
        QVERIFY(notified.first().contains("\"" + path(message) + "\""));
    }
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
