#include "ui/banner.h"

#include "ui/twips.h"

#include <QFrame>
#include <QWebEngineView>

namespace wendral {
namespace {
// The margin is given in twips (the main window's scale mode): the width of
// the browser's vertical scroll bar.
constexpr int kMarginTwips = 280;
} // namespace

BannerBrowser::BannerBrowser(QWidget *parent) : QWidget(parent) {}

QWebEngineView *BannerBrowser::view() const
{
    return static_cast<QWebEngineView *>(m_view.data());
}

void BannerBrowser::navigate(const QString &url)
{
    if (!m_view) {
        auto *view = new QWebEngineView(this);
        view->setObjectName(QStringLiteral("bannerView"));
        view->setGeometry(rect());
        view->show();
        m_view = view;
    }
    m_requested = QUrl::fromUserInput(url);
    view()->setUrl(m_requested);
}

void BannerBrowser::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}

QFrame *placeBanner(QWidget *form, BannerBrowser *wbBanner, QWidget *wbPicture, const QString &bannerUrl)
{
    if (!form || !wbBanner)
        return nullptr; // no browser control: keep the placeholder picture
    QWidget *container = wbBanner->parentWidget() ? wbBanner->parentWidget() : form;
    auto *box = new QFrame(container);
    box->setObjectName(QStringLiteral("picBox"));
    box->setProperty("controlKind", QStringLiteral("PictureBox"));

    const int margin = twipsToPixels(kMarginTwips);
    const QRect place = wbBanner->geometry();
    box->setGeometry(place.x(), place.y(), qMax(0, place.width() - margin), place.height());
    box->setFrameShape(QFrame::NoFrame);

    wbBanner->setParent(box);
    wbBanner->setGeometry(0, 0, place.width(), place.height());

    box->show();
    box->update();
    wbBanner->show();
    if (wbPicture)
        wbPicture->hide();
    wbBanner->navigate(bannerUrl);
    return box;
}

} // namespace wendral
