#include "support/mainwindowfixture.h"

#include "ui/aboutwindow.h"
#include "ui/helpwindow.h"
#include "ui/siteprompt.h"

namespace wendral::test {

MainWindowFixture::MainWindowFixture() = default;

MainWindowFixture::~MainWindowFixture()
{
    delete program.windows.help.data();
    delete program.windows.about.data();
    destroyWindow();
}

MainWindow &MainWindowFixture::create()
{
    destroyWindow();
    m_main = std::make_unique<MainWindow>(program.context);
    return *m_main;
}

MainWindow &MainWindowFixture::load(bool banner)
{
    program.profile = BrandingProfile::fromBuild();
    program.profile.bannerEnabled = banner;
    MainWindow &main = create();
    main.load();
    main.showLoaded();
    return main;
}

void MainWindowFixture::destroyWindow()
{
    if (!m_main)
        return;
    // The prompt is a window of its own: it would outlive the main window.
    delete m_main->prompt();
    m_main.reset();
}

} // namespace wendral::test
