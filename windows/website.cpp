#include "windows/website.h"

#include "ui_frmWebsite.h"

#include "app/formtools.h"
#include "app/runtime.h"
#include "app/sharedstate.h"
#include "branding/profile.h"
#include "branding/skin.h"
#include "system/ontop.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QStatusBar>
#include <QWebEnginePage>
#include <QWebEngineView>

// The artwork lives in the core library's resources, which a static library
// only links in when something names them.
static void initAssets()
{
    Q_INIT_RESOURCE(assets);
}

namespace wendral {
namespace {
QPointer<frmWebsite> g_instance;

// The layout's status bar height: 315 twips.
constexpr int kStatusBarHeightTwips = 315;
} // namespace

frmWebsite::frmWebsite(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::frmWebsite>())
{
    initAssets();
    ui->setupUi(this);
    applyDesignFonts(this);
    // Closing unloads the window; the next opening loads it anew.
    setAttribute(Qt::WA_DeleteOnClose);
    // Whether closing this window ends the program is decided by
    // endOnWebsiteClose alone, never by it being the last window shown.
    setAttribute(Qt::WA_QuitOnClose, false);

    // A label is drawn beneath the controls around it: "URL:" must not take
    // the clicks meant for the address box it overlaps.
    ui->Label5->lower();
    ui->StatusBar1->setSizeGripEnabled(false);
    ui->StatusBar1->setFixedHeight(twipsToPixels(kStatusBarHeightTwips));
    // A fresh status bar has one panel.
    m_panels = std::make_unique<StatusPanels>(ui->StatusBar1);

    // The layout's client size, centred on the screen for when the window is
    // restored from maximised.
    resize(twipsToPixels(10545), twipsToPixels(8580));
    centerOnScreen(this);

    ui->Text1->installEventFilter(this);
    connect(ui->Command3, &QAbstractButton::clicked, this, [this] { Go(); });
    // Back, forward, stop and reload simply do nothing when they cannot act.
    connect(ui->Command4, &QAbstractButton::clicked, ui->WebBrowser1, &QWebEngineView::back);
    connect(ui->Command5, &QAbstractButton::clicked, ui->WebBrowser1, &QWebEngineView::forward);
    connect(ui->Command6, &QAbstractButton::clicked, ui->WebBrowser1, &QWebEngineView::stop);
    connect(ui->Command7_1, &QAbstractButton::clicked, ui->WebBrowser1, &QWebEngineView::reload);

    QWebEnginePage *page = ui->WebBrowser1->page();
    connect(page, &QWebEnginePage::linkHovered, this, &frmWebsite::onStatusTextChange);
    connect(page, &QWebEnginePage::loadStarted, this, &frmWebsite::onDownloadBegin);
    connect(page, &QWebEnginePage::loadFinished, this, &frmWebsite::onDownloadComplete);
    connect(page, &QWebEnginePage::titleChanged, this, &frmWebsite::onTitleChanged);

    Form_Load();
    if (!g_instance)
        g_instance = this;
}

frmWebsite::~frmWebsite() = default;

void frmWebsite::Form_Load()
{
    InitProfile();
    m_panels->addPanel();
    setWindowTitle(profile().website);
    SetFormOnTop(this, true);
    skinLoadStep(this, SkinLabelRules::byContainer({QStringLiteral("SkinLabel1")}));
    Navigate(profile().website);
    setWindowState(windowState() | Qt::WindowMaximized);
    SetFormOnTop(this, false);
}

frmWebsite *frmWebsite::open()
{
    if (!g_instance)
        g_instance = new frmWebsite;
    frmWebsite *w = g_instance;
    if (w->windowState() & Qt::WindowMinimized)
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

frmWebsite *frmWebsite::instance()
{
    return g_instance;
}

QWebEngineView *frmWebsite::WebBrowser1() const
{
    return ui->WebBrowser1;
}
QLineEdit *frmWebsite::Text1() const
{
    return ui->Text1;
}
QStatusBar *frmWebsite::StatusBar1() const
{
    return ui->StatusBar1;
}

QWidget *frmWebsite::control(const QString &name) const
{
    return findChild<QWidget *>(name);
}

int frmWebsite::panelCount() const
{
    return m_panels->count();
}
QString frmWebsite::panelText(int index) const
{
    return m_panels->text(index);
}
int frmWebsite::panelWidthTwips(int index) const
{
    return m_panels->widthTwips(index);
}

void frmWebsite::placeStatusBar()
{
    // The status bar is aligned to the bottom edge of the client area.
    const int h = ui->StatusBar1->height();
    ui->StatusBar1->setGeometry(0, height() - h, width(), h);
}

void frmWebsite::ArrangeControls()
{
    WebsiteMetrics m;
    const QRect outer = frameGeometry();
    m.windowWidth = pixelsToTwips(outer.width());
    m.windowHeight = pixelsToTwips(outer.height());
    m.statusBarHeight = pixelsToTwips(ui->StatusBar1->height());
    m.text1Left = pixelsToTwips(ui->Text1->x());
    m.command3Width = pixelsToTwips(ui->Command3->width());
    m.browserLeft = pixelsToTwips(ui->WebBrowser1->x());
    m.browserTop = pixelsToTwips(ui->WebBrowser1->y());
    const WebsiteArrangement a = arrangeWebsiteControls(m);
    m_arranged = a;

    m_panels->setWidthTwips(1, a.panel1Width);
    m_panels->setWidthTwips(2, a.panel2Width);
    ui->frmBrowser->resize(twipsToPixels(a.frameWidth), twipsToPixels(a.frameHeight));
    ui->Text1->resize(twipsToPixels(a.text1Width), ui->Text1->height());
    ui->Command3->move(twipsToPixels(a.command3Left), ui->Command3->y());
    ui->WebBrowser1->resize(twipsToPixels(a.browserWidth), twipsToPixels(a.browserHeight));
}

bool frmWebsite::Navigate(const QString &address)
{
    const QUrl url = websiteAddress(address);
    if (!url.isValid())
        return false;
    ui->WebBrowser1->load(url);
    return true;
}

bool frmWebsite::Go()
{
    return Navigate(ui->Text1->text());
}

void frmWebsite::paintEvent(QPaintEvent *event)
{
    ArrangeControls();
    QWidget::paintEvent(event);
}

void frmWebsite::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeStatusBar();
    ArrangeControls();
}

void frmWebsite::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (g_instance == this)
        g_instance = nullptr;
    if (shared().endOnWebsiteClose) {
        // The main window is gone already: this is the end of the program.
        skinShutdownStep();
        QCoreApplication::exit(0);
    }
}

bool frmWebsite::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Text1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Go();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmWebsite::onStatusTextChange(const QString &text)
{
    m_panels->setText(1, text);
}

void frmWebsite::onDownloadBegin()
{
    m_loading = true;
    m_panels->setText(2, QStringLiteral("Opening ") + ui->WebBrowser1->url().toString());
}

void frmWebsite::onDownloadComplete()
{
    m_loading = false;
    m_completedOnce = true;
    const QString location = ui->WebBrowser1->url().toString();
    m_panels->setText(2, QStringLiteral("Completed ") + location);
    ui->Text1->setText(location);
    setWindowTitle(ui->WebBrowser1->title());
}

void frmWebsite::onTitleChanged(const QString &title)
{
    // A page may name itself only after its load completed; the caption
    // follows it then. While a load runs the caption waits for its end.
    if (m_completedOnce && !m_loading)
        setWindowTitle(title);
}

} // namespace wendral
