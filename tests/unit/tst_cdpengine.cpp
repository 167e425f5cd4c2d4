// The DevTools engine against a fake browser endpoint (a WebSocket server in
// the test): the popup protocol step by step, status text, popups held while
// the setup question waits, and peers that misbehave — malformed or huge
// messages, unknown methods, a socket closed in the middle of a decision, an
// endpoint that never answers, too many commands.

#include "blocking/browsersink.h"
#include "blocking/browsertracker.h"
#include "blocking/cdp/cdpbrowserwindows.h"
#include "support/chromiumharness.h"
#include "support/decisionfakes.h"
#include "support/programfixture.h"
#include "support/testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

using namespace wendral;
using namespace wendral::cdp;
using namespace wendral::test;

namespace {

// A browser endpoint that answers every command with an empty result unless
// told otherwise, and records what it was sent.
class FakeDevTools : public QObject
{
    Q_OBJECT
public:
    struct Msg
    {
        int id = 0;
        QString method;
        QJsonObject params;
        QString sessionId;
    };

    QWebSocketServer server{QStringLiteral("fake"), QWebSocketServer::NonSecureMode};
    QList<QWebSocket *> clients;
    QList<Msg> received;
    int connections = 0;
    bool answer = true;          // answer commands at all
    QSet<QString> silentMethods; // never answered
    QSet<QString> errorMethods;  // answered with an error
    QSet<QString> manualMethods; // answered by the test (answerPending)
    QList<Msg> held;             // the manual ones not yet answered

    ~FakeDevTools() override
    {
        // Every socket the server handed out is ours to delete, also one that
        // disconnected and waits for a deferred delete no event loop may run
        // any more; none may report to this object while it goes.
        server.disconnect(this);
        for (QWebSocket *s : findChildren<QWebSocket *>(Qt::FindDirectChildrenOnly)) {
            s->disconnect(this);
            s->abort();
            delete s;
        }
    }

    bool listen(const QString &profileDir)
    {
        if (!server.listen(QHostAddress::LocalHost, 0))
            return false;
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *s = server.nextPendingConnection()) {
                ++connections;
                s->setParent(this);
                clients << s;
                connect(s, &QWebSocket::textMessageReceived, this, [this, s](const QString &t) { onText(s, t); });
                connect(s, &QWebSocket::disconnected, this, [this, s] {
                    clients.removeAll(s);
                    s->deleteLater();
                });
            }
        });
        return writePortFile(profileDir);
    }
    bool writePortFile(const QString &profileDir)
    {
        return writeFile(profileDir + QStringLiteral("/DevToolsActivePort"),
                         QByteArray::number(server.serverPort()) + "\n/devtools/browser/fake-" +
                             QByteArray::number(server.serverPort()));
    }

    void onText(QWebSocket *s, const QString &text)
    {
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        Msg m{o.value(QStringLiteral("id")).toInt(), o.value(QStringLiteral("method")).toString(),
              o.value(QStringLiteral("params")).toObject(), o.value(QStringLiteral("sessionId")).toString()};
        received << m;
        if (!answer || silentMethods.contains(m.method))
            return;
        if (manualMethods.contains(m.method)) {
            held << m;
            return;
        }
        reply(s, m, errorMethods.contains(m.method));
    }
    void reply(QWebSocket *s, const Msg &m, bool error = false)
    {
        QJsonObject r{{QStringLiteral("id"), m.id}};
        if (error)
            r.insert(QStringLiteral("error"),
                     QJsonObject{{QStringLiteral("code"), -32000}, {QStringLiteral("message"), QStringLiteral("no")}});
        else
            r.insert(QStringLiteral("result"), QJsonObject{});
        if (!m.sessionId.isEmpty())
            r.insert(QStringLiteral("sessionId"), m.sessionId);
        s->sendTextMessage(QString::fromUtf8(QJsonDocument(r).toJson(QJsonDocument::Compact)));
    }
    void answerHeld()
    {
        const auto list = std::exchange(held, {});
        for (const Msg &m : list) {
            if (!clients.isEmpty())
                reply(clients.first(), m);
        }
    }
    void sendRaw(const QString &text)
    {
        for (QWebSocket *s : std::as_const(clients))
            s->sendTextMessage(text);
    }
    void event(const QString &method, const QJsonObject &params, const QString &sessionId = {})
    {
        QJsonObject o{{QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
        if (!sessionId.isEmpty())
            o.insert(QStringLiteral("sessionId"), sessionId);
        sendRaw(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    }
    static QJsonObject targetInfo(const QString &targetId, const QString &openerId, const QString &url,
                                  const QString &type)
    {
        QJsonObject info{
            {QStringLiteral("targetId"), targetId}, {QStringLiteral("type"), type}, {QStringLiteral("url"), url}};
        if (!openerId.isEmpty())
            info.insert(QStringLiteral("openerId"), openerId);
        return info;
    }
    // The browser reports a new target as created, as a real one does before
    // it attaches it.
    void create(const QString &targetId, const QString &openerId = {}, const QString &type = QStringLiteral("page"))
    {
        event(QStringLiteral("Target.targetCreated"),
              {{QStringLiteral("targetInfo"), targetInfo(targetId, openerId, QString(), type)}});
    }
    // Reports the target as created, then attaches it; with reported false,
    // only attaches it (as a made-up target would come).
    void attach(const QString &targetId, const QString &sessionId, bool waiting, const QString &openerId = {},
                const QString &url = QStringLiteral("https://site.example/page"),
                const QString &type = QStringLiteral("page"), bool reported = true)
    {
        if (reported)
            create(targetId, openerId, type);
        attachOnly(targetId, sessionId, waiting, openerId, url, type);
    }
    void attachOnly(const QString &targetId, const QString &sessionId, bool waiting, const QString &openerId = {},
                    const QString &url = QStringLiteral("https://site.example/page"),
                    const QString &type = QStringLiteral("page"))
    {
        const QJsonObject info = targetInfo(targetId, openerId, url, type);
        event(QStringLiteral("Target.attachedToTarget"), {{QStringLiteral("sessionId"), sessionId},
                                                          {QStringLiteral("targetInfo"), info},
                                                          {QStringLiteral("waitingForDebugger"), waiting}});
    }
    bool ready() const
    {
        return std::any_of(received.begin(), received.end(),
                           [](const Msg &m) { return m.method == QLatin1String("Target.setAutoAttach"); });
    }
    // Index of the first message with this method (and session), from 'from'; -1 if none.
    int indexOf(const QString &method, const QString &sessionId = QString(), int from = 0) const
    {
        for (int i = from; i < received.size(); ++i) {
            if (received[i].method == method && (sessionId.isNull() || received[i].sessionId == sessionId))
                return i;
        }
        return -1;
    }
    QString statusSecret() const
    {
        for (const Msg &m : received) {
            if (m.method != QLatin1String("Page.addScriptToEvaluateOnNewDocument"))
                continue;
            const auto match = QRegularExpression(QStringLiteral("var secret = '([^']*)'"))
                                   .match(m.params.value(QStringLiteral("source")).toString());
            if (match.hasMatch())
                return match.captured(1);
        }
        return {};
    }
};

// A sink whose answer the test sets (by default it lets every popup through),
// and that can keep a request to settle it later.
struct TestSink : BrowserEvents
{
    std::function<void(const NewWindowRequestPtr &)> onNewWindow;
    int requests = 0;
    QStringList status;
    void newWindowRequested(const NewWindowRequestPtr &request) override
    {
        ++requests;
        if (onNewWindow)
            onNewWindow(request);
        else
            request->settle(Verdict::Allow);
    }
    void statusTextChanged(const QString &text) override { status << text; }
};

void blockEvery(const NewWindowRequestPtr &request)
{
    request->settle(Verdict::Block);
}

CdpSettings fastSettings()
{
    CdpSettings s;
    s.procRoot.clear();
    s.scanIntervalMs = 100;
    s.browser.setupTimeoutMs = 500;
    s.browser.blockedCloseDelayMs = 300;
    s.retryDelayMs = 200;
    s.shutdownWaitMs = 1000;
    return s;
}

std::shared_ptr<CdpPage> pageOf(CdpBrowserWindows &engine, const QString &url)
{
    for (const BrowserPtr &b : engine.items()) {
        if (b->pageUrl() == url)
            return std::dynamic_pointer_cast<CdpPage>(b);
    }
    return nullptr;
}

} // namespace

class TestCdpEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    QString chromiumDir() const { return env->configHome() + QStringLiteral("/chromium"); }
    QString edgeDir() const { return env->configHome() + QStringLiteral("/microsoft-edge"); }

    // A connected engine with one ordinary page P1 (session S1) and a sink on it.
    struct Rig
    {
        FakeDevTools fake;
        std::unique_ptr<CdpBrowserWindows> engine;
        std::shared_ptr<TestSink> sink = std::make_shared<TestSink>();
        std::shared_ptr<CdpPage> opener;
    };
    std::unique_ptr<Rig> makeRig(const CdpSettings &settings = fastSettings())
    {
        auto rig = std::make_unique<Rig>();
        if (!rig->fake.listen(chromiumDir()))
            return nullptr;
        rig->engine = std::make_unique<CdpBrowserWindows>(settings);
        if (!waitUntil([&] { return rig->engine->browserDataDirs().contains(chromiumDir()); }, 3000))
            return nullptr;
        rig->fake.attach(QStringLiteral("P1"), QStringLiteral("S1"), false, {},
                         QStringLiteral("https://opener.example/a"));
        if (!waitUntil([&] { return rig->engine->items().size() == 1; }, 2000))
            return nullptr;
        rig->opener = pageOf(*rig->engine, QStringLiteral("https://opener.example/a"));
        if (!rig->opener)
            return nullptr;
        rig->opener->subscribe(rig->sink);
        return rig;
    }

    // The decision as the program wires it, in setup mode, with a question
    // that the test answers; optionally over a connected engine (see makeRig)
    // whose pages a tracker follows. Members go in reverse order: the tracker,
    // the engine, then the decider, which still reaches the question.
    struct QuestionRig
    {
        FakeOptions options;
        FakeQuestion question;
        std::unique_ptr<ProgramFixture> program = std::make_unique<ProgramFixture>();
        std::unique_ptr<Rig> rig;
        std::unique_ptr<BrowserTracker> tracker;
        PopupDecider &decider() { return program->decider; }
    };
    std::unique_ptr<QuestionRig> makeQuestionRig(bool withEngine = true, bool setup = true,
                                                 const CdpSettings &settings = fastSettings())
    {
        auto q = std::make_unique<QuestionRig>();
        q->options.setup = setup;
        q->decider().setOptions(&q->options);
        q->decider().setQuestion(&q->question);
        if (!withEngine)
            return q;
        q->rig = makeRig(settings);
        if (!q->rig)
            return nullptr;
        q->rig->sink.reset(); // the program's own sinks decide
        q->tracker = std::make_unique<BrowserTracker>(q->rig->engine.get(), q->decider());
        if (q->tracker->count() != 1)
            return nullptr;
        return q;
    }

private slots:
    void init() { env = std::make_unique<TestEnvironment>(); }
    void cleanup() { env.reset(); }

    void blockedPopupFollowsTheFetchRoute()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        auto &fake = rig->fake;
        const QString resumeMethod = QStringLiteral("Runtime.runIfWaitingForDebugger");
        fake.manualMethods << QStringLiteral("Fetch.enable");
        rig->sink->onNewWindow = blockEvery;
        QSignalSpy registered(rig->engine.get(), &BrowserWindows::windowOpened);

        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        QVERIFY(
            waitUntil([&] { return fake.indexOf(QStringLiteral("Fetch.enable"), QStringLiteral("S2")) >= 0; }, 2000));
        QCOMPARE(rig->sink->requests, 1);
        const QJsonObject pattern = fake.received[fake.indexOf(QStringLiteral("Fetch.enable"))]
                                        .params.value(QStringLiteral("patterns"))
                                        .toArray()
                                        .at(0)
                                        .toObject();
        QCOMPARE(pattern.value(QStringLiteral("urlPattern")).toString(), QStringLiteral("*"));
        // Not armed: a blocked popup never shows anything.
        QCOMPARE(fake.indexOf(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"), QStringLiteral("S2")), -1);
        // The browser has not yet shown that it takes Fetch.enable: not resumed
        // before the answer, so that no request can leave.
        QTest::qWait(100);
        QCOMPARE(fake.indexOf(resumeMethod, QStringLiteral("S2")), -1);
        fake.answerHeld();
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("S2")) >= 0; }, 2000));
        // Not closed while it is held (that would freeze its opener).
        QCOMPARE(fake.indexOf(QStringLiteral("Target.closeTarget")), -1);

        // Its first request stays held and the window is closed at once: no
        // error page first.
        fake.event(QStringLiteral("Fetch.requestPaused"),
                   {{QStringLiteral("requestId"), QStringLiteral("r1")},
                    {QStringLiteral("request"), QJsonObject{{QStringLiteral("url"), QStringLiteral("https://ad/")}}}},
                   QStringLiteral("S2"));
        QVERIFY(waitUntil([&] { return fake.indexOf(QStringLiteral("Target.closeTarget")) >= 0; }, 2000));
        QCOMPARE(fake.received[fake.indexOf(QStringLiteral("Target.closeTarget"))]
                     .params.value(QStringLiteral("targetId"))
                     .toString(),
                 QStringLiteral("P2"));
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.failRequest")), -1);
        QCOMPARE(rig->engine->heldCount(), 0);
        // A request that comes while it closes is failed, never let go.
        fake.event(QStringLiteral("Fetch.requestPaused"), {{QStringLiteral("requestId"), QStringLiteral("r2")}},
                   QStringLiteral("S2"));
        QVERIFY(waitUntil([&] { return fake.indexOf(QStringLiteral("Fetch.failRequest"), QStringLiteral("S2")) >= 0; },
                          2000));
        const int fail = fake.indexOf(QStringLiteral("Fetch.failRequest"), QStringLiteral("S2"));
        QCOMPARE(fake.received[fail].params.value(QStringLiteral("requestId")).toString(), QStringLiteral("r2"));
        QCOMPARE(fake.received[fail].params.value(QStringLiteral("errorReason")).toString(),
                 QStringLiteral("BlockedByClient"));
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.continueRequest")), -1);
        // The blocked popup never was a window.
        QCOMPARE(rig->engine->items().size(), 1);
        QCOMPARE(registered.count(), 0);

        // Now that the browser took Fetch.enable once, the next blocked popup
        // is resumed in the same breath, without waiting for the answer.
        fake.attach(QStringLiteral("P3"), QStringLiteral("S3"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("S3")) >= 0; }, 2000));
        QCOMPARE(fake.indexOf(resumeMethod, QStringLiteral("S3")),
                 fake.indexOf(QStringLiteral("Fetch.enable"), QStringLiteral("S3")) + 1);
        QCOMPARE(fake.held.size(), 1); // its Fetch.enable still unanswered

        // A browser that refuses to close it: its held request is failed.
        fake.errorMethods << QStringLiteral("Target.closeTarget");
        fake.event(QStringLiteral("Fetch.requestPaused"), {{QStringLiteral("requestId"), QStringLiteral("r3")}},
                   QStringLiteral("S3"));
        QVERIFY(waitUntil(
            [&] {
                const int i = fake.indexOf(QStringLiteral("Fetch.failRequest"), QStringLiteral("S3"));
                return i >= 0 &&
                       fake.received[i].params.value(QStringLiteral("requestId")).toString() == QLatin1String("r3");
            },
            2000));
    }

    void popupLetThroughIsArmedAndResumedInOneBreath()
    {
        // Nothing is awaited between the decision and the resume: the commands
        // that put the status script in place go first, on the popup's own
        // session (the browser takes them in order), and the resume follows.
        auto rig = makeRig();
        QVERIFY(rig);
        auto &fake = rig->fake;
        fake.manualMethods << QStringLiteral("Page.enable") << QStringLiteral("Runtime.enable")
                           << QStringLiteral("Runtime.addBinding")
                           << QStringLiteral("Page.addScriptToEvaluateOnNewDocument");
        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        const QString resumeMethod = QStringLiteral("Runtime.runIfWaitingForDebugger");
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("S2")) >= 0; }, 2000));
        const QString session = QStringLiteral("S2");
        const int resumeAt = fake.indexOf(resumeMethod, session);
        int last = -1;
        for (const char *method :
             {"Page.enable", "Runtime.enable", "Runtime.addBinding", "Page.addScriptToEvaluateOnNewDocument"}) {
            const int at = fake.indexOf(QString::fromLatin1(method), session);
            QVERIFY2(at > last && at < resumeAt, method);
            last = at;
        }
        QVERIFY(fake.held.size() >= 4); // none of them answered yet
        QCOMPARE(rig->sink->requests, 1);
        QVERIFY(waitUntil([&] { return rig->engine->items().size() == 2; }, 2000));
        QCOMPARE(rig->engine->heldCount(), 0);
    }

    void tabThatNoPageOpenedIsResumedOnlyWhenItShowsNoLife_data()
    {
        QTest::addColumn<QString>("sign");
        QTest::newRow("none") << QString();
        QTest::newRow("document loaded") << QStringLiteral("Page.domContentEventFired");
        QTest::newRow("navigated") << QStringLiteral("Page.frameNavigated");
        QTest::newRow("opened a popup") << QStringLiteral("popup");
    }

    void tabThatNoPageOpenedIsResumedOnlyWhenItShowsNoLife()
    {
        // A tab the user opens is reported as waiting but loads all the same,
        // and its renderer takes a resume only when its page lets it: a resume
        // taken after the page opened a popup would let that popup run
        // whatever the verdict. A tab that shows it runs is never resumed; one
        // that shows nothing is, after a short while.
        QFETCH(QString, sign);
        CdpSettings settings = fastSettings();
        settings.browser.quietTabResumeMs = 300;
        auto rig = makeRig(settings);
        QVERIFY(rig);
        auto &fake = rig->fake;
        rig->sink->onNewWindow = [](const NewWindowRequestPtr &) {}; // the popup's verdict waits
        const QString resumeMethod = QStringLiteral("Runtime.runIfWaitingForDebugger");
        fake.attach(QStringLiteral("T1"), QStringLiteral("U1"), true, {}, QStringLiteral("https://user.example/"));
        QVERIFY(waitUntil([&] { return rig->engine->items().size() == 2; }, 2000));
        auto tab = pageOf(*rig->engine, QStringLiteral("https://user.example/"));
        QVERIFY(tab);
        auto tabSink = std::make_shared<TestSink>();
        tabSink->onNewWindow = [](const NewWindowRequestPtr &) {};
        tab->subscribe(tabSink);
        if (sign == QLatin1String("popup"))
            fake.attach(QStringLiteral("T2"), QStringLiteral("U2"), true, QStringLiteral("T1"), QString());
        else if (sign == QLatin1String("Page.frameNavigated"))
            fake.event(sign,
                       {{QStringLiteral("frame"), QJsonObject{{QStringLiteral("id"), QStringLiteral("T1")},
                                                              {QStringLiteral("url"), QStringLiteral("https://u/")}}}},
                       QStringLiteral("U1"));
        else if (!sign.isEmpty())
            fake.event(sign, {{QStringLiteral("timestamp"), 1.0}}, QStringLiteral("U1"));
        // Armed at once in any case.
        QVERIFY(waitUntil(
            [&] {
                return fake.indexOf(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"), QStringLiteral("U1")) >= 0;
            },
            2000));
        if (sign.isEmpty()) {
            QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("U1")) >= 0; }, 2000));
            return;
        }
        QTest::qWait(700);
        QCOMPARE(fake.indexOf(resumeMethod, QStringLiteral("U1")), -1);
        if (sign == QLatin1String("popup")) {
            QCOMPARE(tabSink->requests, 1);
            QCOMPARE(fake.indexOf(resumeMethod, QStringLiteral("U2")), -1); // still held
            QCOMPARE(rig->engine->heldCount(), 1);
        }
    }

    void blockedPopupThatRequestsNothingIsClosed()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        rig->sink->onNewWindow = blockEvery;
        rig->fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return rig->fake.indexOf(QStringLiteral("Target.closeTarget")) >= 0; }, 2000));
        QVERIFY(rig->fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("S2")) <
                rig->fake.indexOf(QStringLiteral("Target.closeTarget")));
    }

    void letThroughWhenAllowedWithoutSinkOrWhenTheDecisionFails_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("allowed") << 0;
        QTest::newRow("no sink") << 1;
        QTest::newRow("decision throws") << 2;
    }

    void letThroughWhenAllowedWithoutSinkOrWhenTheDecisionFails()
    {
        QFETCH(int, mode);
        auto rig = makeRig();
        QVERIFY(rig);
        if (mode == 1)
            rig->sink.reset(); // the only sink goes: no one decides
        if (mode == 2)
            rig->sink->onNewWindow = [](const NewWindowRequestPtr &) {
                throw std::runtime_error("options unreadable");
            };
        QSignalSpy registered(rig->engine.get(), &BrowserWindows::windowOpened);
        rig->fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"),
                         QStringLiteral("about:blank"));
        QVERIFY(waitUntil(
            [&] {
                return rig->fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("S2")) >= 0;
            },
            2000));
        QCOMPARE(rig->fake.indexOf(QStringLiteral("Fetch.enable")), -1);
        QVERIFY(waitUntil([&] { return registered.count() == 1; }, 1000));
        QCOMPARE(rig->engine->items().size(), 2);
        if (mode == 0)
            QCOMPARE(rig->sink->requests, 1);
    }

    void targetsWithoutOpenerAndOtherTypesRunAtOnce()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        auto &fake = rig->fake;
        fake.attach(QStringLiteral("T1"), QStringLiteral("U1"), true, {}, QStringLiteral("https://user.example/"));
        fake.attach(QStringLiteral("W1"), QStringLiteral("U2"), true, QStringLiteral("P1"), QString(),
                    QStringLiteral("service_worker"));
        QVERIFY(waitUntil(
            [&] {
                return fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("U1")) >= 0 &&
                       fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("U2")) >= 0;
            },
            2000));
        QCOMPARE(rig->sink->requests, 0);
        QVERIFY(fake.indexOf(QStringLiteral("Target.detachFromTarget")) >= 0);
        QCOMPARE(rig->engine->items().size(), 2); // the user's tab is a window, the worker is not
        // The user's tab was armed before it ran.
        QVERIFY(fake.indexOf(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"), QStringLiteral("U1")) <
                fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("U1")));
    }

    void pageFollowsItsTargetAndQuitClosesIt()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        auto &fake = rig->fake;
        fake.event(
            QStringLiteral("Target.targetInfoChanged"),
            {{QStringLiteral("targetInfo"), QJsonObject{{QStringLiteral("targetId"), QStringLiteral("P1")},
                                                        {QStringLiteral("type"), QStringLiteral("page")},
                                                        {QStringLiteral("url"), QStringLiteral("https://b/")}}}});
        QVERIFY(waitUntil([&] { return rig->opener->pageUrl() == QStringLiteral("https://b/"); }, 2000));
        rig->opener->close();
        QVERIFY(waitUntil([&] { return fake.indexOf(QStringLiteral("Target.closeTarget")) >= 0; }, 2000));
        QSignalSpy revoked(rig->engine.get(), &BrowserWindows::windowClosed);
        fake.event(QStringLiteral("Target.targetDestroyed"), {{QStringLiteral("targetId"), QStringLiteral("P1")}});
        QVERIFY(waitUntil([&] { return revoked.count() == 1; }, 2000));
        QCOMPARE(rig->engine->items().size(), 0);
        QVERIFY(!rig->opener->pageUrl().has_value());
    }

    void statusTextOnlyFromTheScript()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        auto &fake = rig->fake;
        QVERIFY(waitUntil([&] { return !fake.statusSecret().isEmpty(); }, 2000));
        const QString secret = fake.statusSecret();
        auto bind = [&](const QString &payload, const QString &name = QString::fromLatin1(kStatusBindingName)) {
            fake.event(QStringLiteral("Runtime.bindingCalled"),
                       {{QStringLiteral("name"), name}, {QStringLiteral("payload"), payload}}, QStringLiteral("S1"));
        };
        bind(QStringLiteral("https://spoof.example/"));                               // no secret
        bind(secret + QStringLiteral("https://other-binding/"), QStringLiteral("x")); // not ours
        bind(secret + QStringLiteral("https://link.example/a\nb"));
        bind(secret + QString(5000, u'x'));
        bind(secret);
        QVERIFY(waitUntil([&] { return rig->sink->status.size() == 3; }, 2000));
        QCOMPARE(rig->sink->status.at(0), QStringLiteral("https://link.example/ab"));
        QCOMPARE(rig->sink->status.at(1).size(), kMaxStatusTextChars);
        QCOMPARE(rig->sink->status.at(2), QString());
        // The world the script runs in is not the page's.
        const int add = fake.indexOf(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"), QStringLiteral("S1"));
        QCOMPARE(fake.received[add].params.value(QStringLiteral("worldName")).toString(),
                 QString::fromLatin1(kStatusWorldName));
    }

    void malformedAndUnknownMessagesAreIgnored()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        auto &fake = rig->fake;
        fake.sendRaw(QStringLiteral("{not json"));
        fake.sendRaw(QStringLiteral("[1,2,3]"));
        fake.sendRaw(QStringLiteral("{\"id\": 999999, \"result\": {}}"));
        fake.sendRaw(QStringLiteral("{\"id\": \"x\", \"method\": 5}"));
        fake.sendRaw(QStringLiteral("{\"method\": \"Target.attachedToTarget\", \"params\": {\"sessionId\": 3}}"));
        fake.sendRaw(QStringLiteral("{\"method\": \"Target.attachedToTarget\", \"params\": []}"));
        fake.sendRaw(QStringLiteral("{\"method\": \"Fetch.requestPaused\", \"params\": {}}"));
        fake.event(QStringLiteral("Made.up"), {{QStringLiteral("x"), 1}});
        for (QWebSocket *s : std::as_const(fake.clients))
            s->sendBinaryMessage(QByteArray(100, '\xff'));
        // Still watching: a popup is decided as ever.
        rig->sink->onNewWindow = blockEvery;
        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        QVERIFY(
            waitUntil([&] { return fake.indexOf(QStringLiteral("Fetch.enable"), QStringLiteral("S2")) >= 0; }, 2000));
        QCOMPARE(rig->engine->browserCount(), 1);
        QCOMPARE(rig->engine->items().size(), 1);
    }

    void socketClosedMidDecision()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        auto &fake = rig->fake;
        QSignalSpy revoked(rig->engine.get(), &BrowserWindows::windowClosed);
        // The decision keeps the request (as while the question waits).
        NewWindowRequestPtr kept;
        int abandoned = 0;
        rig->sink->onNewWindow = [&](const NewWindowRequestPtr &request) {
            kept = request;
            request->onAbandoned([&] { ++abandoned; });
        };
        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return kept != nullptr; }, 2000));
        // The browser goes while the decision waits.
        for (QWebSocket *s : std::as_const(fake.clients))
            s->close();
        QVERIFY(waitUntil([&] { return revoked.count() == 1; }, 3000));
        QCOMPARE(abandoned, 1); // whoever decides is told
        QCOMPARE(rig->engine->items().size(), 0);
        QCOMPARE(rig->engine->browserCount(), 0);
        QCOMPARE(rig->engine->heldCount(), 0);
        QVERIFY(!rig->opener->pageUrl().has_value());
        // The verdict that comes afterwards goes nowhere.
        kept->settle(Verdict::Block);
        QTest::qWait(100);
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);

        // The browser is back when its DevToolsActivePort is written again.
        FakeDevTools second;
        QVERIFY(second.listen(chromiumDir()));
        QVERIFY(waitUntil([&] { return rig->engine->browserCount() == 1 && second.ready(); }, 3000));
    }

    void endpointThatNeverAnswersIsDroppedAndTheOthersStay()
    {
        FakeDevTools mute;
        mute.answer = false;
        QVERIFY(mute.listen(edgeDir()));
        auto rig = makeRig();
        QVERIFY(rig);
        QVERIFY(waitUntil([&] { return mute.connections >= 1; }, 2000));
        QCOMPARE(rig->engine->browserCount(), 1);
        QCOMPARE(rig->engine->browserDataDirs(), QStringList{chromiumDir()});
        // Tried again later (it may have been busy), still without taking the others down.
        QVERIFY(waitUntil([&] { return mute.connections >= 2; }, 3000));
        rig->sink->onNewWindow = blockEvery;
        rig->fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return rig->fake.indexOf(QStringLiteral("Fetch.enable"), QStringLiteral("S2")) >= 0; },
                          2000));
        // And when it starts answering, it is watched.
        mute.answer = true;
        QVERIFY(waitUntil([&] { return rig->engine->browserCount() == 2; }, 5000));
    }

    void hugeMessageDropsOnlyThatBrowser()
    {
        CdpSettings settings = fastSettings();
        settings.browser.limits.maxMessageBytes = 64 * 1024;
        FakeDevTools other;
        QVERIFY(other.listen(edgeDir()));
        auto rig = makeRig(settings);
        QVERIFY(rig);
        QVERIFY(waitUntil([&] { return rig->engine->browserCount() == 2; }, 3000));
        QSignalSpy lost(rig->engine.get(), &CdpBrowserWindows::browserLost);
        rig->fake.event(QStringLiteral("Runtime.consoleAPICalled"),
                        {{QStringLiteral("text"), QString(200 * 1024, u'a')}}, QStringLiteral("S1"));
        QVERIFY(waitUntil([&] { return lost.count() == 1; }, 2000));
        QCOMPARE(lost.at(0).at(0).toString(), chromiumDir());
        QCOMPARE(rig->engine->browserDataDirs(), QStringList{edgeDir()});
        QCOMPARE(rig->engine->items().size(), 0);
    }

    void tooManyUnansweredCommandsDropTheBrowser()
    {
        CdpSettings settings = fastSettings();
        settings.browser.limits.maxPending = 40;
        settings.maxRetries = 0;
        auto rig = makeRig(settings);
        QVERIFY(rig);
        rig->fake.answer = false;
        QSignalSpy lost(rig->engine.get(), &CdpBrowserWindows::browserLost);
        for (int i = 0; i < 20; ++i)
            rig->fake.attach(QStringLiteral("T%1").arg(i), QStringLiteral("U%1").arg(i), false);
        QVERIFY(waitUntil([&] { return lost.count() == 1; }, 2000));
        QCOMPARE(rig->engine->browserCount(), 0);
        QCOMPARE(rig->engine->items().size(), 0);
    }

    void destroyingTheEngineReleasesHeldPopups()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        auto &fake = rig->fake;
        // Two popups held, both in decisions that wait.
        std::vector<NewWindowRequestPtr> kept;
        int abandoned = 0;
        rig->sink->onNewWindow = [&](const NewWindowRequestPtr &request) {
            kept.push_back(request);
            request->onAbandoned([&] { ++abandoned; });
        };
        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        fake.attach(QStringLiteral("P3"), QStringLiteral("S3"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return kept.size() == 2; }, 2000));
        QCOMPARE(rig->engine->heldCount(), 2);
        rig->engine.reset();
        for (const QString &session : {QStringLiteral("S2"), QStringLiteral("S3")})
            QVERIFY2(
                waitUntil([&] { return fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), session) >= 0; },
                          2000),
                qPrintable(session));
        QCOMPARE(abandoned, 2);
        // The verdicts that come too late do nothing.
        for (const NewWindowRequestPtr &request : kept)
            request->settle(Verdict::Block);
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);
        QVERIFY(waitUntil([&] { return fake.clients.isEmpty(); }, 2000)); // and then disconnected
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);
    }

    void heldPopupWaitsForTheQuestion_data()
    {
        QTest::addColumn<SiteAnswer>("answer");
        QTest::addColumn<bool>("blocked");
        QTest::newRow("allow once") << SiteAnswer::AllowOnce << false;
        QTest::newRow("allow always") << SiteAnswer::AllowAlways << false;
        QTest::newRow("block once") << SiteAnswer::BlockOnce << true;
        QTest::newRow("closed") << SiteAnswer::Dismissed << true;
    }

    void heldPopupWaitsForTheQuestion()
    {
        QFETCH(SiteAnswer, answer);
        QFETCH(bool, blocked);
        auto q = makeQuestionRig();
        QVERIFY(q);
        auto &fake = q->rig->fake;
        CdpBrowserWindows &engine = *q->rig->engine;
        const QString resumeMethod = QStringLiteral("Runtime.runIfWaitingForDebugger");
        QSignalSpy opened(&engine, &BrowserWindows::windowOpened);

        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"),
                    QStringLiteral("https://ads.example/pop"));
        QVERIFY(waitUntil([&] { return q->question.shows == 1; }, 2000));
        QCOMPARE(q->question.siteAsked, QStringLiteral("opener.example"));
        QCOMPARE(q->decider().waitingCount(), 1);
        // Meanwhile the engine goes on: a tab the user opens runs at once, and
        // the tracker rebuilds for it.
        fake.attach(QStringLiteral("T1"), QStringLiteral("U1"), true, {}, QStringLiteral("https://user.example/"));
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("U1")) >= 0; }, 2000));
        QVERIFY(waitUntil([&] { return q->tracker->count() == 2; }, 2000));
        // The popup is armed but neither resumed, blocked nor closed before the answer.
        QTest::qWait(100);
        QVERIFY(fake.indexOf(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"), QStringLiteral("S2")) >= 0);
        QCOMPARE(fake.indexOf(resumeMethod, QStringLiteral("S2")), -1);
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);
        QCOMPARE(fake.indexOf(QStringLiteral("Target.closeTarget")), -1);
        QCOMPARE(engine.heldCount(), 1);
        QCOMPARE(engine.items().size(), 2);
        QCOMPARE(opened.count(), 1);

        q->decider().answer(answer, q->decider().askedSite());
        QCOMPARE(q->question.withdrawals, 0);
        if (!blocked) {
            QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("S2")) >= 0; }, 2000));
            QVERIFY(waitUntil([&] { return opened.count() == 2; }, 2000));
            QCOMPARE(engine.items().size(), 3);
            QCOMPARE(engine.heldCount(), 0);
            QCOMPARE(q->program->state.blockedCount, 0);
            QTest::qWait(50);
            QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);
            QCOMPARE(fake.indexOf(QStringLiteral("Target.closeTarget")), -1);
            return;
        }
        // Blocked: requests stopped first, then resumed, and the window closed
        // as soon as its first request is held.
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("S2")) >= 0; }, 2000));
        const int fetch = fake.indexOf(QStringLiteral("Fetch.enable"), QStringLiteral("S2"));
        QVERIFY(fetch >= 0);
        QVERIFY(fetch < fake.indexOf(resumeMethod, QStringLiteral("S2")));
        QCOMPARE(fake.indexOf(QStringLiteral("Target.closeTarget")), -1);
        fake.event(QStringLiteral("Fetch.requestPaused"), {{QStringLiteral("requestId"), QStringLiteral("r1")}},
                   QStringLiteral("S2"));
        QVERIFY(waitUntil([&] { return fake.indexOf(QStringLiteral("Target.closeTarget")) >= 0; }, 2000));
        const int close = fake.indexOf(QStringLiteral("Target.closeTarget"));
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.continueRequest")), -1);
        QCOMPARE(fake.received[close].params.value(QStringLiteral("targetId")).toString(), QStringLiteral("P2"));
        QVERIFY(waitUntil([&] { return q->program->state.blockedCount == 1; }, 2000));
        QCOMPARE(engine.items().size(), 2);
        QCOMPARE(opened.count(), 1);
        QCOMPARE(engine.heldCount(), 0);
    }

    void onlyPopupsTheBrowserReallyClosedAreCounted()
    {
        // A local program posing as a browser could report windows that never
        // existed: none of them may raise the count shown to the user.
        auto q = makeQuestionRig(true, false);
        QVERIFY(q);
        auto &fake = q->rig->fake;
        auto &engine = *q->rig->engine;
        QSignalSpy blocked(&q->decider(), &PopupDecider::blocked);
        const QString resumeMethod = QStringLiteral("Runtime.runIfWaitingForDebugger");

        // Attached without ever being reported as created: not decided at all.
        for (int i = 0; i < 20; ++i)
            fake.attach(QStringLiteral("X%1").arg(i), QStringLiteral("XS%1").arg(i), true, QStringLiteral("P1"),
                        QString(), QStringLiteral("page"), false);
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("XS19")) >= 0; }, 2000));
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);

        // Reported and attached, but the endpoint has no such target and
        // refuses to close it, as a browser does for an unknown id.
        fake.errorMethods << QStringLiteral("Target.closeTarget");
        fake.attach(QStringLiteral("Y1"), QStringLiteral("YS1"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return fake.indexOf(QStringLiteral("Target.closeTarget")) >= 0; }, 3000));
        // The same target attached again under a new session is no new popup.
        fake.attachOnly(QStringLiteral("Y1"), QStringLiteral("YS2"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("YS2")) >= 0; }, 2000));
        QTest::qWait(100);
        QCOMPARE(q->program->state.blockedCount, 0);
        QCOMPARE(blocked.count(), 0);
        QCOMPARE(q->program->platform.sound.played().size(), 0);
        QCOMPARE(engine.heldCount(), 0);

        // A popup the browser closes counts once, when the browser says so,
        // even when the target is reported gone before the answer.
        fake.errorMethods.remove(QStringLiteral("Target.closeTarget"));
        fake.manualMethods << QStringLiteral("Target.closeTarget");
        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("S2")) >= 0; }, 2000));
        fake.event(QStringLiteral("Fetch.requestPaused"), {{QStringLiteral("requestId"), QStringLiteral("r1")}},
                   QStringLiteral("S2"));
        QVERIFY(waitUntil([&] { return fake.held.size() == 1; }, 2000));
        QTest::qWait(50);
        QCOMPARE(q->program->state.blockedCount, 0);
        fake.event(QStringLiteral("Target.targetDestroyed"), {{QStringLiteral("targetId"), QStringLiteral("P2")}});
        fake.answerHeld();
        QVERIFY(waitUntil([&] { return q->program->state.blockedCount == 1; }, 2000));
        QTest::qWait(50);
        QCOMPARE(q->program->state.blockedCount, 1);
        QCOMPARE(blocked.count(), 1);
        QCOMPARE(q->program->platform.sound.played().size(), 1);
    }

    void targetGoneWhileTheQuestionWaits()
    {
        auto q = makeQuestionRig();
        QVERIFY(q);
        auto &fake = q->rig->fake;
        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        fake.attach(QStringLiteral("P3"), QStringLiteral("S3"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return q->decider().waitingCount() == 2; }, 2000));
        QCOMPARE(q->question.shows, 1);

        // One popup's target is destroyed: its request is withdrawn, the
        // question stays for the other.
        fake.event(QStringLiteral("Target.targetDestroyed"), {{QStringLiteral("targetId"), QStringLiteral("P2")}});
        QVERIFY(waitUntil([&] { return q->decider().waitingCount() == 1; }, 2000));
        QCOMPARE(q->question.withdrawals, 0);
        QCOMPARE(q->rig->engine->heldCount(), 1);
        // The other's session goes: nothing waits any more, the question goes.
        fake.event(QStringLiteral("Target.detachedFromTarget"), {{QStringLiteral("sessionId"), QStringLiteral("S3")}});
        QVERIFY(waitUntil([&] { return q->decider().waitingCount() == 0; }, 2000));
        QCOMPARE(q->question.withdrawals, 1);
        QVERIFY(!q->decider().isAsking());
        QCOMPARE(q->rig->engine->heldCount(), 0);

        // A late answer reaches neither.
        q->decider().answer(SiteAnswer::BlockOnce, QStringLiteral("opener.example"));
        QTest::qWait(100);
        QCOMPARE(fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("S2")), -1);
        QCOMPARE(fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("S3")), -1);
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);
        QCOMPARE(q->program->state.blockedCount, 0);
        QCOMPARE(q->rig->engine->items().size(), 1);
    }

    void engineGoneWhileTheQuestionWaits_data()
    {
        QTest::addColumn<bool>("destroy"); // or shut down and kept
        QTest::newRow("destroyed") << true;
        QTest::newRow("shut down") << false;
    }

    void engineGoneWhileTheQuestionWaits()
    {
        QFETCH(bool, destroy);
        auto q = makeQuestionRig();
        QVERIFY(q);
        auto &fake = q->rig->fake;
        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return q->question.shows == 1; }, 2000));
        if (destroy)
            q->rig->engine.reset();
        else
            q->rig->engine->shutdown();
        // The held popup runs, and the question is taken away.
        QVERIFY(waitUntil(
            [&] { return fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("S2")) >= 0; },
            2000));
        QCOMPARE(q->question.withdrawals, 1);
        QVERIFY(!q->decider().isAsking());
        if (!destroy) {
            QVERIFY(q->rig->engine->items().isEmpty());
            QCOMPARE(q->rig->engine->heldCount(), 0);
        }
        // The answer that comes afterwards finds nothing to do.
        q->decider().answer(SiteAnswer::BlockOnce, QStringLiteral("opener.example"));
        QTest::qWait(50);
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);
        QCOMPARE(q->program->state.blockedCount, 0);
        QVERIFY(waitUntil([&] { return fake.clients.isEmpty(); }, 2000));
        q->tracker.reset();
        q->rig->engine.reset();
    }

    void browserDestroyedWhileTheQuestionWaits()
    {
        // One browser connection on its own, its popup's decision waiting for
        // the question when the connection object goes.
        auto q = makeQuestionRig(false);
        QVERIFY(q);
        FakeDevTools fake;
        QVERIFY(fake.listen(chromiumDir()));
        CdpEndpoint endpoint;
        endpoint.dataDir = chromiumDir();
        endpoint.port = fake.server.serverPort();
        endpoint.browserPath = QStringLiteral("/devtools/browser/fake");
        auto browser = std::make_unique<CdpBrowser>(endpoint, fastSettings().browser, QStringLiteral("secret:"));
        browser->start();
        QVERIFY(waitUntil([&] { return browser->isReady(); }, 3000));
        fake.attach(QStringLiteral("P1"), QStringLiteral("S1"), false, {}, QStringLiteral("https://opener.example/a"));
        QVERIFY(waitUntil([&] { return browser->pages().size() == 1; }, 2000));
        auto sink = std::make_shared<BrowserSink>(q->decider());
        sink->attach(browser->pages().constFirst());
        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        QVERIFY(waitUntil([&] { return q->question.shows == 1; }, 2000));
        QCOMPARE(browser->heldCount(), 1);

        browser.reset();
        QVERIFY(waitUntil(
            [&] { return fake.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger"), QStringLiteral("S2")) >= 0; },
            2000));
        QCOMPARE(q->question.withdrawals, 1);
        QVERIFY(!q->decider().isAsking());
        q->decider().answer(SiteAnswer::BlockOnce, QStringLiteral("opener.example"));
        QTest::qWait(50);
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable")), -1);
        QVERIFY(!sink->browser()->pageUrl().has_value());
    }

    void targetsAndHeldPopupsStayWithinTheirBounds()
    {
        // A page that floods: popups beyond the bound on held ones are closed
        // without a decision, and pages beyond the bound on targets are let
        // go unwatched.
        CdpSettings settings = fastSettings();
        settings.browser.maxTargets = 6;
        settings.browser.maxHeld = 2;
        auto rig = makeRig(settings);
        QVERIFY(rig);
        auto &fake = rig->fake;
        std::vector<NewWindowRequestPtr> waiting;
        rig->sink->onNewWindow = [&](const NewWindowRequestPtr &r) { waiting.push_back(r); };
        const QString resumeMethod = QStringLiteral("Runtime.runIfWaitingForDebugger");

        for (int i = 1; i <= 4; ++i)
            fake.attach(QStringLiteral("Q%1").arg(i), QStringLiteral("QS%1").arg(i), true, QStringLiteral("P1"),
                        QString());
        QVERIFY(
            waitUntil([&] { return fake.indexOf(QStringLiteral("Fetch.enable"), QStringLiteral("QS4")) >= 0; }, 2000));
        QCOMPARE(rig->sink->requests, 2);
        QCOMPARE(fake.indexOf(QStringLiteral("Fetch.enable"), QStringLiteral("QS1")), -1);
        QVERIFY(fake.indexOf(QStringLiteral("Fetch.enable"), QStringLiteral("QS3")) >= 0);
        QCOMPARE(fake.indexOf(resumeMethod, QStringLiteral("QS1")), -1);
        QVERIFY(waitUntil([&] { return fake.indexOf(QStringLiteral("Target.closeTarget")) >= 0; }, 2000));

        // Five targets now: one more tab fits, the others are resumed and let go.
        for (int i = 1; i <= 4; ++i)
            fake.attach(QStringLiteral("T%1").arg(i), QStringLiteral("TS%1").arg(i), true, {},
                        QStringLiteral("https://tab%1.example/").arg(i));
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("TS4")) >= 0; }, 2000));
        int detached = 0;
        for (const auto &m : fake.received) {
            if (m.method == QLatin1String("Target.detachFromTarget"))
                ++detached;
        }
        QCOMPARE(detached, 3);
        QVERIFY(waitUntil([&] { return rig->engine->items().size() == 2; }, 2000));

        // Settled, the held ones go on as decided.
        for (const NewWindowRequestPtr &r : waiting)
            r->settle(Verdict::Allow);
        QVERIFY(waitUntil([&] { return fake.indexOf(resumeMethod, QStringLiteral("QS2")) >= 0; }, 2000));
        QVERIFY(fake.indexOf(resumeMethod, QStringLiteral("QS1")) >= 0);
    }

    void browsersBeyondTheBoundAreLeftAloneUntilOneGoes()
    {
        FakeDevTools second;
        QVERIFY(second.listen(edgeDir()));
        FakeDevTools first;
        QVERIFY(first.listen(chromiumDir()));
        CdpSettings settings = fastSettings();
        settings.maxBrowsers = 1;
        CdpBrowserWindows engine(settings);
        QVERIFY(waitUntil([&] { return engine.browserCount() == 1; }, 3000));
        QTest::qWait(400); // a few scans
        QCOMPARE(engine.browserCount(), 1);
        QCOMPARE(first.connections + second.connections, 1);
        FakeDevTools &watched = first.connections == 1 ? first : second;
        FakeDevTools &waiting = first.connections == 1 ? second : first;

        watched.server.close();
        for (QWebSocket *s : std::as_const(watched.clients))
            s->close();
        QVERIFY(waitUntil([&] { return waiting.connections == 1; }, 5000));
        QVERIFY(waitUntil([&] { return engine.browserCount() == 1; }, 3000));
    }

    void twoBrowsersAskAtOnce()
    {
        // A popup in each of two browsers while the question is open: one
        // question, and its answer lets both through.
        FakeDevTools other;
        QVERIFY(other.listen(edgeDir()));
        auto q = makeQuestionRig();
        QVERIFY(q);
        auto &fake = q->rig->fake;
        QVERIFY(waitUntil([&] { return q->rig->engine->browserCount() == 2; }, 3000));
        other.attach(QStringLiteral("Q1"), QStringLiteral("R1"), false, {}, QStringLiteral("https://other.example/"));
        QVERIFY(waitUntil([&] { return q->tracker->count() == 2; }, 2000));

        fake.attach(QStringLiteral("P2"), QStringLiteral("S2"), true, QStringLiteral("P1"), QString());
        other.attach(QStringLiteral("Q2"), QStringLiteral("R2"), true, QStringLiteral("Q1"), QString());
        QVERIFY(waitUntil([&] { return q->decider().waitingCount() == 2; }, 2000));
        QCOMPARE(q->question.shows, 1);
        QCOMPARE(q->rig->engine->heldCount(), 2);
        const QString resumeMethod = QStringLiteral("Runtime.runIfWaitingForDebugger");
        QCOMPARE(fake.indexOf(resumeMethod, QStringLiteral("S2")), -1);
        QCOMPARE(other.indexOf(resumeMethod, QStringLiteral("R2")), -1);

        q->decider().answer(SiteAnswer::AllowOnce, q->decider().askedSite());
        QVERIFY(waitUntil(
            [&] {
                return fake.indexOf(resumeMethod, QStringLiteral("S2")) >= 0 &&
                       other.indexOf(resumeMethod, QStringLiteral("R2")) >= 0;
            },
            2000));
        QVERIFY(waitUntil([&] { return q->rig->engine->items().size() == 4; }, 2000));
        QCOMPARE(q->rig->engine->heldCount(), 0);
        q->tracker.reset();
        q->rig->engine.reset();
    }

    void browserRestartedInTheSameFolderIsReplaced()
    {
        auto rig = makeRig();
        QVERIFY(rig);
        QSignalSpy revoked(rig->engine.get(), &BrowserWindows::windowClosed);
        FakeDevTools restarted;
        QVERIFY(restarted.listen(chromiumDir())); // writes the folder's file anew
        QVERIFY(waitUntil([&] { return restarted.ready(); }, 3000));
        QVERIFY(waitUntil([&] { return revoked.count() == 1; }, 2000));
        QCOMPARE(rig->engine->browserCount(), 1);
        QCOMPARE(rig->engine->items().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCdpEngine)
#include "tst_cdpengine.moc"
