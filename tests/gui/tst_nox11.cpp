// Without an X11 connection (offscreen here, Wayland elsewhere) the platform
// pieces step aside quietly: stacking falls back to the memory stand-in, the
// hotkey cannot be registered, no tray exists, yet nothing fails loudly.

#include "platform/globalhotkey.h"
#include "platform/linux/desktopplatform.h"
#include "platform/linux/x11globalhotkey.h"
#include "platform/linux/x11windowstacker.h"
#include "platform/trayicon.h"
#include "platform/windowstacker.h"
#include "support/hotkeyfixture.h"
#include "support/testenv.h"

#include <QTest>
#include <QWidget>

using namespace wendral;

class TestNoX11 : public QObject
{
    Q_OBJECT

    test::TestEnvironment env;

private slots:
    void initTestCase() { Q_INIT_RESOURCE(assets); }

    void stackingUsesTheStandIn()
    {
        QVERIFY(!X11WindowStacker::forApplication());
        DesktopPlatform platform;
        WindowStacker *stacker = platform.services().stacker;
        QVERIFY(stacker);
        QVERIFY(!dynamic_cast<X11WindowStacker *>(stacker));
        QVERIFY(dynamic_cast<RememberingStacker *>(stacker));
        QWidget window;
        auto *child = new QWidget(&window);
        stacker->keepOnTop(child, true);
        QVERIFY(stacker->isAbove(&window));
        stacker->keepOnTop(&window, false);
        QVERIFY(!stacker->isAbove(&window));
    }

    void hotkeyRegistrationFailsQuietly()
    {
        QVERIFY(!X11GlobalHotkey::forApplication());
        DesktopPlatform platform;
        GlobalHotkey *hotkey = platform.services().hotkey;
        QVERIFY(hotkey);
        QVERIFY(!dynamic_cast<X11GlobalHotkey *>(hotkey));
        test::HotkeyTarget target;
        test::HotkeyHook hook(*hotkey);
        hook.hook(&target);
        QVERIFY(hook.isHooked());
        QVERIFY(!hook.isRegistered());
        QVERIFY(!hotkey->isRegistered());
        hook.unhook();
    }

    void noTrayButTheIconIsKept()
    {
        DesktopPlatform platform;
        TrayIcon *tray = platform.services().tray;
        QVERIFY(tray);
        QVERIFY(!tray->isAvailable());
        auto *systemTray = qobject_cast<SystemTrayIcon *>(tray);
        QVERIFY(systemTray);
        tray->show(QIcon(QStringLiteral(":/icons/wendral.svg")));
        QVERIFY(tray->isShown());
        QSystemTrayIcon *icon = systemTray->systemIcon();
        QVERIFY(icon);
        QVERIFY(icon->isVisible()); // docks as soon as a tray appears
        tray->hide();
        QVERIFY(!tray->isShown());
        QVERIFY(!systemTray->systemIcon());
    }
};

QTEST_MAIN(TestNoX11)
#include "tst_nox11.moc"
