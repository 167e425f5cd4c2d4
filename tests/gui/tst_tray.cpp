// The tray icon and its menu: only a click and a context click ask for the
// menu, which the main window opens at the mouse position and never twice; the
// icon carries no tooltip; showing and hiding manage one icon object; a
// minimised main window goes into the tray only where one exists.

#include "core/settingsstore.h"
#include "platform/trayicon.h"
#include "support/guimain.h"
#include "support/mainwindowfixture.h"
#include "support/testenv.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QCursor>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <memory>

using namespace wendral;

class TestTray : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TestEnvironment> env;
    std::unique_ptr<SystemTrayIcon> systemTray;
    std::unique_ptr<test::MainWindowFixture> fx;

    static QIcon appIcon() { return QIcon(QStringLiteral(":/icons/wendral.svg")); }
    test::FakeTrayIcon &fakeTray() { return fx->program.platform.tray; }
    // A main window loaded with the given tray icon (the fake one by default).
    MainWindow &load(TrayIcon *tray = nullptr)
    {
        if (tray)
            fx->program.platform.services.tray = tray;
        return fx->load();
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(assets); }

    void init()
    {
        env = std::make_unique<test::TestEnvironment>();
        systemTray = std::make_unique<SystemTrayIcon>();
        fx = std::make_unique<test::MainWindowFixture>();
        fx->program.settings.write(Settings::kShowHelp, QStringLiteral("0"));
    }
    void cleanup()
    {
        fx.reset();
        systemTray.reset();
        env.reset();
    }

    void activationMapping_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("opens");
        QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("context click") << int(QSystemTrayIcon::Context) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
    }
    void activationMapping()
    {
        QFETCH(int, reason);
        QFETCH(bool, opens);
        const auto r = static_cast<QSystemTrayIcon::ActivationReason>(reason);
        QCOMPARE(trayClickOpensMenu(r), opens);
        // The real icon, clicked, and the main window's menu.
        MainWindow &main = load(systemTray.get());
        QVERIFY(systemTray->systemIcon());
        emit systemTray->systemIcon()->activated(r);
        QCOMPARE(main.trayMenu()->isVisible(), opens);
    }

    void menuOpensAtTheMousePosition()
    {
        MainWindow &main = load();
        QCursor::setPos(QPoint(200, 150));
        if (QCursor::pos() != QPoint(200, 150))
            QSKIP("this platform does not move the cursor");
        fakeTray().click();
        QVERIFY(main.trayMenu()->isVisible());
        QCOMPARE(main.trayMenu()->pos(), QPoint(200, 150));
    }

    void openMenuIsNotOpenedAgain()
    {
        MainWindow &main = load();
        QSignalSpy shown(main.trayMenu(), &QMenu::aboutToShow);
        fakeTray().click();
        fakeTray().click();
        fakeTray().click();
        QCOMPARE(shown.count(), 1);
        // Once closed, the next click opens it again.
        main.trayMenu()->hide();
        fakeTray().click();
        QCOMPARE(shown.count(), 2);
    }

    void clicksAfterTheMainWindowEndsOpenNothing()
    {
        MainWindow &main = load();
        QMenu *menu = main.trayMenu();
        main.unload();
        fakeTray().click();
        QVERIFY(!menu->isVisible());
        // The window gone altogether: the click reaches no one.
        fx->destroyWindow();
        fakeTray().click();
    }

    void iconHasNoTooltipAndAsksForTheMenu()
    {
        QSignalSpy requested(systemTray.get(), &TrayIcon::menuRequested);
        QVERIFY(!systemTray->isShown());
        QVERIFY(!systemTray->systemIcon());
        systemTray->show(appIcon());
        QVERIFY(systemTray->isShown());
        QSystemTrayIcon *icon = systemTray->systemIcon();
        QVERIFY(icon);
        QVERIFY(icon->isVisible());
        QVERIFY(!icon->icon().isNull());
        QVERIFY(icon->toolTip().isEmpty());
        QVERIFY(!icon->contextMenu()); // the click handler asks for it, not Qt

        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(requested.count(), 0);
        emit icon->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(requested.count(), 1);
        emit icon->activated(QSystemTrayIcon::Context);
        QCOMPARE(requested.count(), 2);
    }

    void hideTakesOnlyItsOwnIconAway()
    {
        SystemTrayIcon other;
        systemTray->show(appIcon());
        other.show(appIcon());
        QPointer<QSystemTrayIcon> first = systemTray->systemIcon();
        systemTray->hide();
        QVERIFY(!systemTray->isShown());
        QVERIFY(!first); // the icon object is gone, not only hidden
        QVERIFY(other.isShown());
        QVERIFY(other.systemIcon() && other.systemIcon()->isVisible());
        systemTray->hide(); // twice is harmless
        // Shown again, it comes back as a new icon.
        systemTray->show(appIcon());
        QVERIFY(systemTray->systemIcon() && systemTray->systemIcon()->isVisible());
    }

    void showingAgainReplacesThePicture()
    {
        systemTray->show(appIcon());
        QSystemTrayIcon *icon = systemTray->systemIcon();
        const QIcon other(QStringLiteral(":/icons/prompt.svg"));
        systemTray->show(other);
        QCOMPARE(systemTray->systemIcon(), icon);
        QCOMPARE(icon->icon().cacheKey(), other.cacheKey());
        QCOMPARE(systemTray->findChildren<QSystemTrayIcon *>().size(), 1);
    }

    void iconGoesWithItsOwner()
    {
        auto owner = std::make_unique<QObject>();
        auto *tray = new SystemTrayIcon(owner.get());
        tray->show(appIcon());
        QPointer<QSystemTrayIcon> icon = tray->systemIcon();
        QVERIFY(icon);
        owner.reset();
        QVERIFY(!icon);
    }

    void availabilityIsTheDesktops()
    {
        QCOMPARE(systemTray->isAvailable(), QSystemTrayIcon::isSystemTrayAvailable());
        // Offscreen there is no notification area.
        QVERIFY(!systemTray->isAvailable());
    }

    void iconShownWhileTheMainWindowRuns()
    {
        MainWindow &main = load();
        QVERIFY(fakeTray().isShown());
        QCOMPARE(fakeTray().showCalls, 1);
        QVERIFY(!fakeTray().icon().isNull());
        main.unload();
        QVERIFY(!fakeTray().isShown());
    }

    void minimiseGoesToTheTrayOnlyWhereOneExists_data()
    {
        QTest::addColumn<bool>("trayAvailable");
        QTest::newRow("tray") << true;
        QTest::newRow("no tray") << false;
    }
    void minimiseGoesToTheTrayOnlyWhereOneExists()
    {
        QFETCH(bool, trayAvailable);
        fakeTray().available = trayAvailable;
        MainWindow &main = load();
        QVERIFY(main.isVisible());
        QTest::mouseClick(main.findChild<QAbstractButton *>("Command6"), Qt::LeftButton);
        QTRY_COMPARE(main.state(), QStringLiteral("down"));
        // Hidden only where the icon can bring it back.
        QTRY_COMPARE(main.isVisible(), !trayAvailable);
        // The tray menu's "Show program" brings it back.
        fakeTray().click();
        QVERIFY(main.trayMenu()->isVisible());
        main.findChild<QAction *>("show")->trigger();
        QVERIFY(main.isVisible());
        QVERIFY(!(main.windowState() & Qt::WindowMinimized));
        QCOMPARE(main.state(), QStringLiteral("up"));
    }

    void storedDownStartsInTheTray()
    {
        fx->program.settings.write(Settings::kState, QStringLiteral("down"));
        MainWindow &main = load();
        QTest::qWait(20);
        QVERIFY(!main.isVisible());
        QCOMPARE(main.state(), QStringLiteral("down"));
        QVERIFY(fakeTray().isShown());
    }
};

WENDRAL_GUI_TEST_MAIN(TestTray)
#include "tst_tray.moc"
