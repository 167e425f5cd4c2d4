#include "platform/linux/x11globalhotkey.h"

#include "platform/linux/x11connection.h"

#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>

#include <X11/keysym.h>

#include <cstdlib>

namespace wendral {
namespace {

constexpr uint16_t kSignificantModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
constexpr uint16_t kSuper = XCB_MOD_MASK_4;

QList<xcb_keycode_t> keycodesOf(xcb_key_symbols_t *symbols, xcb_keysym_t keysym)
{
    QList<xcb_keycode_t> result;
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
    if (!codes)
        return result;
    for (xcb_keycode_t *code = codes; *code != XCB_NO_SYMBOL; ++code) {
        if (!result.contains(*code))
            result.append(*code);
    }
    std::free(codes);
    return result;
}

} // namespace

X11GlobalHotkey::X11GlobalHotkey(xcb_connection_t *connection, QObject *parent)
    : GlobalHotkey(parent), m_connection(connection)
{}

X11GlobalHotkey::~X11GlobalHotkey()
{
    // While the application ends its connection may already be closing; the X
    // server drops a client's grabs with the client anyway.
    if (x11::connection() == m_connection)
        unregisterKey();
}

X11GlobalHotkey *X11GlobalHotkey::forApplication(QObject *parent)
{
    xcb_connection_t *c = x11::connection();
    return c ? new X11GlobalHotkey(c, parent) : nullptr;
}

uint16_t X11GlobalHotkey::numLockMask() const
{
    uint16_t mask = 0;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    const QList<xcb_keycode_t> numLock = symbols ? keycodesOf(symbols, XK_Num_Lock) : QList<xcb_keycode_t>();
    if (symbols)
        xcb_key_symbols_free(symbols);
    xcb_get_modifier_mapping_reply_t *reply =
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    if (reply) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(reply);
        const int perModifier = reply->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8 && !mask; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[modifier * perModifier + i];
                if (code != 0 && numLock.contains(code)) {
                    mask = static_cast<uint16_t>(1u << modifier);
                    break;
                }
            }
        }
        std::free(reply);
    }
    // Num Lock is Mod2 on practically every keymap.
    return mask ? mask : static_cast<uint16_t>(XCB_MOD_MASK_2);
}

bool X11GlobalHotkey::registerKey()
{
    if (isRegistered())
        return true;
    if (!m_connection || xcb_connection_has_error(m_connection))
        return false;
    m_root = x11::rootOf(m_connection);
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    if (!m_root || !symbols) {
        if (symbols)
            xcb_key_symbols_free(symbols);
        return false;
    }
    m_keycodes = keycodesOf(symbols, XK_z);
    xcb_key_symbols_free(symbols);
    if (m_keycodes.isEmpty())
        return false;

    const uint16_t numLock = numLockMask();
    const uint16_t locks[] = {0, XCB_MOD_MASK_LOCK, numLock, static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLock)};
    QList<Grab> requested;
    QList<xcb_void_cookie_t> cookies;
    for (xcb_keycode_t keycode : std::as_const(m_keycodes)) {
        for (uint16_t lock : locks) {
            const Grab grab{keycode, static_cast<uint16_t>(kSuper | lock)};
            // owner_events off: the press always comes to the root window,
            // also when one of our own windows has the focus.
            cookies.append(xcb_grab_key_checked(m_connection, 0, m_root, grab.modifiers, grab.keycode,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
            requested.append(grab);
        }
    }
    // Every request is checked: another client holding any one combination
    // answers BadAccess, and then the key is left entirely to that client.
    bool failed = false;
    for (int i = 0; i < cookies.size(); ++i) {
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookies.at(i))) {
            failed = true;
            std::free(error);
        } else {
            m_grabs.append(requested.at(i));
        }
    }
    if (failed) {
        unregisterKey();
        return false;
    }
    if (!m_filtering && QCoreApplication::instance()) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filtering = true;
    }
    return true;
}

void X11GlobalHotkey::unregisterKey()
{
    if (m_grabs.isEmpty())
        return;
    if (!xcb_connection_has_error(m_connection)) {
        for (const Grab &grab : std::as_const(m_grabs))
            xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers);
        xcb_flush(m_connection);
    }
    m_grabs.clear();
}

bool X11GlobalHotkey::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (m_grabs.isEmpty() || eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(event);
    if (press->event != m_root || !m_keycodes.contains(press->detail) ||
        (press->state & kSignificantModifiers) != kSuper)
        return false;
    emit pressed();
    return true;
}

} // namespace wendral
