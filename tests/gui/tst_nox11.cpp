// Without an X11 connection (offscreen here, Wayland elsewhere) the platform
// pieces step aside quietly: stacking falls back to the memory stand-in, the
// hotkey cannot be registered, no tray exists, yet nothing fails loudly.

#include "platform/trayicon.h"
#include "platform/globalhotkey.h"
#include "platform/windowstacker.h"
#include "platform/linux/x11windowstacker.h"

#include <QTest>
#include <QWidget>

using namespace wendral;

class TestNoX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(assets); }

    void stackingUsesTheStandIn()
    {
        QVERIFY(!X11WindowStacker::forApplication());
        QVERIFY(!dynamic_cast<X11WindowStacker *>(&windowStacker()));
        QWidget window;
        auto *child = new QWidget(&window);
        clsOnTop().MakeTopMost(child);
        QVERIFY(windowStacker().isAbove(&window));
        SetFormOnTop(&window, false);
        QVERIFY(!windowStacker().isAbove(&window));
    }

    void hotkeyRegistrationFailsQuietly()
    {
        QVERIFY(!X11GlobalHotkey::forApplication());
        QWidget window;
        QObject target;
        HookWindow(&window, &target);
        QVERIFY(!hotkeyRegistered());
        UnhookWindow();
    }

    void noTrayButTheIconIsKept()
    {
        QVERIFY(!trayAvailable());
        QWidget form;
        AddTrayIcon(&form, 1, QIcon(QStringLiteral(":/icons/wendral.svg")), QStringLiteral("Animated TrayIcon"));
        QSystemTrayIcon *icon = trayIcon(1);
        QVERIFY(icon);
        QVERIFY(icon->isVisible()); // docks as soon as a tray appears
        RemoveTrayIcon(1);
        QVERIFY(!trayIcon(1));
    }
};

QTEST_MAIN(TestNoX11)
#include "tst_nox11.moc"
