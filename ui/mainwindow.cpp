#include "ui/mainwindow.h"

#include "blocking/browsertracker.h"
#include "core/paths.h"
#include "core/productinfo.h"
#include "core/profile.h"
#include "core/programstate.h"
#include "core/settingsstore.h"
#include "core/sitelists.h"
#include "core/toolbarbutton.h"
#include "forms/formtools.h"
#include "forms/skin.h"
#include "forms/twips.h"
#include "platform/globalhotkey.h"
#include "platform/linux/desktoplaunchers.h"
#include "platform/notifier.h"
#include "platform/platformservices.h"
#include "platform/shellentries.h"
#include "platform/trayicon.h"
#include "platform/windowstacker.h"
#include "ui/aboutwindow.h"
#include "ui/banner.h"
#include "ui/helpwindow.h"
#include "ui/hotkeybinding.h"
#include "ui/listwidgetbox.h"
#include "ui/openwindows.h"
#include "ui/siteprompt.h"
#include "ui/uicontext.h"
#include "ui/webcontent.h"

#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFrame>
#include <QMenu>
#include <QSignalBlocker>
#include <QTimer>

namespace wendral {

MainWindow::MainWindow(UiContext &context) : ui(new Ui::MainWindow), m_context(context)
{
    ui->setupUi(this);
    applyDesignFonts(this);
    // The menu bar sits above the client area, which keeps its layout size.
    const QSize client(twipsToPixels(7605), twipsToPixels(6930));
    ui->centralwidget->setFixedSize(client.width(), client.height() - twipsToPixels(315));
    ui->StatusBar1->setFixedHeight(twipsToPixels(315));
    ui->StatusBar1->setSizeGripEnabled(false);
    adjustSize();
    setFixedDialogStyle(this);
    m_panels = std::make_unique<StatusPanels>(ui->StatusBar1);
    m_allowedBox = std::make_unique<ListWidgetBox>(ui->List1);
    m_disallowedBox = std::make_unique<ListWidgetBox>(ui->List2);
    ui->pctHotkey->installEventFilter(this);
    connectControls();
    addWatchItems();
    if (WebContent *web = m_context.web) {
        connect(web, &WebContent::bannerWindowChanged, ui->wbBanner, &BannerStrip::embed);
        connect(web, &WebContent::websiteClosed, this, &MainWindow::onWebsiteClosed);
    }
}

MainWindow::~MainWindow()
{
    // Only what this window attached is detached again.
    PopupDecider &decider = m_context.decider;
    if (decider.options() == this)
        decider.setOptions(nullptr);
    if (decider.question() == this)
        decider.setQuestion(nullptr);
    if (m_context.lists.allowed().listBox() == m_allowedBox.get())
        m_context.lists.allowed().setListBox(nullptr);
    if (m_context.lists.disallowed().listBox() == m_disallowedBox.get())
        m_context.lists.disallowed().setListBox(nullptr);
    m_tracker.reset();
    m_hotkey.reset();
    if (m_context.web) {
        disconnect(m_context.web, nullptr, this, nullptr);
        disconnect(m_context.web, nullptr, ui->wbBanner, nullptr);
    }
    delete ui;
}

void MainWindow::addWatchItems()
{
    // What is watched, where a user looks without being disturbed: greyed
    // information at the top of the tray menu, and the same in the Tools menu
    // (the only place where there is no notification area), just above the
    // option that changes it.
    m_watchInfo = new QAction(this);
    m_watchInfo->setObjectName(QStringLiteral("watchInfo"));
    m_watchInfo->setEnabled(false);
    QAction *firstTrayItem = ui->Popup->actions().value(0);
    ui->Popup->insertAction(firstTrayItem, m_watchInfo);
    ui->Popup->insertSeparator(firstTrayItem);

    m_watchLaunchers = new QAction(QStringLiteral("Watch browsers started from the desktop"), this);
    m_watchLaunchers->setObjectName(QStringLiteral("mnuToolsWatchLaunchers"));
    m_watchLaunchers->setCheckable(true);
    ui->mnuTools->addSeparator();
    ui->mnuTools->addAction(m_watchInfo);
    ui->mnuTools->addAction(m_watchLaunchers);
    connect(m_watchLaunchers, &QAction::toggled, this, &MainWindow::onWatchLaunchersToggled);

    if (BrowserWindows *browsers = m_context.browsers)
        connect(browsers, &BrowserWindows::browsersChanged, this, &MainWindow::updateWatchInfo);
    updateWatchInfo();
}

void MainWindow::updateWatchInfo()
{
    const BrowserWindows *browsers = m_context.browsers;
    m_watchInfo->setText(
        browsers ? watchSummary(browsers->watchedBrowserCount(), static_cast<int>(browsers->unwatchedBrowsers().size()))
                 : watchSummary(0, 0));
}

DesktopLaunchers &MainWindow::launchers()
{
    if (!m_launchers) {
        m_launchers = std::make_unique<DesktopLaunchers>(
            DesktopLaunchers::forCurrentUser(Paths::programFile(QStringLiteral("wendral-browser"))));
    }
    return *m_launchers;
}

void MainWindow::onWatchLaunchersToggled(bool on)
{
    DesktopLaunchers &entries = launchers();
    const DesktopLaunchers::Report report = on ? entries.turnOn() : entries.turnOff();
    setMessage(DesktopLaunchers::describe(report, on));
    // The check mark says what is on disk now (nothing to write: still off).
    const QSignalBlocker quiet(m_watchLaunchers);
    m_watchLaunchers->setChecked(entries.isOn());
}

void MainWindow::refreshLaunchers()
{
    DesktopLaunchers &entries = launchers();
    const bool on = entries.isOn();
    {
        const QSignalBlocker quiet(m_watchLaunchers);
        m_watchLaunchers->setChecked(on);
    }
    if (!on)
        return;
    // Browsers installed or updated since: their entries follow. Only a
    // problem is worth a message at every start.
    const DesktopLaunchers::Report report = entries.turnOn();
    if (!report.ok() || !report.skipped.isEmpty())
        setMessage(DesktopLaunchers::describe(report, true));
}

StatusPanels &MainWindow::panels() const
{
    return *m_panels;
}
QMenu *MainWindow::trayMenu() const
{
    return ui->Popup;
}

SitePrompt *MainWindow::prompt() const
{
    return m_prompt;
}
QFrame *MainWindow::bannerBox() const
{
    return m_bannerBox;
}

bool MainWindow::hotkeyRegistered() const
{
    return m_hotkey && m_hotkey->isRegistered();
}

void MainWindow::connectControls()
{
    connect(ui->Check1, &QCheckBox::toggled, this, &MainWindow::onBlockingToggled);
    connect(ui->Check2, &QCheckBox::toggled, this, &MainWindow::onSetupModeToggled);
    connect(ui->Check3, &QCheckBox::toggled, this, &MainWindow::onAlwaysOnTopToggled);
    connect(ui->Check4, &QCheckBox::toggled, this, &MainWindow::onRunAtStartupToggled);
    connect(ui->Check5, &QCheckBox::toggled, this, &MainWindow::onSoundToggled);
    connect(ui->Check6, &QCheckBox::toggled, this, &MainWindow::onLinkPopupsToggled);
    connect(ui->Command1, &QAbstractButton::clicked, this, &MainWindow::addAllowedSite);
    connect(ui->Command2, &QAbstractButton::clicked, this, &MainWindow::deleteAllowedSite);
    connect(ui->Command3, &QAbstractButton::clicked, this, &MainWindow::deleteDisallowedSite);
    connect(ui->Command4, &QAbstractButton::clicked, this, &MainWindow::addDisallowedSite);
    connect(ui->Command5, &QAbstractButton::clicked, this, &MainWindow::toggleAllowNext);
    connect(ui->Command6, &QAbstractButton::clicked, this, &MainWindow::minimizeToTaskbar);
    connect(ui->Command7, &QAbstractButton::clicked, this, &MainWindow::openWebsite);

    connect(ui->mnuFileItem_1, &QAction::triggered, this, &MainWindow::unload);
    connect(ui->mnuActionItem_0, &QAction::triggered, this, &MainWindow::minimizeToTaskbar);
    connect(ui->mnuActionItem_1, &QAction::triggered, this, &MainWindow::toggleAllowNext);
    connect(ui->mnuToolsItem_0, &QAction::triggered, this, [this] { m_toolbarButton->add(); });
    connect(ui->mnuToolsItem_1, &QAction::triggered, this, [this] { m_toolbarButton->remove(); });
    connect(ui->mnuHelpItem_0, &QAction::triggered, this, &MainWindow::openHelp);
    connect(ui->mnuAboutItem_0, &QAction::triggered, this, &MainWindow::openAbout);

    // Tray menu: "Close this menu" only closes the menu.
    connect(ui->show, &QAction::triggered, this, &MainWindow::restoreFromTray);
    connect(ui->allow, &QAction::triggered, this, &MainWindow::toggleAllowNext);
    connect(ui->Exit, &QAction::triggered, this, &MainWindow::unload);
}

void MainWindow::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    ProgramState &s = m_context.state;
    SettingsStore &settings = m_context.settings;
    PlatformServices &platform = m_context.platform;
    const BrandingProfile &p = m_context.profile;

    s.allowNext = false;
    setWindowTitle(p.productName + QStringLiteral(" by ") + p.companyName);
    ui->Command7->setText(QStringLiteral("Visit ") + p.website);

    m_shellEntries = std::make_unique<ShellEntries>(platform.autostart);
    m_toolbarButton = std::make_unique<ToolbarButton>();
    connect(platform.tray, &TrayIcon::menuRequested, this, &MainWindow::openTrayMenu, Qt::UniqueConnection);
    platform.tray->show(windowIcon());
    s.alwaysOnTop = false;

    // The options from the store; each one that comes on runs its handler
    // (their messages are lost: panel 2 does not exist yet).
    ui->Check6->setChecked(settings.readToggle(Settings::kLinks, Settings::kDefaultLinks));
    ui->Check5->setChecked(settings.readToggle(Settings::kSound, Settings::kDefaultSound));
    ui->Check4->setChecked(settings.readToggle(Settings::kRunAtStart, Settings::kDefaultRunAtStart));
    ui->Check3->setChecked(settings.readToggle(Settings::kOnTop, Settings::kDefaultOnTop));
    ui->Check2->setChecked(settings.readToggle(Settings::kAuto, Settings::kDefaultAuto));
    ui->Check1->setChecked(settings.readToggle(Settings::kStopPop, Settings::kDefaultStopPop));

    s.blockedCount = settings.readCount(Settings::kStopped, Settings::kDefaultStopped);
    m_state = settings.read(Settings::kState, Settings::kDefaultState);

    // Two more panels, half the window's width each; the counter text.
    m_panels->addPanel();
    m_panels->addPanel();
    const int half = pixelsToTwips(width()) / 2;
    m_panels->setWidthTwips(1, half);
    m_panels->setWidthTwips(2, half);
    m_panels->setText(1, QString::number(s.blockedCount) + QStringLiteral(" Popups blocked to date"));

    // Problems with the settings and list files are shown in panel 2; one
    // found while the options were read above is shown now.
    const QPointer<MainWindow> self(this);
    const auto showProblem = [self](const QString &message) {
        if (self && !self->m_unloaded)
            self->setMessage(message);
    };
    if (!settings.problem().isEmpty())
        setMessage(settings.problem());
    settings.setProblemObserver(showProblem);
    m_context.lists.allowed().setProblemObserver(showProblem);
    m_context.lists.disallowed().setProblemObserver(showProblem);

    // The desktop's browser entries, refreshed when the option is on.
    refreshLaunchers();

    // The list files (created when missing), then the lists.
    SiteLists &lists = m_context.lists;
    lists.allowed().setListBox(m_allowedBox.get());
    lists.disallowed().setListBox(m_disallowedBox.get());
    lists.ensureFiles(p.website);
    lists.allowed().load();
    lists.disallowed().load();

    // A stored state other than exactly "up" starts minimised.
    const bool minimized = m_forceMinimized || m_state != QLatin1String("up");
    setWindowState(minimized ? Qt::WindowMinimized : Qt::WindowNoState);

    // Super+Z, and the tracker: from now on every browser is watched.
    m_hotkey = std::make_unique<HotkeyBinding>(*platform.hotkey, ui->pctHotkey);
    m_context.decider.setOptions(this);
    m_context.decider.setQuestion(this);
    m_tracker.reset();
    m_tracker = std::make_unique<BrowserTracker>(m_context.browsers, m_context.decider);

    m_context.skin.loadStep(this,
                            SkinLabelRules::byContainer({QStringLiteral("SkinLabel1"), QStringLiteral("SkinLabel2")}));

    // Room for the banner, then the banner itself.
    if (p.bannerEnabled) {
        const int grow = ui->wbBanner->height() + twipsToPixels(100);
        ui->Frame1->move(ui->Frame1->x(), ui->Frame1->y() + grow);
        ui->Frame2->move(ui->Frame2->x(), ui->Frame2->y() + grow);
        ui->centralwidget->setFixedHeight(ui->centralwidget->height() + grow);
        setFixedSize(width(), height() + grow);
        m_bannerBox = placeBanner(this, ui->wbBanner, ui->wbPicture, p.bannerUrl);
    }

    m_toolbarButton->probe();

    // The help window, when the setting says exactly "1".
    if (helpWantedAtStartup(settings))
        openHelp();
}

void MainWindow::showLoaded()
{
    const bool minimised = windowState() & Qt::WindowMinimized;
    if (minimised && m_context.platform.tray->isAvailable()) {
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

bool MainWindow::blockingEnabled() const
{
    return ui->Check1->isChecked();
}
bool MainWindow::setupMode() const
{
    return ui->Check2->isChecked();
}
bool MainWindow::soundOnBlock() const
{
    return ui->Check5->isChecked();
}
bool MainWindow::allowLinkPopups() const
{
    return ui->Check6->isChecked();
}

void MainWindow::setMessage(const QString &text)
{
    m_panels->setText(2, text); // fails quietly while panel 2 does not exist
}

void MainWindow::onBlockingToggled(bool on)
{
    setMessage(on ? QStringLiteral("Now blocking popups") : QStringLiteral("Now allowing popups"));
    emit blockingEnabledChanged(on);
}

void MainWindow::onSetupModeToggled(bool on)
{
    setMessage(on ? QStringLiteral("Setup Mode Enabled") : QStringLiteral("Setup Mode Disabled"));
}

void MainWindow::onAlwaysOnTopToggled(bool on)
{
    m_context.platform.stacker->keepOnTop(this, on);
    m_context.state.alwaysOnTop = on;
    setMessage(on ? QStringLiteral("Always On Top Enabled") : QStringLiteral("Always On Top Disabled"));
    m_context.settings.writeToggle(Settings::kOnTop, on);
}

void MainWindow::onRunAtStartupToggled(bool on)
{
    if (!m_shellEntries)
        m_shellEntries = std::make_unique<ShellEntries>(m_context.platform.autostart);
    if (on)
        m_shellEntries->addToRun(ProductInfo::productName(), ProductInfo::executablePath());
    else
        m_shellEntries->removeFromRun(ProductInfo::productName());
    setMessage(on ? QStringLiteral("Run On Startup Enabled") : QStringLiteral("Run On Startup Disabled"));
}

void MainWindow::onSoundToggled(bool on)
{
    setMessage(on ? QStringLiteral("Sounds Enabled") : QStringLiteral("Sounds Disabled"));
    m_context.settings.writeToggle(Settings::kSound, on);
}

void MainWindow::onLinkPopupsToggled(bool on)
{
    setMessage(on ? QStringLiteral("Auto New Window Enabled") : QStringLiteral("Auto New Window Disabled"));
}

// ---- site list buttons ----

void MainWindow::addAllowedSite()
{
    m_context.lists.allowed().commandAdd(ui->Text1->text());
}
void MainWindow::addDisallowedSite()
{
    m_context.lists.disallowed().commandAdd(ui->Text2->text());
}
void MainWindow::deleteAllowedSite()
{
    m_context.lists.allowed().commandDelete();
}
void MainWindow::deleteDisallowedSite()
{
    m_context.lists.disallowed().commandDelete();
}

// ---- commands ----

void MainWindow::toggleAllowNext()
{
    bool &allowNext = m_context.state.allowNext;
    const bool was = allowNext;
    allowNext = !was;
    setMessage(was ? QStringLiteral("The next popup will NOT be allowed.")
                   : QStringLiteral("The next popup will be allowed."));
}

void MainWindow::minimizeToTaskbar()
{
    // With a notification area the window goes straight into it, hidden
    // before it is marked minimised: asked to iconify it first, a busy window
    // manager may carry that out only after the window has been shown again,
    // and send it straight back to the tray.
    if (isVisible() && m_context.platform.tray->isAvailable())
        hide();
    setWindowState(windowState() | Qt::WindowMinimized);
    if (!isVisible() || !m_context.platform.tray->isAvailable())
        windowStateChanged();
}

void MainWindow::openWebsite()
{
    if (m_context.web)
        m_context.web->openWebsite();
}

void MainWindow::onWebsiteClosed()
{
    // Asked to end while the website window was open: its closing is the end.
    if (m_unloaded && m_context.state.endOnWebsiteClose) {
        m_context.skin.shutdownStep();
        QCoreApplication::exit(0);
    }
}

// ---- the banner strip ----

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // After the window is on its way to the screen: the web helper starts
    // behind it, not before it.
    if (m_bannerBox)
        QTimer::singleShot(0, this, &MainWindow::requestBanner);
}

void MainWindow::requestBanner()
{
    if (!m_bannerBox || !m_context.web || !isVisible() || m_unloaded || m_bannerAsked)
        return;
    m_bannerAsked = true;
    BannerStrip *strip = ui->wbBanner;
    m_context.web->showBanner(strip->requestedUrl(), strip->size(), strip->palette().color(QPalette::Window));
}

void MainWindow::hideEvent(QHideEvent *event)
{
    QMainWindow::hideEvent(event);
    // Hidden (to the tray, or at the end), the strip needs no page: the
    // helper ends unless the website window still needs it.
    if (event->spontaneous() || !m_bannerBox)
        return;
    m_bannerAsked = false;
    ui->wbBanner->embed(0);
    if (m_context.web)
        m_context.web->hideBanner();
}

void MainWindow::openHelp()
{
    QWidget *help = HelpWindow::open(m_context);
    if (m_context.state.alwaysOnTop && help)
        m_context.platform.stacker->keepOnTop(help, true);
}

void MainWindow::openAbout()
{
    QWidget *about = AboutWindow::open(m_context);
    if (m_context.state.alwaysOnTop && about)
        m_context.platform.stacker->keepOnTop(about, true);
}

// ---- window state and tray ----

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_loaded && !m_unloaded && isVisible())
        windowStateChanged();
}

void MainWindow::windowStateChanged()
{
    if (windowState() & Qt::WindowMinimized) {
        m_state = QStringLiteral("down");
        // Without a notification area a hidden window could never come back:
        // it then stays minimised on the taskbar.
        if (m_context.platform.tray->isAvailable())
            QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
        else if (!isVisible())
            showMinimized();
    } else {
        m_state = QStringLiteral("up");
        if (!isVisible())
            show();
    }
    m_context.settings.write(Settings::kState, m_state);
}

void MainWindow::restoreFromTray()
{
    if (!m_loaded || m_unloaded)
        return;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    windowStateChanged();
}

void MainWindow::openTrayMenu()
{
    // A second click while the menu is up would only move it.
    if (m_unloaded || ui->Popup->isVisible())
        return;
    ui->Popup->popup(QCursor::pos());
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Super+Z arrives as an event posted to the hidden picture box.
    if (watched == ui->pctHotkey && (event->type() == QEvent::MouseMove || event->type() == HotkeyEvent::eventType())) {
        toggleAllowNext();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- the setup-mode question ----

bool MainWindow::ask(const QString &siteName)
{
    if (m_unloaded)
        return false;
    // A prompt on its way out is never reused for a new question.
    if (!m_prompt || m_prompt->isClosing()) {
        m_prompt = new SitePrompt(m_context, this);
        connect(m_prompt, &SitePrompt::answered, &m_context.decider, &PopupDecider::answer);
        m_prompt->load(siteName);
    }
    m_prompt->show();
    m_prompt->raise();
    return true;
}

void MainWindow::withdraw()
{
    if (m_prompt)
        m_prompt->withdraw();
}

// ---- unload ----

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing is never refused.
    event->accept();
    unload();
}

void MainWindow::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    ProgramState &s = m_context.state;

    // Every popup held for the question goes through: nothing may stay held
    // by a program that is going away. The question goes with them.
    m_context.decider.releaseAll();

    Settings::UnloadSnapshot snap;
    snap.runAtStartup = ui->Check4->isChecked();
    snap.alwaysOnTop = ui->Check3->isChecked();
    snap.setupMode = ui->Check2->isChecked();
    snap.blockingEnabled = ui->Check1->isChecked();
    snap.blockedCount = s.blockedCount;
    snap.allowedList = m_context.lists.allowed().text();
    snap.disallowedList = m_context.lists.disallowed().text();
    snap.allowLinkPopups = ui->Check6->isChecked();
    snap.state = m_state;
    // The window goes away now, so a failed save is told on the desktop, once.
    if (!m_context.settings.saveOnUnload(snap) && m_context.platform.notifier) {
        m_context.platform.notifier->notify(
            ProductInfo::productName(), QStringLiteral("The options and the count of blocked popups were not saved. ") +
                                            m_context.settings.problem());
    }

    m_context.platform.tray->hide();
    m_hotkey.reset();
    m_tracker.reset();
    m_context.decider.setOptions(nullptr);
    m_context.decider.setQuestion(nullptr);
    m_context.lists.allowed().setListBox(nullptr);
    m_context.lists.disallowed().setListBox(nullptr);
    hide();
    emit unloaded();

    if (m_context.web && m_context.web->isWebsiteOpen()) {
        s.endOnWebsiteClose = true;
        return; // the program lives on until the website window closes
    }
    m_context.skin.shutdownStep();
    QCoreApplication::exit(0);
}

} // namespace wendral
