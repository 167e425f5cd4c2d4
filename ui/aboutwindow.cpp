#include "ui/aboutwindow.h"

#include "ui_aboutwindow.h"

#include "core/productinfo.h"
#include "core/profile.h"
#include "forms/formtools.h"
#include "forms/skin.h"
#include "forms/twips.h"
#include "ui/openwindows.h"
#include "ui/uicontext.h"
#include "ui/webcontent.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>

// The artwork lives in the core library's resources, which a static library
// only links in when something names them.
static void initAssets()
{
    Q_INIT_RESOURCE(assets);
}

namespace wendral {

AboutWindow::AboutWindow(UiContext &context) : ui(std::make_unique<Ui::AboutWindow>()), m_context(context)
{
    initAssets();
    ui->setupUi(this);
    applyDesignFonts(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(twipsToPixels(7455), twipsToPixels(2535));
    setFixedDialogStyle(this);
    centerOnScreen(this);
    ui->lblWebsite->installEventFilter(this);
    // The web address can be reached with Tab and opened with Enter or Space.
    ui->lblWebsite->setFocusPolicy(Qt::StrongFocus);
    // Qt links only focusable widgets into the tab order, so the labels take
    // focus just while the layout's order is linked.
    const QList<QWidget *> order{ui->Label2,     ui->Label3,   ui->Label4, ui->lblWebsite,  ui->lblCompany,
                                 ui->lblVersion, ui->Picture1, ui->Label1, ui->SkinLabel1_0};
    QList<Qt::FocusPolicy> policies;
    for (QWidget *w : order) {
        policies.append(w->focusPolicy());
        if (w->focusPolicy() == Qt::NoFocus)
            w->setFocusPolicy(Qt::TabFocus);
    }
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
    for (qsizetype i = 0; i < order.size(); ++i)
        order.at(i)->setFocusPolicy(policies.at(i));
    load();
}

AboutWindow::~AboutWindow() = default;

void AboutWindow::load()
{
    setWindowTitle(QStringLiteral("About ") + m_context.profile.productName);
    ui->Label1->setText(ProductInfo::productName());
    ui->lblCompany->setText(ProductInfo::companyName());
    ui->lblVersion->setText(QString::number(ProductInfo::versionMajor()) + QLatin1Char('.') +
                            QString::number(ProductInfo::versionMinor()));
    ui->lblWebsite->setText(ProductInfo::website());
    m_context.skin.loadStep(this, SkinLabelRules::always(QStringLiteral("SkinLabel1")));
}

AboutWindow *AboutWindow::open(UiContext &context)
{
    return openSingleWindow(context.windows.about, context);
}

QLabel *AboutWindow::label(const QString &name) const
{
    return findChild<QLabel *>(name);
}

bool AboutWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->lblWebsite && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            openWebsite();
            return true;
        }
    }
    if (watched == ui->lblWebsite && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && ui->lblWebsite->rect().contains(mouse->position().toPoint())) {
            openWebsite();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void AboutWindow::openWebsite()
{
    // The About window stays open.
    if (m_context.web)
        m_context.web->openWebsite();
}

} // namespace wendral
