#include "web/websitewindow.h"

#include "ui_websitewindow.h"

#include "core/profile.h"
#include "forms/formtools.h"
#include "forms/skin.h"
#include "forms/twips.h"
#include "platform/windowstacker.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QStatusBar>
#include <QWebEnginePage>
#include <QWebEngineView>

// The browser's buttons are resources of this library, which a static
// library only links in when something names them.
static void initAssets()
{
    Q_INIT_RESOURCE(website);
}

namespace wendral {
namespace {
// The layout's status bar height: 315 twips.
constexpr int kStatusBarHeightTwips = 315;
} // namespace

WebsiteWindow::WebsiteWindow(WebsiteContext &context) : ui(std::make_unique<Ui::WebsiteWindow>()), m_context(context)
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
    connect(ui->Command3, &QAbstractButton::clicked, this, [this] { go(); });
    // Back, forward, stop and reload simply do nothing when they cannot act.
    connect(ui->Command4, &QAbstractButton::clicked, ui->WebBrowser1, &QWebEngineView::back);
    connect(ui->Command5, &QAbstractButton::clicked, ui->WebBrowser1, &QWebEngineView::forward);
    connect(ui->Command6, &QAbstractButton::clicked, ui->WebBrowser1, &QWebEngineView::stop);
    connect(ui->Command7_1, &QAbstractButton::clicked, ui->WebBrowser1, &QWebEngineView::reload);

    QWebEnginePage *page = ui->WebBrowser1->page();
    connect(page, &QWebEnginePage::linkHovered, this, &WebsiteWindow::onStatusTextChange);
    connect(page, &QWebEnginePage::loadStarted, this, &WebsiteWindow::onLoadStarted);
    connect(page, &QWebEnginePage::loadFinished, this, &WebsiteWindow::onLoadFinished);
    connect(page, &QWebEnginePage::titleChanged, this, &WebsiteWindow::onTitleChanged);

    load();
}

WebsiteWindow::~WebsiteWindow() = default;

void WebsiteWindow::load()
{
    // The profile is filled again from the build: the window may be the first
    // thing that needs it.
    m_context.profile = BrandingProfile::fromBuild();
    m_panels->addPanel();
    setWindowTitle(m_context.profile.website);
    WindowStacker &stacker = m_context.stacker;
    stacker.keepOnTop(this, true);
    m_context.skin.loadStep(this, SkinLabelRules::byContainer({QStringLiteral("SkinLabel1")}));
    navigate(m_context.profile.website);
    setWindowState(windowState() | Qt::WindowMaximized);
    stacker.keepOnTop(this, false);
}

WebsiteWindow *WebsiteWindow::open(WebsiteContext &context)
{
    if (!context.window) {
        context.window = new WebsiteWindow(context);
        centerOnScreen(context.window);
    }
    WebsiteWindow *w = context.window;
    if (w->windowState() & Qt::WindowMinimized)
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

QWebEngineView *WebsiteWindow::browser() const
{
    return ui->WebBrowser1;
}
QLineEdit *WebsiteWindow::addressBox() const
{
    return ui->Text1;
}
QStatusBar *WebsiteWindow::statusBar() const
{
    return ui->StatusBar1;
}

QWidget *WebsiteWindow::control(const QString &name) const
{
    return findChild<QWidget *>(name);
}

int WebsiteWindow::panelCount() const
{
    return m_panels->count();
}
QString WebsiteWindow::panelText(int index) const
{
    return m_panels->text(index);
}
int WebsiteWindow::panelWidthTwips(int index) const
{
    return m_panels->widthTwips(index);
}

void WebsiteWindow::placeStatusBar()
{
    // The status bar is aligned to the bottom edge of the client area.
    const int h = ui->StatusBar1->height();
    ui->StatusBar1->setGeometry(0, height() - h, width(), h);
}

void WebsiteWindow::arrangeControls()
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

bool WebsiteWindow::navigate(const QString &address)
{
    const QUrl url = websiteAddress(address);
    if (!url.isValid())
        return false;
    ui->WebBrowser1->load(url);
    return true;
}

bool WebsiteWindow::go()
{
    return navigate(ui->Text1->text());
}

void WebsiteWindow::paintEvent(QPaintEvent *event)
{
    arrangeControls();
    QWidget::paintEvent(event);
}

void WebsiteWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeStatusBar();
    arrangeControls();
}

void WebsiteWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Closing unloads the window at once: an opening from now on loads a new
    // window instead of showing this one, which is on its way out.
    if (m_context.window == this)
        m_context.window = nullptr;
    emit closed();
}

bool WebsiteWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Text1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            go();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void WebsiteWindow::onStatusTextChange(const QString &text)
{
    m_panels->setText(1, text);
}

void WebsiteWindow::onLoadStarted()
{
    m_loading = true;
    m_panels->setText(2, QStringLiteral("Opening ") + ui->WebBrowser1->url().toString());
}

void WebsiteWindow::onLoadFinished()
{
    m_loading = false;
    m_completedOnce = true;
    const QString location = ui->WebBrowser1->url().toString();
    m_panels->setText(2, QStringLiteral("Completed ") + location);
    ui->Text1->setText(location);
    setWindowTitle(ui->WebBrowser1->title());
}

void WebsiteWindow::onTitleChanged(const QString &title)
{
    // A page may name itself only after its load completed; the caption
    // follows it then. While a load runs the caption waits for its end.
    if (m_completedOnce && !m_loading)
        setWindowTitle(title);
}

} // namespace wendral
