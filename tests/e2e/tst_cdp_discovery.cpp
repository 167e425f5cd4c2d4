// Browsers coming and going while the DevTools engine runs: one started after
// it, two at once (one found through its process's command line), and a browser
// killed outright.

#include "blocking/browsertracker.h"
#include "blocking/cdp/cdpbrowserwindows.h"
#include "core/popupdecision.h"
#include "core/programstate.h"
#include "support/chromiumharness.h"
#include "support/decisionfakes.h"
#include "support/programfixture.h"
#include "support/testenv.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace wendral;
using namespace wendral::cdp;
using namespace wendral::test;

class TestCdpDiscovery : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ProgramFixture> program;
    HttpCounter http;
    FakeOptions options;

    // Blocks one window.open popup in the browser and checks that no request left.
    void blockOnePopup(ChromiumProcess &chrome, const QString &popupPath)
    {
        CdpTestClient client;
        QVERIFY(client.open(chrome.browserWsUrl()));
        const QString opener = client.createTab(http.url(popupPath + QStringLiteral("-opener")));
        QVERIFY(waitUntil([&] { return http.count(popupPath + QStringLiteral("-opener")) == 1; }, 5000));
        const QString session = client.attach(opener);
        QVERIFY(waitUntil(
            [&] {
                return client.evaluate(session, QStringLiteral("document.readyState")) == QStringLiteral("complete");
            },
            5000));
        const int blocked = program->state.blockedCount;
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(popupPath)}}, session);
        QVERIFY(waitUntil([&] { return program->state.blockedCount == blocked + 1; }, 5000));
        QTest::qWait(300);
        QCOMPARE(http.count(popupPath), 0);
        QCOMPARE(client.evaluate(session, QStringLiteral("2 + 2")).toInt(), 4);
    }

private slots:
    void initTestCase()
    {
        if (!ChromiumProcess::available())
            QSKIP("Chromium is not installed");
        // What the engine found and lost, in the output of a failed run.
        QLoggingCategory::setFilterRules(QStringLiteral("wendral.cdp.debug=true"));
        env = std::make_unique<TestEnvironment>();
        program = std::make_unique<ProgramFixture>();
        QVERIFY(http.listen());
        options.blocking = true;
        options.sound = false;
        program->decider.setOptions(&options);
    }

    void cleanupTestCase()
    {
        program.reset();
        env.reset();
    }

    void browsersComeAndGo()
    {
        CdpBrowserWindows engine;
        BrowserTracker tracker(&engine, program->decider);
        QSignalSpy registered(&engine, &BrowserWindows::windowOpened);
        QSignalSpy revoked(&engine, &BrowserWindows::windowClosed);
        QCOMPARE(engine.items().size(), 0);
        QCOMPARE(tracker.count(), 0);

        // Started after the engine, in a standard profile folder.
        const QString standardDir = env->configHome() + QStringLiteral("/google-chrome");
        ChromiumProcess first;
        QVERIFY(first.start(standardDir));
        QElapsedTimer sinceStart;
        sinceStart.start();
        QVERIFY(waitUntil([&] { return engine.browserDataDirs().contains(standardDir); }, 3000));
        QVERIFY2(sinceStart.elapsed() < 1500, qPrintable(QString::number(sinceStart.elapsed())));
        QVERIFY(waitUntil([&] { return tracker.count() >= 1; }, 3000));
        QVERIFY(registered.count() >= 1);

        // A second one with a profile folder nowhere standard: found through
        // its command line.
        QTemporaryDir elsewhere;
        const QString otherDir = QDir::cleanPath(elsewhere.path() + QStringLiteral("/profile"));
        ChromiumProcess second;
        QVERIFY(second.start(otherDir));
        // Found by the periodic process scan once the browser has written its
        // port file: a busy machine may take seconds to start it.
        QVERIFY(waitUntil([&] { return engine.browserDataDirs().contains(otherDir); }, 15000));
        QVERIFY(waitUntil([&] { return tracker.count() >= 2; }, 5000));
        QCOMPARE(tracker.count(), static_cast<int>(engine.items().size()));

        // Both are watched at once.
        blockOnePopup(first, QStringLiteral("/first-popup"));
        blockOnePopup(second, QStringLiteral("/second-popup"));

        // Killed outright: its windows go, the other browser stays watched.
        const int pagesOfFirst = static_cast<int>(engine.items().size());
        revoked.clear();
        first.kill();
        QVERIFY(waitUntil([&] { return !engine.browserDataDirs().contains(standardDir); }, 3000));
        QVERIFY(waitUntil([&] { return revoked.count() >= 1; }, 2000));
        QVERIFY(engine.items().size() < pagesOfFirst);
        QVERIFY(engine.browserDataDirs().contains(otherDir));
        blockOnePopup(second, QStringLiteral("/second-popup-again"));

        // The last one killed too: an empty collection, and the engine still runs.
        second.kill();
        QVERIFY(waitUntil([&] { return !engine.browserDataDirs().contains(otherDir); }, 3000));
        if (engine.browserCount() == 0) {
            QVERIFY(waitUntil([&] { return tracker.count() == 0; }, 2000));
            QCOMPARE(engine.items().size(), 0);
        } else {
            // Some other browser on this machine runs with a debugging port.
            qWarning("other debugging browsers running: %s", qPrintable(engine.browserDataDirs().join(u' ')));
        }

        // The first browser again, in the same folder (its old DevToolsActivePort
        // was left behind and is rewritten): found again.
        QVERIFY(first.start(standardDir));
        QVERIFY(waitUntil([&] { return engine.browserDataDirs().contains(standardDir); }, 3000));
        blockOnePopup(first, QStringLiteral("/after-restart"));
        first.stop();
    }

    void staleFileIsSkipped()
    {
        // A DevToolsActivePort left by a browser that has gone names a dead port.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 deadPort = probe.serverPort();
        probe.close();
        const QString dir = env->configHome() + QStringLiteral("/vivaldi");
        QVERIFY(writeFile(dir + QStringLiteral("/DevToolsActivePort"),
                          QByteArray::number(deadPort) + "\n/devtools/browser/gone\n"));
        CdpSettings settings;
        settings.procRoot.clear();
        CdpBrowserWindows engine(settings);
        QSignalSpy connected(&engine, &CdpBrowserWindows::browserConnected);
        QSignalSpy lost(&engine, &CdpBrowserWindows::browserLost);
        QTest::qWait(1500);
        QCOMPARE(engine.browserCount(), 0);
        QCOMPARE(connected.count(), 0);
        QCOMPARE(lost.count(), 0); // quietly: it never was a browser
        QCOMPARE(engine.items().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCdpDiscovery)
#include "tst_cdp_discovery.moc"
