// What watching a browser costs a popup, in a real headless Chromium:
//  A. window.open in the page -> the popup's first request at the server, with
//     no client attached to the browser (measured before and after B);
//  B. the same with Wendral's engine watching and letting it through (the real
//     tracker, sink and decision, blocking off);
//  C. window.open -> the blocked popup's target gone (blocking on), and the
//     requests that reached the server for the blocked popups (must be 0).
// Usage: bench_cdp_popup [count]   (default 100 popups per series)

#include "blocking/browsertracker.h"
#include "blocking/cdp/cdpbrowserwindows.h"
#include "core/popupdecision.h"
#include "support/chromiumharness.h"
#include "support/decisionfakes.h"
#include "support/programfixture.h"
#include "support/testenv.h"

#include <QCoreApplication>

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

QString popupTarget(CdpTestClient &client, const QString &opener, int timeoutMs)
{
    const auto ev = client.waitEvent(
        QStringLiteral("Target.targetCreated"),
        [&](const CdpTestClient::Event &e) {
            return e.params.value(QStringLiteral("targetInfo"))
                       .toObject()
                       .value(QStringLiteral("openerId"))
                       .toString() == opener;
        },
        timeoutMs);
    return ev ? ev->params.value(QStringLiteral("targetInfo")).toObject().value(QStringLiteral("targetId")).toString()
              : QString();
}

// window.open -> first request, for count popups; each popup is closed after.
std::vector<double> timeToRequest(CdpTestClient &client, HttpCounter &http, const QString &opener,
                                  const QString &session, const QString &prefix, int count)
{
    std::vector<double> out;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("/%1/%2").arg(prefix).arg(i);
        client.clearEvents();
        QElapsedTimer t;
        t.start();
        const qint64 sent = http.clock().elapsed();
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(path)}}, session);
        if (!waitUntil([&] { return http.firstSeen(path) >= 0; }, 10000)) {
            std::fprintf(stderr, "popup %s made no request\n", qPrintable(path));
            continue;
        }
        out.push_back(static_cast<double>(http.firstSeen(path) - sent));
        const QString popup = popupTarget(client, opener, 2000);
        if (!popup.isEmpty())
            client.call(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), popup}});
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100;
    if (!ChromiumProcess::available()) {
        std::fprintf(stderr, "chromium not installed\n");
        return 1;
    }
    TestEnvironment env;
    HttpCounter http;
    if (!http.listen())
        return 1;
    http.setPage(QStringLiteral("/opener"), "<!doctype html><title>opener</title><p>opener");
    FakeOptions options;
    options.sound = false;
    ProgramFixture program;
    program.decider.setOptions(&options);

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
    const QString opener = client.createTab(http.url(QStringLiteral("/opener")));
    const QString session = client.attach(opener);
    waitUntil(
        [&] { return client.evaluate(session, QStringLiteral("document.readyState")) == QStringLiteral("complete"); },
        10000);

    // A: no client watching.
    timeToRequest(client, http, opener, session, QStringLiteral("warmA"), 5);
    const std::vector<double> bare = timeToRequest(client, http, opener, session, QStringLiteral("a"), count);

    // B: Wendral watching, letting every popup through.
    CdpSettings settings;
    settings.procRoot.clear();
    auto engine = std::make_unique<CdpBrowserWindows>(settings);
    auto tracker = std::make_unique<BrowserTracker>(engine.get(), program.decider);
    if (!waitUntil(
            [&] {
                for (const BrowserPtr &b : engine->items()) {
                    if (b->pageUrl() == http.url(QStringLiteral("/opener")) && b->sinkCount() == 1)
                        return true;
                }
                return false;
            },
            10000)) {
        std::fprintf(stderr, "the engine did not pick the browser up\n");
        return 1;
    }
    options.blocking = false;
    timeToRequest(client, http, opener, session, QStringLiteral("warmB"), 5);
    const std::vector<double> watched = timeToRequest(client, http, opener, session, QStringLiteral("b"), count);

    // C: blocking on; window.open -> the popup's target gone.
    options.blocking = true;
    std::vector<double> blockedGone;
    int leaked = 0;
    for (int i = 0; i < count; ++i) {
        const QString path = QStringLiteral("/c/%1").arg(i);
        client.clearEvents();
        QElapsedTimer t;
        t.start();
        client.post(QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"), QStringLiteral("window.open('%1'); 0").arg(path)}}, session);
        const QString popup = popupTarget(client, opener, 5000);
        if (popup.isEmpty()) {
            std::fprintf(stderr, "no popup target for %s\n", qPrintable(path));
            continue;
        }
        const auto gone = client.waitEvent(
            QStringLiteral("Target.targetDestroyed"),
            [&](const CdpTestClient::Event &e) {
                return e.params.value(QStringLiteral("targetId")).toString() == popup;
            },
            10000);
        if (gone)
            blockedGone.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        else
            std::fprintf(stderr, "blocked popup %s still open\n", qPrintable(path));
    }
    waitUntil([] { return false; }, 300);
    for (int i = 0; i < count; ++i)
        leaked += http.count(QStringLiteral("/c/%1").arg(i));

    tracker.reset();
    engine.reset();
    // A again, now that the engine has gone: drift on a busy machine shows here.
    options.blocking = false;
    const std::vector<double> bareAfter = timeToRequest(client, http, opener, session, QStringLiteral("a2"), count);
    client.close();
    chrome.stop();

    std::vector<double> allBare = bare;
    allBare.insert(allBare.end(), bareAfter.begin(), bareAfter.end());
    const Stats a = stats(allBare), a1 = stats(bare), a2 = stats(bareAfter), b = stats(watched), c = stats(blockedGone);
    std::printf("Chromium popups, %d per series (ms)          median     p95    n\n", count);
    std::printf("A window.open -> request, no client       %8.1f %7.1f %4d\n", a.median, a.p95, a.n);
    std::printf("  (before the engine %.1f / %.1f, after it %.1f / %.1f)\n", a1.median, a1.p95, a2.median, a2.p95);
    std::printf("B window.open -> request, Wendral allows  %8.1f %7.1f %4d\n", b.median, b.p95, b.n);
    std::printf("C window.open -> blocked target gone      %8.1f %7.1f %4d\n", c.median, c.p95, c.n);
    std::printf("ratio B/A of medians                      %8.2f\n", a.median > 0 ? b.median / a.median : 0.0);
    std::printf("ratio B/A of p95                          %8.2f\n", a.p95 > 0 ? b.p95 / a.p95 : 0.0);
    std::printf("requests that reached the server for blocked popups: %d\n", leaked);
    return leaked == 0 && c.n == count && b.n == count ? 0 : 2;
}
