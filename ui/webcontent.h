#pragma once
// What the windows ask of the web content, which lives in another process (the
// web helper): the banner strip of the main window and the website window.
// Every call returns at once; what happens is told by the signals.

#include <QColor>
#include <QObject>
#include <QSize>
#include <QUrl>

namespace wendral {

class WebContent : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The banner strip is shown: its page at this size, drawn in background
    // until the page paints. Its window arrives with bannerWindowChanged.
    virtual void showBanner(const QUrl &url, const QSize &size, const QColor &background) = 0;
    // The strip is not shown any more (the main window was hidden).
    virtual void hideBanner() = 0;
    // Opens the website window, or brings it forward when it is open.
    virtual void openWebsite() = 0;
    // Whether the website window is open, or asked for and not closed yet.
    virtual bool isWebsiteOpen() const = 0;

signals:
    // The X11 window that shows the banner; 0 when there is none any more.
    void bannerWindowChanged(quint64 windowId);
    void websiteOpened();
    // The website window closed (by the user, or because the helper died).
    void websiteClosed();
};

} // namespace wendral
