// The hotkey binding with a stand-in hotkey: presses reach the target later,
// as posted events, only while bound; the binding lets go of the key when it
// ends, and the main window's binding ends with the window.

#include "core/programstate.h"
#include "core/settingsstore.h"
#include "platform/globalhotkey.h"
#include "support/fakehotkey.h"
#include "support/guimain.h"
#include "support/hotkeyfixture.h"
#include "support/mainwindowfixture.h"
#include "support/testenv.h"
#include "ui/hotkeybinding.h"
#include "ui/mainwindow.h"

#include <QTest>
#include <QWidget>

#include <memory>

using namespace wendral;
using wendral::test::FakeGlobalHotkey;
using wendral::test::HotkeyHook;
using wendral::test::HotkeyTarget;

class TestHotkey : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeGlobalHotkey> hotkey;
    std::unique_ptr<HotkeyHook> hook;

private slots:
    void init()
    {
        hotkey = std::make_unique<FakeGlobalHotkey>();
        hook = std::make_unique<HotkeyHook>(*hotkey);
    }
    void cleanup()
    {
        hook.reset();
        hotkey.reset();
    }

    void pressArrivesAsAQueuedEvent()
    {
        HotkeyTarget target;
        hook->hook(&target);
        QVERIFY(hook->isRegistered());
        QCOMPARE(hotkey->registerCalls, 1);
        hotkey->press();
        QCOMPARE(target.presses, 0); // not inside the press itself
        QCoreApplication::sendPostedEvents(&target);
        QCOMPARE(target.presses, 1);
        hotkey->press();
        hotkey->press();
        QCoreApplication::sendPostedEvents(&target);
        QCOMPARE(target.presses, 3);
    }

    void unhookLetsGoAndStopsDelivery()
    {
        HotkeyTarget target;
        hook->hook(&target);
        hook->unhook();
        QVERIFY(!hotkey->isRegistered());
        QVERIFY(!hook->isRegistered());
        // Even a press the hotkey still reported would reach no one.
        emit hotkey->pressed();
        QCoreApplication::sendPostedEvents(&target);
        QCOMPARE(target.presses, 0);
        hook->unhook(); // a second unhook does nothing
        QCOMPARE(hotkey->unregisterCalls, 1);
    }

    void keyHeldElsewhereFailsQuietly()
    {
        hotkey->available = false;
        HotkeyTarget target;
        hook->hook(&target);
        QVERIFY(!hook->isRegistered());
        hotkey->press();
        QCoreApplication::sendPostedEvents(&target);
        QCOMPARE(target.presses, 0);
    }

    void destroyingTheMainWindowUnhooks()
    {
        test::TestEnvironment env;
        test::MainWindowFixture fx;
        fx.program.settings.write(Settings::kShowHelp, QStringLiteral("0"));
        MainWindow &main = fx.load();
        FakeGlobalHotkey &key = fx.program.platform.hotkey;
        QVERIFY(main.hotkeyRegistered());
        QCOMPARE(key.registerCalls, 1);
        // Gone without an unload: the key goes with it.
        fx.destroyWindow();
        QVERIFY(!key.isRegistered());
        QCOMPARE(key.unregisterCalls, 1);
        emit key.pressed();
        QCoreApplication::sendPostedEvents();
        QVERIFY(!fx.program.state.allowNext);
    }

    void pressAfterTheTargetIsGoneIsDropped()
    {
        auto target = std::make_unique<HotkeyTarget>();
        hook->hook(target.get());
        target.reset();
        hotkey->press();
        QCoreApplication::sendPostedEvents();
        QVERIFY(hook->isRegistered());
    }

    void hookingAgainDeliversOncePerPress()
    {
        HotkeyTarget first;
        HotkeyTarget second;
        hook->hook(&first);
        hook->hook(&second);
        QCOMPARE(hotkey->unregisterCalls, 1);
        QVERIFY(hook->isRegistered());
        QVERIFY(hotkey->isRegistered());
        hotkey->press();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(first.presses, 0);
        QCOMPARE(second.presses, 1);
    }

    void hotkeyDestroyedWhileHookedIsHarmless()
    {
        HotkeyTarget target;
        hook->hook(&target);
        hotkey.reset();
        QVERIFY(!hook->isRegistered());
        hook->unhook();
    }
};

WENDRAL_GUI_TEST_MAIN(TestHotkey)
#include "tst_hotkey.moc"
