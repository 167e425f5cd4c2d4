#include "web/bannerwindow.h"

#include "platform/linux/x11connection.h"

#include <QEvent>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <xcb/xcb.h>

#include <cstdlib>

namespace wendral {

BannerWindow::BannerWindow(QWidget *parent)
    : QWidget(parent,
              Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("bannerWindow"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Only the end of the helper closes it.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAutoFillBackground(true);
    m_view = new QWebEngineView(this);
    m_view->setObjectName(QStringLiteral("bannerView"));
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setFocusPolicy(Qt::NoFocus);
    connect(m_view, &QWebEngineView::loadFinished, this, [this] {
        // Whether it loaded or the engine shows its error page, the window
        // is final now.
        m_loadedOnce = true;
        publish();
    });
}

BannerWindow::~BannerWindow() = default;

QPoint BannerWindow::parkingPosition()
{
    return QPoint(-20000, -20000);
}

void BannerWindow::showPage(const QUrl &url, const QSize &size, const QColor &background)
{
    if (background.isValid()) {
        QPalette p = palette();
        p.setColor(QPalette::Window, background);
        setPalette(p);
        m_view->page()->setBackgroundColor(background);
    }
    if (!isVisible()) {
        setGeometry(QRect(parkingPosition(), size));
        show();
    } else if (this->size() != size) {
        resize(size);
    }
    if (url != m_requested) {
        m_requested = url;
        m_view->setUrl(url);
    }
}

void BannerWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_view->setGeometry(rect());
}

bool BannerWindow::event(QEvent *event)
{
    const bool result = QWidget::event(event);
    // The engine, or Qt for it, may replace the native window at any time.
    if (event->type() == QEvent::WinIdChange && m_loadedOnce)
        publish();
    return result;
}

void BannerWindow::publish()
{
    if (!isVisible())
        return;
    const quint64 id = static_cast<quint64>(winId());
    prepareForEmbeddingOnX11(id, palette().color(QPalette::Window));
    if (id == m_published)
        return;
    m_published = id;
    emit windowIdPublished(id);
}

void prepareForEmbeddingOnX11(quint64 window, const QColor &background)
{
    xcb_connection_t *c = x11::connection();
    if (!c || window == 0)
        return;
    if (background.isValid()) {
        // A TrueColor pixel; the top byte is alpha where the visual has one.
        const uint32_t pixel = 0xff000000u | (background.rgb() & 0xffffffu);
        xcb_change_window_attributes(c, static_cast<xcb_window_t>(window), XCB_CW_BACK_PIXEL, &pixel);
    }
    constexpr uint32_t keyEvents = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
    QList<xcb_window_t> pending{static_cast<xcb_window_t>(window)};
    while (!pending.isEmpty()) {
        const xcb_window_t w = pending.takeFirst();
        xcb_get_window_attributes_reply_t *attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        if (attributes && (attributes->your_event_mask & keyEvents)) {
            const uint32_t mask = attributes->your_event_mask & ~keyEvents;
            xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, &mask);
        }
        std::free(attributes);
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (tree) {
            const xcb_window_t *children = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
                pending.append(children[i]);
        }
        std::free(tree);
    }
    xcb_flush(c);
}

} // namespace wendral
