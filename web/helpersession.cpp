#include "web/helpersession.h"

#include "platform/windowstacker.h"
#include "web/bannerwindow.h"

#include <QColor>
#include <QSize>

namespace wendral {
namespace {

WindowStacker *chooseStacker(WindowStacker *given, std::unique_ptr<WindowStacker> &own)
{
    if (given)
        return given;
    own = std::make_unique<RememberingStacker>();
    return own.get();
}

} // namespace

WebHelperSession::WebHelperSession(Send send, WindowStacker *stacker, QObject *parent)
    : QObject(parent), m_send(std::move(send)), m_profile(BrandingProfile::fromBuild()),
      m_skin(m_profile), m_website{m_profile, m_skin, *chooseStacker(stacker, m_ownStacker), {}}
{}

WebHelperSession::~WebHelperSession()
{
    // The windows point into this session's profile and skin.
    delete m_website.window.data();
    delete m_banner.data();
}

void WebHelperSession::start()
{
    send(WebEvent::ready());
}

void WebHelperSession::send(const WebEvent &event)
{
    if (m_send)
        m_send(encodeWebEvent(event));
}

void WebHelperSession::handleLine(const QByteArray &line)
{
    if (line.trimmed().isEmpty())
        return;
    const std::optional<WebRequest> request = decodeWebRequest(line);
    if (!request) {
        ++m_dropped;
        qWarning("wendral-web: dropped a line that is no request (%lld bytes)", static_cast<long long>(line.size()));
        return;
    }
    handle(*request);
}

void WebHelperSession::handle(const WebRequest &request)
{
    switch (request.kind) {
    case WebRequest::Kind::Banner:
        showBanner(request);
        break;
    case WebRequest::Kind::CloseBanner:
        closeBanner();
        break;
    case WebRequest::Kind::Website:
        openWebsite();
        break;
    case WebRequest::Kind::Ping:
        send(WebEvent::pong(request.serial));
        break;
    case WebRequest::Kind::Quit:
        emit quitRequested();
        break;
    }
}

void WebHelperSession::showBanner(const WebRequest &request)
{
    if (!m_banner) {
        m_banner = new BannerWindow;
        connect(m_banner, &BannerWindow::windowIdPublished, this,
                [this](quint64 id) { send(WebEvent::bannerWindow(id)); });
    }
    m_banner->showPage(request.url, QSize(request.width, request.height),
                       request.background.isEmpty() ? QColor() : QColor(request.background));
}

void WebHelperSession::closeBanner()
{
    // The engine's page goes with the window; a later banner starts afresh.
    delete m_banner.data();
}

void WebHelperSession::openWebsite()
{
    const bool wasOpen = m_website.window;
    WebsiteWindow *w = WebsiteWindow::open(m_website);
    if (!wasOpen)
        connect(w, &WebsiteWindow::closed, this, [this] { send(WebEvent::websiteClosed()); });
    send(WebEvent::websiteOpened());
}

} // namespace wendral
