#pragma once
// The web helper process (wendral-web) as the program runs it: started when
// web content is wanted (the banner strip is shown, or the website window is
// asked for) and ended when none is (the main window hidden to the tray and
// the website window closed). A helper that dies or stops answering is
// killed, the strip is left empty, and it is started again after a pause
// that doubles with each failure in a row. Nothing here ever waits for the
// helper, except shutdown(), at the program's end, for a bounded time.

#include "core/webprotocol.h"
#include "ui/webcontent.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <memory>

class QProcess;

namespace wendral {

class WebHelper : public WebContent
{
    Q_OBJECT
public:
    struct Options
    {
        QString program;
        QStringList arguments;
        // False where the strip cannot show another process's window (no
        // X11): banner requests then start nothing and the strip stays empty.
        bool bannerSupported = true;
        int firstRestartDelayMs = 500;
        int maxRestartDelayMs = 30000;
        // A helper that ran this long before it failed is not counted as
        // failing in a row: the next one starts after the first delay again.
        int stableAfterMs = 60000;
        int readyTimeoutMs = 30000; // from start to its "ready"
        int pingIntervalMs = 5000;
        int pingTimeoutMs = 15000; // no answer for this long: hung, killed
        int endGraceMs = 1500;     // asked to end: killed when still there after this
        // The program's end (a logout, say) waits no longer than this for an
        // orderly end: the helper has nothing to save, and its engine's
        // processes end by themselves once it is gone.
        int shutdownWaitMs = 200;
    };

    explicit WebHelper(Options options, QObject *parent = nullptr);
    ~WebHelper() override;

    void showBanner(const QUrl &url, const QSize &size, const QColor &background) override;
    void hideBanner() override;
    void openWebsite() override;
    bool isWebsiteOpen() const override;

    // The program's end: the strip lets go of the banner window, the helper
    // is told to end and its input closed, and it is killed if it has not
    // ended within shutdownWaitMs. Nothing is started afterwards.
    void shutdown();

    bool isRunning() const;
    // Running and it said it is ready.
    bool isReady() const { return m_ready; }
    qint64 processId() const;
    quint64 bannerWindow() const { return m_bannerWindow; }
    // How many helpers ended without being asked to (crashed, killed, hung).
    int failures() const { return m_failures; }
    // The pause before the next start after a failure.
    int nextRestartDelayMs() const { return m_restartDelayMs; }
    const Options &options() const { return m_options; }

signals:
    void helperStarted(qint64 pid);
    // unexpected: it was not asked to end.
    void helperEnded(bool unexpected);

private:
    bool needed() const;
    bool bannerWanted() const { return m_bannerWanted && m_options.bannerSupported; }
    void update();
    void start();
    void stop();
    void kill();
    void send(const WebRequest &request);
    void sendWishes();
    void onOutput();
    void onEvent(const WebEvent &event);
    void onFinished();
    void onPingTimer();
    void setBannerWindow(quint64 id);
    void dropProcess();

    Options m_options;
    std::unique_ptr<QProcess> m_process;
    LineSplitter m_splitter;
    QTimer m_restartTimer;
    QTimer m_pingTimer;
    QTimer m_readyTimer;
    QTimer m_endTimer;
    QElapsedTimer m_uptime;
    QElapsedTimer m_sinceAnswer;
    bool m_ready = false;
    bool m_ending = false; // asked to end
    bool m_shutDown = false;
    quint64 m_nextSerial = 1;
    int m_failures = 0;
    int m_restartDelayMs = 0;

    bool m_bannerWanted = false;
    QUrl m_bannerUrl;
    QSize m_bannerSize;
    QColor m_bannerBackground;
    quint64 m_bannerWindow = 0;

    bool m_websiteWanted = false; // asked for, or open
    bool m_websiteRequestPending = false;
};

} // namespace wendral
