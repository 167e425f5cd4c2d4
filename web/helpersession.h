#pragma once
// The web helper's side of the channel to the program: it carries out each
// request (the banner window, the website window, pings) and reports what
// happened as events. Lines come in through handleLine(); events go out
// through the function given at construction. Nothing here waits.

#include "core/profile.h"
#include "core/webprotocol.h"
#include "forms/skin.h"
#include "web/bannerwindow.h"
#include "web/websitewindow.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace wendral {

class WindowStacker;

class WebHelperSession : public QObject
{
    Q_OBJECT
public:
    using Send = std::function<void(const QByteArray &line)>;

    // stacker: keeps the website window on top during its load (not owned;
    // null: one that only remembers).
    explicit WebHelperSession(Send send, WindowStacker *stacker = nullptr, QObject *parent = nullptr);
    ~WebHelperSession() override;

    // Says "ready".
    void start();
    // One request line; anything that is not a request is dropped.
    void handleLine(const QByteArray &line);
    void handle(const WebRequest &request);

    BannerWindow *banner() const { return m_banner; }
    WebsiteWindow *website() const { return m_website.window; }
    int droppedLines() const { return m_dropped; }

signals:
    // The program asked the helper to end.
    void quitRequested();

private:
    void send(const WebEvent &event);
    void showBanner(const WebRequest &request);
    void closeBanner();
    void openWebsite();

    Send m_send;
    std::unique_ptr<WindowStacker> m_ownStacker;
    BrandingProfile m_profile;
    SkinEngine m_skin;
    WebsiteContext m_website;
    QPointer<BannerWindow> m_banner;
    int m_dropped = 0;
};

} // namespace wendral
