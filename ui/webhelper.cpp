#include "ui/webhelper.h"

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

namespace wendral {

WebHelper::WebHelper(Options options, QObject *parent) : WebContent(parent), m_options(std::move(options))
{
    m_restartTimer.setSingleShot(true);
    connect(&m_restartTimer, &QTimer::timeout, this, &WebHelper::update);
    m_readyTimer.setSingleShot(true);
    connect(&m_readyTimer, &QTimer::timeout, this, [this] {
        qWarning("wendral: the web helper did not get ready in time; ending it");
        kill();
    });
    m_endTimer.setSingleShot(true);
    connect(&m_endTimer, &QTimer::timeout, this, &WebHelper::kill);
    connect(&m_pingTimer, &QTimer::timeout, this, &WebHelper::onPingTimer);
}

WebHelper::~WebHelper()
{
    shutdown();
}

bool WebHelper::needed() const
{
    return bannerWanted() || m_websiteWanted;
}

bool WebHelper::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 WebHelper::processId() const
{
    return isRunning() ? m_process->processId() : 0;
}

bool WebHelper::isWebsiteOpen() const
{
    return m_websiteWanted;
}

void WebHelper::showBanner(const QUrl &url, const QSize &size, const QColor &background)
{
    m_bannerWanted = true;
    m_bannerUrl = url;
    m_bannerSize = size;
    m_bannerBackground = background;
    if (!bannerWanted() || m_shutDown)
        return;
    if (m_process && !m_ending)
        send(WebRequest::banner(m_bannerUrl, m_bannerSize.width(), m_bannerSize.height(),
                                m_bannerBackground.isValid() ? m_bannerBackground.name() : QString()));
    else
        update();
}

void WebHelper::hideBanner()
{
    const bool was = bannerWanted();
    m_bannerWanted = false;
    setBannerWindow(0);
    if (was && m_process && !m_ending && needed())
        send(WebRequest::closeBanner());
    update();
}

void WebHelper::openWebsite()
{
    if (m_shutDown)
        return;
    m_websiteWanted = true;
    if (m_process && !m_ending)
        send(WebRequest::website());
    else
        update(); // the request goes out with the others when it starts
}

void WebHelper::update()
{
    if (m_shutDown)
        return;
    if (!needed()) {
        m_restartTimer.stop();
        if (m_process && !m_ending)
            stop();
        return;
    }
    // Needed: one that is ending is started again once it has ended; after a
    // failure the restart timer decides.
    if (!m_process && !m_restartTimer.isActive())
        start();
}

void WebHelper::start()
{
    m_process = std::make_unique<QProcess>();
    QProcess *p = m_process.get();
    p->setProgram(m_options.program);
    p->setArguments(m_options.arguments);
    // Its messages and the engine's go where the program's own go.
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Should the program die so abruptly that even the end of the helper's
    // input is not seen (the helper hung at that moment), the kernel ends it.
    p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    connect(p, &QProcess::readyReadStandardOutput, this, &WebHelper::onOutput);
    connect(p, &QProcess::finished, this, &WebHelper::onFinished);
    connect(p, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFinished(); // no finished() follows a start that failed
    });
    connect(p, &QProcess::started, this, [this] { emit helperStarted(m_process->processId()); });
    m_splitter = LineSplitter();
    m_ready = false;
    m_ending = false;
    m_uptime.start();
    m_sinceAnswer.start();
    m_readyTimer.start(m_options.readyTimeoutMs);
    p->start(QIODevice::ReadWrite);
    // The pipe holds the requests until the helper reads them.
    sendWishes();
}

void WebHelper::sendWishes()
{
    if (bannerWanted())
        send(WebRequest::banner(m_bannerUrl, m_bannerSize.width(), m_bannerSize.height(),
                                m_bannerBackground.isValid() ? m_bannerBackground.name() : QString()));
    if (m_websiteWanted)
        send(WebRequest::website());
}

void WebHelper::send(const WebRequest &request)
{
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->write(encodeWebRequest(request));
}

void WebHelper::stop()
{
    m_ending = true;
    m_pingTimer.stop();
    m_readyTimer.stop();
    setBannerWindow(0);
    send(WebRequest::quit());
    m_process->closeWriteChannel();
    m_endTimer.start(m_options.endGraceMs);
}

void WebHelper::kill()
{
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->kill();
}

void WebHelper::onOutput()
{
    if (!m_process)
        return;
    const QList<QByteArray> lines = m_splitter.feed(m_process->readAllStandardOutput());
    for (const QByteArray &line : lines) {
        const std::optional<WebEvent> event = decodeWebEvent(line);
        if (!event) {
            qWarning("wendral: dropped a line from the web helper that is no event");
            continue;
        }
        onEvent(*event);
        if (!m_process)
            return; // the event ended it
    }
}

void WebHelper::onEvent(const WebEvent &event)
{
    m_sinceAnswer.restart();
    switch (event.kind) {
    case WebEvent::Kind::Ready:
        if (event.version != kWebProtocolVersion)
            qWarning("wendral: the web helper speaks version %d, this program %d", event.version, kWebProtocolVersion);
        m_ready = true;
        m_readyTimer.stop();
        if (!m_ending)
            m_pingTimer.start(m_options.pingIntervalMs);
        break;
    case WebEvent::Kind::BannerWindow:
        if (bannerWanted() && !m_ending)
            setBannerWindow(event.windowId);
        break;
    case WebEvent::Kind::WebsiteOpened:
        if (m_websiteWanted)
            emit websiteOpened();
        break;
    case WebEvent::Kind::WebsiteClosed:
        if (m_websiteWanted) {
            m_websiteWanted = false;
            emit websiteClosed();
        }
        update();
        break;
    case WebEvent::Kind::Pong:
        break;
    }
}

void WebHelper::onPingTimer()
{
    if (!m_process || m_ending)
        return;
    if (m_sinceAnswer.elapsed() > m_options.pingTimeoutMs) {
        qWarning("wendral: the web helper stopped answering; ending it");
        kill();
        return;
    }
    send(WebRequest::ping(m_nextSerial++));
}

void WebHelper::setBannerWindow(quint64 id)
{
    if (id == m_bannerWindow)
        return;
    m_bannerWindow = id;
    emit bannerWindowChanged(id);
}

void WebHelper::dropProcess()
{
    if (!m_process)
        return;
    // This may run inside one of the process's own signals: it is deleted
    // once control has left it.
    QProcess *p = m_process.release();
    disconnect(p, nullptr, this, nullptr);
    p->deleteLater();
}

void WebHelper::onFinished()
{
    if (!m_process)
        return;
    const bool unexpected = !m_ending;
    const qint64 ranMs = m_uptime.elapsed();
    dropProcess();
    m_ready = false;
    m_ending = false;
    m_pingTimer.stop();
    m_readyTimer.stop();
    m_endTimer.stop();
    setBannerWindow(0);
    if (m_websiteWanted) {
        // Whatever the helper showed has gone with it.
        m_websiteWanted = false;
        emit websiteClosed();
    }
    if (!unexpected) {
        emit helperEnded(false);
        update(); // wanted again meanwhile
        return;
    }
    ++m_failures;
    if (m_restartDelayMs == 0 || ranMs >= m_options.stableAfterMs)
        m_restartDelayMs = m_options.firstRestartDelayMs;
    else
        m_restartDelayMs = qMin(m_restartDelayMs * 2, m_options.maxRestartDelayMs);
    emit helperEnded(true);
    if (needed() && !m_shutDown)
        m_restartTimer.start(m_restartDelayMs);
}

void WebHelper::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_restartTimer.stop();
    m_pingTimer.stop();
    m_readyTimer.stop();
    m_endTimer.stop();
    // The strip lets go of the helper's window before the helper goes.
    setBannerWindow(0);
    m_websiteWanted = false;
    if (!m_process)
        return;
    std::unique_ptr<QProcess> p = std::move(m_process);
    disconnect(p.get(), nullptr, this, nullptr);
    if (p->state() != QProcess::NotRunning) {
        p->write(encodeWebRequest(WebRequest::quit()));
        p->closeWriteChannel();
        if (!p->waitForFinished(m_options.shutdownWaitMs)) {
            p->kill();
            p->waitForFinished(1000);
        }
    }
}

} // namespace wendral
