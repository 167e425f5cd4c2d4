// Start-up: the splash shows for its 75 ticks, then the main window is loaded
// and shown and the splash is hidden for the rest of the run.

#include "core/productinfo.h"
#include "core/profile.h"
#include "core/programstate.h"
#include "support/guimain.h"
#include "support/memorybrowsers.h"
#include "support/programfixture.h"
#include "support/testenv.h"
#include "ui/aboutwindow.h"
#include "ui/banner.h"
#include "ui/helpwindow.h"
#include "ui/mainwindow.h"
#include "ui/splashwindow.h"
#include "ui/webhelper.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTimer>

using namespace wendral;

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void splashThenMainWindow();
};

void TestStartup::splashThenMainWindow()
{
    test::TestEnvironment env;
    MemoryBrowserWindows browsers;
    test::ProgramFixture fixture(&browsers);
    UiContext &context = fixture.context;
    context.state.endOnWebsiteClose = true;

    // The main window follows the splash as the program's composition root
    // makes it follow.
    std::unique_ptr<MainWindow> mainWindow;
    QVERIFY(context.profile.productName.isEmpty()); // empty until the splash loads
    auto splashWindow = std::make_unique<SplashWindow>(context, [&] {
        mainWindow = std::make_unique<MainWindow>(context);
        mainWindow->load();
        mainWindow->showLoaded();
    });
    SplashWindow *splash = splashWindow.get();
    splash->load();
    splash->show();
    QVERIFY(!context.state.endOnWebsiteClose);
    QCOMPARE(context.profile.productName, QStringLiteral("Wendral"));
    QVERIFY(splash->timer()->isActive());
    QVERIFY(splash->isVisible());
    QVERIFY(!mainWindow.get());

    // Count the ticks as they happen: the main window appears at the 75th.
    int ticks = 0;
    int ticksWhenShown = -1;
    bool shownWhenFinished = false;
    connect(splash->timer(), &QTimer::timeout, this, [&] { ++ticks; });
    connect(splash, &SplashWindow::finished, this, [&] {
        ticksWhenShown = ticks;
        shownWhenFinished = mainWindow.get() && mainWindow.get()->isVisible();
    });
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow.get() && mainWindow.get()->isVisible(), 20000);
    QVERIFY(clock.elapsed() >= 150);  // 75 ticks of at least 2 ms
    QCOMPARE(ticksWhenShown + 1, 75); // shown inside the 75th tick, before our counter saw it
    QVERIFY(shownWhenFinished);
    QCOMPARE(splash->ticks(), qint16(150));
    QVERIFY(!splash->timer()->isActive());
    QVERIFY(!splash->isVisible());

    MainWindow *main = mainWindow.get();
    QVERIFY(main->tracker());
    // Offscreen no window of the web helper could be shown in the strip: no
    // helper is started for it.
    QVERIFY(main->bannerBox());
    QVERIFY(!BannerStrip::canEmbed());
    WebHelper::Options options;
    options.program = QStringLiteral("/nonexistent/wendral-web");
    options.bannerSupported = BannerStrip::canEmbed();
    WebHelper helper(options);
    helper.showBanner(QUrl(QStringLiteral("http://127.0.0.1:1/")), QSize(489, 63), Qt::white);
    QVERIFY(!helper.isRunning());
    QCOMPARE(helper.failures(), 0);
    QCOMPARE(main->windowTitle(), QStringLiteral("Wendral by Brindlemark"));
    QCOMPARE(main->findChild<QAbstractButton *>("Command7")->text(), QStringLiteral("Visit ") + ProductInfo::website());
    // No second load, and the splash stays hidden.
    QTest::qWait(50);
    QCOMPARE(mainWindow.get(), main);
    QVERIFY(!splash->isVisible());
    QCOMPARE(ticks, 75);
    main->unload();
    mainWindow.reset();
    splashWindow.reset();
    // The help window opened at start-up points into the program's state.
    delete context.windows.help.data();
    delete context.windows.about.data();
}

WENDRAL_GUI_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
