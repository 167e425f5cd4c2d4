// What watching a browser costs a popup, in a real headless Chromium:
//  A/R/B. window.open in the page -> the popup's first request at the server,
//       in alternating blocks without Wendral (no client connected), with a
//       bare client that holds every new window and resumes it the moment it
//       attaches (what holding a window costs in itself: the floor for any
//       blocker on this protocol), and with Wendral's engine watching and
//       letting the popup through (the real tracker, sink and decision:
//       blocking on, the opener's site on the allowed list). Alternating
//       spreads the drift of a busy machine over the series alike.
//  C.   Blocking on, the site not listed: the blocked popup's target gone,
//       measured from the moment the target appeared (the test client's
//       Target.targetCreated) to its Target.targetDestroyed; the requests that
//       reached the server for the blocked popups (must be 0); and whether the
//       opener still answers afterwards.
// Usage: bench_cdp_popup [allowed per series] [blocked] [block size]
//        (default 200, 1000, 20)

#include "blocking/browsertracker.h"
#include "blocking/cdp/cdpbrowserwindows.h"
#include "core/popupdecision.h"
#include "support/chromiumharness.h"
#include "support/decisionfakes.h"
#include "support/programfixture.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace wendral;
using namespace wendral::cdp;
using namespace wendral::test;

namespace {

struct Stats
{
    double median = 0, p95 = 0;
    int n = 0;
};

Stats stats(std::vector<double> v)
{
    Stats s;
    s.n = static_cast<int>(v.size());
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    s.p95 = v[std::min(v.size() - 1, static_cast<size_t>(0.95 * static_cast<double>(v.size() - 1) + 0.5))];
    return s;
}

std::optional<CdpTestClient::Event> targetEvent(CdpTestClient &client, const QString &method, const QString &key,
                                                const QString &value, int timeoutMs)
{
    return client.waitEvent(
        method,
        [&](const CdpTestClient::Event &e) {
            const QJsonObject info = e.params.value(QStringLiteral("targetInfo")).toObject();
            return (key == QLatin1String("targetId") ? e.params.value(key).toString() : info.value(key).toString()) ==
                   value;
        },
        timeoutMs);
}

QString popupOf(CdpTestClient &client, const QString &opener, int timeoutMs)
{
    const auto ev =
        targetEvent(client, QStringLiteral("Target.targetCreated"), QStringLiteral("openerId"), opener, timeoutMs);
    return ev ? ev->params.value(QStringLiteral("targetInfo")).toObject().value(QStringLiteral("targetId")).toString()
              : QString();
}

// window.open -> first request, for count popups; each popup is closed after.
void timeToRequest(CdpTestClient &client, HttpCounter &http, const QString &opener, const QString &session,
                   const QString &prefix, int count, std::vector<double> *out)
{
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("/%1/%2").arg(prefix).arg(i);
        client.clearEvents();
        const qint64 sent = http.clock().nsecsElapsed();
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(path)}}, session);
        if (!waitUntil([&] { return http.firstSeen(path) >= 0; }, 10000)) {
            std::fprintf(stderr, "popup %s made no request\n", qPrintable(path));
            continue;
        }
        if (out)
            out->push_back(double(http.firstSeenNs(path) - sent) / 1e6);
        const QString popup = popupOf(client, opener, 2000);
        if (!popup.isEmpty())
            client.call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), popup}});
    }
}

// Holds every new window (as the engine does) and resumes it as soon as it
// attaches, deciding nothing.
class ResumeOnlyClient : public QObject
{
public:
    bool open(const QString &wsUrl)
    {
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, this, &ResumeOnlyClient::onText);
        m_socket.open(QUrl(wsUrl));
        if (!waitUntil([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 5000))
            return false;
        send(QStringLiteral("Target.setAutoAttach"), {{QStringLiteral("autoAttach"), true},
                                                      {QStringLiteral("waitForDebuggerOnStart"), true},
                                                      {QStringLiteral("flatten"), true}});
        return waitUntil([&] { return m_answered > 0; }, 5000);
    }
    void close() { m_socket.close(); }

private:
    void send(const QString &method, const QJsonObject &params, const QString &sessionId = {})
    {
        QJsonObject msg{{QStringLiteral("id"), m_nextId++}, {QStringLiteral("method"), method}};
        if (!params.isEmpty())
            msg.insert(QStringLiteral("params"), params);
        if (!sessionId.isEmpty())
            msg.insert(QStringLiteral("sessionId"), sessionId);
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(msg).toJson(QJsonDocument::Compact)));
    }
    void onText(const QString &text)
    {
        const QJsonObject msg = QJsonDocument::fromJson(text.toUtf8()).object();
        if (msg.contains(QStringLiteral("id"))) {
            ++m_answered;
            return;
        }
        const QJsonObject params = msg.value(QStringLiteral("params")).toObject();
        if (msg.value(QStringLiteral("method")).toString() == QLatin1String("Target.attachedToTarget") &&
            params.value(QStringLiteral("waitingForDebugger")).toBool())
            send(QStringLiteral("Runtime.runIfWaitingForDebugger"), {},
                 params.value(QStringLiteral("sessionId")).toString());
    }

    QWebSocket m_socket;
    int m_nextId = 1;
    int m_answered = 0;
};

struct Watcher
{
    std::unique_ptr<CdpBrowserWindows> engine;
    std::unique_ptr<BrowserTracker> tracker;
};

// Starts the engine and waits until the opener tab has its sink.
bool startWatching(Watcher &w, PopupDecider &decider, const QString &openerUrl)
{
    CdpSettings settings;
    settings.procRoot.clear();
    w.engine = std::make_unique<CdpBrowserWindows>(settings);
    w.tracker = std::make_unique<BrowserTracker>(w.engine.get(), decider);
    return waitUntil(
        [&] {
            for (const BrowserPtr &b : w.engine->items()) {
                if (b->pageUrl() == openerUrl && b->sinkCount() == 1)
                    return true;
            }
            return false;
        },
        10000);
}

void stopWatching(Watcher &w)
{
    w.tracker.reset();
    w.engine.reset();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    auto arg = [&](int i, int def) { return argc > i ? std::max(1, QString::fromLocal8Bit(argv[i]).toInt()) : def; };
    const int perSeries = arg(1, 200);
    const int blockedCount = arg(2, 1000);
    const int blockSize = std::min(arg(3, 20), perSeries);
    if (!ChromiumProcess::available()) {
        std::fprintf(stderr, "chromium not installed\n");
        return 1;
    }
    TestEnvironment env;
    HttpCounter http;
    if (!http.listen())
        return 1;
    http.setPage(QStringLiteral("/opener"), "<!doctype html><title>opener</title><p>opener");
    const QString openerUrl = http.url(QStringLiteral("/opener"));
    FakeOptions options;
    options.sound = false;
    options.blocking = true;
    ProgramFixture program;
    program.decider.setOptions(&options);
    const QString site = siteNameOf(openerUrl);

    ChromiumProcess chrome;
    const QString dir = env.configHome() + QStringLiteral("/chromium");
    if (!chrome.start(dir)) {
        std::fprintf(stderr, "chromium did not start\n");
        return 1;
    }
    CdpTestClient client;
    if (!client.open(chrome.browserWsUrl()))
        return 1;
    client.call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}});
    const QString opener = client.createTab(openerUrl);
    const QString session = client.attach(opener);
    waitUntil(
        [&] { return client.evaluate(session, QStringLiteral("document.readyState")) == QStringLiteral("complete"); },
        10000);

    // A, R and B in alternating blocks, the opener's site allowed.
    program.lists.allowed().setText(site + QStringLiteral("\r\n"));
    std::vector<double> bare, resumed, watched;
    Watcher watcher;
    int block = 0;
    while (int(bare.size()) < perSeries || int(resumed.size()) < perSeries || int(watched.size()) < perSeries) {
        const int kind = block % 3; // 0 A, 1 R, 2 B
        if (kind == 2 && !startWatching(watcher, program.decider, openerUrl)) {
            std::fprintf(stderr, "the engine did not pick the browser up\n");
            return 1;
        }
        std::unique_ptr<ResumeOnlyClient> bareClient;
        if (kind == 1) {
            bareClient = std::make_unique<ResumeOnlyClient>();
            if (!bareClient->open(chrome.browserWsUrl())) {
                std::fprintf(stderr, "the resume-only client did not connect\n");
                return 1;
            }
        }
        const QString prefix = QStringLiteral("%1%2").arg(QLatin1Char("arb"[kind])).arg(block);
        // Two popups to settle in, not counted.
        timeToRequest(client, http, opener, session, prefix + QStringLiteral("w"), 2, nullptr);
        std::vector<double> &series = kind == 0 ? bare : kind == 1 ? resumed : watched;
        const int n = std::min(blockSize, perSeries - int(series.size()));
        timeToRequest(client, http, opener, session, prefix, n, &series);
        if (kind == 2)
            stopWatching(watcher);
        if (bareClient)
            bareClient->close();
        ++block;
    }

    // C: blocking, the site not listed.
    program.lists.allowed().setText(QString());
    if (!startWatching(watcher, program.decider, openerUrl)) {
        std::fprintf(stderr, "the engine did not pick the browser up\n");
        return 1;
    }
    const int countedBefore = program.state.blockedCount;
    std::vector<double> blockedGone;
    int frozen = 0;
    for (int i = 0; i < blockedCount; ++i) {
        const QString path = QStringLiteral("/c/%1").arg(i);
        client.clearEvents();
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(path)}}, session);
        const auto created =
            targetEvent(client, QStringLiteral("Target.targetCreated"), QStringLiteral("openerId"), opener, 5000);
        if (!created) {
            std::fprintf(stderr, "no popup target for %s\n", qPrintable(path));
            continue;
        }
        const QString popup =
            created->params.value(QStringLiteral("targetInfo")).toObject().value(QStringLiteral("targetId")).toString();
        const auto gone =
            targetEvent(client, QStringLiteral("Target.targetDestroyed"), QStringLiteral("targetId"), popup, 10000);
        if (gone)
            blockedGone.push_back(gone->receivedMs - created->receivedMs);
        else
            std::fprintf(stderr, "blocked popup %s still open\n", qPrintable(path));
        // The opener must stay free to run script and to open windows.
        if ((i + 1) % 100 == 0 && client.evaluate(session, QStringLiteral("6 * 7"), 3000).toInt() != 42)
            ++frozen;
    }
    waitUntil([] { return false; }, 500); // a late request would show up here
    int leaked = 0;
    for (int i = 0; i < blockedCount; ++i)
        leaked += http.count(QStringLiteral("/c/%1").arg(i));
    const int counted = program.state.blockedCount - countedBefore;
    stopWatching(watcher);
    client.close();
    chrome.stop();

    const Stats a = stats(bare), r = stats(resumed), b = stats(watched), c = stats(blockedGone);
    const auto ratio = [](double x, double y) { return y > 0 ? x / y : 0.0; };
    std::printf("Chromium popups (ms), blocks of %d alternating        median     p95    n\n", blockSize);
    std::printf("A window.open -> first request, without Wendral  %8.2f %7.2f %4d\n", a.median, a.p95, a.n);
    std::printf("R window.open -> first request, resume-only      %8.2f %7.2f %4d\n", r.median, r.p95, r.n);
    std::printf("B window.open -> first request, with Wendral     %8.2f %7.2f %4d\n", b.median, b.p95, b.n);
    std::printf("ratio B/A of medians                             %8.3f\n", ratio(b.median, a.median));
    std::printf("ratio B/A of p95                                 %8.3f\n", ratio(b.p95, a.p95));
    std::printf("ratio R/A of medians (holding a window at all)   %8.3f\n", ratio(r.median, a.median));
    std::printf("ratio B/R of medians (Wendral beyond holding)    %8.3f\n", ratio(b.median, r.median));
    std::printf("C blocked popup: target appeared -> gone         %8.2f %7.2f %4d\n", c.median, c.p95, c.n);
    std::printf("blocked popups counted %d of %d; requests that reached the server: %d; opener frozen: %d times\n",
                counted, blockedCount, leaked, frozen);
    const bool ok =
        leaked == 0 && frozen == 0 && c.n == blockedCount && a.n == perSeries && r.n == perSeries && b.n == perSeries;
    return ok ? 0 : 2;
}
