// Browsers that run without being watched, with real Chromium on a private X
// display: the program tells about each one once, within two seconds of its
// start, through the desktop's notification service (a stand-in service on a
// private session bus of the test's), never again while it runs, and a second
// one once too. The engine counts browser main processes only: the helpers
// and renderers of each browser, and browsers of another display, never.

#include "blocking/cdp/cdpbrowserwindows.h"
#include "core/settingsstore.h"
#include "support/chromiumharness.h"
#include "support/desktopbrowser.h"
#include "support/sessionbus.h"
#include "support/testenv.h"
#include "support/x11session.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using namespace wendral;
using namespace wendral::test;

namespace {

constexpr int kStartTimeout = 60000; // the program starts its web engine; the machine may be busy

} // namespace

class TestUnwatchedBrowsers : public QObject
{
    Q_OBJECT

    QString display() const { return X11Session::current()->display(); }

    // The program's main window is on the display.
    static bool mainWindowShown()
    {
        int code = -1;
        const QByteArray found = runTool(QStringLiteral("xdotool"),
                                         {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                          QStringLiteral("--name"), QStringLiteral("^Wendral by Brindlemark$")},
                                         &code, 5000);
        return code == 0 && !found.trimmed().isEmpty();
    }

private slots:
    void initTestCase()
    {
        if (!ChromiumProcess::available())
            QSKIP("Chromium is not installed");
    }

    void theProgramTellsAboutEachUnwatchedBrowserOnce()
    {
        TestEnvironment env;
        PrivateSessionBus bus;
        if (!bus.start(env.runtimeDir()))
            QSKIP("dbus-daemon cannot be started here");
        FakeNotificationService notifications;
        QVERIFY(notifications.start(bus.address()));
        {
            // No question about unknown sites, no help window, no sound.
            SettingsStore settings;
            QVERIFY(settings.writeToggle(Settings::kAuto, false));
            QVERIFY(settings.write(Settings::kShowHelp, QStringLiteral("0")));
            QVERIFY(settings.writeToggle(Settings::kSound, false));
        }

        // The program as the user runs it, on this display and this bus. It
        // sees every process on the machine (other tests' browsers too): only
        // this display's are its business.
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        environment.insert(QStringLiteral("DISPLAY"), display());
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.setStandardOutputFile(env.home() + QStringLiteral("/wendral.log"));
        program.start(TestEnvironment::programPath(), {});
        QVERIFY(program.waitForStarted(10000));
        QVERIFY2(waitFor([&] { return mainWindowShown() || program.state() != QProcess::Running; }, kStartTimeout),
                 "the main window did not come up");
        QVERIFY(program.state() == QProcess::Running);
        QTest::qWait(1000); // whatever runs at start has been looked at

        const int before = int(notifications.messages.size());
        const QString summary = QStringLiteral("Chromium is not watched by Wendral");

        // A Chromium started the usual way: no debugging switch.
        DesktopChromium first;
        QVERIFY(
            first.start({display(), env.home() + QStringLiteral("/first"), false, {}, QStringLiteral("about:blank")}));
        QVERIFY2(waitFor([&] { return notifications.countFor(summary) >= 1; }, 10000),
                 qPrintable(QString::fromUtf8(readFile(env.home() + QStringLiteral("/wendral.log")).right(2000))));
        const qint64 firstDelay = first.since().elapsed();
        qInfo("first unwatched browser reported %lld ms after its start", firstDelay);
        QVERIFY2(firstDelay <= 2000, qPrintable(QString::number(firstDelay)));
        const auto message = notifications.messages.last();
        QCOMPARE(message.appName, QStringLiteral("Wendral"));
        QVERIFY(message.body.contains(QStringLiteral("Watch browsers started from the desktop")));
        QVERIFY(message.body.contains(QStringLiteral("wendral-browser")));
        // It has helpers and renderers by now; they are no browsers of their own.
        QVERIFY(waitFor([&] { return processesUsingProfile(first.profileDir(), true).size() >= 2; }, 10000));

        // Not again while it runs.
        QTest::qWait(3000);
        QCOMPARE(notifications.countFor(summary), 1);

        // A second one: told about once too.
        DesktopChromium second;
        QVERIFY(second.start(
            {display(), env.home() + QStringLiteral("/second"), false, {}, QStringLiteral("about:blank")}));
        QVERIFY(waitFor([&] { return notifications.countFor(summary) >= 2; }, 10000));
        const qint64 secondDelay = second.since().elapsed();
        qInfo("second unwatched browser reported %lld ms after its start", secondDelay);
        QVERIFY2(secondDelay <= 2000, qPrintable(QString::number(secondDelay)));
        QTest::qWait(3000);
        QCOMPARE(notifications.countFor(summary), 2);

        // One ends: nothing to tell about that.
        first.stop();
        QTest::qWait(1500);
        QCOMPARE(int(notifications.messages.size()), before + 2);

        second.stop();
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
    }

    void theEngineCountsMainProcessesOfThisDisplayOnly()
    {
        TestEnvironment env;
        XvfbServer elsewhere;
        QVERIFY(elsewhere.start());

        DesktopChromium unwatchedA, unwatchedB, watched, otherDisplay;
        QVERIFY(
            unwatchedA.start({display(), env.home() + QStringLiteral("/a"), false, {}, QStringLiteral("about:blank")}));
        QVERIFY(
            unwatchedB.start({display(), env.home() + QStringLiteral("/b"), false, {}, QStringLiteral("about:blank")}));
        QVERIFY(watched.start({display(), env.home() + QStringLiteral("/w"), true, {}, QStringLiteral("about:blank")}));
        QVERIFY(otherDisplay.start(
            {elsewhere.display(), env.home() + QStringLiteral("/o"), false, {}, QStringLiteral("about:blank")}));

        cdp::CdpSettings settings;
        settings.profileDirs.clear(); // none of these is a standard folder
        cdp::CdpBrowserWindows engine(settings);
        QSignalSpy changed(&engine, &BrowserWindows::browsersChanged);
        auto pids = [&] {
            QList<qint64> out;
            for (const UnwatchedBrowser &b : engine.unwatchedBrowsers())
                out << b.pid;
            std::sort(out.begin(), out.end());
            return out;
        };
        QList<qint64> expected{unwatchedA.pid(), unwatchedB.pid()};
        std::sort(expected.begin(), expected.end());
        QVERIFY2(waitFor([&] { return engine.watchedBrowserCount() == 1 && pids() == expected; }, 15000),
                 qPrintable(QStringLiteral("watched %1, unwatched %2")
                                .arg(engine.watchedBrowserCount())
                                .arg(engine.unwatchedBrowsers().size())));
        for (const UnwatchedBrowser &b : engine.unwatchedBrowsers()) {
            QCOMPARE(b.name, QStringLiteral("Chromium"));
            QVERIFY(b.profileDir == unwatchedA.profileDir() || b.profileDir == unwatchedB.profileDir());
            // Each has helpers running, none of which is counted.
            QVERIFY(!processesUsingProfile(b.profileDir, true).isEmpty());
        }
        // The other display's browser runs as well (it is simply not ours).
        QVERIFY2(waitFor([&] { return !processesUsingProfile(otherDisplay.profileDir(), true).isEmpty(); }, 10000),
                 qPrintable(QStringLiteral("main processes: %1")
                                .arg(processesUsingProfile(otherDisplay.profileDir(), false).size())));
        QVERIFY(changed.count() >= 1);

        // Stays so while they run.
        QTest::qWait(2000);
        QCOMPARE(pids(), expected);

        // One ends: the list follows.
        const int before = int(changed.count());
        endProcess(unwatchedA.pid());
        QElapsedTimer gone;
        gone.start();
        QVERIFY(waitFor([&] { return pids() == QList<qint64>{unwatchedB.pid()}; }, 5000));
        qInfo("list changed %lld ms after the browser was gone", gone.elapsed());
        QVERIFY(changed.count() > before);

        watched.stop();
        QVERIFY(waitFor([&] { return engine.watchedBrowserCount() == 0; }, 10000));
        engine.shutdown();
        unwatchedA.stop();
        unwatchedB.stop();
        otherDisplay.stop();
    }
};

WENDRAL_X11_TEST_MAIN(TestUnwatchedBrowsers)
#include "tst_unwatched_browsers.moc"
