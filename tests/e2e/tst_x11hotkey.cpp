// Super+Z under a real X server: the key reaches the target while the main
// window is hidden or has the focus, whatever lock keys are on, only as
// Super+Z, and is shared correctly with other X clients.

#include "platform/globalhotkey.h"
#include "support/testenv.h"
#include "support/x11session.h"

#include <xcb/xcb_keysyms.h>

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <X11/keysym.h>

#include <cstdlib>
#include <memory>

using namespace wendral;
using wendral::test::waitFor;
using wendral::test::X11Session;

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

void key(const QString &keys)
{
    int code = -1;
    test::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}, &code);
    QCOMPARE(code, 0);
}

xcb_keycode_t zKeycode()
{
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(X11Session::current()->connection());
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, XK_z);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    xcb_key_symbols_free(symbols);
    return code;
}

// Another program (the session's own X client) grabbing Super+Z with extra
// modifiers: 0 on success, else the X error code.
int otherClientGrab(uint16_t extra = 0)
{
    X11Session *s = X11Session::current();
    const xcb_void_cookie_t cookie =
        xcb_grab_key_checked(s->connection(), 0, s->root(), static_cast<uint16_t>(XCB_MOD_MASK_4 | extra), zKeycode(),
                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    xcb_generic_error_t *error = xcb_request_check(s->connection(), cookie);
    const int code = error ? error->error_code : 0;
    std::free(error);
    return code;
}

void otherClientUngrab(uint16_t extra = 0)
{
    X11Session *s = X11Session::current();
    xcb_ungrab_key(s->connection(), zKeycode(), s->root(), static_cast<uint16_t>(XCB_MOD_MASK_4 | extra));
    free(xcb_get_input_focus_reply(s->connection(), xcb_get_input_focus(s->connection()), nullptr)); // sync
}

constexpr int kBadAccess = 10;

} // namespace

class TestX11Hotkey : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(zKeycode() != 0); }

    void cleanup()
    {
        UnhookWindow();
        QVERIFY(!hotkeyRegistered());
    }

    void pressWhileHiddenReachesTheTarget()
    {
        QWidget window;
        Target target;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.hide();
        HookWindow(&window, &target);
        QVERIFY(hotkeyRegistered());
        key(QStringLiteral("super+z"));
        QVERIFY(waitFor([&] { return target.presses == 1; }));
        key(QStringLiteral("super+z"));
        QVERIFY(waitFor([&] { return target.presses == 2; }));
    }

    void pressWhileTheWindowHasTheFocusReachesTheTarget()
    {
        QWidget window;
        Target target;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        HookWindow(&window, &target);
        key(QStringLiteral("super+z"));
        QVERIFY(waitFor([&] { return target.presses == 1; }));
    }

    void otherCombinationsAreNotTheHotkey()
    {
        QWidget window;
        Target target;
        HookWindow(&window, &target);
        key(QStringLiteral("z"));
        key(QStringLiteral("shift+super+z"));
        key(QStringLiteral("ctrl+super+z"));
        key(QStringLiteral("alt+super+z"));
        key(QStringLiteral("super+x"));
        // Events come in order: once this one is counted the others were seen.
        key(QStringLiteral("super+z"));
        QVERIFY(waitFor([&] { return target.presses >= 1; }));
        QTest::qWait(50);
        QCOMPARE(target.presses, 1);
    }

    void lockKeysDoNotMatter_data()
    {
        QTest::addColumn<QStringList>("locks");
        QTest::newRow("caps lock") << QStringList{QStringLiteral("Caps_Lock")};
        QTest::newRow("num lock") << QStringList{QStringLiteral("Num_Lock")};
        QTest::newRow("both") << QStringList{QStringLiteral("Caps_Lock"), QStringLiteral("Num_Lock")};
    }
    void lockKeysDoNotMatter()
    {
        QFETCH(QStringList, locks);
        QWidget window;
        Target target;
        HookWindow(&window, &target);
        for (const QString &lock : locks)
            key(lock); // on
        key(QStringLiteral("super+z"));
        const bool counted = waitFor([&] { return target.presses == 1; });
        for (const QString &lock : locks)
            key(lock); // off again
        QVERIFY(counted);
    }

    void anotherProgramCannotTakeTheKeyUntilUnhooked()
    {
        QWidget window;
        Target target;
        HookWindow(&window, &target);
        QVERIFY(hotkeyRegistered());
        QCOMPARE(otherClientGrab(), kBadAccess);
        QCOMPARE(otherClientGrab(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2), kBadAccess);
        UnhookWindow();
        QVERIFY(!hotkeyRegistered());
        QCOMPARE(otherClientGrab(), 0);
        QCOMPARE(otherClientGrab(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2), 0);
        otherClientUngrab();
        otherClientUngrab(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
        // Gone for this program too.
        key(QStringLiteral("super+z"));
        QTest::qWait(100);
        QCOMPARE(target.presses, 0);
    }

    void keyHeldElsewhereFailsQuietlyAndHoldsNothing_data()
    {
        QTest::addColumn<int>("heldModifiers");
        QTest::newRow("plain") << 0;
        QTest::newRow("with caps lock") << int(XCB_MOD_MASK_LOCK);
        QTest::newRow("with num lock") << int(XCB_MOD_MASK_2);
    }
    void keyHeldElsewhereFailsQuietlyAndHoldsNothing()
    {
        QFETCH(int, heldModifiers);
        const auto held = static_cast<uint16_t>(heldModifiers);
        QCOMPARE(otherClientGrab(held), 0);
        QWidget window;
        Target target;
        HookWindow(&window, &target);
        QVERIFY(!hotkeyRegistered());
        otherClientUngrab(held);
        // None of the other combinations was kept by this program.
        for (int extra : {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2), int(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)}) {
            const auto modifiers = static_cast<uint16_t>(extra);
            QCOMPARE(otherClientGrab(modifiers), 0);
            otherClientUngrab(modifiers);
        }
        UnhookWindow(); // harmless after a failed registration
    }

    void destroyingTheWindowReleasesTheKey()
    {
        auto window = std::make_unique<QWidget>();
        Target target;
        HookWindow(window.get(), &target);
        QVERIFY(hotkeyRegistered());
        window.reset();
        QVERIFY(!hotkeyRegistered());
        QCOMPARE(otherClientGrab(), 0);
        otherClientUngrab();
    }

    void hookingAgainHoldsTheKeyOnce()
    {
        QWidget window;
        Target first;
        Target second;
        HookWindow(&window, &first);
        HookWindow(&window, &second);
        QVERIFY(hotkeyRegistered());
        key(QStringLiteral("super+z"));
        QVERIFY(waitFor([&] { return second.presses == 1; }));
        QTest::qWait(50);
        QCOMPARE(first.presses, 0);
        QCOMPARE(second.presses, 1);
        UnhookWindow();
        QCOMPARE(otherClientGrab(), 0);
        otherClientUngrab();
    }
};

WENDRAL_X11_TEST_MAIN(TestX11Hotkey)
#include "tst_x11hotkey.moc"
