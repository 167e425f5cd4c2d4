#include "app/program.h"

#include "app/termination.h"
#include "blocking/cdp/cdpbrowserwindows.h"
#include "blocking/unwatchedreporter.h"
#include "core/paths.h"
#include "platform/linux/desktopplatform.h"
#include "platform/notifier.h"
#include "platform/soundplayer.h"
#include "ui/formtools.h"
#include "ui/mainwindow.h"
#include "ui/splashwindow.h"

#include <QCoreApplication>

namespace wendral {

Program::Program(BrowserWindows *browsers, QObject *parent)
    : QObject(parent), m_decider(m_state, m_lists), m_skin(m_profile), m_platform(std::make_unique<DesktopPlatform>()),
      m_browsers(browsers ? browsers : new cdp::CdpBrowserWindows(this)),
      m_context{m_state,   m_settings, m_lists, m_decider, m_profile, m_skin, m_platform->services(),
                m_windows, m_browsers},
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
