#include "platform/linux/x11connection.h"

#include <QGuiApplication>

#include <cstdlib>

namespace wendral::x11 {

xcb_connection_t *connection()
{
    // A program or test that made only a QCoreApplication has no display
    // connection (qGuiApp would be a wrong downcast there).
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    auto *native = app->nativeInterface<QNativeInterface::QX11Application>();
    return native ? native->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const QByteArray &name)
{
    if (!c)
        return XCB_ATOM_NONE;
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

xcb_window_t rootOf(xcb_connection_t *c, xcb_window_t window)
{
    if (!c)
        return 0;
    if (window) {
        xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
        if (geometry) {
            const xcb_window_t root = geometry->root;
            std::free(geometry);
            return root;
        }
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    return it.rem ? it.data->root : 0;
}

bool windowManagerRunning(xcb_connection_t *c, xcb_window_t root)
{
    if (!c || !root)
        return false;
    int screen = 0;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem;
         xcb_screen_next(&it), ++screen) {
        if (it.data->root == root)
            break;
    }
    const xcb_atom_t selection = atom(c, "WM_S" + QByteArray::number(screen));
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    if (!reply)
        return false;
    const bool owned = reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

} // namespace wendral::x11
