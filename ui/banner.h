#pragma once
// The web banner strip of the main window. The page itself is drawn by the web
// helper, in a window of that process; the strip embeds that window by its
// X11 window id and otherwise shows its background (no helper yet, a helper
// that died, or a platform without X11 where one process's window cannot go
// into another's).

#include <QPointer>
#include <QUrl>
#include <QWidget>

class QFrame;
class QWindow;

namespace wendral {

class BannerStrip : public QWidget
{
    Q_OBJECT
public:
    explicit BannerStrip(QWidget *parent = nullptr);
    ~BannerStrip() override;

    // The page the strip is to show (what the helper is asked to load).
    void setRequestedUrl(const QUrl &url) { m_requested = url; }
    QUrl requestedUrl() const { return m_requested; }

    // Shows the window with this id inside the strip, filling it; 0 lets go
    // of the window shown now and leaves the strip empty. Does nothing where
    // embedding is not possible.
    void embed(quint64 windowId);
    quint64 embeddedWindow() const { return m_embedded; }
    // The widget that holds the embedded window; null while empty.
    QWidget *container() const { return m_container; }

    // Whether this platform can show another process's window inside ours.
    static bool canEmbed();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void release();

    QUrl m_requested;
    quint64 m_embedded = 0;
    QPointer<QWindow> m_foreign;
    QPointer<QWidget> m_container;
};

// Room is made by the caller; this creates the picture box "picBox" over the
// banner's place, moves the strip into it (clipped on the right by the margin
// that hides the page's scroll bar), shows it instead of the placeholder
// picture and records the page to show. Returns the picture box (null without
// a strip).
QFrame *placeBanner(QWidget *form, BannerStrip *wbBanner, QWidget *wbPicture, const QString &bannerUrl);

} // namespace wendral
