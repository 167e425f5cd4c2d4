#include "platform/linux/x11windowstacker.h"

#include "platform/linux/x11connection.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>

#include <cstdlib>
#include <cstring>

namespace wendral {
namespace {

// The state asked for last is kept on the widget: the window manager drops
// _NET_WM_STATE when a window is withdrawn (hidden), so it is written again
// before the window is mapped the next time.
constexpr char kWantedAbove[] = "wendralWantedAbove";

constexpr uint32_t kNetWmStateRemove = 0;
constexpr uint32_t kNetWmStateAdd = 1;
constexpr uint32_t kSourceApplication = 1;

constexpr int kNormalState = 1;
constexpr int kIconicState = 3;

} // namespace

X11WindowStacker::X11WindowStacker(xcb_connection_t *connection, QObject *parent)
    : QObject(parent), m_connection(connection), m_netWmState(x11::atom(connection, "_NET_WM_STATE")),
      m_netWmStateAbove(x11::atom(connection, "_NET_WM_STATE_ABOVE")), m_wmState(x11::atom(connection, "WM_STATE"))
{}

X11WindowStacker *X11WindowStacker::forApplication(QObject *parent)
{
    xcb_connection_t *c = x11::connection();
    return c ? new X11WindowStacker(c, parent) : nullptr;
}

void X11WindowStacker::setAbove(QWidget *window, bool above)
{
    if (!window || !m_connection)
        return;
    window = window->window();
    window->setProperty(kWantedAbove, above);
    window->installEventFilter(this);
    apply(static_cast<xcb_window_t>(window->winId()), above);
}

bool X11WindowStacker::isAbove(const QWidget *window) const
{
    if (!window || !m_connection)
        return false;
    const auto id = static_cast<xcb_window_t>(window->window()->internalWinId());
    return id && readState(id).contains(m_netWmStateAbove);
}

bool X11WindowStacker::eventFilter(QObject *watched, QEvent *event)
{
    // The show event comes before the window is mapped, so a property written
    // now is the one the window manager finds at map time.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        const QVariant wanted = widget->property(kWantedAbove);
        if (widget->isWindow() && wanted.isValid() && widget->internalWinId())
            apply(static_cast<xcb_window_t>(widget->internalWinId()), wanted.toBool());
    }
    return QObject::eventFilter(watched, event);
}

void X11WindowStacker::apply(xcb_window_t window, bool above)
{
    if (!window || m_netWmState == XCB_ATOM_NONE || m_netWmStateAbove == XCB_ATOM_NONE)
        return;
    const xcb_window_t root = x11::rootOf(m_connection, window);
    if (!root)
        return; // the window is gone
    const bool manager = x11::windowManagerRunning(m_connection, root);
    const int state = wmState(window);
    const bool managed = manager && (state == kNormalState || state == kIconicState);

    QList<xcb_atom_t> atoms = readState(window);
    const bool wasAbove = atoms.contains(m_netWmStateAbove);
    if (!managed && above != wasAbove) {
        // Not handled by a window manager (yet): the property is ours to set.
        if (above)
            atoms.append(m_netWmStateAbove);
        else
            atoms.removeAll(m_netWmStateAbove);
        writeState(window, atoms);
    }
    if (manager) {
        // A window being mapped right now may already be past the point where
        // the manager read the property; the request covers that case, and a
        // manager ignores it for windows it does not manage.
        xcb_client_message_event_t message;
        std::memset(&message, 0, sizeof message);
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = m_netWmState;
        message.data.data32[0] = above ? kNetWmStateAdd : kNetWmStateRemove;
        message.data.data32[1] = m_netWmStateAbove;
        message.data.data32[2] = 0;
        message.data.data32[3] = kSourceApplication;
        const xcb_void_cookie_t cookie = xcb_send_event_checked(
            m_connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
            reinterpret_cast<const char *>(&message));
        xcb_discard_reply(m_connection, cookie.sequence);
        if (managed && wasAbove && !above) {
            // A window leaving the topmost band lands on top of the ordinary
            // band, so a window lifted for a moment ends up in front. Only
            // the stacking is asked for: no position, no size.
            const uint32_t stackMode = XCB_STACK_MODE_ABOVE;
            const xcb_void_cookie_t raise =
                xcb_configure_window_checked(m_connection, window, XCB_CONFIG_WINDOW_STACK_MODE, &stackMode);
            xcb_discard_reply(m_connection, raise.sequence);
        }
    }
    xcb_flush(m_connection);
}

QList<xcb_atom_t> X11WindowStacker::readState(xcb_window_t window) const
{
    QList<xcb_atom_t> atoms;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, m_netWmState, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (!reply)
        return atoms;
    if (reply->type == XCB_ATOM_ATOM && reply->format == 32) {
        const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / static_cast<int>(sizeof(xcb_atom_t));
        for (int i = 0; i < count; ++i)
            atoms.append(data[i]);
    }
    std::free(reply);
    return atoms;
}

void X11WindowStacker::writeState(xcb_window_t window, const QList<xcb_atom_t> &atoms)
{
    xcb_void_cookie_t cookie;
    if (atoms.isEmpty()) {
        cookie = xcb_delete_property_checked(m_connection, window, m_netWmState);
    } else {
        cookie = xcb_change_property_checked(m_connection, XCB_PROP_MODE_REPLACE, window, m_netWmState, XCB_ATOM_ATOM,
                                             32, static_cast<uint32_t>(atoms.size()), atoms.constData());
    }
    // A window destroyed meanwhile gives BadWindow; nothing to do about it.
    xcb_discard_reply(m_connection, cookie.sequence);
}

int X11WindowStacker::wmState(xcb_window_t window) const
{
    if (m_wmState == XCB_ATOM_NONE)
        return -1;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, m_wmState, m_wmState, 0, 2), nullptr);
    if (!reply)
        return -1;
    int state = -1;
    if (reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        state = static_cast<int>(*static_cast<const uint32_t *>(xcb_get_property_value(reply)));
    std::free(reply);
    return state;
}

} // namespace wendral
