// What bench/startup.sh cannot see from a shell, measured from outside the
// program under test:
//
//   startup_probe serve PORT-FILE
//       A local HTTP server that answers the banner's address
//       (/freeprograms/banner2.html, also when asked as a proxy, in absolute
//       form) with a page painted in a red-to-blue gradient, and everything
//       else with 404. Writes its port to PORT-FILE; runs until killed. The
//       program's web engine is pointed at it with the standard Chromium
//       switch --proxy-server=127.0.0.1:PORT (QTWEBENGINE_CHROMIUM_FLAGS), so
//       the program itself needs no test hook for it.
//
//   startup_probe watch T0-MS TIMEOUT-MS
//       Polls the X display every few milliseconds and prints, in
//       milliseconds since T0-MS (wall clock, as `date +%s%3N`):
//         mapped N   the program's main window is viewable
//         drawn N    the banner strip shows the served page: its left end
//                    red and its right end blue
//       ("-" for what did not happen within TIMEOUT-MS).

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

const QByteArray kBannerPath = "/freeprograms/banner2.html";
const QByteArray kPage = "<!doctype html><html><head><title>banner</title><style>"
                         "html,body{margin:0;height:100%;overflow:hidden}"
                         "body{background:linear-gradient(90deg,#d00000,#0000d0)}</style></head>"
                         "<body></body></html>";

int serve(const char *portFile)
{
    int argc = 1;
    char name[] = "startup_probe";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTcpServer server;
    QHash<QTcpSocket *, QByteArray> seen;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *s = server.nextPendingConnection()) {
            QObject::connect(s, &QTcpSocket::disconnected, s, [&seen, s] {
                seen.remove(s);
                s->deleteLater();
            });
            QObject::connect(s, &QTcpSocket::readyRead, s, [&seen, s] {
                QByteArray &request = seen[s];
                request += s->readAll();
                if (!request.contains("\r\n\r\n"))
                    return;
                const QByteArray target = request.left(request.indexOf("\r\n")).split(' ').value(1);
                const bool banner = target.endsWith(kBannerPath);
                const QByteArray body = banner ? kPage : QByteArray();
                s->write((banner ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                         QByteArray("Content-Type: text/html\r\nConnection: close\r\nContent-Length: ") +
                         QByteArray::number(body.size()) + "\r\n\r\n" + body);
                s->disconnectFromHost();
            });
        }
    });
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 1;
    QFile out(QString::fromLocal8Bit(portFile));
    if (!out.open(QIODevice::WriteOnly))
        return 1;
    out.write(QByteArray::number(server.serverPort()) + '\n');
    out.close();
    return app.exec();
}

long long nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

QByteArray property(xcb_connection_t *c, xcb_window_t w, xcb_atom_t atom)
{
    xcb_get_property_reply_t *r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
    QByteArray v;
    if (r && r->type != XCB_ATOM_NONE)
        v = QByteArray(static_cast<const char *>(xcb_get_property_value(r)), xcb_get_property_value_length(r));
    std::free(r);
    return v;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

// The program's main window, viewable; 0 when there is none yet.
xcb_window_t findMainWindow(xcb_connection_t *c, xcb_window_t root, xcb_atom_t netName)
{
    QList<xcb_window_t> pending{root};
    while (!pending.isEmpty()) {
        const xcb_window_t w = pending.takeFirst();
        xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (!tree)
            continue;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            const xcb_window_t child = children[i];
            QByteArray name = property(c, child, netName);
            if (name.isEmpty())
                name = property(c, child, XCB_ATOM_WM_NAME);
            if (name == "Wendral by Brindlemark" && property(c, child, XCB_ATOM_WM_CLASS).startsWith("wendral\0")) {
                xcb_get_window_attributes_reply_t *a =
                    xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, child), nullptr);
                const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
                std::free(a);
                if (viewable) {
                    std::free(tree);
                    return child;
                }
            }
            // Top-level windows sit at most two levels down (frame, client).
            if (w == root)
                pending.append(child);
        }
        std::free(tree);
    }
    return 0;
}

// Whether the strip shows the served page. The main window's layout is fixed:
// the strip's visible part is 470 x 63 pixels at (20, 72) of the client area,
// which starts below the menu bar; the client area (central widget and status
// bar) is 532 pixels high with the banner, so the menu bar is the rest.
bool stripDrawn(xcb_connection_t *c, xcb_window_t window)
{
    xcb_get_geometry_reply_t *g = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (!g)
        return false;
    const int menuBar = g->height - 532;
    std::free(g);
    if (menuBar < 0)
        return false;
    const int x = 20, y = menuBar + 72, w = 470, h = 63;
    xcb_get_image_reply_t *img =
        xcb_get_image_reply(c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, x, y, w, h, ~0u), nullptr);
    if (!img)
        return false;
    const int length = xcb_get_image_data_length(img);
    const uint8_t *data = xcb_get_image_data(img);
    bool drawn = false;
    if (length >= w * h * 4) {
        // 32 bits per pixel, blue in the lowest byte (Xvfb's depth 24).
        const auto at = [&](int px, int py) {
            const uint8_t *p = data + (py * w + px) * 4;
            return std::array<int, 3>{p[2], p[1], p[0]};
        };
        int redLeft = 0, blueRight = 0, rows = 0;
        for (int py = 4; py < h - 4; py += 4, ++rows) {
            const auto l = at(6, py);
            const auto r = at(w - 6, py);
            if (l[0] > 150 && l[1] < 60 && l[2] < 80)
                ++redLeft;
            if (r[2] > 100 && r[0] < 100 && r[1] < 60)
                ++blueRight;
        }
        drawn = rows > 0 && redLeft == rows && blueRight == rows;
    }
    std::free(img);
    return drawn;
}

int watch(long long t0, long long timeoutMs)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t netName = atom(c, "_NET_WM_NAME");
    const long long deadline = t0 + timeoutMs;
    xcb_window_t main = 0;
    while (nowMs() < deadline && !(main = findMainWindow(c, root, netName)))
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    if (!main) {
        std::puts("mapped -\ndrawn -");
        return 0;
    }
    std::printf("mapped %lld\n", nowMs() - t0);
    std::fflush(stdout);
    bool drawn = false;
    while (nowMs() < deadline && !(drawn = stripDrawn(c, main)))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (drawn)
        std::printf("drawn %lld\n", nowMs() - t0);
    else
        std::puts("drawn -");
    xcb_disconnect(c);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "serve") == 0)
        return serve(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "watch") == 0)
        return watch(std::atoll(argv[2]), std::atoll(argv[3]));
    std::fputs("usage: startup_probe serve PORT-FILE | watch T0-MS TIMEOUT-MS\n", stderr);
    return 2;
}
