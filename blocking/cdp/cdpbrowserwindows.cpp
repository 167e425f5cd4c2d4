#include "blocking/cdp/cdpbrowserwindows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QRandomGenerator>

namespace wendral::cdp {

Q_DECLARE_LOGGING_CATEGORY(lcCdp)

namespace {

QString makeSecret()
{
    QString s;
    for (int i = 0; i < 4; ++i)
        s += QString::number(QRandomGenerator::system()->generate(), 36);
    return s + QLatin1Char(':');
}

} // namespace

CdpBrowserWindows::CdpBrowserWindows(QObject *parent) : CdpBrowserWindows(CdpSettings(), parent) {}

CdpBrowserWindows::CdpBrowserWindows(const CdpSettings &settings, QObject *parent)
    : BrowserWindows(parent), m_settings(settings), m_secret(makeSecret())
{
    m_flush.setSingleShot(true);
    m_flush.setInterval(0);
    connect(&m_flush, &QTimer::timeout, this, &CdpBrowserWindows::flushSignals);
    connect(&m_discovery, &CdpDiscovery::endpointFound, this, &CdpBrowserWindows::onEndpoint);
    connect(&m_discovery, &CdpDiscovery::unwatchedChanged, this, [this] {
        if (!m_shutdown)
            emit browsersChanged();
    });
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &CdpBrowserWindows::shutdown);
    m_discovery.setProfileDirs(m_settings.profileDirs);
    m_discovery.setProcRoot(m_settings.procRoot);
    m_discovery.setScanInterval(m_settings.scanIntervalMs);
    m_discovery.setDesktop(m_settings.desktop);
    if (m_settings.socketPeers)
        m_discovery.setSocketPeerReader(m_settings.socketPeers);
    m_discovery.start();
}

CdpBrowserWindows::~CdpBrowserWindows()
{
    shutdown();
}

QList<BrowserPtr> CdpBrowserWindows::items() const
{
    QList<BrowserPtr> out;
    for (const CdpBrowser *b : m_browsers)
        out += b->pages();
    return out;
}

int CdpBrowserWindows::browserCount() const
{
    return static_cast<int>(
        std::count_if(m_browsers.begin(), m_browsers.end(), [](const CdpBrowser *b) { return b->isReady(); }));
}

QStringList CdpBrowserWindows::browserDataDirs() const
{
    QStringList out;
    for (const CdpBrowser *b : m_browsers) {
        if (b->isReady())
            out << b->endpoint().dataDir;
    }
    return out;
}

QList<UnwatchedBrowser> CdpBrowserWindows::unwatchedBrowsers() const
{
    return m_shutdown ? QList<UnwatchedBrowser>() : m_discovery.unwatchedBrowsers();
}

void CdpBrowserWindows::countChanged()
{
    const int now = browserCount();
    if (now == m_lastWatched || m_shutdown)
        return;
    m_lastWatched = now;
    emit browsersChanged();
}

int CdpBrowserWindows::heldCount() const
{
    int n = 0;
    for (const CdpBrowser *b : m_browsers)
        n += b->heldCount();
    return n;
}

void CdpBrowserWindows::onEndpoint(const CdpEndpoint &endpoint)
{
    qCDebug(lcCdp) << "found" << endpoint.dataDir << endpoint.port;
    if (m_shutdown)
        return;
    for (CdpBrowser *b : m_browsers) {
        if (b->endpoint().dataDir != endpoint.dataDir)
            continue;
        if (b->endpoint().sameAddress(endpoint) && !b->isLost())
            return;       // the same browser: the file was only touched
        removeBrowser(b); // the browser behind this folder was restarted
        break;
    }
    if (static_cast<int>(m_browsers.size()) >= m_settings.maxBrowsers) {
        qCWarning(lcCdp) << "not watching" << endpoint.dataDir << ": already watching" << m_browsers.size()
                         << "browsers";
        m_skipped.insert(endpoint.dataDir);
        return;
    }
    m_skipped.remove(endpoint.dataDir);
    auto *browser = new CdpBrowser(endpoint, m_settings.browser, m_secret, this);
    m_browsers.push_back(browser);
    connect(browser, &CdpBrowser::pageRegistered, this, [this] { queueSignal(true); });
    connect(browser, &CdpBrowser::pageRevoked, this, [this] { queueSignal(false); });
    connect(browser, &CdpBrowser::decisionStarting, this, &CdpBrowserWindows::flushSignals);
    connect(browser, &CdpBrowser::ready, this, [this, browser] {
        const QString dir = browser->endpoint().dataDir;
        // A browser that works clears its record of failures.
        if (m_retries.value(dir).version != browser->endpoint().content)
            m_retries.remove(dir);
        emit browserConnected(dir);
        countChanged();
    });
    connect(browser, &CdpBrowser::lost, this, [this, browser](CdpBrowser::Loss why) { onBrowserLost(browser, why); });
    browser->start();
}

void CdpBrowserWindows::onBrowserLost(CdpBrowser *browser, CdpBrowser::Loss why)
{
    const auto it = std::find(m_browsers.begin(), m_browsers.end(), browser);
    if (it == m_browsers.end())
        return;
    const CdpEndpoint endpoint = browser->endpoint();
    const bool wasReady = browser->isReady() || why != CdpBrowser::Loss::Refused;
    m_browsers.erase(it);
    browser->disconnect(this);
    browser->deleteLater();
    if (wasReady && why != CdpBrowser::Loss::Refused)
        emit browserLost(endpoint.dataDir);
    countChanged();
    reconsiderSkipped();
    if (why != CdpBrowser::Loss::Broken || m_shutdown)
        return; // refused: a stale file; closed: the browser went. A new file brings it back.
    // A browser that misbehaved (or an endpoint that never answered) is tried
    // again a few times, further apart each time.
    Retry &r = m_retries[endpoint.dataDir];
    if (r.version != endpoint.content)
        r = Retry{endpoint.content, 0};
    if (r.count >= m_settings.maxRetries)
        return;
    const int delay = std::min(60000, m_settings.retryDelayMs << std::min(r.count, 5));
    ++r.count;
    QTimer::singleShot(delay, this, [this, dir = endpoint.dataDir] {
        if (m_shutdown)
            return;
        for (const CdpBrowser *b : m_browsers) {
            if (b->endpoint().dataDir == dir)
                return; // already back through a new file
        }
        m_discovery.forget(dir);
        m_discovery.scan();
    });
}

void CdpBrowserWindows::removeBrowser(CdpBrowser *browser)
{
    const auto it = std::find(m_browsers.begin(), m_browsers.end(), browser);
    if (it == m_browsers.end())
        return;
    const qsizetype pages = browser->pages().size();
    // Nothing may stay held by a connection we walk away from.
    browser->releaseAll();
    m_browsers.erase(it);
    browser->disconnect(this);
    browser->close();
    browser->deleteLater();
    for (qsizetype i = 0; i < pages; ++i)
        queueSignal(false);
    countChanged();
}

void CdpBrowserWindows::reconsiderSkipped()
{
    if (m_skipped.isEmpty() || m_shutdown)
        return;
    for (const QString &dir : std::exchange(m_skipped, {}))
        m_discovery.forget(dir);
    // Not from inside the browser's own signal: the next scan finds them.
    QTimer::singleShot(0, this, [this] {
        if (!m_shutdown)
            m_discovery.scan();
    });
}

void CdpBrowserWindows::queueSignal(bool registered)
{
    if (m_shutdown)
        return;
    // Raised from the event loop, not from inside a socket's notification (the
    // receivers rebuild), except right before a decision: then whatever is
    // queued goes out at once, so that the opener of the popup has its sink.
    m_signals.push_back(registered);
    if (!m_flush.isActive())
        m_flush.start();
}

void CdpBrowserWindows::flushSignals()
{
    QPointer<CdpBrowserWindows> self(this);
    while (self && !m_signals.empty() && !m_shutdown) {
        const bool registered = m_signals.front();
        m_signals.erase(m_signals.begin());
        if (registered)
            emit windowOpened();
        else
            emit windowClosed();
    }
}

void CdpBrowserWindows::shutdown()
{
    if (m_shutdown)
        return;
    m_shutdown = true;
    m_signals.clear();
    m_flush.stop();
    m_discovery.stop();
    for (CdpBrowser *b : m_browsers)
        b->releaseAll();
    // Closing the socket at once could lose the releases in flight, leaving
    // blank tabs with frozen openers: wait (briefly) until each browser has
    // answered them.
    auto settled = [this] {
        return std::all_of(m_browsers.begin(), m_browsers.end(), [](const CdpBrowser *b) { return b->isSettled(); });
    };
    if (QCoreApplication::instance() && !settled()) {
        QElapsedTimer waited;
        waited.start();
        QPointer<CdpBrowserWindows> self(this);
        while (self && !settled() && waited.elapsed() < m_settings.shutdownWaitMs) {
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
        if (!self)
            return;
    }
    const auto browsers = std::exchange(m_browsers, {});
    for (CdpBrowser *b : browsers) {
        b->disconnect(this);
        b->close();
        b->deleteLater();
    }
}

} // namespace wendral::cdp
