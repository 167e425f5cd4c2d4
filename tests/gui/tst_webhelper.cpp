// The web helper (wendral-web) and the program's side of it, with the real
// helper program (offscreen): the helper's answers to each request, its end
// when its input ends, and the program's WebHelper starting it when web content
// is wanted, ending it when none is, restarting one that died or hung with a
// growing pause, and taking it along when the program itself is killed.
//
// The banner's address and the maker's site are served by a local server: the
// helper's web engine is pointed at it with Chromium's standard
// --proxy-server switch (QTWEBENGINE_CHROMIUM_FLAGS, inherited by the helper).

#include "core/profile.h"
#include "core/webprotocol.h"
#include "support/chromiumharness.h"
#include "support/testenv.h"
#include "support/x11session.h"
#include "ui/webhelper.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/types.h>

using namespace wendral;
using wendral::test::processAlive;

namespace {

constexpr int kStartTimeout = 30000; // the web engine starts; the machine may be busy

QString helperPath()
{
    return test::TestEnvironment::buildDir() + QStringLiteral("/wendral-web");
}

QString bannerAddress()
{
    return BrandingProfile::fromBuild().bannerUrl;
}

// The helper driven line by line, as the program drives it.
class RawHelper
{
public:
    RawHelper()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            for (const QByteArray &line : m_splitter.feed(m_process.readAllStandardOutput())) {
                const std::optional<WebEvent> event = decodeWebEvent(line);
                if (event)
                    m_events.append(*event);
                else
                    m_garbage.append(line);
            }
        });
    }
    ~RawHelper() { test::stopProcess(m_process, 3000); }

    bool start()
    {
        m_process.start(helperPath(), {});
        return m_process.waitForStarted(10000);
    }
    void send(const QByteArray &line) { m_process.write(line); }
    void send(const WebRequest &request) { send(encodeWebRequest(request)); }
    // The next event of this kind (earlier ones of other kinds stay).
    std::optional<WebEvent> next(WebEvent::Kind kind, int timeoutMs = kStartTimeout)
    {
        std::optional<WebEvent> found;
        test::waitFor(
            [&] {
                for (qsizetype i = 0; i < m_events.size(); ++i) {
                    if (m_events.at(i).kind == kind) {
                        found = m_events.takeAt(i);
                        return true;
                    }
                }
                return m_process.state() == QProcess::NotRunning;
            },
            timeoutMs);
        return found;
    }
    int count(WebEvent::Kind kind) const
    {
        return static_cast<int>(
            std::count_if(m_events.begin(), m_events.end(), [kind](const WebEvent &e) { return e.kind == kind; }));
    }
    QProcess &process() { return m_process; }
    const QList<QByteArray> &garbage() const { return m_garbage; }

private:
    QProcess m_process;
    LineSplitter m_splitter;
    QList<WebEvent> m_events;
    QList<QByteArray> m_garbage;
};

WebHelper::Options fastOptions()
{
    WebHelper::Options o;
    o.program = helperPath();
    o.bannerSupported = true; // offscreen nothing is embedded, but the helper runs all the same
    o.firstRestartDelayMs = 300;
    o.maxRestartDelayMs = 2000;
    o.endGraceMs = 3000;
    o.shutdownWaitMs = 500;
    return o;
}

} // namespace

class TestWebHelper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void helperAnswersEachRequest();
    void helperEndsWhenItsInputEnds();
    void bannerStartsTheHelperAndHidingEndsIt();
    void websiteKeepsTheHelperUntilItCloses();
    void killedHelperIsRestartedWithAGrowingPause();
    void hungHelperIsReplaced();
    void missingHelperProgramFailsQuietly();
    void shutdownEndsTheHelperAtOnce();
    void programKilledTakesTheHelperAlong();

private:
    std::unique_ptr<test::TestEnvironment> m_env;
    test::HttpCounter m_server;
    QString m_bannerKey;
};

void TestWebHelper::initTestCase()
{
    m_env = std::make_unique<test::TestEnvironment>();
    QVERIFY(m_env->isValid());
    QVERIFY2(QFileInfo(helperPath()).isExecutable(), qPrintable(helperPath()));
    QVERIFY(m_server.listen());
    // As a proxy the server sees absolute addresses.
    m_bannerKey = bannerAddress();
    m_server.setPage(m_bannerKey, "<!doctype html><title>banner</title><body style='background:#c00'>banner");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            QByteArray("--proxy-server=127.0.0.1:") + QByteArray::number(m_server.port()));
}

void TestWebHelper::cleanupTestCase()
{
    qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    m_env.reset();
}

void TestWebHelper::helperAnswersEachRequest()
{
    RawHelper helper;
    QVERIFY(helper.start());
    const auto ready = helper.next(WebEvent::Kind::Ready);
    QVERIFY(ready);
    QCOMPARE(ready->version, kWebProtocolVersion);

    // Lines that are no requests are dropped; the helper answers on.
    helper.send("hello\n");
    helper.send("{\"request\":\"banner\",\"url\":\"http://a.example/\",\"width\":-4,\"height\":63}\n");
    helper.send(QByteArray(200000, 'x') + "\n");
    helper.send(WebRequest::ping(17));
    const auto pong = helper.next(WebEvent::Kind::Pong);
    QVERIFY(pong);
    QCOMPARE(pong->serial, quint64(17));
    QCOMPARE(helper.count(WebEvent::Kind::BannerWindow), 0);

    // The banner: its window is published once its page has loaded.
    const int bannerHits = m_server.count(m_bannerKey);
    helper.send(WebRequest::banner(QUrl(bannerAddress()), 489, 63, QStringLiteral("#f0f0f0")));
    const auto window = helper.next(WebEvent::Kind::BannerWindow);
    QVERIFY(window);
    QVERIFY(window->windowId != 0);
    QCOMPARE(m_server.count(m_bannerKey), bannerHits + 1);
    // The same request again changes nothing: no second load, no new window.
    helper.send(WebRequest::banner(QUrl(bannerAddress()), 489, 63, QStringLiteral("#f0f0f0")));
    helper.send(WebRequest::ping(18));
    QVERIFY(helper.next(WebEvent::Kind::Pong));
    QTest::qWait(300);
    QCOMPARE(m_server.count(m_bannerKey), bannerHits + 1);
    QCOMPARE(helper.count(WebEvent::Kind::BannerWindow), 0);

    // The website window opens on the maker's site, once; asked again it is
    // only brought forward.
    const QString home = QStringLiteral("http://") + BrandingProfile::fromBuild().website + u'/';
    const int homeHits = m_server.count(home);
    helper.send(WebRequest::website());
    QVERIFY(helper.next(WebEvent::Kind::WebsiteOpened));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.count(home), homeHits + 1, kStartTimeout);
    helper.send(WebRequest::website());
    QVERIFY(helper.next(WebEvent::Kind::WebsiteOpened));
    QTest::qWait(500);
    QCOMPARE(m_server.count(home), homeHits + 1);
    QCOMPARE(helper.count(WebEvent::Kind::WebsiteClosed), 0);

    // Closing the banner, then a new banner: a new page load.
    helper.send(WebRequest::closeBanner());
    helper.send(WebRequest::banner(QUrl(bannerAddress()), 300, 40));
    QVERIFY(helper.next(WebEvent::Kind::BannerWindow));
    QCOMPARE(m_server.count(m_bannerKey), bannerHits + 2);

    // Quit: the helper ends by itself, and soon.
    QElapsedTimer clock;
    clock.start();
    helper.send(WebRequest::quit());
    QVERIFY(helper.process().waitForFinished(5000));
    QCOMPARE(helper.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    // Nothing but events ever came out on the channel.
    QVERIFY2(helper.garbage().isEmpty(), helper.garbage().value(0).constData());
}

void TestWebHelper::helperEndsWhenItsInputEnds()
{
    RawHelper helper;
    QVERIFY(helper.start());
    QVERIFY(helper.next(WebEvent::Kind::Ready));
    helper.send(WebRequest::website());
    QVERIFY(helper.next(WebEvent::Kind::WebsiteOpened));
    // The program's end of the pipe closes, as when the program dies.
    QElapsedTimer clock;
    clock.start();
    helper.process().closeWriteChannel();
    QVERIFY(helper.process().waitForFinished(5000));
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
}

void TestWebHelper::bannerStartsTheHelperAndHidingEndsIt()
{
    WebHelper web(fastOptions());
    QSignalSpy started(&web, &WebHelper::helperStarted);
    QSignalSpy ended(&web, &WebHelper::helperEnded);
    QSignalSpy windows(&web, &WebContent::bannerWindowChanged);
    QVERIFY(!web.isRunning());

    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor(240, 240, 240));
    QVERIFY(web.isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(windows.count(), 1, kStartTimeout);
    QVERIFY(windows.first().first().toULongLong() != 0);
    QCOMPARE(web.bannerWindow(), windows.first().first().toULongLong());
    QVERIFY(web.isReady());
    QCOMPARE(started.count(), 1);
    const qint64 pid = web.processId();
    QVERIFY(pid > 0);

    // Hidden: the strip lets go at once, and the helper ends by itself.
    web.hideBanner();
    QCOMPARE(windows.count(), 2);
    QCOMPARE(windows.last().first().toULongLong(), quint64(0));
    QTRY_VERIFY_WITH_TIMEOUT(!web.isRunning(), 5000);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.first().first().toBool(), false); // asked to end
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 3000);
    QCOMPARE(web.failures(), 0);

    // Shown again: a new helper, a new window.
    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor(240, 240, 240));
    QTRY_COMPARE_WITH_TIMEOUT(windows.count(), 3, kStartTimeout);
    QCOMPARE(started.count(), 2);
    QVERIFY(web.processId() != pid);

    // Where the strip cannot embed, asking for the banner starts nothing.
    WebHelper::Options none = fastOptions();
    none.bannerSupported = false;
    WebHelper noEmbedding(none);
    noEmbedding.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor());
    QVERIFY(!noEmbedding.isRunning());
    noEmbedding.hideBanner();
    QVERIFY(!noEmbedding.isRunning());
}

void TestWebHelper::websiteKeepsTheHelperUntilItCloses()
{
    WebHelper web(fastOptions());
    QSignalSpy opened(&web, &WebContent::websiteOpened);
    QSignalSpy closed(&web, &WebContent::websiteClosed);
    QSignalSpy ended(&web, &WebHelper::helperEnded);
    web.openWebsite();
    QVERIFY(web.isWebsiteOpen()); // asked for: it counts as open at once
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, kStartTimeout);

    // The banner comes and goes; the website window keeps the helper.
    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor());
    QSignalSpy windows(&web, &WebContent::bannerWindowChanged);
    QTRY_COMPARE_WITH_TIMEOUT(windows.count(), 1, kStartTimeout);
    const qint64 pid = web.processId();
    web.hideBanner();
    QTest::qWait(500);
    QVERIFY(web.isRunning());
    QCOMPARE(web.processId(), pid);
    QCOMPARE(ended.count(), 0);

    // A second request goes to the same helper.
    web.openWebsite();
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 2, kStartTimeout);
    QCOMPARE(web.processId(), pid);

    // The helper dies with the window open: the window is gone, which the
    // program is told; with nothing else wanted, nothing is restarted.
    QCOMPARE(closed.count(), 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 5000);
    QVERIFY(!web.isWebsiteOpen());
    QCOMPARE(web.failures(), 1);
    QTest::qWait(fastOptions().firstRestartDelayMs + 500);
    QVERIFY(!web.isRunning());
}

void TestWebHelper::killedHelperIsRestartedWithAGrowingPause()
{
    WebHelper web(fastOptions());
    QSignalSpy started(&web, &WebHelper::helperStarted);
    QSignalSpy ended(&web, &WebHelper::helperEnded);
    QSignalSpy windows(&web, &WebContent::bannerWindowChanged);
    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor());
    QTRY_COMPARE_WITH_TIMEOUT(windows.count(), 1, kStartTimeout);
    QList<qint64> pids{web.processId()};

    for (int round = 1; round <= 2; ++round) {
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(pids.last()), SIGKILL);
        // The strip is emptied as soon as the death is seen.
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), round, 5000);
        QCOMPARE(ended.last().first().toBool(), true);
        QCOMPARE(windows.last().first().toULongLong(), quint64(0));
        QCOMPARE(web.failures(), round);
        // 300 ms after the first failure, twice that after the second in a row.
        QCOMPARE(web.nextRestartDelayMs(), 300 << (round - 1));
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), round + 1, 5000);
        QVERIFY2(clock.elapsed() >= web.nextRestartDelayMs(), qPrintable(QString::number(clock.elapsed())));
        pids.append(web.processId());
        QVERIFY(pids.last() != pids.at(pids.size() - 2));
        // And the strip gets the new helper's window.
        QTRY_VERIFY_WITH_TIMEOUT(web.bannerWindow() != 0, kStartTimeout);
    }
    for (qsizetype i = 0; i + 1 < pids.size(); ++i)
        QVERIFY(!processAlive(pids.at(i)));
}

void TestWebHelper::hungHelperIsReplaced()
{
    WebHelper::Options options = fastOptions();
    options.pingIntervalMs = 300;
    options.pingTimeoutMs = 3000;
    WebHelper web(options);
    QSignalSpy started(&web, &WebHelper::helperStarted);
    QSignalSpy windows(&web, &WebContent::bannerWindowChanged);
    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor());
    QTRY_COMPARE_WITH_TIMEOUT(windows.count(), 1, kStartTimeout);
    const qint64 pid = web.processId();
    // Answering pings, it is left alone.
    QTest::qWait(1000);
    QCOMPARE(web.processId(), pid);
    QCOMPARE(web.failures(), 0);

    // Stopped, it answers nothing: it is killed and replaced.
    ::kill(static_cast<pid_t>(pid), SIGSTOP);
    QTRY_COMPARE_WITH_TIMEOUT(web.failures(), 1, 10000);
    QCOMPARE(web.bannerWindow(), quint64(0));
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(started.count() >= 2, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(web.bannerWindow() != 0, kStartTimeout);
}

void TestWebHelper::missingHelperProgramFailsQuietly()
{
    WebHelper::Options options = fastOptions();
    options.program = m_env->home() + QStringLiteral("/no-such-helper");
    options.firstRestartDelayMs = 100;
    WebHelper web(options);
    QSignalSpy windows(&web, &WebContent::bannerWindowChanged);
    QSignalSpy closed(&web, &WebContent::websiteClosed);
    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor());
    web.openWebsite();
    // Each attempt fails; the website request is answered as closed, the
    // strip stays empty, and the attempts go on with growing pauses.
    QTRY_VERIFY_WITH_TIMEOUT(web.failures() >= 3, 5000);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!web.isWebsiteOpen());
    QCOMPARE(windows.count(), 0);
    QVERIFY(web.nextRestartDelayMs() >= 400);
    web.hideBanner();
    const int failures = web.failures();
    QTest::qWait(web.nextRestartDelayMs() + 300);
    QCOMPARE(web.failures(), failures); // nothing wanted: no more attempts
}

void TestWebHelper::shutdownEndsTheHelperAtOnce()
{
    WebHelper web(fastOptions());
    QSignalSpy windows(&web, &WebContent::bannerWindowChanged);
    QSignalSpy ended(&web, &WebHelper::helperEnded);
    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor());
    web.openWebsite();
    QTRY_COMPARE_WITH_TIMEOUT(windows.count(), 1, kStartTimeout);
    const qint64 pid = web.processId();

    QElapsedTimer clock;
    clock.start();
    web.shutdown();
    // Bounded by the wait and the kill that follows it.
    QVERIFY2(clock.elapsed() < 500 + 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(windows.count(), 2);
    QCOMPARE(windows.last().first().toULongLong(), quint64(0));
    QVERIFY(!web.isRunning());
    QVERIFY(!processAlive(pid));
    QCOMPARE(ended.count(), 0); // its own end is no event any more

    // Afterwards nothing starts it again.
    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor());
    web.openWebsite();
    QTest::qWait(500);
    QVERIFY(!web.isRunning());
    QVERIFY(!web.isWebsiteOpen());
}

// A child run of this program standing in for the program: shows the banner,
// prints the helper's pid once its window is there, and waits to be killed.
static int hostChild()
{
    int argc = 1;
    char name[] = "tst_webhelper";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    WebHelper web(fastOptions());
    QObject::connect(&web, &WebContent::bannerWindowChanged, [&web](quint64 id) {
        if (id != 0) {
            std::printf("helper %lld\n", static_cast<long long>(web.processId()));
            std::fflush(stdout);
        }
    });
    web.showBanner(QUrl(bannerAddress()), QSize(489, 63), QColor());
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(3); });
    return app.exec();
}

void TestWebHelper::programKilledTakesTheHelperAlong()
{
    QProcess host;
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--host-child")});
    QVERIFY(host.waitForStarted(10000));
    qint64 helperPid = 0;
    QVERIFY(test::waitFor(
        [&] {
            const QByteArray out = host.readAllStandardOutput();
            if (out.startsWith("helper "))
                helperPid = out.mid(7).trimmed().toLongLong();
            return helperPid != 0 || host.state() == QProcess::NotRunning;
        },
        kStartTimeout));
    QVERIFY(helperPid > 0);
    QVERIFY(processAlive(helperPid));

    QElapsedTimer clock;
    clock.start();
    host.kill();
    QVERIFY(host.waitForFinished(5000));
    QVERIFY2(test::waitFor([&] { return !processAlive(helperPid); }, 2000), "the helper outlived the program");
    qInfo("the helper was gone %lld ms after the program was killed", static_cast<long long>(clock.elapsed()));
}

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], "--host-child") == 0)
        return hostChild();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestWebHelper test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webhelper.moc"
