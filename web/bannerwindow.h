#pragma once
// The banner strip's browser as a window of its own, which the program embeds
// into its main window by X11 window id.
//
// What embedding a window of another process asks of it:
//  - its id is published only once the first load has finished (the engine
//    replaces the window while it starts, so an earlier id would name a
//    window that is about to go), and again whenever it is replaced later;
//  - until it is embedded it bypasses the window manager (no frame flashes)
//    and sits off screen; the X server fills it with the strip's background
//    colour until the page paints (instead of leaving whatever was on the
//    screen there);
//  - it takes no key events: while the pointer is over the strip the keys
//    stay with the main window, which has the focus;
//  - it has no context menu: it does not know where on the screen it is once
//    embedded, so a menu would open in the wrong place.

#include <QColor>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class QWebEngineView;

namespace wendral {

class BannerWindow : public QWidget
{
    Q_OBJECT
public:
    explicit BannerWindow(QWidget *parent = nullptr);
    ~BannerWindow() override;

    // Loads url in a window of that size (shown off screen); a later call
    // changes the page or the size.
    void showPage(const QUrl &url, const QSize &size, const QColor &background);

    QWebEngineView *view() const { return m_view; }
    QUrl requestedUrl() const { return m_requested; }
    // The id published last; 0 before the first load has finished.
    quint64 publishedId() const { return m_published; }

    // Where the window waits until it is embedded.
    static QPoint parkingPosition();

signals:
    void windowIdPublished(quint64 id);

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void publish();

    QWebEngineView *m_view = nullptr;
    QUrl m_requested;
    quint64 m_published = 0;
    bool m_loadedOnce = false;
};

// Readies an X11 window for embedding (a no-op without an X11 connection):
// removes key events from the event masks of window and every window below it
// (clicks and pointer motion stay), and gives window the background colour
// the server shows until the window is painted (when valid).
void prepareForEmbeddingOnX11(quint64 window, const QColor &background);

} // namespace wendral
