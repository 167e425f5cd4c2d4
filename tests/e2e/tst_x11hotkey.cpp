// Super+Z under a real X server: the key reaches the target while the main
// window is hidden or has the focus, whatever lock keys are on, only as
// Super+Z, and is shared correctly with other X clients.

#include "platform/globalhotkey.h"
#include "platform/linux/x11globalhotkey.h"
#include "support/testenv.h"
#include "support/x11session.h"
#include "ui/hotkeybinding.h"

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

    // The program's hotkey on this process's X connection, bound to a target
    // the way the main window binds it while it is loaded.
    std::unique_ptr<X11GlobalHotkey> m_hotkey;
    std::unique_ptr<HotkeyBinding> m_binding;

    // Binds the key to the target; a binding made before is released first,
    // as the owner of a binding lets go of it before it makes a new one.
    void bind(QObject *target)
    {
        m_binding.reset();
        m_binding = std::make_unique<HotkeyBinding>(*m_hotkey, target);
    }
    void unbind() { m_binding.reset(); }
    bool registered() const { return m_hotkey && m_hotkey->isRegistered(); }

private slots:
    void initTestCase()
    {
        QVERIFY(zKeycode() != 0);
        m_hotkey.reset(X11GlobalHotkey::forApplication());
        QVERIFY(m_hotkey);
    }

    void cleanup()
    {
        unbind();
        if (!m_hotkey)
            m_hotkey.reset(X11GlobalHotkey::forApplication());
        QVERIFY(!registered());
    }

    void cleanupTestCase() { m_hotkey.reset(); }

    void pressWhileHiddenReachesTheTarget()
    {
        QWidget window;
        Target target;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.hide();
        bind(&target);
        QVERIFY(registered());
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
        bind(&target);
        key(QStringLiteral("super+z"));
        QVERIFY(waitFor([&] { return target.presses == 1; }));
    }

    void otherCombinationsAreNotTheHotkey()
    {
        Target target;
        bind(&target);
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
        Target target;
        bind(&target);
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
        Target target;
        bind(&target);
        QVERIFY(registered());
        QCOMPARE(otherClientGrab(), kBadAccess);
        QCOMPARE(otherClientGrab(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2), kBadAccess);
        unbind();
        QVERIFY(!registered());
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
        Target target;
        bind(&target);
        QVERIFY(!registered());
        otherClientUngrab(held);
        // None of the other combinations was kept by this program.
        for (int extra : {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2), int(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)}) {
            const auto modifiers = static_cast<uint16_t>(extra);
            QCOMPARE(otherClientGrab(modifiers), 0);
            otherClientUngrab(modifiers);
        }
        unbind(); // harmless after a failed registration
    }

    void targetGoneFirstThenTheBindingReleasesTheKey()
    {
        // The main window owns the binding; its hidden target may go first
        // while the window is torn down.
        auto target = std::make_unique<Target>();
        bind(target.get());
        QVERIFY(registered());
        target.reset();
        key(QStringLiteral("super+z")); // nothing left to tell; nothing breaks
        QTest::qWait(100);
        QVERIFY(registered());
        QCOMPARE(otherClientGrab(), kBadAccess);
        unbind();
        QVERIFY(!registered());
        QCOMPARE(otherClientGrab(), 0);
        otherClientUngrab();
    }

    void destroyingTheHotkeyReleasesTheKey()
    {
        Target target;
        bind(&target);
        QVERIFY(registered());
        m_hotkey.reset(); // as when the desktop services go before the window
        QCOMPARE(otherClientGrab(), 0);
        otherClientUngrab();
        unbind(); // the binding's own release is harmless now
    }

    void hookingAgainHoldsTheKeyOnce()
    {
        Target first;
        Target second;
        bind(&first);
        bind(&second);
        QVERIFY(registered());
        key(QStringLiteral("super+z"));
        QVERIFY(waitFor([&] { return second.presses == 1; }));
        QTest::qWait(50);
        QCOMPARE(first.presses, 0);
        QCOMPARE(second.presses, 1);
        unbind();
        QCOMPARE(otherClientGrab(), 0);
        otherClientUngrab();
    }
};

WENDRAL_X11_TEST_MAIN(TestX11Hotkey)
#include "tst_x11hotkey.moc"
