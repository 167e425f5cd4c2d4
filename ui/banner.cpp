#include "ui/banner.h"

#include "forms/twips.h"

#include <QFrame>
#include <QGuiApplication>
#include <QWindow>

namespace wendral {
namespace {
// The margin is given in twips (the main window's scale mode): the width of
// the browser's vertical scroll bar.
constexpr int kMarginTwips = 280;
} // namespace

BannerStrip::BannerStrip(QWidget *parent) : QWidget(parent)
{
    // Empty, the strip is the window's background.
    setAutoFillBackground(true);
}

BannerStrip::~BannerStrip()
{
    release();
}

bool BannerStrip::canEmbed()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void BannerStrip::embed(quint64 windowId)
{
    if (windowId == m_embedded)
        return;
    release();
    if (windowId == 0 || !canEmbed())
        return;
    QWindow *foreign = QWindow::fromWinId(static_cast<WId>(windowId));
    if (!foreign)
        return;
    m_embedded = windowId;
    m_foreign = foreign;
    foreign->setObjectName(QStringLiteral("bannerWindow"));
    m_container = QWidget::createWindowContainer(foreign, this);
    m_container->setObjectName(QStringLiteral("bannerContainer"));
    // The main window keeps the keyboard; the banner only takes clicks.
    m_container->setFocusPolicy(Qt::NoFocus);
    m_container->setGeometry(rect());
    // A container with an X window of its own holds the helper's window
    // inside it, and so inside the picture box that clips it; without one
    // the helper's window would hang from the main window itself.
    m_container->setAttribute(Qt::WA_DontCreateNativeAncestors);
    m_container->winId();
    m_container->show();
}

void BannerStrip::release()
{
    if (!m_container) {
        m_embedded = 0;
        return;
    }
    // The helper's window goes back to the root, unmapped, before the
    // container goes: a window is destroyed with its parent, whichever
    // process made it, and the helper may still use this one.
    if (m_foreign) {
        m_foreign->hide();
        m_foreign->setParent(nullptr);
    }
    delete m_container.data();
    m_embedded = 0;
}

void BannerStrip::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_container)
        m_container->setGeometry(rect());
}

QFrame *placeBanner(QWidget *form, BannerStrip *wbBanner, QWidget *wbPicture, const QString &bannerUrl)
{
    if (!form || !wbBanner)
        return nullptr; // no banner strip: keep the placeholder picture
    QWidget *container = wbBanner->parentWidget() ? wbBanner->parentWidget() : form;
    auto *box = new QFrame(container);
    box->setObjectName(QStringLiteral("picBox"));
    box->setProperty("controlKind", QStringLiteral("PictureBox"));

    const int margin = twipsToPixels(kMarginTwips);
    const QRect place = wbBanner->geometry();
    box->setGeometry(place.x(), place.y(), qMax(0, place.width() - margin), place.height());
    box->setFrameShape(QFrame::NoFrame);
    // A window of another process is clipped only by the X windows around
    // it: the box gets one of its own (and only the box, not its ancestors),
    // so that the page's scroll bar stays hidden under its right edge.
    if (BannerStrip::canEmbed()) {
        box->setAttribute(Qt::WA_DontCreateNativeAncestors);
        box->setAttribute(Qt::WA_NativeWindow);
    }

    wbBanner->setParent(box);
    wbBanner->setGeometry(0, 0, place.width(), place.height());

    box->show();
    box->update();
    wbBanner->show();
    if (wbPicture)
        wbPicture->hide();
    wbBanner->setRequestedUrl(QUrl::fromUserInput(bannerUrl));
    return box;
}

} // namespace wendral
