#pragma once
// The web banner strip of the main window. The browser control behind it is
// created only when the banner is actually placed, so a build without the
// banner never starts the web engine.

#include <QPointer>
#include <QUrl>
#include <QWidget>

class QFrame;
class QWebEngineView;

namespace wendral {

class BannerBrowser : public QWidget
{
    Q_OBJECT
public:
    explicit BannerBrowser(QWidget *parent = nullptr);
    // A plain navigate: no flags, frame or headers. Nothing watches the result;
    // a page that fails shows the engine's own error page.
    void navigate(const QString &url);
    QWebEngineView *view() const;
    QUrl requestedUrl() const { return m_requested; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QPointer<QWidget> m_view; // a QWebEngineView, created on first navigate
    QUrl m_requested;
};

// Room is made by the caller; this creates the picture box "picBox" over the
// banner's place, moves the browser into it (clipped on the right by the margin
// that hides its scroll bar), shows it instead of the placeholder picture and
// navigates. Returns the picture box (null without a browser control).
QFrame *placeBanner(QWidget *form, BannerBrowser *wbBanner, QWidget *wbPicture, const QString &bannerUrl);

} // namespace wendral
