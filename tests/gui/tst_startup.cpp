// Start-up: the splash shows for its 75 ticks, then the main window is loaded
// and shown and the splash is hidden for the rest of the run.

#include "ui/mainwindow.h"
#include "core/productinfo.h"
#include "core/textfile.h"
#include "ui/twips.h"
#include "core/programstate.h"
#include "ui/splashwindow.h"
#include "support/memorybrowsers.h"
#include "core/profile.h"
#include "support/guimain.h"
#include "support/testenv.h"

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
    MemoryBrowserWindows shell;
    MainWindow::setShellWindowsSource(&shell);
    shared().endOnWebsiteClose = true;

    SplashWindow splash;
    QVERIFY(profile().productName.isEmpty()); // empty until the splash loads
    splash.load();
    QVERIFY(!shared().endOnWebsiteClose);
    QCOMPARE(profile().productName, QStringLiteral("Wendral"));
    QVERIFY(splash.Timer2->isActive());
    splash.show();
    QVERIFY(splash.isVisible());
    QVERIFY(!splash.mainWindow());

    // Count the ticks as they happen: the main window appears at the 75th.
    int ticks = 0;
    int ticksWhenShown = -1;
    connect(splash.Timer2, &QTimer::timeout, this, [&] { ++ticks; });
    connect(&splash, &SplashWindow::mainWindowShown, this, [&] { ticksWhenShown = ticks; });
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(splash.mainWindow() && splash.mainWindow()->isVisible(), 20000);
    QVERIFY(clock.elapsed() >= 150);  // 75 ticks of at least 2 ms
    QCOMPARE(ticksWhenShown + 1, 75); // shown inside the 75th tick, before our counter saw it
    QCOMPARE(splash.intTemp, qint16(150));
    QVERIFY(!splash.Timer2->isActive());
    QVERIFY(!splash.isVisible());

    MainWindow *main = splash.mainWindow();
    QCOMPARE(main->windowTitle(), QStringLiteral("Wendral by Brindlemark"));
    QCOMPARE(main->findChild<QAbstractButton *>("Command7")->text(), QStringLiteral("Visit ") + ProductInfo::website());
    // No second load, and the splash stays hidden.
    QTest::qWait(50);
    QVERIFY(!splash.isVisible());
    QCOMPARE(ticks, 75);
    main->unload();
    MainWindow::setShellWindowsSource(nullptr);
}

WENDRAL_GUI_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
