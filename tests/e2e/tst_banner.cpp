// The real program and its web helper under a private X display with openbox:
// the banner strip shows the helper's window embedded in the main window
// (clipped by the picture box, drawn from a local server, clicks reaching the
// page, keys staying with the main window), a killed helper comes back, the
// helper ends when the window is hidden to the tray and comes back when it is
// shown, the website window is the helper's own window and, when the program
// was asked to end while it was open, closing it ends the program, and a
// killed program takes its helper along.
//
// The banner's address (http://brindlemark.example/freeprograms/banner2.html)
// reaches a local server through Chromium's standard --proxy-server switch in
// QTWEBENGINE_CHROMIUM_FLAGS, which the program passes on to its helper; the
// program has no test hook of its own for it.

#include "core/profile.h"
#include "support/chromiumharness.h"
#include "support/testenv.h"
#include "support/x11session.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>

using namespace wendral;
using test::waitFor;
using test::X11Session;
using wendral::test::descendantsOf;
using wendral::test::processAlive;

namespace {

const QString kMainTitle = QStringLiteral("Wendral by Brindlemark");
constexpr int kStartTimeout = 45000;
constexpr int kStepTimeout = 15000;

// The banner page: red on the left, blue on the right, and it reports clicks
// and keys to the server.
const QByteArray kBannerPage = "<!doctype html><html><head><title>banner</title><style>"
                               "html,body{margin:0;height:100%;overflow:hidden}"
                               "body{background:linear-gradient(90deg,#d00000,#0000d0)}</style></head>"
                               "<body onclick=\"fetch('/click')\" onkeydown=\"fetch('/key')\"></body></html>";

QString siteAddress(const QString &path)
{
    return QStringLiteral("http://") + BrandingProfile::fromBuild().website + path;
}

// ---------------------------------------------------------------- X queries

QByteArray windowClass(const X11Session &s, xcb_window_t window)
{
    return property(s, window, "WM_CLASS").split('\0').value(0);
}

// The first window below root (depth first) for which match holds.
xcb_window_t findWindow(const X11Session &s, xcb_window_t root, const std::function<bool(xcb_window_t)> &match)
{
    for (xcb_window_t child : childrenOf(s, root)) {
        if (match(child))
            return child;
        if (const xcb_window_t below = findWindow(s, child, match))
            return below;
    }
    return 0;
}

xcb_window_t mainWindow(const X11Session &s)
{
    return findWindow(s, s.root(), [&](xcb_window_t w) {
        return windowName(s, w) == kMainTitle && windowClass(s, w) == "wendral" && viewable(s, w);
    });
}

// The helper's window embedded in the main window; 0 when there is none.
xcb_window_t embeddedBanner(const X11Session &s, xcb_window_t main)
{
    return findWindow(s, main, [&](xcb_window_t w) { return windowClass(s, w) == "wendral-web" && viewable(s, w); });
}

// A viewable top-level window of the helper, managed by the window manager.
xcb_window_t helperTopLevel(const X11Session &s)
{
    return findWindow(s, s.root(), [&](xcb_window_t w) {
        return windowClass(s, w) == "wendral-web" && viewable(s, w) && !windowName(s, w).isEmpty() && s.wmState(w) == 1;
    });
}

QRect geometryIn(const X11Session &s, xcb_window_t window, xcb_window_t ancestor)
{
    xcb_get_geometry_reply_t *g =
        xcb_get_geometry_reply(s.connection(), xcb_get_geometry(s.connection(), window), nullptr);
    xcb_translate_coordinates_reply_t *t = xcb_translate_coordinates_reply(
        s.connection(), xcb_translate_coordinates(s.connection(), window, ancestor, 0, 0), nullptr);
    QRect r;
    if (g && t)
        r = QRect(t->dst_x, t->dst_y, g->width, g->height);
    std::free(g);
    std::free(t);
    return r;
}

// What the screen shows of a window's area: 0xRRGGBB per pixel (Xvfb's
// 24-bit visual, 32 bits per pixel).
QList<quint32> pixels(const X11Session &s, xcb_window_t window, const QRect &area)
{
    QList<quint32> result;
    xcb_get_image_reply_t *image = xcb_get_image_reply(
        s.connection(),
        xcb_get_image(s.connection(), XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<int16_t>(area.x()),
                      static_cast<int16_t>(area.y()), static_cast<uint16_t>(area.width()),
                      static_cast<uint16_t>(area.height()), ~0u),
        nullptr);
    if (image && xcb_get_image_data_length(image) >= area.width() * area.height() * 4) {
        const auto *data = reinterpret_cast<const quint32 *>(xcb_get_image_data(image));
        for (int i = 0; i < area.width() * area.height(); ++i)
            result.append(data[i] & 0xffffff);
    }
    std::free(image);
    return result;
}

// The nearest window above the banner window that is narrower than it: the
// picture box that clips it. 0 when none is.
xcb_window_t clippingBox(const X11Session &s, xcb_window_t banner, xcb_window_t main)
{
    const int width = geometryIn(s, banner, main).width();
    for (xcb_window_t w = parentOf(s, banner); w && w != main; w = parentOf(s, w)) {
        if (geometryIn(s, w, main).width() < width)
            return w;
    }
    return 0;
}

// ------------------------------------------------------------------ processes

// The program's web helper; 0 while it has none.
qint64 helperOf(qint64 program)
{
    for (qint64 pid : descendantsOf(program)) {
        if (test::readFile(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed() == "wendral-web" && processAlive(pid))
            return pid;
    }
    return 0;
}

bool tool(const QStringList &arguments)
{
    int code = -1;
    test::runTool(QStringLiteral("xdotool"), arguments, &code);
    return code == 0;
}

} // namespace

class TestBanner : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void stripShowsTheHelpersPageAndKeepsTheKeys();
    void killedHelperComesBackAndAKilledProgramTakesItAlong();
    void hiddenToTheTrayTheHelperEndsAndComesBackOnShow();
    void websiteWindowClosingEndsTheProgramAskedToEnd();

private:
    bool startDesktop(bool tray);
    bool startProgram(QProcess &program);
    // Waits for the main window and for a banner window embedded in it.
    bool waitForStrip();
    // Whether the strip's visible part shows the served page (red left end,
    // blue right end).
    bool stripShowsThePage();
    QString log() const
    {
        return QString::fromLocal8Bit(test::readFile(m_env->home() + QStringLiteral("/wendral.log")));
    }

    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<X11Session> m_desktop;
    std::unique_ptr<test::HttpCounter> m_server;
    std::unique_ptr<QProcess> m_program;
    xcb_window_t m_main = 0;
    xcb_window_t m_banner = 0;
};

void TestBanner::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    QVERIFY(m_env->isValid());
    QSettings settings(m_env->wendralConfigDir() + QStringLiteral("/Wendral.conf"), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Settings/showHelp"), QStringLiteral("0"));
    settings.sync();
    m_server = std::make_unique<test::HttpCounter>();
    QVERIFY(m_server->listen());
    m_server->setPage(siteAddress(QStringLiteral("/freeprograms/banner2.html")), kBannerPage);
    m_server->setPage(siteAddress(QStringLiteral("/")),
                      "<!doctype html><title>Brindlemark home</title><p>the maker's site, served by the test");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            QByteArray("--proxy-server=127.0.0.1:") + QByteArray::number(m_server->port()));
    m_main = m_banner = 0;
}

void TestBanner::cleanup()
{
    if (QTest::currentTestFailed())
        qWarning("program output (last 3000 bytes):\n%s", qPrintable(log().right(3000)));
    if (m_program) {
        const QList<qint64> below = descendantsOf(m_program->processId());
        test::stopProcess(*m_program, 3000);
        for (qint64 pid : below) {
            if (pid > 1)
                ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
        m_program.reset();
    }
    m_desktop.reset();
    m_server.reset();
    qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    m_env.reset();
}

bool TestBanner::startDesktop(bool tray)
{
    m_desktop = std::make_unique<X11Session>();
    if (!m_desktop->startServer() || !m_desktop->startWindowManager())
        return false;
    return !tray || m_desktop->startTray();
}

bool TestBanner::startProgram(QProcess &program)
{
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.setStandardOutputFile(m_env->home() + QStringLiteral("/wendral.log"), QIODevice::Append);
    program.start(test::TestEnvironment::programPath(), {});
    return program.waitForStarted(10000);
}

bool TestBanner::waitForStrip()
{
    if (!waitFor([&] { return (m_main = mainWindow(*m_desktop)) != 0; }, kStartTimeout))
        return false;
    return waitFor([&] { return (m_banner = embeddedBanner(*m_desktop, mainWindow(*m_desktop))) != 0; }, kStartTimeout);
}

bool TestBanner::stripShowsThePage()
{
    m_main = mainWindow(*m_desktop);
    m_banner = m_main ? embeddedBanner(*m_desktop, m_main) : 0;
    if (!m_banner)
        return false;
    const xcb_window_t box = clippingBox(*m_desktop, m_banner, m_main);
    if (!box)
        return false;
    const QRect area = geometryIn(*m_desktop, box, m_main);
    const QList<quint32> shown = pixels(*m_desktop, m_main, area);
    if (shown.isEmpty())
        return false;
    const std::set<quint32> colours(shown.begin(), shown.end());
    const auto red = [](quint32 p) { return (p >> 16) > 150 && ((p >> 8) & 0xff) < 60 && (p & 0xff) < 80; };
    const auto blue = [](quint32 p) { return (p & 0xff) > 100 && (p >> 16) < 100 && ((p >> 8) & 0xff) < 60; };
    const int w = area.width();
    const int middleRow = area.height() / 2;
    return colours.size() > 1 && red(shown.at(middleRow * w + 3)) && blue(shown.at(middleRow * w + w - 4));
}

void TestBanner::stripShowsTheHelpersPageAndKeepsTheKeys()
{
    QVERIFY(startDesktop(false));
    m_program = std::make_unique<QProcess>();
    QVERIFY(startProgram(*m_program));
    QVERIFY2(waitForStrip(), "no banner window was embedded in the main window");
    QVERIFY(helperOf(m_program->processId()) != 0);
    QCOMPARE(m_server->count(siteAddress(QStringLiteral("/freeprograms/banner2.html"))), 1);

    // Where the design puts it: 20 x 72 pixels into the client area below the
    // menu bar, 489 x 63, clipped to 470 by the picture box.
    const QRect banner = geometryIn(*m_desktop, m_banner, m_main);
    QCOMPARE(banner.size(), QSize(489, 63));
    const xcb_window_t box = clippingBox(*m_desktop, m_banner, m_main);
    QVERIFY(box);
    const QRect clip = geometryIn(*m_desktop, box, m_main);
    QCOMPARE(clip.size(), QSize(470, 63));
    QCOMPARE(clip.topLeft(), banner.topLeft());
    QCOMPARE(banner.x(), 20);
    // Nothing of the helper is on the screen outside the main window.
    QVERIFY(!helperTopLevel(*m_desktop));

    // The page is drawn: not all one colour, red at its left end and blue at
    // the right end of what the box shows.
    QVERIFY2(waitFor([&] { return stripShowsThePage(); }, kStepTimeout), "the strip never showed the page");

    // Keys typed with the pointer over the strip stay with the main window,
    // which keeps the focus.
    QVERIFY(m_desktop->activate(m_main));
    const QRect onScreen = m_desktop->geometry(m_banner);
    const QPoint inside = onScreen.topLeft() + QPoint(100, 30);
    QVERIFY(tool({QStringLiteral("mousemove"), QString::number(inside.x()), QString::number(inside.y())}));
    QVERIFY(tool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40"), QStringLiteral("a"),
                  QStringLiteral("b"), QStringLiteral("space")}));
    // Clicks reach the page.
    QVERIFY(tool({QStringLiteral("click"), QStringLiteral("1")}));
    QTRY_VERIFY_WITH_TIMEOUT(m_server->count(siteAddress(QStringLiteral("/click"))) >= 1, kStepTimeout);
    // And after a click the keys are still the main window's.
    QVERIFY(tool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("40"), QStringLiteral("c"),
                  QStringLiteral("Return")}));
    QTest::qWait(1000);
    QCOMPARE(m_server->count(siteAddress(QStringLiteral("/key"))), 0);
    QVERIFY2(m_desktop->activeWindow() == m_main, "the main window lost the focus");
}

void TestBanner::killedHelperComesBackAndAKilledProgramTakesItAlong()
{
    QVERIFY(startDesktop(false));
    m_program = std::make_unique<QProcess>();
    QVERIFY(startProgram(*m_program));
    QVERIFY(waitForStrip());
    QVERIFY(waitFor([&] { return stripShowsThePage(); }, kStepTimeout));
    const qint64 first = helperOf(m_program->processId());
    QVERIFY(first);

    // The helper dies: the program lives on with an empty strip, and a new
    // helper brings the page back.
    ::kill(static_cast<pid_t>(first), SIGKILL);
    QVERIFY(waitFor([&] { return !embeddedBanner(*m_desktop, mainWindow(*m_desktop)); }, kStepTimeout));
    QCOMPARE(m_program->state(), QProcess::Running);
    qint64 second = 0;
    QVERIFY(waitFor(
        [&] {
            second = helperOf(m_program->processId());
            return second != 0 && second != first;
        },
        kStepTimeout));
    QVERIFY2(waitFor([&] { return stripShowsThePage(); }, kStartTimeout), "the strip did not come back");
    QVERIFY(!processAlive(first));
    QCOMPARE(m_program->state(), QProcess::Running);

    // The program dies: its helper goes within 2 s.
    m_program->kill();
    QVERIFY(m_program->waitForFinished(5000));
    QVERIFY2(waitFor([&] { return !processAlive(second); }, 2000), "the helper outlived the program");
}

void TestBanner::hiddenToTheTrayTheHelperEndsAndComesBackOnShow()
{
    QVERIFY(startDesktop(true));
    m_program = std::make_unique<QProcess>();
    QVERIFY(startProgram(*m_program));
    QVERIFY(waitForStrip());
    const qint64 first = helperOf(m_program->processId());
    QVERIFY(first);

    // "Minimize to Taskbar" (Command6, at 108 x 4 of the client area, below
    // the menu bar) hides the window to the tray.
    const QRect window = m_desktop->geometry(m_main);
    const int menuBar = window.height() - 532;
    QVERIFY(menuBar > 0);
    QVERIFY(tool({QStringLiteral("mousemove"), QString::number(window.x() + 158),
                  QString::number(window.y() + menuBar + 36), QStringLiteral("click"), QStringLiteral("1")}));
    QVERIFY(waitFor([&] { return !mainWindow(*m_desktop); }, kStepTimeout));
    // With the website window closed nothing needs the helper: it ends.
    QVERIFY2(waitFor([&] { return !processAlive(first); }, 5000), "the helper outlived the hidden window");
    QCOMPARE(helperOf(m_program->processId()), 0);
    QCOMPARE(m_program->state(), QProcess::Running);

    // A second start asks the running copy to show its window: the strip
    // comes back with a new helper.
    QProcess second;
    QVERIFY(startProgram(second));
    QVERIFY(second.waitForFinished(kStepTimeout));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(waitFor([&] { return mainWindow(*m_desktop) != 0; }, kStartTimeout), "the main window did not come back");
    QVERIFY2(waitForStrip(), qPrintable(QStringLiteral("the main window came back, the strip did not (helper %1)")
                                            .arg(helperOf(m_program->processId()))));
    const qint64 again = helperOf(m_program->processId());
    QVERIFY(again != 0 && again != first);
    QVERIFY2(waitFor([&] { return stripShowsThePage(); }, kStartTimeout), "the strip did not come back");
}

void TestBanner::websiteWindowClosingEndsTheProgramAskedToEnd()
{
    QVERIFY(startDesktop(false));
    m_program = std::make_unique<QProcess>();
    QVERIFY(startProgram(*m_program));
    QVERIFY(waitForStrip());
    const qint64 helper = helperOf(m_program->processId());

    // "Visit ..." (Command7, at 212 x 4 of the client area, 293 x 65).
    const QRect window = m_desktop->geometry(m_main);
    const int menuBar = window.height() - 532;
    QVERIFY(tool({QStringLiteral("mousemove"), QString::number(window.x() + 350),
                  QString::number(window.y() + menuBar + 36), QStringLiteral("click"), QStringLiteral("1")}));
    xcb_window_t site = 0;
    QVERIFY2(waitFor([&] { return (site = helperTopLevel(*m_desktop)) != 0; }, kStartTimeout),
             "no website window came up");
    // An ordinary window of the helper, on the maker's site.
    QTRY_VERIFY_WITH_TIMEOUT(m_server->count(siteAddress(QStringLiteral("/"))) >= 1, kStartTimeout);
    QCOMPARE(helperOf(m_program->processId()), helper);
    QTRY_COMPARE_WITH_TIMEOUT(windowName(*m_desktop, site), QStringLiteral("Brindlemark home"), kStepTimeout);

    // Asked to end while it is open: the main window goes, the program and
    // the website window stay.
    ::kill(static_cast<pid_t>(m_program->processId()), SIGTERM);
    QVERIFY(waitFor([&] { return !mainWindow(*m_desktop); }, kStepTimeout));
    QTest::qWait(1000);
    QCOMPARE(m_program->state(), QProcess::Running);
    QVERIFY(viewable(*m_desktop, site));

    // Its close box (through the window manager) ends the program, cleanly.
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = site;
    message.type = m_desktop->atom("_NET_CLOSE_WINDOW");
    message.data.data32[0] = XCB_CURRENT_TIME;
    message.data.data32[1] = 2;
    xcb_send_event(m_desktop->connection(), 0, m_desktop->root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(m_desktop->connection());
    QVERIFY2(m_program->waitForFinished(kStepTimeout), "the program did not end with the website window");
    QCOMPARE(m_program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program->exitCode(), 0);
    QVERIFY(waitFor([&] { return !processAlive(helper); }, 3000));
    // The unload saved the settings before.
    const QSettings saved(m_env->wendralConfigDir() + QStringLiteral("/Wendral.conf"), QSettings::IniFormat);
    QCOMPARE(saved.value(QStringLiteral("Settings/state")).toString(), QStringLiteral("up"));
}

QTEST_GUILESS_MAIN(TestBanner)
#include "tst_banner.moc"
