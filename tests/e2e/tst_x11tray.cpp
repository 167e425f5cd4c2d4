// The tray icon in a real notification area (trayer on Xvfb), driven with
// xdotool: it docks, also when the area appears after it; a click and a
// context click open the main window's tray menu at the mouse, other clicks
// and a double click's second click do not; it leaves when removed. The icon
// is the real one and the menu opens through the real main window, which puts
// its icon up when it loads.

#include "core/settingsstore.h"
#include "platform/trayicon.h"
#include "support/programfixture.h"
#include "support/testenv.h"
#include "support/x11session.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <memory>

using namespace wendral;
using wendral::test::waitFor;
using wendral::test::X11Session;

namespace {

bool xdotool(const QStringList &arguments)
{
    int code = -1;
    test::runTool(QStringLiteral("xdotool"), arguments, &code);
    return code == 0;
}

bool moveMouse(const QPoint &at)
{
    return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())}) &&
           waitFor([&] { return QCursor::pos() == at; });
}

bool click(int button, int repeat = 1)
{
    return xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(repeat),
                    QStringLiteral("--delay"), QStringLiteral("80"), QString::number(button)});
}

} // namespace

class TestX11Tray : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::ProgramFixture> program;
    std::unique_ptr<SystemTrayIcon> tray;
    std::unique_ptr<MainWindow> mainWindow;
    QMenu *menu = nullptr;
    QStringList chosen;

    // The main window's load puts the icon into the notification area.
    QSystemTrayIcon *addIcon()
    {
        mainWindow = std::make_unique<MainWindow>(program->context);
        mainWindow->load();
        menu = mainWindow->trayMenu();
        for (QAction *action : menu->actions())
            connect(action, &QAction::triggered, this, [this, action] { chosen.append(action->text()); });
        return tray->systemIcon();
    }
    bool trayAvailable() const { return tray->isAvailable(); }

    // Waits until the icon sits in the notification area (trayer's 120 x 32
    // strip at the top right); its centre then.
    QPoint dockedCentre(QSystemTrayIcon *icon) const
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        const QRect strip(screen.right() - 119, 0, 120, 32);
        QRect where;
        const bool docked = waitFor([&] {
            where = icon->geometry();
            return where.width() > 4 && strip.contains(where);
        });
        return docked ? where.center() : QPoint(-1, -1);
    }

    bool closeMenu()
    {
        if (menu->isVisible())
            xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        return waitFor([&] { return !menu->isVisible(); });
    }

private slots:
    void initTestCase() { Q_INIT_RESOURCE(assets); }

    void init()
    {
        program = std::make_unique<test::ProgramFixture>();
        // The real icon in place of the fixture's stand-in.
        tray = std::make_unique<SystemTrayIcon>();
        program->platform.services.tray = tray.get();
        program->settings.write(Settings::kShowHelp, QStringLiteral("0"));
        chosen.clear();
    }

    void cleanup()
    {
        if (menu)
            menu->hide();
        menu = nullptr;
        mainWindow.reset();
        tray.reset();
        program.reset();
        X11Session::current()->stopTray();
    }

    void clickAndContextClickOpenTheMenuAtTheMouse()
    {
        QVERIFY(X11Session::current()->startTray());
        QVERIFY(waitFor([&] { return trayAvailable(); }));
        QSystemTrayIcon *icon = addIcon();
        const QPoint centre = dockedCentre(icon);
        QVERIFY(centre.x() >= 0);
        QVERIFY(moveMouse(centre));

        QVERIFY(click(1));
        QVERIFY(waitFor([&] { return menu->isVisible(); }));
        // At the mouse: its top edge at the pointer (it is moved left only as
        // far as the screen's edge needs).
        const QRect shown = menu->geometry();
        QCOMPARE(shown.top(), centre.y());
        QVERIFY(shown.left() <= centre.x());
        QVERIFY(QGuiApplication::primaryScreen()->geometry().contains(shown));

        const QByteArray dir = qgetenv("WENDRAL_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            QTest::qWait(200);
            const QRect area = shown.united(icon->geometry()).adjusted(-200, -20, 20, 40) &
                               QGuiApplication::primaryScreen()->geometry();
            int code = -1;
            test::runTool(
                QStringLiteral("import"),
                {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                 QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y()),
                 QString::fromLocal8Bit(dir) + QStringLiteral("/tray-menu.png")},
                &code);
            QCOMPARE(code, 0);
        }
        QVERIFY(closeMenu());

        QVERIFY(click(3));
        QVERIFY(waitFor([&] { return menu->isVisible(); }));
        QCOMPARE(menu->geometry().top(), centre.y());
        QVERIFY(closeMenu());
        QVERIFY(chosen.isEmpty());
    }

    void otherClicksDoNothing()
    {
        QVERIFY(X11Session::current()->startTray());
        QSystemTrayIcon *icon = addIcon();
        const QPoint centre = dockedCentre(icon);
        QVERIFY(centre.x() >= 0);
        QVERIFY(moveMouse(centre));
        QSignalSpy activated(icon, &QSystemTrayIcon::activated);
        QVERIFY(click(2));
        QVERIFY(moveMouse(centre + QPoint(1, 1)));
        QVERIFY(waitFor([&] { return activated.count() == 1; }));
        QTest::qWait(150);
        QVERIFY(!menu->isVisible());
    }

    void doubleClickOpensTheMenuOnce()
    {
        QVERIFY(X11Session::current()->startTray());
        QSystemTrayIcon *icon = addIcon();
        const QPoint centre = dockedCentre(icon);
        QVERIFY(centre.x() >= 0);
        QVERIFY(moveMouse(centre));
        QSignalSpy shown(menu, &QMenu::aboutToShow);
        QVERIFY(click(1, 2));
        QVERIFY(waitFor([&] { return shown.count() >= 1; }));
        QTest::qWait(300);
        QCOMPARE(shown.count(), 1);
        closeMenu();
    }

    void iconAppearsWhenATrayAppearsLater()
    {
        QVERIFY(waitFor([&] { return !trayAvailable(); }));
        QSystemTrayIcon *icon = addIcon();
        QVERIFY(icon);
        QVERIFY(icon->isVisible());
        QTest::qWait(100);
        QVERIFY(X11Session::current()->startTray());
        QVERIFY(waitFor([&] { return trayAvailable(); }));
        const QPoint centre = dockedCentre(icon);
        QVERIFY(centre.x() >= 0);
        QVERIFY(moveMouse(centre));
        QVERIFY(click(1));
        QVERIFY(waitFor([&] { return menu->isVisible(); }));
        QVERIFY(closeMenu());

        // The notification area goes away and comes back (a panel restart):
        // the icon docks again by itself.
        X11Session::current()->stopTray();
        QVERIFY(waitFor([&] { return !trayAvailable(); }));
        QVERIFY(X11Session::current()->startTray());
        QVERIFY(dockedCentre(icon).x() >= 0);
    }

    void removedIconLeavesTheTray()
    {
        QVERIFY(X11Session::current()->startTray());
        QSystemTrayIcon *icon = addIcon();
        const QPoint centre = dockedCentre(icon);
        QVERIFY(centre.x() >= 0);
        tray->hide(); // what the main window's unload does
        QVERIFY(!tray->isShown());
        QVERIFY(!tray->systemIcon());
        // Nothing of ours is left under the pointer there.
        QVERIFY(moveMouse(centre));
        QVERIFY(waitFor([] { return !QApplication::widgetAt(QCursor::pos()); }, 2000));
        QVERIFY(click(1));
        QTest::qWait(200);
        QVERIFY(!menu->isVisible());
    }
};

WENDRAL_X11_TEST_MAIN(TestX11Tray)
#include "tst_x11tray.moc"
