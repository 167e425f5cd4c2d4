#pragma once
// The browser windows of every Chromium-family browser: every page of
// every browser that exposes the DevTools protocol on this machine, found and
// followed as browsers start and stop.

#include "blocking/browsercomponents.h"
#include "blocking/cdp/cdpbrowser.h"
#include "blocking/cdp/cdpdiscovery.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <vector>

namespace wendral::cdp {

struct CdpSettings
{
    // Folders whose DevToolsActivePort is watched (default: the standard ones).
    QStringList profileDirs = CdpDiscovery::standardProfileDirs();
    // Where running browsers are looked for ("" for nowhere).
    QString procRoot = QStringLiteral("/proc");
    // This desktop: only its browsers are watched or reported.
    DesktopIdentity desktop = DesktopIdentity::current();
    // Where the peers of unix sockets come from (unset: the kernel).
    CdpDiscovery::SocketPeerReader socketPeers;
    int scanIntervalMs = 500;
    CdpBrowser::Options browser;
    // At shutdown, how long to wait for the browsers to take the released popups.
    int shutdownWaitMs = 800;
    // A browser dropped for misbehaving is tried again after this long, doubling
    // up to a minute, a few times; a newly written DevToolsActivePort always is.
    int retryDelayMs = 2000;
    int maxRetries = 5;
    // Browsers watched at once. Each has its own connection and its own
    // bounded state (see CdpBrowser::Options); an endpoint found beyond this
    // is left alone until a watched browser goes.
    int maxBrowsers = 32;
};

class CdpBrowserWindows : public BrowserWindows
{
    Q_OBJECT
public:
    explicit CdpBrowserWindows(QObject *parent = nullptr);
    explicit CdpBrowserWindows(const CdpSettings &settings, QObject *parent = nullptr);
    // Shuts down first (see shutdown()).
    ~CdpBrowserWindows() override;

    // The page targets of all connected browsers: browsers in the order they
    // connected, pages in the order they appeared.
    QList<BrowserPtr> items() const override;

    // Browsers connected and set up.
    int browserCount() const;
    int watchedBrowserCount() const override { return browserCount(); }
    // Browser main processes of this desktop started without the debugging
    // switch; browsersChanged() follows every change within a scan interval.
    QList<UnwatchedBrowser> unwatchedBrowsers() const override;
    QStringList browserDataDirs() const;
    // Popups held by all browsers, undecided or being decided.
    int heldCount() const;

    // Lets every popup still held through (closing the ones already being
    // blocked), waits a moment for the browsers to take that, and disconnects.
    // Runs once; afterwards the collection is empty and raises nothing. Also
    // called when the application is about to quit.
    void shutdown();

signals:
    void browserConnected(const QString &dataDir);
    void browserLost(const QString &dataDir);

private:
    void onEndpoint(const CdpEndpoint &endpoint);
    void onBrowserLost(CdpBrowser *browser, CdpBrowser::Loss why);
    void removeBrowser(CdpBrowser *browser);
    // Looks again at the endpoints left alone for the bound on browsers.
    void reconsiderSkipped();
    void queueSignal(bool registered);
    void flushSignals();
    // Raises browsersChanged() when the number of watched browsers moved.
    void countChanged();

    CdpSettings m_settings;
    CdpDiscovery m_discovery;
    QString m_secret;
    std::vector<CdpBrowser *> m_browsers; // children, in the order they were found
    struct Retry
    {
        QByteArray version; // the DevToolsActivePort this count is for
        int count = 0;
    };
    QHash<QString, Retry> m_retries;
    QSet<QString> m_skipped;     // folders whose endpoint was left alone for the bound
    std::vector<bool> m_signals; // queued: true = registered, false = revoked
    QTimer m_flush;
    int m_lastWatched = 0;
    bool m_shutdown = false;
};

} // namespace wendral::cdp
