// libFuzzer entry for the DevTools engine: one browser fed an arbitrary
// sequence of DevTools messages and replies through a channel of the test's.
// Whatever arrives, the engine must not crash, must keep what it holds within
// its bounds, and, when it lets go of the browser, must resume or close every
// popup it still holds.
//
// The input is a list of lines. A line that starts with one of these letters
// is an action; any other line is a message from the browser:
//   O / E   answer the oldest unanswered command (result / protocol error)
//   A       answer every unanswered command with an empty result
//   T       run what is due on the event loop (timers are set to 0 ms)
//   a b w   from now on popups are allowed / blocked / left waiting
//   s       settle every waiting popup with the current verdict
//   R       the engine lets go of everything (the program ending)
//   C       the browser closes the connection

#include "blocking/cdp/cdpbrowser.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>

using namespace wendral;
using namespace wendral::cdp;

namespace {

int g_argc = 1;
char g_arg0[] = "fuzz_cdpengine";
char *g_argv[] = {g_arg0, nullptr};

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

struct Sent
{
    int id = 0;
    QString method;
    QJsonObject params;
    QString sessionId;
};

class FuzzChannel : public CdpChannel
{
public:
    explicit FuzzChannel(std::shared_ptr<std::vector<Sent>> log) : sent(std::move(log)) {}

    std::deque<Sent> unanswered;
    // Kept by the test: the engine deletes its channel.
    std::shared_ptr<std::vector<Sent>> sent;
    bool isClosed = false;

    void open() override { emit opened(); }
    void sendText(const QString &text) override
    {
        check(!isClosed, "sent on a closed channel");
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        Sent s{o.value(QStringLiteral("id")).toInt(), o.value(QStringLiteral("method")).toString(),
               o.value(QStringLiteral("params")).toObject(), o.value(QStringLiteral("sessionId")).toString()};
        check(s.id > 0 && !s.method.isEmpty(), "command without id or method");
        sent->push_back(s);
        unanswered.push_back(s);
    }
    void close() override { isClosed = true; }
    QString description() const override { return QStringLiteral("fuzz"); }

    void deliver(const QString &text)
    {
        if (!isClosed)
            emit textReceived(text);
    }
    void answerOldest(bool error)
    {
        if (unanswered.empty())
            return;
        const Sent s = unanswered.front();
        unanswered.pop_front();
        QJsonObject r{{QStringLiteral("id"), s.id}};
        if (error)
            r.insert(QStringLiteral("error"),
                     QJsonObject{{QStringLiteral("code"), -32000}, {QStringLiteral("message"), QStringLiteral("no")}});
        else
            r.insert(QStringLiteral("result"), QJsonObject{});
        if (!s.sessionId.isEmpty())
            r.insert(QStringLiteral("sessionId"), s.sessionId);
        deliver(QString::fromUtf8(QJsonDocument(r).toJson(QJsonDocument::Compact)));
    }
    void lose()
    {
        if (isClosed)
            return;
        isClosed = true;
        emit closed(QString::fromLatin1(kChannelClosed));
    }
};

// Decides every popup of the pages it watches as the input says.
class FuzzSink : public BrowserEvents
{
public:
    Verdict verdict = Verdict::Allow;
    bool wait = false;
    std::vector<NewWindowRequestPtr> waiting;
    std::vector<NewWindowRequestPtr> all;

    void newWindowRequested(const NewWindowRequestPtr &request) override
    {
        all.push_back(request);
        if (wait)
            waiting.push_back(request);
        else
            request->settle(verdict);
    }
    void statusTextChanged(const QString &) override {}
    void settleWaiting()
    {
        for (const NewWindowRequestPtr &r : std::exchange(waiting, {}))
            r->settle(verdict);
    }
};

// Popups announced as waiting in the messages delivered: their targets by
// session, each to be resumed or closed by the engine before it lets go.
struct WaitingPopups
{
    QHash<QString, QString> targetOfSession;
    QSet<QString> targetsSeen;
    QSet<QString> sessionsSeen;

    void note(const QString &text)
    {
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        // Answers, and events inside a page's session, are no attachments to
        // the engine.
        if (o.value(QStringLiteral("id")).isDouble() || !o.value(QStringLiteral("sessionId")).toString().isEmpty())
            return;
        const QString method = o.value(QStringLiteral("method")).toString();
        const QJsonObject params = o.value(QStringLiteral("params")).toObject();
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        if (method == QLatin1String("Target.attachedToTarget")) {
            const QString session = params.value(QStringLiteral("sessionId")).toString();
            const QString target = info.value(QStringLiteral("targetId")).toString();
            // Only a new session of a new target, with an opener: the engine
            // keeps a tab that shows it runs without resuming it.
            const bool fresh = !session.isEmpty() && !target.isEmpty() && !sessionsSeen.contains(session) &&
                               !targetsSeen.contains(target);
            if (!session.isEmpty())
                sessionsSeen.insert(session);
            if (!target.isEmpty())
                targetsSeen.insert(target);
            if (fresh && params.value(QStringLiteral("waitingForDebugger")).toBool() &&
                !info.value(QStringLiteral("openerId")).toString().isEmpty())
                targetOfSession.insert(session, target);
        } else if (method == QLatin1String("Target.detachedFromTarget")) {
            targetOfSession.remove(params.value(QStringLiteral("sessionId")).toString());
        } else if (method == QLatin1String("Target.targetDestroyed")) {
            const QString target = params.value(QStringLiteral("targetId")).toString();
            for (auto it = targetOfSession.begin(); it != targetOfSession.end();)
                it = it.value() == target ? targetOfSession.erase(it) : std::next(it);
        }
    }
    // Drops the popups that the engine resumed or closed with these commands.
    void seen(const std::vector<Sent> &sent)
    {
        for (const Sent &s : sent) {
            if (s.method == QLatin1String("Runtime.runIfWaitingForDebugger")) {
                targetOfSession.remove(s.sessionId);
            } else if (s.method == QLatin1String("Target.closeTarget")) {
                const QString target = s.params.value(QStringLiteral("targetId")).toString();
                for (auto it = targetOfSession.begin(); it != targetOfSession.end();)
                    it = it.value() == target ? targetOfSession.erase(it) : std::next(it);
            }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    static QCoreApplication app(g_argc, g_argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> lines =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)).split('\n');

    CdpBrowser::Options options;
    // Small bounds, so that the input can reach them.
    options.limits.maxMessageBytes = 4096;
    options.limits.maxPending = 64;
    options.maxTargets = 8;
    options.maxHeld = 3;
    options.quietTabResumeMs = 0;
    options.blockedCloseDelayMs = 0;
    FuzzChannel *channel = nullptr;
    auto sent = std::make_shared<std::vector<Sent>>();
    options.channelFactory = [&channel, sent](const QUrl &, quint64) {
        channel = new FuzzChannel(sent);
        return channel;
    };
    CdpEndpoint endpoint;
    endpoint.dataDir = QStringLiteral("/nonexistent/profile");
    endpoint.port = 9;
    endpoint.browserPath = QStringLiteral("/devtools/browser/fuzz");

    auto sink = std::make_shared<FuzzSink>();
    WaitingPopups popups;
    auto *browser = new CdpBrowser(endpoint, options, QStringLiteral("secret"));
    QObject::connect(browser, &CdpBrowser::pageRegistered, [browser, sink] {
        // The page just registered is the last one.
        const QList<BrowserPtr> pages = browser->pages();
        if (!pages.isEmpty())
            pages.last()->subscribe(sink);
    });
    browser->start();
    check(channel != nullptr, "no channel made");

    for (const QByteArray &line : lines) {
        if (browser->isLost())
            break;
        const char op = line.size() == 1 ? line.at(0) : '\0';
        switch (op) {
        case 'O':
            channel->answerOldest(false);
            break;
        case 'E':
            channel->answerOldest(true);
            break;
        case 'A':
            for (size_t n = channel->unanswered.size(); n > 0 && !browser->isLost(); --n)
                channel->answerOldest(false);
            break;
        case 'T':
            QCoreApplication::processEvents();
            break;
        case 'a':
            sink->wait = false;
            sink->verdict = Verdict::Allow;
            break;
        case 'b':
            sink->wait = false;
            sink->verdict = Verdict::Block;
            break;
        case 'w':
            sink->wait = true;
            break;
        case 's':
            sink->settleWaiting();
            break;
        case 'R':
            browser->releaseAll();
            break;
        case 'C':
            channel->lose();
            QCoreApplication::processEvents(); // the loss is handled from the event loop
            break;
        default: {
            const QString text = QString::fromUtf8(line);
            popups.note(text);
            channel->deliver(text);
            break;
        }
        }
        check(browser->targetCount() <= options.maxTargets, "more targets than the bound");
        check(browser->createdCount() <= options.maxTargets, "more created targets than the bound");
        check(browser->pendingCommandCount() <= options.limits.maxPending, "more pending commands than the bound");
        check(browser->pages().size() <= options.maxTargets, "more pages than targets");
    }

    const bool lost = browser->isLost();
    delete browser; // lets go of everything it still holds, unless the connection went
    if (!lost) {
        // Every popup announced as waiting was resumed or closed, before or
        // while the engine let go.
        popups.seen(*sent);
        check(popups.targetOfSession.isEmpty(), "a waiting popup left held");
    }
    // Whoever decides a popup is never left waiting on a browser that went.
    for (const NewWindowRequestPtr &r : sink->waiting)
        r->settle(Verdict::Allow); // settles or does nothing; must not touch the engine
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
