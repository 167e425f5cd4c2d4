#include "app/mainwindow.h"

#include "app/browsers.h"
#include "app/formtools.h"
#include "app/runtime.h"
#include "app/settingsstore.h"
#include "app/sharedstate.h"
#include "app/termination.h"
#include "app/tray.h"
#include "blocking/hotkey.h"
#include "blocking/tracker.h"
#include "branding/about.h"
#include "branding/banner.h"
#include "branding/profile.h"
#include "branding/skin.h"
#include "sitelists/listwidgetbox.h"
#include "sitelists/sitelists.h"
#include "sitelists/siteprompt.h"
#include "system/addremove.h"
#include "system/filehelpers.h"
#include "system/ietools.h"
#include "system/ontop.h"
#include "ui_Form1.h"
#include "windows/helpwindow.h"
#include "windows/website.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>

namespace wendral {
namespace {
QPointer<ShellWindows> g_shellSource;
bool g_startMinimized = false;

ShellWindows *shellSource()
{
    return g_shellSource ? g_shellSource.data() : programShellWindows();
}
} // namespace

void Form1::setShellWindowsSource(ShellWindows *source)
{
    g_shellSource = source;
}

void Form1::setStartMinimized(bool minimized)
{
    g_startMinimized = minimized;
}

void Form1::showOnRequest()
{
    if (m_loaded && !m_unloaded)
        restoreFromTray();
}

Form1::Form1(QWidget *parent) : QMainWindow(parent), ui(new Ui::Form1)
{
    ui->setupUi(this);
    applyDesignFonts(this);
    // The menu bar sits above the client area, which keeps its designed size.
    const QSize client(twipsToPixels(7605), twipsToPixels(6930));
    ui->centralwidget->setFixedSize(client.width(), client.height() - twipsToPixels(315));
    ui->StatusBar1->setFixedHeight(twipsToPixels(315));
    ui->StatusBar1->setSizeGripEnabled(false);
    adjustSize();
    setFixedDialogStyle(this);
    m_panels = std::make_unique<StatusPanels>(ui->StatusBar1);
    m_list1 = std::make_unique<ListWidgetBox>(ui->List1);
    m_list2 = std::make_unique<ListWidgetBox>(ui->List2);
    ui->pctHotkey->installEventFilter(this);
    connectControls();
}

Form1::~Form1()
{
    if (!m_unloaded) {
        decision::setOptions(nullptr);
        decision::setPromptHost(nullptr);
        setTerminationHandler({});
        setTrayMenuProvider({});
    }
    delete ui;
}

StatusPanels &Form1::panels() const
{
    return *m_panels;
}
QMenu *Form1::popupMenu() const
{
    return ui->Popup;
}

void Form1::connectControls()
{
    connect(ui->Check1, &QCheckBox::toggled, this, &Form1::Check1_Click);
    connect(ui->Check2, &QCheckBox::toggled, this, &Form1::Check2_Click);
    connect(ui->Check3, &QCheckBox::toggled, this, &Form1::Check3_Click);
    connect(ui->Check4, &QCheckBox::toggled, this, &Form1::Check4_Click);
    connect(ui->Check5, &QCheckBox::toggled, this, &Form1::Check5_Click);
    connect(ui->Check6, &QCheckBox::toggled, this, &Form1::Check6_Click);
    connect(ui->Command1, &QAbstractButton::clicked, this, &Form1::Command1_Click);
    connect(ui->Command2, &QAbstractButton::clicked, this, &Form1::Command2_Click);
    connect(ui->Command3, &QAbstractButton::clicked, this, &Form1::Command3_Click);
    connect(ui->Command4, &QAbstractButton::clicked, this, &Form1::Command4_Click);
    connect(ui->Command5, &QAbstractButton::clicked, this, &Form1::toggleAllowNext);
    connect(ui->Command6, &QAbstractButton::clicked, this, &Form1::minimizeToTaskbar);
    connect(ui->Command7, &QAbstractButton::clicked, this, &Form1::Command7_Click);

    connect(ui->mnuFileItem_1, &QAction::triggered, this, &Form1::unload);
    connect(ui->mnuActionItem_0, &QAction::triggered, this, &Form1::minimizeToTaskbar);
    connect(ui->mnuActionItem_1, &QAction::triggered, this, &Form1::toggleAllowNext);
    connect(ui->mnuToolsItem_0, &QAction::triggered, this, [] { AddToolbarButton(); });
    connect(ui->mnuToolsItem_1, &QAction::triggered, this, [] { RemoveToolbarButton(); });
    connect(ui->mnuHelpItem_0, &QAction::triggered, this, &Form1::mnuHelpItem_Click);
    connect(ui->mnuAboutItem_0, &QAction::triggered, this, &Form1::mnuAboutItem_Click);

    // Tray menu: "Close this menu" only closes the menu.
    connect(ui->show, &QAction::triggered, this, &Form1::restoreFromTray);
    connect(ui->allow, &QAction::triggered, this, &Form1::toggleAllowNext);
    connect(ui->Exit, &QAction::triggered, this, &Form1::unload);
}

void Form1::Form_Load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    SharedState &s = shared();
    const Profile &p = profile();

    // 1-3: pass cleared, captions from the profile.
    s.allowNext = false;
    setWindowTitle(p.productName + QStringLiteral(" by ") + p.companyName);
    ui->Command7->setText(QStringLiteral("Visit ") + p.website);

    // 4-6: registry object, tray icon, stacking object.
    VarAddRemove = std::make_unique<AddRemove>();
    m_trayId = static_cast<quint32>(windowIcon().cacheKey());
    setTrayMenuProvider([this]() -> QMenu * { return ui->Popup; });
    AddTrayIcon(this, m_trayId, windowIcon(), QStringLiteral("Animated TrayIcon"));
    onTop = std::make_unique<clsOnTop>();
    s.alwaysOnTop = false;

    // 7: options from the store; each one that comes on runs its handler
    // (their messages are lost: panel 2 does not exist yet).
    ui->Check6->setChecked(Settings::readToggle(Settings::kLinks, Settings::kDefaultLinks) == 1);
    ui->Check5->setChecked(Settings::readToggle(Settings::kSound, Settings::kDefaultSound) == 1);
    ui->Check4->setChecked(Settings::readToggle(Settings::kRunAtStart, Settings::kDefaultRunAtStart) == 1);
    ui->Check3->setChecked(Settings::readToggle(Settings::kOnTop, Settings::kDefaultOnTop) == 1);
    ui->Check2->setChecked(Settings::readToggle(Settings::kAuto, Settings::kDefaultAuto) == 1);
    ui->Check1->setChecked(Settings::readToggle(Settings::kStopPop, Settings::kDefaultStopPop) == 1);

    // 8-9: counter and window state.
    s.blockedCount = Settings::readCount(Settings::kStopped, Settings::kDefaultStopped);
    m_state = Settings::read(Settings::kState, Settings::kDefaultState);

    // 10: two more panels, half the window's width each; the counter text.
    m_panels->addPanel();
    m_panels->addPanel();
    const int half = pixelsToTwips(width()) / 2;
    m_panels->setWidthTwips(1, half);
    m_panels->setWidthTwips(2, half);
    m_panels->setText(1, QString::number(s.blockedCount) + QStringLiteral(" Popups blocked to date"));

    // 11: list files (created when missing), then the lists.
    Module1::setListBoxes(m_list1.get(), m_list2.get());
    Module1::ensureListFiles(p.website);
    Module1::loadAllowed();
    Module1::loadDisallowed();

    // 12: a stored state other than exactly "up" starts minimised, and so
    // does every start with --minimized.
    const bool startShown = m_state == QLatin1String("up") && !g_startMinimized;
    setWindowState(startShown ? Qt::WindowNoState : Qt::WindowMinimized);

    // 13-14: Super+Z, and the tracker: from now on every browser is watched.
    HookWindow(this, ui->pctHotkey);
    setTerminationHandler([this] {
        if (!m_unloaded)
            unload();
        else
            QCoreApplication::quit();
    });
    decision::setOptions(this);
    decision::setPromptHost(this);
    m_tracker.reset();
    m_tracker = std::make_unique<cIEWindows>(shellSource());

    // 15: skin.
    skinLoadStep(this, SkinLabelRules::byContainer({QStringLiteral("SkinLabel1"), QStringLiteral("SkinLabel2")}));

    // 16: room for the banner, then the banner itself.
    if (p.bannerEnabled) {
        const int grow = ui->wbBanner->height() + twipsToPixels(100);
        ui->Frame1->move(ui->Frame1->x(), ui->Frame1->y() + grow);
        ui->Frame2->move(ui->Frame2->x(), ui->Frame2->y() + grow);
        ui->centralwidget->setFixedHeight(ui->centralwidget->height() + grow);
        setFixedSize(width(), height() + grow);
        PlaceBanner(this, ui->wbBanner, ui->wbPicture, p.bannerUrl);
    }

    // 17: the browser toolbar probe.
    ProbeToolbarButton();

    // 18: the help window, when the setting says exactly "1".
    if (Settings::read(Settings::kShowHelp, Settings::kDefaultShowHelp) == QLatin1String("1")) {
        QWidget *help = Form8::open();
        if (s.alwaysOnTop && help)
            onTop->MakeTopMost(help);
    }
}

void Form1::showLoaded()
{
    const bool minimised = windowState() & Qt::WindowMinimized;
    if (minimised && trayAvailable()) {
        // Straight into the tray: the state handler records "down".
        windowStateChanged();
        return;
    }
    // Without a tray the window starts minimised on the taskbar. On X11 a
    // window that is minimised before it is first mapped comes up normal, so
    // it is shown first and minimised from the event queue.
    if (minimised)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    centerOnScreen(this);
    show();
    if (minimised) {
        QMetaObject::invokeMethod(
            this, [this] { setWindowState(windowState() | Qt::WindowMinimized); }, Qt::QueuedConnection);
    }
}

// ---- options ----

int Form1::check1() const
{
    return ui->Check1->isChecked() ? 1 : 0;
}
int Form1::check2() const
{
    return ui->Check2->isChecked() ? 1 : 0;
}
int Form1::check5() const
{
    return ui->Check5->isChecked() ? 1 : 0;
}
int Form1::check6() const
{
    return ui->Check6->isChecked() ? 1 : 0;
}

void Form1::setMessage(const QString &text)
{
    m_panels->setText(2, text); // fails quietly while panel 2 does not exist
}

void Form1::Check1_Click(bool on)
{
    setMessage(on ? QStringLiteral("Now blocking popups") : QStringLiteral("Now allowing popups"));
}

void Form1::Check2_Click(bool on)
{
    setMessage(on ? QStringLiteral("Setup Mode Enabled") : QStringLiteral("Setup Mode Disabled"));
}

void Form1::Check3_Click(bool on)
{
    if (!onTop)
        onTop = std::make_unique<clsOnTop>();
    if (on)
        onTop->MakeTopMost(this);
    else
        onTop->MakeNormal(this);
    shared().alwaysOnTop = on;
    setMessage(on ? QStringLiteral("Always On Top Enabled") : QStringLiteral("Always On Top Disabled"));
    Settings::write(Settings::kOnTop, on ? QStringLiteral("1") : QStringLiteral("0"));
}

void Form1::Check4_Click(bool on)
{
    if (!VarAddRemove)
        VarAddRemove = std::make_unique<AddRemove>();
    if (on)
        VarAddRemove->AddToRun(App::productName(), App::exeFullPath());
    else
        VarAddRemove->RemoveFromRun(App::productName());
    setMessage(on ? QStringLiteral("Run On Startup Enabled") : QStringLiteral("Run On Startup Disabled"));
}

void Form1::Check5_Click(bool on)
{
    setMessage(on ? QStringLiteral("Sounds Enabled") : QStringLiteral("Sounds Disabled"));
    Settings::write(Settings::kSound, on ? QStringLiteral("1") : QStringLiteral("0"));
}

void Form1::Check6_Click(bool on)
{
    setMessage(on ? QStringLiteral("Auto New Window Enabled") : QStringLiteral("Auto New Window Disabled"));
}

// ---- site list buttons ----

void Form1::Command1_Click()
{
    Module1::commandAddAllowed(ui->Text1->text());
}
void Form1::Command4_Click()
{
    Module1::commandAddDisallowed(ui->Text2->text());
}
void Form1::Command2_Click()
{
    Module1::commandDeleteAllowed();
}
void Form1::Command3_Click()
{
    Module1::commandDeleteDisallowed();
}

// ---- commands ----

void Form1::toggleAllowNext()
{
    const bool was = shared().allowNext;
    shared().allowNext = !was;
    setMessage(was ? QStringLiteral("The next popup will NOT be allowed.")
                   : QStringLiteral("The next popup will be allowed."));
}

void Form1::minimizeToTaskbar()
{
    setWindowState(windowState() | Qt::WindowMinimized);
    if (!isVisible() || !trayAvailable())
        windowStateChanged();
}

void Form1::Command7_Click()
{
    frmWebsite::open();
}

void Form1::mnuHelpItem_Click()
{
    QWidget *help = Form8::open();
    if (shared().alwaysOnTop && help)
        onTop->MakeTopMost(help);
}

void Form1::mnuAboutItem_Click()
{
    QWidget *about = frmAbout::open();
    if (shared().alwaysOnTop && about)
        onTop->MakeTopMost(about);
}

// ---- window state and tray ----

void Form1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_loaded && !m_unloaded && isVisible())
        windowStateChanged();
}

void Form1::windowStateChanged()
{
    if (windowState() & Qt::WindowMinimized) {
        m_state = QStringLiteral("down");
        // Without a notification area a hidden window could never come back:
        // it then stays minimised on the taskbar.
        if (trayAvailable())
            QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
        else if (!isVisible())
            showMinimized();
        Settings::write(Settings::kState, m_state);
    } else {
        m_state = QStringLiteral("up");
        if (!isVisible())
            show();
        Settings::write(Settings::kState, m_state);
    }
}

void Form1::restoreFromTray()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    windowStateChanged();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // Super+Z arrives as a queued mouse move on the hidden picture box.
    if (watched == ui->pctHotkey && (event->type() == QEvent::MouseMove || event->type() == HotkeyEvent::eventType())) {
        toggleAllowNext();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- the setup-mode prompt ----

bool Form1::showPrompt()
{
    if (!m_prompt || m_prompt->isUnloaded()) {
        m_prompt = new Form3(this);
        m_prompt->Form_Load();
    }
    m_prompt->show();
    m_prompt->raise();
    return true;
}

// ---- unload ----

void Form1::closeEvent(QCloseEvent *event)
{
    // Closing is never refused.
    event->accept();
    unload();
}

void Form1::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    SharedState &s = shared();

    Settings::UnloadSnapshot snap;
    snap.check4 = ui->Check4->isChecked() ? 1 : 0;
    snap.check3 = ui->Check3->isChecked() ? 1 : 0;
    snap.check2 = ui->Check2->isChecked() ? 1 : 0;
    snap.check1 = ui->Check1->isChecked() ? 1 : 0;
    snap.blockedCount = s.blockedCount;
    snap.allowedList = s.allowedList;
    snap.disallowedList = s.disallowedList;
    snap.check6 = ui->Check6->isChecked() ? 1 : 0;
    snap.state = m_state;
    Settings::saveOnUnload(snap);

    RemoveTrayIcon(m_trayId);
    UnhookWindow();
    m_tracker.reset();
    decision::setOptions(nullptr);
    decision::setPromptHost(nullptr);
    hide();
    emit unloaded();

    if (frmWebsite *web = frmWebsite::instance(); web && web->isVisible()) {
        s.endOnWebsiteClose = true;
        return; // the program lives on until the website window closes
    }
    skinShutdownStep();
    QCoreApplication::exit(0);
}

} // namespace wendral
