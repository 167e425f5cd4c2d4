// Popups in a real headless Chromium, watched by the DevTools engine with the
// real tracker, sinks and decision: each kind of popup blocked or let through,
// the status text from the mouse (also in the first document of a popup let
// through at once), a user's own tab, a popup that arrives together with the
// tab that opened it or before that tab was resumed, popups waiting for the
// setup question, bursts of 200 popups, and letting go at exit.

#include "blocking/browsertracker.h"
#include "blocking/cdp/cdpbrowserwindows.h"
#include "core/popupdecision.h"
#include "core/programstate.h"
#include "support/chromiumharness.h"
#include "support/decisionfakes.h"
#include "support/programfixture.h"
#include "support/testenv.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace wendral;
using namespace wendral::cdp;
using namespace wendral::test;

namespace {

// One opener page with every kind of popup trigger on it.
QByteArray openerPage(const QString &popupPath)
{
    return QStringLiteral("<!doctype html><title>opener</title>"
                          "<a id=l href='%1' target=_blank>link</a> "
                          "<a id=n href='%1' target=_blank rel=noopener>noopener</a>"
                          "<form id=f action='%1' target=_blank><input name=q value=1></form>"
                          "<a id=hover href='/hovered/target?x=1' style='position:absolute;left:20px;top:100px;"
                          "width:200px;height:40px;display:block'><span>over here</span></a>")
        .arg(popupPath)
        .toUtf8();
}

// A popup's page with a link of its own that opens a window.
QByteArray pageWithLink(const QString &linkPath)
{
    return QStringLiteral("<!doctype html><title>popup</title>"
                          "<a id=pl href='%1' target=_blank style='position:absolute;left:20px;top:100px;"
                          "width:200px;height:40px;display:block'><span>from the popup</span></a>")
        .arg(linkPath)
        .toUtf8();
}

QString triggerFor(const QString &kind, const QString &popupPath)
{
    if (kind == QLatin1String("window.open"))
        return QStringLiteral("window.open('%1'); 0").arg(popupPath);
    if (kind == QLatin1String("link"))
        return QStringLiteral("document.getElementById('l').click(); 0");
    if (kind == QLatin1String("link-noopener"))
        return QStringLiteral("document.getElementById('n').click(); 0");
    if (kind == QLatin1String("form"))
        return QStringLiteral("document.getElementById('f').submit(); 0");
    // A blank window first, sent somewhere once it is there.
    return QStringLiteral("var w = window.open(''); if (w) w.location.href = '%1'; 0").arg(popupPath);
}

} // namespace

class TestCdpPopups : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ProgramFixture> program;
    HttpCounter http;
    ChromiumProcess chrome;
    CdpTestClient client;
    FakeOptions options;
    FakeQuestion question;
    std::unique_ptr<CdpBrowserWindows> engine;
    std::unique_ptr<BrowserTracker> tracker;
    int serial = 0;

    // Opens an opener tab as a user would and waits until the engine watches
    // it (a sink attached). Returns {targetId, test session}.
    std::pair<QString, QString> openOpener(const QString &popupPath)
    {
        const QString path = QStringLiteral("/opener-%1").arg(++serial);
        http.setPage(path, openerPage(popupPath));
        const QString url = http.url(path);
        const QString target = client.createTab(url);
        const bool watched = waitUntil(
            [&] {
                for (const BrowserPtr &b : engine->items()) {
                    if (b->pageUrl() == url && b->sinkCount() == 1)
                        return true;
                }
                return false;
            },
            10000);
        if (!watched || target.isEmpty())
            return {};
        const QString session = client.attach(target);
        const bool loaded = waitUntil(
            [&] {
                return client
                    .evaluate(session, QStringLiteral("document.readyState === 'complete' && "
                                                      "!!document.getElementById('hover')"))
                    .toBool();
            },
            10000);
        return {target, loaded ? session : QString()};
    }

    // The page target the opener opened, seen by the test client.
    QString popupOf(const QString &openerId, int timeoutMs = 5000)
    {
        const auto ev = client.waitEvent(
            QStringLiteral("Target.targetCreated"),
            [&](const CdpTestClient::Event &e) {
                return e.params.value(QStringLiteral("targetInfo"))
                           .toObject()
                           .value(QStringLiteral("openerId"))
                           .toString() == openerId;
            },
            timeoutMs);
        return ev ? ev->params.value(QStringLiteral("targetInfo"))
                        .toObject()
                        .value(QStringLiteral("targetId"))
                        .toString()
                  : QString();
    }

    // The target of the page at this address, seen by the test client.
    QString findTarget(const QString &url)
    {
        for (const QJsonObject &t : client.pageTargets()) {
            if (t.value(QStringLiteral("url")).toString() == url)
                return t.value(QStringLiteral("targetId")).toString();
        }
        return {};
    }

    bool gone(const QString &targetId, int timeoutMs)
    {
        return client
            .waitEvent(
                QStringLiteral("Target.targetDestroyed"),
                [&](const CdpTestClient::Event &e) {
                    return e.params.value(QStringLiteral("targetId")).toString() == targetId;
                },
                timeoutMs)
            .has_value();
    }

    static CdpSettings standardSettings()
    {
        // Only the standard folders: other browsers on this machine stay out.
        CdpSettings settings;
        settings.procRoot.clear();
        return settings;
    }

    // Replaces the engine (and its tracker) with one made from these
    // settings; the browser stays.
    bool restartEngine(const CdpSettings &settings)
    {
        tracker.reset();
        engine.reset();
        engine = std::make_unique<CdpBrowserWindows>(settings);
        tracker = std::make_unique<BrowserTracker>(engine.get(), program->decider);
        return waitUntil([&] { return engine->browserCount() == 1; }, 5000);
    }

    // Moves the mouse to (x, y) in the page of the session until the status
    // text is expected (a page that has not painted yet may drop a move).
    bool hoverUntil(const QString &session, int x, int y, const QString &expected)
    {
        client.call(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"),
                      QStringLiteral("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")},
                     {QStringLiteral("awaitPromise"), true}},
                    session);
        for (int attempt = 0; attempt < 3; ++attempt) {
            client.call(QStringLiteral("Input.dispatchMouseEvent"),
                        {{QStringLiteral("type"), QStringLiteral("mouseMoved")},
                         {QStringLiteral("x"), x + attempt},
                         {QStringLiteral("y"), y}},
                        session);
            if (waitUntil([&] { return program->state.lastStatusText == expected; }, 1500))
                return true;
        }
        return false;
    }

    bool loaded(const QString &session)
    {
        return waitUntil(
            [&] { return client.evaluate(session, QStringLiteral("document.readyState === 'complete'")).toBool(); },
            10000);
    }

    void closeAllButFirst()
    {
        const auto pages = client.pageTargets();
        for (int i = 1; i < pages.size(); ++i)
            client.post(QStringLiteral("Target.closeTarget"),
                        {{QStringLiteral("targetId"), pages[i].value(QStringLiteral("targetId")).toString()}});
        waitUntil([&] { return client.pageTargets().size() <= 1; }, 5000);
        client.clearEvents();
    }

private slots:
    void initTestCase()
    {
        if (!ChromiumProcess::available())
            QSKIP("Chromium is not installed");
        env = std::make_unique<TestEnvironment>();
        program = std::make_unique<ProgramFixture>();
        QVERIFY(http.listen());
        options.sound = false;
        program->decider.setOptions(&options);
        program->decider.setQuestion(&question);
        // The browser's profile is the standard one under this XDG_CONFIG_HOME,
        // so the engine finds it the way it finds a user's browser.
        QVERIFY(chrome.start(env->configHome() + QStringLiteral("/chromium")));
        engine = std::make_unique<CdpBrowserWindows>(standardSettings());
        tracker = std::make_unique<BrowserTracker>(engine.get(), program->decider);
        QVERIFY(waitUntil([&] { return engine->browserCount() == 1; }, 5000));
        QVERIFY(client.open(chrome.browserWsUrl()));
        QVERIFY(!client.call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}})
                     .contains(QStringLiteral("error")));
    }

    void cleanupTestCase()
    {
        tracker.reset();
        engine.reset();
        client.close();
        chrome.stop();
        program.reset();
        env.reset();
    }

    void init()
    {
        options.blocking = true;
        options.setup = false;
        options.links = false;
        program->state.allowNext = false;
        program->state.lastStatusText.clear();
        question.onShow = nullptr;
    }

    void cleanup()
    {
        if (engine)
            closeAllButFirst();
    }

    void eachKindOfPopup_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("blocking");
        for (const char *kind : {"window.open", "link", "link-noopener", "form", "open-blank-then-navigate"}) {
            QTest::addRow("%s blocked", kind) << QString::fromLatin1(kind) << true;
            QTest::addRow("%s allowed", kind) << QString::fromLatin1(kind) << false;
        }
    }

    void eachKindOfPopup()
    {
        QFETCH(QString, kind);
        QFETCH(bool, blocking);
        options.blocking = blocking;
        const QString popupPath = QStringLiteral("/popup-%1").arg(serial + 1);
        const auto [opener, session] = openOpener(popupPath);
        QVERIFY(!session.isEmpty());
        const int blockedBefore = program->state.blockedCount;

        client.post(QStringLiteral("Runtime.evaluate"), {{QStringLiteral("expression"), triggerFor(kind, popupPath)}},
                    session);
        const QString popup = popupOf(opener);
        QVERIFY2(!popup.isEmpty(), "the page opened no window");

        if (blocking) {
            QVERIFY2(gone(popup, 8000), "the blocked popup is still open");
            // Counted once the browser has answered that it closed it.
            QVERIFY(waitUntil([&] { return program->state.blockedCount == blockedBefore + 1; }, 2000));
            QTest::qWait(300); // a late request would show up here
            QCOMPARE(http.count(popupPath), 0);
            // The opener is not frozen and can still open windows that are let through.
            QCOMPARE(client.evaluate(session, QStringLiteral("6 * 7")).toInt(), 42);
            options.blocking = false;
            const QString laterPath = popupPath + QStringLiteral("-later");
            client.post(QStringLiteral("Runtime.evaluate"),
                        {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(laterPath)}},
                        session);
            QVERIFY2(waitUntil([&] { return http.count(laterPath) == 1; }, 8000),
                     "a popup after a blocked one did not load");
        } else {
            QVERIFY2(waitUntil([&] { return http.count(popupPath) == 1; }, 8000), "the popup did not load");
            QCOMPARE(program->state.blockedCount, blockedBefore);
            // The let-through popup is a window of its own, with its own sink.
            QVERIFY(waitUntil(
                [&] {
                    for (const BrowserPtr &b : engine->items()) {
                        if (b->pageUrl().value_or(QString()).contains(popupPath))
                            return b->sinkCount() == 1 && tracker->count() == engine->items().size();
                    }
                    return false;
                },
                5000));
        }
        QCOMPARE(engine->heldCount(), 0);
    }

    void blankPopupThatNeverNavigatesIsClosed()
    {
        // A blocked window that loads nothing (a script would fill it) must not stay.
        const auto [opener, session] = openOpener(QStringLiteral("/unused"));
        QVERIFY(!session.isEmpty());
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.__w = window.open(''); 0")}}, session);
        const QString popup = popupOf(opener);
        QVERIFY(!popup.isEmpty());
        QVERIFY(gone(popup, 8000));
        QCOMPARE(client.evaluate(session, QStringLiteral("1 + 1")).toInt(), 2);
    }

    void popupOpenedByBlockedBlankPopupIsBlockedToo()
    {
        // The opener reaches into the blank window it got and opens from there.
        const QString path = QStringLiteral("/grandchild-%1").arg(serial);
        const auto [opener, session] = openOpener(QStringLiteral("/unused"));
        QVERIFY(!session.isEmpty());
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"),
                      QStringLiteral("var w = window.open(''); if (w) w.open('%1'); 0").arg(path)}},
                    session);
        const QString popup = popupOf(opener);
        QVERIFY(!popup.isEmpty());
        QVERIFY(gone(popup, 8000));
        QTest::qWait(500);
        QCOMPARE(http.count(path), 0);
    }

    void userTabIsNeverHeld()
    {
        // Blocking on, and a tab the user opens (no opener) loads at once.
        const QString path = QStringLiteral("/user-tab");
        QSignalSpy registered(engine.get(), &BrowserWindows::windowOpened);
        const QString target = client.createTab(http.url(path));
        QVERIFY(!target.isEmpty());
        QVERIFY(waitUntil([&] { return http.count(path) == 1; }, 5000));
        QVERIFY(waitUntil([&] { return registered.count() >= 1; }, 2000));
        QCOMPARE(engine->heldCount(), 0);
    }

    void statusTextFollowsTheMouse()
    {
        const auto [opener, session] = openOpener(QStringLiteral("/unused"));
        QVERIFY(!session.isEmpty());
        const QString href = http.url(QStringLiteral("/hovered/target?x=1"));
        // The span inside the link, then off the link.
        QVERIFY2(hoverUntil(session, 100, 120, href), qPrintable(program->state.lastStatusText));
        QVERIFY2(hoverUntil(session, 500, 400, QString()), qPrintable(program->state.lastStatusText));

        // The page's own scripts cannot reach the binding to make status text.
        QVERIFY(hoverUntil(session, 100, 120, href));
        QCOMPARE(client
                     .evaluate(session, QStringLiteral("try { window.__wendralStatus('http://spoofed.example/'); } "
                                                       "catch (e) {} typeof window.__wendralStatus"))
                     .toString(),
                 QStringLiteral("undefined"));
        QTest::qWait(300);
        QCOMPARE(program->state.lastStatusText, href);
    }

    void popupOfATabNotSeenYetIsDecided()
    {
        // The program was busy for a moment while a tab opened and its page
        // opened a popup: both reach the engine in one batch. The popup is
        // still decided, with the new tab's own sink: blocked.
        const QString popupPath = QStringLiteral("/from-unseen-tab");
        const int blockedBefore = program->state.blockedCount;
        const QString page = QStringLiteral("data:text/html,<title>unseen</title><script>"
                                            "setTimeout(function () { window.open('%1'); }, 300)</script>")
                                 .arg(http.url(popupPath));
        client.post(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), page}});
        QVERIFY(client.flush());
        QThread::msleep(2000); // no events run: the engine reads nothing meanwhile
        QVERIFY2(waitUntil([&] { return program->state.blockedCount == blockedBefore + 1; }, 8000),
                 qPrintable(QStringLiteral("blocked %1, requests for the popup %2")
                                .arg(program->state.blockedCount - blockedBefore)
                                .arg(http.count(popupPath))));
        QTest::qWait(300); // a late request would show up here
        QCOMPARE(http.count(popupPath), 0);
        QCOMPARE(engine->heldCount(), 0);
    }

    void statusScriptRunsInTheFirstDocumentOfAPopupLetThroughAtOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("window.open") << QStringLiteral("window.open");
        QTest::newRow("link-noopener") << QStringLiteral("link-noopener");
    }

    void statusScriptRunsInTheFirstDocumentOfAPopupLetThroughAtOnce()
    {
        // A popup let through is resumed in the same breath as the commands
        // that put the status script in place, without waiting for their
        // answers. The script must still run in the popup's first document:
        // the link exception depends on the status text of the window the
        // user points at. The engine here does not run the script again once
        // a document has loaded, so only the script that every new document
        // gets can report.
        QFETCH(QString, kind);
        CdpSettings settings = standardSettings();
        settings.browser.rerunStatusScriptOnLoad = false;
        QVERIFY(restartEngine(settings));
        const auto restore = qScopeGuard([this] { restartEngine(standardSettings()); });
        options.blocking = false;
        const QString popupPath = QStringLiteral("/first-document-%1").arg(serial + 1);
        const QString linkPath = popupPath + QStringLiteral("-link");
        http.setPage(popupPath, pageWithLink(linkPath));
        const auto [opener, session] = openOpener(popupPath);
        QVERIFY(!session.isEmpty());
        client.post(QStringLiteral("Runtime.evaluate"), {{QStringLiteral("expression"), triggerFor(kind, popupPath)}},
                    session);
        const QString popup = popupOf(opener);
        QVERIFY(!popup.isEmpty());
        QVERIFY2(waitUntil([&] { return http.count(popupPath) == 1; }, 8000), "the popup did not load");
        const QString popupSession = client.attach(popup);
        QVERIFY(!popupSession.isEmpty());
        QVERIFY(loaded(popupSession));
        const QString href = http.url(linkPath);
        QVERIFY2(hoverUntil(popupSession, 100, 120, href), qPrintable(program->state.lastStatusText));

        // The link exception at work: blocking on, the site not listed, and
        // the link under the mouse opens its window all the same.
        options.blocking = true;
        options.links = true;
        const int blockedBefore = program->state.blockedCount;
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("document.getElementById('pl').click(); 0")}},
                    popupSession);
        QVERIFY2(waitUntil([&] { return http.count(linkPath) == 1; }, 8000), "the link's window did not load");
        QCOMPARE(program->state.blockedCount, blockedBefore);
    }

    void popupOpenedBeforeItsTabWasResumedWaitsForTheQuestion_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("engine reading") << false;
        QTest::newRow("engine busy") << true;
    }

    void popupOpenedBeforeItsTabWasResumedWaitsForTheQuestion()
    {
        // A tab the user opens loads even while the browser reports it as
        // waiting, and its page can open a popup before the engine has resumed
        // the tab. A resume that reaches the browser after that lets the
        // held popup run as well. Setup mode: the popup must stay held while
        // the question is open, and go when the answer blocks it.
        QFETCH(bool, busy);
        options.setup = true;
        const QString popupPath = QStringLiteral("/before-tab-resumed-%1").arg(busy);
        const QString tabPath = QStringLiteral("/opens-at-once-%1").arg(busy);
        http.setPage(tabPath, QStringLiteral("<!doctype html><title>at once</title><script>window.open('%1')</script>")
                                  .arg(popupPath)
                                  .toUtf8());
        const int blockedBefore = program->state.blockedCount;
        const int shows = question.shows;
        client.post(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), http.url(tabPath)}});
        QVERIFY(client.flush());
        if (busy) {
            // The program is busy: the tab and its popup reach the engine together.
            QVERIFY(waitUntil([&] { return http.count(tabPath) == 1; }, 5000));
            QThread::msleep(1500);
        }
        QVERIFY(waitUntil([&] { return program->decider.waitingCount() == 1; }, 8000));
        QCOMPARE(question.shows - shows, 1);
        QTest::qWait(1500); // the popup ran within half a second when it was let go
        QCOMPARE(http.count(popupPath), 0);
        QCOMPARE(engine->heldCount(), 1);

        const QString popup = popupOf(findTarget(http.url(tabPath)));
        QVERIFY(!popup.isEmpty());
        FakeQuestion::answerLater(program->decider, 0, SiteAnswer::BlockOnce);
        QVERIFY2(gone(popup, 8000), "the blocked popup is still open");
        // Counted once the browser has answered that it closed it.
        QVERIFY(waitUntil([&] { return program->state.blockedCount == blockedBefore + 1; }, 2000));
        QTest::qWait(300);
        QCOMPARE(http.count(popupPath), 0);
        QCOMPARE(engine->heldCount(), 0);
    }

    void burstOfPopups_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("blocking");
        // window.open holds its opener until the popup is resumed, so its
        // burst comes one by one as fast as the engine lets each go; noopener
        // windows leave the opener free, so a blocked burst of them is held
        // all at once. (Two hundred noopener windows let through at once are
        // two hundred renderers loading together: more than a headless
        // browser on a small machine takes in a test's time.)
        QTest::newRow("window.open allowed") << QStringLiteral("window.open") << false;
        QTest::newRow("window.open blocked") << QStringLiteral("window.open") << true;
        QTest::newRow("noopener blocked") << QStringLiteral("noopener") << true;
    }

    void burstOfPopups()
    {
        // 200 popups opened by one script: let through, every one loads;
        // blocked, none makes a request, every one is counted, and no target
        // is left behind.
        QFETCH(QString, kind);
        QFETCH(bool, blocking);
        constexpr int kBurst = 200;
        options.blocking = blocking;
        const QString prefix = QStringLiteral("/burst-%1-%2-").arg(serial + 1).arg(kind);
        const auto [opener, session] = openOpener(QStringLiteral("/unused"));
        QVERIFY(!session.isEmpty());
        const qsizetype pagesBefore = client.pageTargets().size();
        const int blockedBefore = program->state.blockedCount;
        const QString features =
            kind == QLatin1String("noopener") ? QStringLiteral(", '_blank', 'noopener'") : QString();
        client.post(
            QStringLiteral("Runtime.evaluate"),
            {{QStringLiteral("expression"), QStringLiteral("for (var i = 0; i < %1; ++i) window.open('%2' + i%3); 0")
                                                .arg(kBurst)
                                                .arg(prefix, features)}},
            session);
        const auto requested = [&] {
            int n = 0;
            for (int i = 0; i < kBurst; ++i)
                n += http.count(prefix + QString::number(i)) > 0 ? 1 : 0;
            return n;
        };
        const auto popups = [&] {
            int n = 0;
            for (const CdpTestClient::Event &e : client.events()) {
                if (e.method == QLatin1String("Target.targetCreated") &&
                    e.params.value(QStringLiteral("targetInfo")).toObject().value(QStringLiteral("openerId")) == opener)
                    ++n;
            }
            return n;
        };
        QVERIFY2(waitUntil([&] { return popups() == kBurst; }, 60000), qPrintable(QString::number(popups())));
        if (!blocking) {
            QVERIFY2(waitUntil([&] { return requested() == kBurst; }, 60000),
                     qPrintable(QStringLiteral("%1 of %2 loaded").arg(requested()).arg(kBurst)));
            QCOMPARE(program->state.blockedCount, blockedBefore);
        } else {
            QVERIFY2(waitUntil([&] { return program->state.blockedCount == blockedBefore + kBurst; }, 60000),
                     qPrintable(QString::number(program->state.blockedCount - blockedBefore)));
            QVERIFY2(waitUntil([&] { return client.pageTargets().size() == pagesBefore; }, 30000),
                     qPrintable(QString::number(client.pageTargets().size() - pagesBefore)));
            QTest::qWait(500); // a late request would show up here
            QCOMPARE(requested(), 0);
            // The opener is not frozen.
            QCOMPARE(client.evaluate(session, QStringLiteral("6 * 7")).toInt(), 42);
        }
        QVERIFY(waitUntil([&] { return engine->heldCount() == 0; }, 5000));
    }

    void newPagesStayWatchedWhileADecisionWaits()
    {
        // Setup mode: the first popup waits for the question, held by the
        // browser while the program runs on. Meanwhile a user's tab still
        // loads and a second opener's popup joins the open question; one
        // answer lets both through.
        options.setup = true;
        const QString path1 = QStringLiteral("/waiting-1");
        const QString path2 = QStringLiteral("/waiting-2");
        const auto [opener1, s1] = openOpener(path1);
        const auto [opener2, s2] = openOpener(path2);
        QVERIFY(!s1.isEmpty() && !s2.isEmpty());
        const int shows = question.shows;
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(path1)}}, s1);
        QVERIFY(waitUntil([&] { return program->decider.waitingCount() == 1; }, 8000));
        QCOMPARE(question.shows - shows, 1);
        QCOMPARE(question.siteAsked, QStringLiteral("127.0.0.1:%1").arg(http.port()));

        client.createTab(http.url(QStringLiteral("/while-waiting")));
        QVERIFY2(waitUntil([&] { return http.count(QStringLiteral("/while-waiting")) == 1; }, 5000),
                 "a user's tab did not load while a popup waited");
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(path2)}}, s2);
        QVERIFY(waitUntil([&] { return program->decider.waitingCount() == 2; }, 8000));
        QCOMPARE(question.shows - shows, 1); // asked once for both
        QCOMPARE(engine->heldCount(), 2);
        QTest::qWait(200);
        QCOMPARE(http.count(path1), 0);
        QCOMPARE(http.count(path2), 0);

        FakeQuestion::answerLater(program->decider, 50, SiteAnswer::AllowOnce);
        QVERIFY(waitUntil([&] { return http.count(path1) == 1 && http.count(path2) == 1; }, 10000));
        QVERIFY(!program->decider.isAsking());
        QCOMPARE(engine->heldCount(), 0);
    }

    void destroyedMidDecisionLetsHeldPopupsThrough()
    {
        // Runs last: it takes the engine away. The main window unloads while a
        // popup waits for the question; the popup must not stay a blank tab.
        options.setup = true;
        const QString path = QStringLiteral("/held-at-exit");
        const auto [opener, session] = openOpener(path);
        QVERIFY(!session.isEmpty());
        const int withdrawals = question.withdrawals;
        const int blockedBefore = program->state.blockedCount;
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(path)}}, session);
        QVERIFY(waitUntil([&] { return program->decider.isAsking(); }, 8000));
        QTest::qWait(100);
        QCOMPARE(engine->heldCount(), 1);
        tracker.reset();
        engine.reset();
        // The browser went away from under the waiting request: it is
        // withdrawn, and with it the question.
        QCOMPARE(program->decider.waitingCount(), 0);
        QCOMPARE(question.withdrawals, withdrawals + 1);
        program->decider.answer(SiteAnswer::BlockOnce, QString()); // too late: nothing is left to block
        QCOMPARE(program->state.blockedCount, blockedBefore);
        QVERIFY2(waitUntil([&] { return http.count(path) == 1; }, 5000), "the held popup was left blank");
        QCOMPARE(client.evaluate(session, QStringLiteral("1 + 2")).toInt(), 3);
    }
};

QTEST_GUILESS_MAIN(TestCdpPopups)
#include "tst_cdp_popups.moc"
