// "Watch browsers started from the desktop" with real Chromium, started the
// way the desktop starts it: through its desktop entry, looked up by id
// (gtk-launch), in a session of the test's (its own HOME, XDG folders and X
// display; the machine's Chromium entry copied into a private XDG_DATA_DIRS,
// with the switches a test browser needs in its Exec lines).
//
//  - Option on: the entry starts the browser through the launcher; the main
//    window's engine watches it and blocks a popup from an unlisted site.
//  - Option off: the per-user entries are gone and the browser's own entry is
//    what starts (a browser without the switch: unwatched).
//  - Option on and the launcher removed (Wendral uninstalled): the entry still
//    starts the browser.

#include "blocking/cdp/cdpbrowserwindows.h"
#include "core/paths.h"
#include "core/settingsstore.h"
#include "support/chromiumharness.h"
#include "support/desktopbrowser.h"
#include "support/programfixture.h"
#include "support/testenv.h"
#include "support/x11session.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace wendral;
using namespace wendral::test;

class TestDesktopEntries : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    QTemporaryDir programDir; // a copy of the program files, launcher included
    QTemporaryDir system;     // the machine's data folder, as the desktop sees it
    QByteArray oldDataDirs;
    HttpCounter http;

    QString profile() const { return env->configHome() + QStringLiteral("/chromium"); }
    QString userEntry() const { return env->dataHome() + QStringLiteral("/applications/chromium.desktop"); }

    // The desktop starts Chromium by its id; returns once the launch command is done.
    void launchFromDesktop()
    {
        // The browser inherits the output: a file, not a pipe that closes when
        // gtk-launch is done (the browser would die writing to it).
        QProcess launch;
        launch.setProcessChannelMode(QProcess::MergedChannels);
        launch.setStandardOutputFile(env->home() + QStringLiteral("/launch.log"), QIODevice::Append);
        launch.start(QStringLiteral("gtk-launch"), {QStringLiteral("chromium"), QStringLiteral("about:blank")});
        QVERIFY(launch.waitForFinished(20000));
        QCOMPARE(launch.exitCode(), 0);
    }

    // The browser that holds the default profile, once it runs.
    qint64 waitForBrowser()
    {
        qint64 pid = 0;
        waitFor([&] { return (pid = profileHolder(profile())) != 0; }, 30000);
        return pid;
    }

    static QByteArray commandLineOf(qint64 pid)
    {
        QByteArray text = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
        return text.replace('\0', ' ');
    }

    void endBrowser(qint64 pid)
    {
        endProcess(pid);
        QVERIFY(waitFor([&] { return profileHolder(profile()) == 0; }, 10000));
        QFile::remove(profile() + QStringLiteral("/DevToolsActivePort")); // left behind by the browser
    }

private slots:
    void initTestCase()
    {
        if (!ChromiumProcess::available() || QStandardPaths::findExecutable(QStringLiteral("gtk-launch")).isEmpty())
            QSKIP("Chromium or gtk-launch is not installed");
        const QString original = QStringLiteral("/usr/share/applications/chromium.desktop");
        if (!QFile::exists(original))
            QSKIP("Chromium has no desktop entry here");
        oldDataDirs = qgetenv("XDG_DATA_DIRS");
        QVERIFY(http.listen());
        env = std::make_unique<TestEnvironment>();

        // The system entry, with the test's switches after the program in
        // every Exec line (Debian's wrapper ignores CHROMIUM_FLAGS as root).
        const QString flags = (quietBrowserFlags() << QStringLiteral("--disable-popup-blocking")).join(u' ');
        QByteArray entry = readFile(original);
        entry.replace("Exec=/usr/bin/chromium", "Exec=/usr/bin/chromium " + flags.toUtf8());
        QVERIFY(entry.contains(flags.toUtf8()));
        QVERIFY(writeFile(system.path() + QStringLiteral("/applications/chromium.desktop"), entry));
        qputenv("XDG_DATA_DIRS", system.path().toLocal8Bit());

        // The program folder: a copy, so that the launcher can be taken away.
        const QString build = TestEnvironment::buildDir();
        for (const char *file : {"wendral-browser", "Help.rtf", "icon.ico", "hoticon.ico", "sounds/pop.wav"}) {
            const QString to = programDir.path() + QLatin1Char('/') + QLatin1String(file);
            QDir().mkpath(QFileInfo(to).absolutePath());
            QVERIFY(QFile::copy(build + QLatin1Char('/') + QLatin1String(file), to));
        }
        QVERIFY(QFileInfo(programDir.path() + QStringLiteral("/wendral-browser")).isExecutable());
        Paths::setProgramDir(programDir.path());

        SettingsStore settings;
        QVERIFY(settings.writeToggle(Settings::kAuto, false));
        QVERIFY(settings.write(Settings::kShowHelp, QStringLiteral("0")));
        QVERIFY(settings.writeToggle(Settings::kSound, false));
    }

    void cleanupTestCase()
    {
        env.reset();
        qputenv("XDG_DATA_DIRS", oldDataDirs);
    }

    void theOptionDecidesWhatTheDesktopStarts()
    {
        cdp::CdpBrowserWindows engine; // the standard folders of this session, this display
        ProgramFixture fixture(&engine);
        MainWindow main(fixture.context);
        main.load();
        QAction *option = main.watchLaunchersItem();
        QVERIFY(!option->isChecked());

        // ---- on: started from the desktop, the browser is watched.
        option->trigger();
        QVERIFY(option->isChecked());
        QVERIFY(readFile(userEntry()).contains("X-Wendral-Watched=true"));
        launchFromDesktop();
        qint64 browser = waitForBrowser();
        QVERIFY(browser);
        QVERIFY(commandLineOf(browser).contains(" --remote-debugging-port=0"));
        QVERIFY(waitFor([&] { return engine.watchedBrowserCount() == 1; }, 20000));
        QVERIFY(engine.unwatchedBrowsers().isEmpty());

        // A popup from an unlisted site is blocked.
        const auto endpoint = cdp::CdpDiscovery::readActivePort(profile());
        QVERIFY(endpoint);
        CdpTestClient client;
        QVERIFY(client.open(QStringLiteral("ws://127.0.0.1:%1%2").arg(endpoint->port).arg(endpoint->browserPath)));
        const QString opener = client.createTab(http.url(QStringLiteral("/opener")));
        QVERIFY(waitUntil([&] { return http.count(QStringLiteral("/opener")) >= 1; }, 10000));
        const QString session = client.attach(opener);
        QVERIFY(waitUntil(
            [&] {
                return client.evaluate(session, QStringLiteral("document.readyState")) == QStringLiteral("complete");
            },
            10000));
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('/popup'); 0")},
                     {QStringLiteral("userGesture"), true}},
                    session);
        QVERIFY(waitFor([&] { return fixture.state.blockedCount == 1; }, 10000));
        QTest::qWait(1000);
        QCOMPARE(http.count(QStringLiteral("/popup")), 0);
        client.close();
        endBrowser(browser);
        QVERIFY(waitFor([&] { return engine.watchedBrowserCount() == 0; }, 10000));

        // ---- off: Wendral's entries are gone; the browser's own entry starts it.
        option->trigger();
        QVERIFY(!option->isChecked());
        QVERIFY(!QFile::exists(userEntry()));
        QVERIFY(QDir(env->dataHome() + QStringLiteral("/applications")).entryList({"*.desktop"}).isEmpty());
        launchFromDesktop();
        browser = waitForBrowser();
        QVERIFY(browser);
        QVERIFY(!commandLineOf(browser).contains("--remote-debugging-port"));
        QVERIFY(commandLineOf(browser).contains("--disable-popup-blocking")); // the private copy's Exec
        QVERIFY(waitFor([&] { return engine.unwatchedBrowsers().size() == 1; }, 10000));
        QCOMPARE(engine.unwatchedBrowsers().first().pid, browser);
        QCOMPARE(engine.unwatchedBrowsers().first().profileDir, profile());
        QCOMPARE(engine.watchedBrowserCount(), 0);
        endBrowser(browser);

        // ---- on, and the launcher is gone: the entry still starts the browser.
        option->trigger();
        QVERIFY(option->isChecked());
        QVERIFY(QFile::remove(programDir.path() + QStringLiteral("/wendral-browser")));
        launchFromDesktop();
        browser = waitForBrowser();
        QVERIFY2(browser, "no browser started without the launcher");
        QVERIFY(!commandLineOf(browser).contains("--remote-debugging-port"));
        endBrowser(browser);

        option->trigger();
        QVERIFY(!QFile::exists(userEntry()));
        engine.shutdown();
    }
};

WENDRAL_X11_TEST_MAIN(TestDesktopEntries)
#include "tst_desktop_entries.moc"
