#include "support/x11session.h"

#include <cstdlib>
#include <cstring>

namespace wendral::test {
namespace {
X11Session *g_current = nullptr;
}

X11Session::~X11Session()
{
    stopAll();
}

X11Session *X11Session::current()
{
    return g_current;
}

bool X11Session::startServer()
{
    if (!m_xvfb.start())
        return false;
    const QByteArray display = m_xvfb.display().toLocal8Bit();
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    m_connection = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        m_xvfb.stop();
        return false;
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    // A plain desktop colour instead of black, for readable screenshots.
    const uint32_t background = 0x3a6ea5;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_BACK_PIXEL, &background);
    xcb_clear_area(m_connection, 0, m_root, 0, 0, 0, 0);
    xcb_flush(m_connection);
    g_current = this;
    return true;
}

std::unique_ptr<QProcess> X11Session::startProcess(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted(5000))
        return nullptr;
    return process;
}

void X11Session::stopProcess(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(2000);
        }
    }
    process.reset();
}

bool X11Session::startWindowManager()
{
    if (!m_connection)
        return false;
    m_windowManager = startProcess(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!m_windowManager || !waitFor([this] { return selectionOwned("WM_S0"); }, 10000))
        return false;
    // openbox owns the selection a while before it manages what is mapped: a
    // window a test shows in that moment is never framed. A probe window is
    // mapped until the manager has framed it.
    const xcb_window_t probe = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, probe, m_root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    bool managed = false;
    for (int attempt = 0; attempt < 20 && !managed; ++attempt) {
        xcb_unmap_window(m_connection, probe);
        xcb_map_window(m_connection, probe);
        xcb_flush(m_connection);
        managed = waitFor([&] { return wmState(probe) == 1; }, 500);
    }
    xcb_destroy_window(m_connection, probe);
    xcb_flush(m_connection);
    return managed;
}

bool X11Session::startTray()
{
    if (!m_connection)
        return false;
    stopTray();
    m_tray = startProcess(QStringLiteral("trayer"),
                          {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                           QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                           QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--height"),
                           QStringLiteral("32"), QStringLiteral("--transparent"), QStringLiteral("false")});
    return m_tray && waitFor([this] { return selectionOwned("_NET_SYSTEM_TRAY_S0"); }, 10000);
}

void X11Session::stopTray()
{
    stopProcess(m_tray);
    if (m_connection)
        waitFor([this] { return !selectionOwned("_NET_SYSTEM_TRAY_S0"); }, 5000);
}

bool X11Session::trayRunning() const
{
    return m_tray && m_tray->state() == QProcess::Running;
}

void X11Session::stopAll()
{
    stopProcess(m_tray);
    stopProcess(m_windowManager);
    if (m_connection) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
    m_xvfb.stop();
    if (g_current == this)
        g_current = nullptr;
}

xcb_atom_t X11Session::atom(const char *name) const
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(qstrlen(name)), name), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

bool X11Session::selectionOwned(const char *selection) const
{
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, atom(selection)), nullptr);
    const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

QRect X11Session::geometry(xcb_window_t window) const
{
    xcb_get_geometry_reply_t *size =
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
    xcb_translate_coordinates_reply_t *place = xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr);
    QRect result;
    if (size && place)
        result = QRect(place->dst_x, place->dst_y, size->width, size->height);
    std::free(size);
    std::free(place);
    return result;
}

xcb_window_t X11Session::topLevelOf(xcb_window_t window) const
{
    while (window) {
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr);
        if (!tree)
            return 0;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (parent == m_root)
            return window;
        window = parent;
    }
    return 0;
}

QList<xcb_window_t> X11Session::stackingOrder() const
{
    return childrenOf(*this, m_root);
}

QStringList X11Session::netWmState(xcb_window_t window) const
{
    QStringList names;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64), nullptr);
    if (!reply)
        return names;
    const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
    const int count = reply->format == 32 ? xcb_get_property_value_length(reply) / 4 : 0;
    for (int i = 0; i < count; ++i) {
        xcb_get_atom_name_reply_t *name =
            xcb_get_atom_name_reply(m_connection, xcb_get_atom_name(m_connection, atoms[i]), nullptr);
        if (name) {
            names.append(QString::fromLatin1(xcb_get_atom_name_name(name), xcb_get_atom_name_name_length(name)));
            std::free(name);
        }
    }
    std::free(reply);
    return names;
}

int X11Session::wmState(xcb_window_t window) const
{
    const xcb_atom_t wmStateAtom = atom("WM_STATE");
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, wmStateAtom, wmStateAtom, 0, 2), nullptr);
    int state = -1;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        state = static_cast<int>(*static_cast<const uint32_t *>(xcb_get_property_value(reply)));
    std::free(reply);
    return state;
}

bool X11Session::activate(xcb_window_t window)
{
    xcb_client_message_event_t message;
    std::memset(&message, 0, sizeof message);
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2; // source: a pager or taskbar, i.e. the user
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(m_connection);
    return waitFor([&] { return activeWindow() == window; });
}

xcb_window_t X11Session::activeWindow() const
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    xcb_window_t window = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        window = *static_cast<const xcb_window_t *>(xcb_get_property_value(reply));
    std::free(reply);
    return window;
}

QByteArray runTool(const QString &program, const QStringList &arguments, int *exitCode, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    int code = -1;
    QByteArray output;
    if (process.waitForStarted(5000) && process.waitForFinished(timeoutMs)) {
        output = process.readAllStandardOutput();
        if (process.exitStatus() == QProcess::NormalExit)
            code = process.exitCode();
    } else {
        process.kill();
        process.waitForFinished(2000);
    }
    if (exitCode)
        *exitCode = code;
    return output;
}

QByteArray property(const X11Session &s, xcb_window_t window, const char *name)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        s.connection(), xcb_get_property(s.connection(), 0, window, s.atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        nullptr);
    QByteArray value;
    if (reply && reply->type != XCB_ATOM_NONE)
        value =
            QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

QString windowName(const X11Session &s, xcb_window_t window)
{
    const QByteArray net = property(s, window, "_NET_WM_NAME");
    return QString::fromUtf8(net.isEmpty() ? property(s, window, "WM_NAME") : net);
}

QList<xcb_window_t> childrenOf(const X11Session &s, xcb_window_t window)
{
    QList<xcb_window_t> result;
    xcb_query_tree_reply_t *tree =
        xcb_query_tree_reply(s.connection(), xcb_query_tree(s.connection(), window), nullptr);
    if (!tree)
        return result;
    const xcb_window_t *children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
        result.append(children[i]);
    std::free(tree);
    return result;
}

xcb_window_t parentOf(const X11Session &s, xcb_window_t window)
{
    xcb_query_tree_reply_t *tree =
        xcb_query_tree_reply(s.connection(), xcb_query_tree(s.connection(), window), nullptr);
    const xcb_window_t parent = tree ? tree->parent : 0;
    std::free(tree);
    return parent;
}

bool viewable(const X11Session &s, xcb_window_t window)
{
    xcb_get_window_attributes_reply_t *reply =
        xcb_get_window_attributes_reply(s.connection(), xcb_get_window_attributes(s.connection(), window), nullptr);
    const bool result = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return result;
}

} // namespace wendral::test
