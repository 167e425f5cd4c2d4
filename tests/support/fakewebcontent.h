#pragma once
// Web content for window tests: remembers what the windows asked for and lets
// the test play the helper's part (a banner window appears, the website window
// opens or closes).

#include "ui/webcontent.h"

#include <QList>

namespace wendral::test {

class FakeWebContent : public WebContent
{
    Q_OBJECT
public:
    struct Banner
    {
        QUrl url;
        QSize size;
        QColor background;
    };
    QList<Banner> bannerRequests;
    int bannerHides = 0;
    int websiteRequests = 0;
    bool websiteOpen = false;

    void showBanner(const QUrl &url, const QSize &size, const QColor &background) override
    {
        bannerRequests.append({url, size, background});
        m_bannerShown = true;
    }
    void hideBanner() override
    {
        ++bannerHides;
        m_bannerShown = false;
    }
    void openWebsite() override
    {
        ++websiteRequests;
        websiteOpen = true;
        emit websiteOpened();
    }
    bool isWebsiteOpen() const override { return websiteOpen; }

    bool bannerShown() const { return m_bannerShown; }
    // The helper's side.
    void publishBannerWindow(quint64 id) { emit bannerWindowChanged(id); }
    void closeWebsite()
    {
        websiteOpen = false;
        emit websiteClosed();
    }

private:
    bool m_bannerShown = false;
};

} // namespace wendral::test
