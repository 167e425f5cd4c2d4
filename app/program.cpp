#include "app/program.h"

#include "app/termination.h"
#include "blocking/cdp/cdpbrowserwindows.h"
#include "blocking/unwatchedreporter.h"
#include "core/paths.h"
#include "forms/formtools.h"
#include "platform/linux/desktopplatform.h"
#include "platform/notifier.h"
#include "platform/soundplayer.h"
#include "ui/banner.h"
#include "ui/mainwindow.h"
#include "ui/splashwindow.h"
#include "ui/webhelper.h"

#include <QCoreApplication>

namespace {

// The web helper lives beside the program.
wendral::WebHelper::Options webHelperOptions()
{
    wendral::WebHelper::Options options;
    options.program = wendral::Paths::programFile(QStringLiteral("wendral-web"));
    options.bannerSupported = wendral::BannerStrip::canEmbed();
    return options;
}

} // namespace

namespace wendral {

Program::Program(BrowserWindows *browsers, QObject *parent)
    : QObject(parent), m_decider(m_state, m_lists), m_skin(m_profile), m_platform(std::make_unique<DesktopPlatform>()),
      m_browsers(browsers ? browsers : new cdp::CdpBrowserWindows(this)),
      m_web(std::make_unique<WebHelper>(webHelperOptions())),
      m_context{m_state,   m_settings, m_lists,    m_decider, m_profile, m_skin, m_platform->services(),
                m_windows, m_browsers, m_web.get()},
      m_reporter(new UnwatchedBrowserReporter(
          m_browsers,
          [this] {
              const DecisionOptions *options = m_decider.options();
              return options && options->blockingEnabled();
          },
          this))
{
    m_decider.setBlockSound(
        [this] { m_platform->services().sound->play(Paths::programFile(QStringLiteral("sounds/pop.wav"))); });
    // Each browser that runs unwatched is told about on the desktop.
    connect(m_reporter, &UnwatchedBrowserReporter::report, this, [this](const QString &title, const QString &text) {
        if (Notifier *notifier = m_platform->services().notifier)
            notifier->notify(title, text);
    });
    setTerminationHandler([this] { onTerminationSignal(); });
}

Program::~Program()
{
    setTerminationHandler({});
    // The helper first, while the main window's strip can still let go of
    // its window: its process must not outlive the program, nor be torn down
    // by the objects' own destruction.
    m_web->shutdown();
    m_main.reset();
    m_splash.reset();
}

void Program::start()
{
    m_splash = std::make_unique<SplashWindow>(m_context, [this] { openMainWindow(); });
    m_splash->load();
    centerOnScreen(m_splash.get());
    m_splash->show();
}

void Program::openMainWindow()
{
    m_main = std::make_unique<MainWindow>(m_context);
    m_main->setStartMinimized(m_startMinimized);
    connect(m_main.get(), &MainWindow::blockingEnabledChanged, m_reporter, &UnwatchedBrowserReporter::reconsider);
    m_main->load();
    m_main->showLoaded();
    if (m_showWhenLoaded)
        m_main->restoreFromTray();
    // Browsers found while the program was starting are told about now.
    m_reporter->reconsider();
}

void Program::showMainWindow()
{
    // A request that comes while the splash is still up is answered once the
    // main window is there.
    if (!m_main) {
        m_showWhenLoaded = true;
        return;
    }
    m_main->restoreFromTray();
}

void Program::onTerminationSignal()
{
    // A logout or kill ends the program in order: the main window's unload
    // saves the settings and lets every held popup go.
    if (m_main && !m_main->isUnloaded())
        m_main->unload();
    else
        QCoreApplication::quit();
}

} // namespace wendral
