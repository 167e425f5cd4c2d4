#include "branding/about.h"

#include "ui_frmAbout.h"

#include "app/formtools.h"
#include "app/runtime.h"
#include "branding/profile.h"
#include "branding/skin.h"
#include "windows/website.h"

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
namespace {
QPointer<frmAbout> g_instance;
}

frmAbout::frmAbout(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::frmAbout>())
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
    Form_Load();
    if (!g_instance)
        g_instance = this;
}

frmAbout::~frmAbout()
{
    if (g_instance == this)
        g_instance = nullptr;
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + profile().productName);
    ui->Label1->setText(App::productName());
    ui->lblCompany->setText(App::companyName());
    ui->lblVersion->setText(QString::number(App::major()) + QLatin1Char('.') + QString::number(App::minor()));
    ui->lblWebsite->setText(App::comments());
    skinLoadStep(this, SkinLabelRules::always(QStringLiteral("SkinLabel1")));
}

frmAbout *frmAbout::open()
{
    if (!g_instance)
        g_instance = new frmAbout;
    frmAbout *w = g_instance;
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

frmAbout *frmAbout::instance()
{
    return g_instance;
}

QLabel *frmAbout::label(const QString &name) const
{
    return findChild<QLabel *>(name);
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->lblWebsite && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            lblWebsite_Click();
            return true;
        }
    }
    if (watched == ui->lblWebsite && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && ui->lblWebsite->rect().contains(mouse->position().toPoint())) {
            lblWebsite_Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmAbout::lblWebsite_Click()
{
    // The About window stays open.
    frmWebsite::open();
}

} // namespace wendral
