// Only this desktop's browsers: two X displays of the test's, one Chromium on
// each (both started with the debugging switch and a profile folder of their
// own), the program on the first. The program watches the first browser only:
// the second one's popup from an unlisted site loads, the first one's is
// blocked, and the program never even connects to the second.

#include "core/settingsstore.h"
#include "support/chromiumharness.h"
#include "support/desktopbrowser.h"
#include "support/testenv.h"
#include "support/x11session.h"

#include <QApplication>
#include <QTest>

#include <csignal>

using namespace wendral;
using namespace wendral::test;

namespace {

constexpr int kStartTimeout = 60000;

bool mainWindowShown()
{
    int code = -1;
    const QByteArray found = runTool(QStringLiteral("xdotool"),
                                     {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                      QStringLiteral("--name"), QStringLiteral("^Wendral by Brindlemark$")},
                                     &code, 5000);
    return code == 0 && !found.trimmed().isEmpty();
}

} // namespace

class TestTwoDisplays : public QObject
{
    Q_OBJECT

    HttpCounter http;

    // Opens the opener page in a new tab and has it open a popup, as a click
    // would; returns the client's session on the opener.
    void openPopup(CdpTestClient &client, const QString &name)
    {
        const QString openerPath = QStringLiteral("/%1-opener").arg(name);
        const QString opener = client.createTab(http.url(openerPath));
        QVERIFY(!opener.isEmpty());
        QVERIFY(waitUntil([&] { return http.count(openerPath) >= 1; }, 10000));
        const QString session = client.attach(opener);
        QVERIFY(waitUntil(
            [&] {
                return client.evaluate(session, QStringLiteral("document.readyState")) == QStringLiteral("complete");
            },
            10000));
        // Not awaited: while a popup is held its opener's script waits too.
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('/%1-popup'); 0").arg(name)},
                     {QStringLiteral("userGesture"), true}},
                    session);
    }

private slots:
    void initTestCase()
    {
        if (!ChromiumProcess::available())
            QSKIP("Chromium is not installed");
        QVERIFY(http.listen());
    }

    void onlyTheBrowserOfThisDisplayIsWatched()
    {
        TestEnvironment env;
        {
            // Unlisted sites are blocked without a question; no help window, no sound.
            SettingsStore settings;
            QVERIFY(settings.writeToggle(Settings::kAuto, false));
            QVERIFY(settings.write(Settings::kShowHelp, QStringLiteral("0")));
            QVERIFY(settings.writeToggle(Settings::kSound, false));
        }
        const QString here = X11Session::current()->display();
        XvfbServer second;
        QVERIFY(second.start());

        QProcess program;
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.setStandardOutputFile(env.home() + QStringLiteral("/wendral.log"));
        program.start(TestEnvironment::programPath(), {});
        QVERIFY(program.waitForStarted(10000));
        QVERIFY2(waitFor([&] { return mainWindowShown() || program.state() != QProcess::Running; }, kStartTimeout),
                 "the main window did not come up");

        const QStringList popupsOn{QStringLiteral("--disable-popup-blocking")};
        DesktopChromium ours, theirs;
        QVERIFY(
            ours.start({here, env.home() + QStringLiteral("/ours"), true, popupsOn, QStringLiteral("about:blank")}));
        QVERIFY(theirs.start(
            {second.display(), env.home() + QStringLiteral("/theirs"), true, popupsOn, QStringLiteral("about:blank")}));

        // The program connects to the browser of its display, and to that one only.
        QVERIFY2(waitFor([&] { return connectedToPort(program.processId(), ours.port()); }, 15000),
                 qPrintable(QString::fromUtf8(readFile(env.home() + QStringLiteral("/wendral.log")).right(2000))));
        QTest::qWait(1500); // set up, and time to find the other one if it were going to
        QVERIFY(!connectedToPort(program.processId(), theirs.port()));

        CdpTestClient toTheirs;
        QVERIFY(toTheirs.open(theirs.browserWsUrl()));
        openPopup(toTheirs, QStringLiteral("theirs"));
        CdpTestClient toOurs;
        QVERIFY(toOurs.open(ours.browserWsUrl()));
        openPopup(toOurs, QStringLiteral("ours"));

        // The other display's popup loads; ours does not.
        QVERIFY(waitUntil([&] { return http.count(QStringLiteral("/theirs-popup")) >= 1; }, 15000));
        QTest::qWait(2000);
        QCOMPARE(http.count(QStringLiteral("/ours-popup")), 0);
        QCOMPARE(http.count(QStringLiteral("/ours-opener")), 1);

        toOurs.close();
        toTheirs.close();
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
        // The count of blocked popups was saved at the end: one.
        QCOMPARE(SettingsStore().readCount(Settings::kStopped, 0), 1);
        ours.stop();
        theirs.stop();
    }
};

WENDRAL_X11_TEST_MAIN(TestTwoDisplays)
#include "tst_two_displays.moc"
