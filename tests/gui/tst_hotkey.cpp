// modHook with a stand-in hotkey: presses reach the target later, as posted
// events, only while hooked; the hook lets go of the key at unhook and when the
// main window goes away first.

#include "platform/globalhotkey.h"
#include "support/fakehotkey.h"

#include <QTest>
#include <QWidget>

#include <memory>

using namespace wendral;
using wendral::test::FakeGlobalHotkey;

namespace {

class Target : public QObject
{
public:
    int presses = 0;
    bool event(QEvent *e) override
    {
        if (e->type() == HotkeyEvent::eventType()) {
            ++presses;
            return true;
        }
        return QObject::event(e);
    }
};

} // namespace

class TestHotkey : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeGlobalHotkey> hotkey;

private slots:
    void init()
    {
        hotkey = std::make_unique<FakeGlobalHotkey>();
        setGlobalHotkey(hotkey.get());
    }
    void cleanup()
    {
        UnhookWindow();
        setGlobalHotkey(nullptr);
        hotkey.reset();
    }

    void pressArrivesAsAQueuedEvent()
    {
        QWidget window;
        Target target;
        HookWindow(&window, &target);
        QVERIFY(hotkeyRegistered());
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
        QWidget window;
        Target target;
        HookWindow(&window, &target);
        UnhookWindow();
        QVERIFY(!hotkey->isRegistered());
        QVERIFY(!hotkeyRegistered());
        // Even a press the hotkey still reported would reach no one.
        emit hotkey->pressed();
        QCoreApplication::sendPostedEvents(&target);
        QCOMPARE(target.presses, 0);
        UnhookWindow(); // a second unhook does nothing
        QCOMPARE(hotkey->unregisterCalls, 1);
    }

    void keyHeldElsewhereFailsQuietly()
    {
        hotkey->available = false;
        QWidget window;
        Target target;
        HookWindow(&window, &target);
        QVERIFY(!hotkeyRegistered());
        hotkey->press();
        QCoreApplication::sendPostedEvents(&target);
        QCOMPARE(target.presses, 0);
    }

    void destroyingTheWindowUnhooks()
    {
        auto window = std::make_unique<QWidget>();
        Target target;
        HookWindow(window.get(), &target);
        window.reset();
        QVERIFY(!hotkey->isRegistered());
        QVERIFY(!hotkeyRegistered());
        UnhookWindow();
        QCOMPARE(hotkey->unregisterCalls, 1);
        emit hotkey->pressed();
        QCoreApplication::sendPostedEvents(&target);
        QCOMPARE(target.presses, 0);
    }

    void pressAfterTheTargetIsGoneIsDropped()
    {
        QWidget window;
        auto target = std::make_unique<Target>();
        HookWindow(&window, target.get());
        target.reset();
        hotkey->press();
        QCoreApplication::sendPostedEvents();
        QVERIFY(hotkeyRegistered());
    }

    void hookingAgainDeliversOncePerPress()
    {
        QWidget window;
        Target first;
        Target second;
        HookWindow(&window, &first);
        HookWindow(&window, &second);
        QCOMPARE(hotkey->unregisterCalls, 1);
        QVERIFY(hotkeyRegistered());
        hotkey->press();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(first.presses, 0);
        QCOMPARE(second.presses, 1);
    }

    void hotkeyDestroyedWhileHookedIsHarmless()
    {
        QWidget window;
        Target target;
        HookWindow(&window, &target);
        hotkey.reset();
        QVERIFY(!hotkeyRegistered());
        UnhookWindow();
        setGlobalHotkey(nullptr);
    }
};

QTEST_MAIN(TestHotkey)
#include "tst_hotkey.moc"
