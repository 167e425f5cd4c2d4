// The website window, in the web layer as the web helper runs it, against a
// local HTTP server. The maker's address is redirected to that server, so the
// window's own start page loads too.

#include "core/productinfo.h"
#include "core/profile.h"
#include "forms/skin.h"
#include "forms/twips.h"
#include "platform/windowstacker.h"
#include "support/testenv.h"
#include "web/webengine.h"
#include "web/websitewindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <QtTest>

#include <atomic>
#include <cstdio>

using namespace wendral;

namespace {

// A small HTTP/1.0 server: each path has a page with a title; "/slow" never
// answers. Every request path is logged.
class PageServer : public QObject
{
public:
    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, this, [this, s] { onData(s); });
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path); }
    int hits(const QString &path) const { return static_cast<int>(m_log.count(path)); }

private:
    void onData(QTcpSocket *s)
    {
        QByteArray &buf = m_pending[s];
        buf += s->readAll();
        if (!buf.contains("\r\n\r\n"))
            return;
        const QList<QByteArray> first = buf.left(buf.indexOf("\r\n")).split(' ');
        m_pending.remove(s);
        const QString path = first.size() >= 2 ? QString::fromLatin1(first.at(1)) : QString();
        m_log.append(path);
        if (path == QLatin1String("/slow"))
            return; // keeps the browser waiting
        QByteArray body;
        if (path == QLatin1String("/"))
            body = page("Wendral test home", "<h1>A local test page</h1><p>Served by the test on 127.0.0.1.</p>"
                                             "<a id='link' href='/a' style='font-size:40px'>to page A</a>");
        else if (path == QLatin1String("/a"))
            body = page("Page A", "<a href='/b'>to page B</a>");
        else if (path == QLatin1String("/b"))
            body = page("Page B", "<a href='/c'>to page C</a>");
        else if (path == QLatin1String("/c"))
            body = page("Page C", "last");
        else if (path == QLatin1String("/late"))
            body = page("Early", "<script>setTimeout(function(){document.title='Late title';}, 400);</script>");
        else if (path != QLatin1String("/favicon.ico"))
            body = page("Other", "other");
        QByteArray head = body.isEmpty() ? "HTTP/1.0 404 Not Found\r\n" : "HTTP/1.0 200 OK\r\n";
        head += "Content-Type: text/html; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
                QByteArray::number(body.size()) + "\r\n\r\n";
        s->write(head + body);
        s->disconnectFromHost();
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    }
    static QByteArray page(const char *title, const char *body)
    {
        return QByteArray("<!doctype html><html><head><title>") + title + "</title></head><body>" + body +
               "</body></html>";
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QStringList m_log;
};

// Sends requests for the maker's site to the local server.
class RedirectMaker : public QWebEngineUrlRequestInterceptor
{
public:
    std::atomic<int> port{0};
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        QUrl url = info.requestUrl();
        if (url.host() != ProductInfo::website() || port.load() == 0)
            return;
        url.setScheme(QStringLiteral("http"));
        url.setHost(QStringLiteral("127.0.0.1"));
        url.setPort(port.load());
        info.redirect(url);
    }
};

class RecordingStacker : public WindowStacker
{
public:
    QList<bool> calls;
    void setAbove(QWidget *, bool above) override { calls.append(above); }
    bool isAbove(const QWidget *) const override { return !calls.isEmpty() && calls.last(); }
};

// What the web helper gives the window: the profile, the skin, a stacker.
struct WebsiteFixture
{
    explicit WebsiteFixture(WindowStacker &stacker) : context{profile, skin, stacker, {}} {}
    ~WebsiteFixture() { delete context.window.data(); }
    BrandingProfile profile;
    SkinEngine skin{profile};
    WebsiteContext context;
};

} // namespace

class TestWebsite : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void addressText_data();
    void addressText();
    void arrangement_data();
    void arrangement();

    void loadStepsInOrder();
    void enterInAddressBoxNavigates();
    void goButtonAndBlankAddress();
    void backAndForward();
    void reloadAndStop();
    void hoveredLinkInStatusPanel();
    void captionFollowsLateTitle();
    void secondOpenKeepsPage();
    void arrangesLiveWindowEvenWhenTiny();
    void labelsDoubleOnlyInsideTheFrame();
    void closeUnloadsAndReopenStartsOver();
    void closingTheLastWindowEndsNothing();

private:
    WebsiteWindow *window();
    WebsiteWindow *loaded() const { return m_program->context.window; }
    bool loadAndWait(const std::function<void()> &action, int timeoutMs = 15000);

    test::TestEnvironment m_env;
    std::unique_ptr<WebsiteFixture> m_program;
    PageServer m_server;
    RedirectMaker m_redirect;
    RecordingStacker m_stacker;
};

void TestWebsite::initTestCase()
{
    QVERIFY(m_env.isValid());
    QVERIFY(m_server.start());
    m_redirect.port = m_server.port();
    QWebEngineProfile::defaultProfile()->setUrlRequestInterceptor(&m_redirect);
    m_program = std::make_unique<WebsiteFixture>(m_stacker);
}

void TestWebsite::cleanupTestCase()
{
    // The window holds the fixture's context: it goes with it.
    m_program.reset();
    QWebEngineProfile::defaultProfile()->setUrlRequestInterceptor(nullptr);
}

WebsiteWindow *TestWebsite::window()
{
    WebsiteWindow *w = loaded();
    if (!w) {
        w = WebsiteWindow::open(m_program->context);
        loadAndWait([] {});
    }
    return w;
}

// Runs the action and waits for the next load of the window's page to finish.
bool TestWebsite::loadAndWait(const std::function<void()> &action, int timeoutMs)
{
    WebsiteWindow *w = loaded();
    if (!w)
        return false;
    QSignalSpy finished(w->browser()->page(), &QWebEnginePage::loadFinished);
    action();
    return finished.count() > 0 || finished.wait(timeoutMs);
}

void TestWebsite::addressText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("url");
    QTest::newRow("bare domain") << "brindlemark.example"
                                 << "http://brindlemark.example";
    QTest::newRow("spaces around") << "  example.org/x  "
                                   << "http://example.org/x";
    QTest::newRow("host and port") << "127.0.0.1:8080/b"
                                   << "http://127.0.0.1:8080/b";
    QTest::newRow("scheme kept") << "https://example.org/p?q=1"
                                 << "https://example.org/p?q=1";
    QTest::newRow("about page") << "about:blank"
                                << "about:blank";
    QTest::newRow("blank") << "   "
                           << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestWebsite::addressText()
{
    QFETCH(QString, text);
    QFETCH(QString, url);
    const QUrl result = websiteAddress(text);
    QCOMPARE(result.isValid(), !url.isEmpty());
    if (!url.isEmpty())
        QCOMPARE(result.toString(), url);
}

void TestWebsite::arrangement_data()
{
    // window width, height, status bar height -> frame w, h, Text1 w, Command3 left, browser w, h.
    // Text1 left 540, Command3 width 795, browser at (120, 1140), as laid out.
    QTest::addColumn<int>("ww");
    QTest::addColumn<int>("wh");
    QTest::addColumn<int>("sh");
    QTest::addColumn<QList<int>>("expected");
    // Outer size of the laid-out window with a 4 px border and a 24 px title.
    QTest::newRow("layout size") << 10665 << 9060 << 315 << QList<int>{10365, 8745, 8730, 9370, 10145, 6490};
    // Frame 10365 wide: Text1 = 10365 - 540 - 300 - 795; Command3 = 8730 + 540 + 100;
    // browser = 10365 - 120 - 100 by 8745 - 1140 - 800 - 315.
    QTest::newRow("tiny") << 150 << 150 << 315 << QList<int>{150, 165, 1485, 2125, 70, 2090};
    // Frame |150-300| = 150 wide, |150-315| = 165 high; Text1 |150-1635|; browser |150-220| by |165-2255|.
    QTest::newRow("zero") << 0 << 0 << 315 << QList<int>{300, 315, 1335, 1975, 80, 1940};
    QTest::newRow("exactly the margins") << 300 << 315 << 315 << QList<int>{0, 0, 1635, 2275, 220, 2255};
}

void TestWebsite::arrangement()
{
    QFETCH(int, ww);
    QFETCH(int, wh);
    QFETCH(int, sh);
    QFETCH(QList<int>, expected);
    WebsiteMetrics m;
    m.windowWidth = ww;
    m.windowHeight = wh;
    m.statusBarHeight = sh;
    m.text1Left = 540;
    m.command3Width = 795;
    m.browserLeft = 120;
    m.browserTop = 1140;
    const WebsiteArrangement a = arrangeWebsiteControls(m);
    QCOMPARE(a.panel1Width, ww / 2);
    QCOMPARE(a.panel2Width, ww / 2);
    const QList<int> got{a.frameWidth, a.frameHeight, a.text1Width, a.command3Left, a.browserWidth, a.browserHeight};
    QCOMPARE(got, expected);
}

void TestWebsite::loadStepsInOrder()
{
    QVERIFY(!loaded());
    m_program->profile = BrandingProfile{};
    m_stacker.calls.clear();
    const int homeHits = m_server.hits(QStringLiteral("/"));

    WebsiteWindow *w = WebsiteWindow::open(m_program->context);
    QVERIFY(w);
    QCOMPARE(loaded(), w);
    // The load filled the profile again and captioned the window with the site.
    QCOMPARE(m_program->profile.website, ProductInfo::website());
    QCOMPARE(w->windowTitle(), ProductInfo::website());
    QCOMPARE(w->panelCount(), 2);
    QCOMPARE(m_stacker.calls, (QList<bool>{true, false}));
    QVERIFY(w->windowState() & Qt::WindowMaximized);
    QVERIFY(w->isVisible());

    QStringList atStart;
    auto c =
        connect(w->browser()->page(), &QWebEnginePage::loadStarted, w, [&atStart, w] { atStart << w->panelText(2); });
    const bool loaded = loadAndWait([] {});
    disconnect(c);
    QVERIFY(loaded);
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Wendral test home"));
    QCOMPARE(m_server.hits(QStringLiteral("/")), homeHits + 1);
    const QString here = w->browser()->url().toString();
    QCOMPARE(here, m_server.url(QStringLiteral("/")));
    QCOMPARE(w->panelText(2), QStringLiteral("Completed ") + here);
    QCOMPARE(w->addressBox()->text(), here);
    // Load starts arrive through the event loop, after open() returned.
    QVERIFY(!atStart.isEmpty());
    for (const QString &text : atStart)
        QVERIFY2(text.startsWith(QLatin1String("Opening ")), qPrintable(text));
}

void TestWebsite::enterInAddressBoxNavigates()
{
    WebsiteWindow *w = window();
    QStringList atStart;
    auto c =
        connect(w->browser()->page(), &QWebEnginePage::loadStarted, w, [&atStart, w] { atStart << w->panelText(2); });
    w->addressBox()->clear();
    QVERIFY(loadAndWait([&] {
        QTest::keyClicks(w->addressBox(), m_server.url(QStringLiteral("/a")));
        QTest::keyClick(w->addressBox(), Qt::Key_Return);
    }));
    disconnect(c);
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page A"));
    QCOMPARE(atStart.size(), 1);
    QVERIFY2(atStart.first().startsWith(QLatin1String("Opening ")), qPrintable(atStart.first()));
    QCOMPARE(w->panelText(2), QStringLiteral("Completed ") + m_server.url(QStringLiteral("/a")));
    QCOMPARE(w->addressBox()->text(), m_server.url(QStringLiteral("/a")));

    // The keypad's Enter does the same, and an address without a scheme is
    // taken as an http address.
    w->addressBox()->setText(QStringLiteral("127.0.0.1:%1/b").arg(m_server.port()));
    QVERIFY(loadAndWait([&] { QTest::keyClick(w->addressBox(), Qt::Key_Enter, Qt::KeypadModifier); }));
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page B"));
    QCOMPARE(w->addressBox()->text(), m_server.url(QStringLiteral("/b")));

    // Other keys are the text box's own.
    w->addressBox()->clear();
    QTest::keyClicks(w->addressBox(), QStringLiteral("xyz"));
    QCOMPARE(w->addressBox()->text(), QStringLiteral("xyz"));
}

void TestWebsite::goButtonAndBlankAddress()
{
    WebsiteWindow *w = window();
    auto *go = qobject_cast<QAbstractButton *>(w->control(QStringLiteral("Command3")));
    QVERIFY(go);
    QCOMPARE(go->toolTip(), QStringLiteral("browse the entered url"));
    w->addressBox()->setText(m_server.url(QStringLiteral("/c")));
    QVERIFY(loadAndWait([&] { QTest::mouseClick(go, Qt::LeftButton); }));
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page C"));

    // A blank address goes nowhere.
    QSignalSpy started(w->browser()->page(), &QWebEnginePage::loadStarted);
    w->addressBox()->setText(QStringLiteral("   "));
    QTest::keyClick(w->addressBox(), Qt::Key_Return);
    QTest::mouseClick(go, Qt::LeftButton);
    QTest::qWait(300);
    QCOMPARE(started.count(), 0);
    QCOMPARE(w->browser()->url().toString(), m_server.url(QStringLiteral("/c")));
}

void TestWebsite::backAndForward()
{
    WebsiteWindow *w = window();
    auto *back = qobject_cast<QAbstractButton *>(w->control(QStringLiteral("Command4")));
    auto *forward = qobject_cast<QAbstractButton *>(w->control(QStringLiteral("Command5")));
    QVERIFY(back && forward);
    QCOMPARE(back->toolTip(), QStringLiteral("back"));
    QCOMPARE(forward->toolTip(), QStringLiteral("forward"));

    QVERIFY(loadAndWait([&] { w->navigate(m_server.url(QStringLiteral("/a"))); }));
    QVERIFY(loadAndWait([&] { w->navigate(m_server.url(QStringLiteral("/b"))); }));
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page B"));

    QVERIFY(loadAndWait([&] { QTest::mouseClick(back, Qt::LeftButton); }));
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page A"));
    QCOMPARE(w->addressBox()->text(), m_server.url(QStringLiteral("/a")));
    QCOMPARE(w->panelText(2), QStringLiteral("Completed ") + m_server.url(QStringLiteral("/a")));

    QVERIFY(loadAndWait([&] { QTest::mouseClick(forward, Qt::LeftButton); }));
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page B"));
    QCOMPARE(w->addressBox()->text(), m_server.url(QStringLiteral("/b")));

    // Forward at the end of the history does nothing and complains about nothing.
    QSignalSpy started(w->browser()->page(), &QWebEnginePage::loadStarted);
    QTest::mouseClick(forward, Qt::LeftButton);
    QTest::qWait(300);
    QCOMPARE(started.count(), 0);
    QCOMPARE(w->windowTitle(), QStringLiteral("Page B"));
}

void TestWebsite::reloadAndStop()
{
    WebsiteWindow *w = window();
    auto *reload = qobject_cast<QAbstractButton *>(w->control(QStringLiteral("Command7_1")));
    auto *stop = qobject_cast<QAbstractButton *>(w->control(QStringLiteral("Command6")));
    QVERIFY(reload && stop);
    QCOMPARE(reload->toolTip(), QStringLiteral("refresh"));
    QCOMPARE(stop->toolTip(), QStringLiteral("stop"));

    QVERIFY(loadAndWait([&] { w->navigate(m_server.url(QStringLiteral("/c"))); }));
    const int before = m_server.hits(QStringLiteral("/c"));
    QVERIFY(loadAndWait([&] { QTest::mouseClick(reload, Qt::LeftButton); }));
    QTRY_COMPARE(m_server.hits(QStringLiteral("/c")), before + 1);
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page C"));

    // A page that never answers: Stop ends the load, which completes.
    QSignalSpy started(w->browser()->page(), &QWebEnginePage::loadStarted);
    QSignalSpy finished(w->browser()->page(), &QWebEnginePage::loadFinished);
    w->navigate(m_server.url(QStringLiteral("/slow")));
    QVERIFY(started.count() > 0 || started.wait(10000));
    QTRY_VERIFY(m_server.hits(QStringLiteral("/slow")) > 0);
    QTest::qWait(200);
    QCOMPARE(finished.count(), 0);
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(finished.count() > 0 || finished.wait(5000));
    QVERIFY(w->panelText(2).startsWith(QLatin1String("Completed ")));

    // Reload and Stop with nothing to do are harmless.
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(loadAndWait([&] { w->navigate(m_server.url(QStringLiteral("/a"))); }));
    QTest::mouseClick(stop, Qt::LeftButton);
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page A"));
}

void TestWebsite::hoveredLinkInStatusPanel()
{
    WebsiteWindow *w = window();
    QVERIFY(loadAndWait([&] { w->navigate(m_server.url(QStringLiteral("/"))); }));
    QWebEngineView *view = w->browser();
    // The link is large and at the top left of the page.
    QVariant rect;
    bool done = false;
    view->page()->runJavaScript(
        QStringLiteral("(function(){var r=document.getElementById('link')"
                       ".getBoundingClientRect();return [r.left+r.width/2, r.top+r.height/2];})()"),
        [&](const QVariant &v) {
            rect = v;
            done = true;
        });
    QTRY_VERIFY(done);
    const QVariantList xy = rect.toList();
    QCOMPARE(xy.size(), 2);
    const QPoint inLink(qRound(xy.at(0).toDouble()), qRound(xy.at(1).toDouble()));
    QWidget *target = view->focusProxy() ? view->focusProxy() : view;
    QSignalSpy hovered(view->page(), &QWebEnginePage::linkHovered);
    QTest::mouseMove(target, inLink + QPoint(1, 0));
    QTest::mouseMove(target, inLink);
    QTRY_COMPARE(w->panelText(1), m_server.url(QStringLiteral("/a")));
    QTest::mouseMove(target, QPoint(view->width() - 5, view->height() - 5));
    QTRY_COMPARE(w->panelText(1), QString());
    QVERIFY(hovered.count() >= 2);
}

void TestWebsite::captionFollowsLateTitle()
{
    WebsiteWindow *w = window();
    QVERIFY(loadAndWait([&] { w->navigate(m_server.url(QStringLiteral("/late"))); }));
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Late title"));
    QCOMPARE(w->panelText(2), QStringLiteral("Completed ") + m_server.url(QStringLiteral("/late")));
}

void TestWebsite::secondOpenKeepsPage()
{
    WebsiteWindow *w = window();
    QVERIFY(loadAndWait([&] { w->navigate(m_server.url(QStringLiteral("/b"))); }));
    QTRY_COMPARE(w->windowTitle(), QStringLiteral("Page B"));
    w->showMinimized();
    QSignalSpy started(w->browser()->page(), &QWebEnginePage::loadStarted);
    const int homeHits = m_server.hits(QStringLiteral("/"));

    QCOMPARE(WebsiteWindow::open(m_program->context), w);
    QVERIFY(!(w->windowState() & Qt::WindowMinimized));
    QVERIFY(w->isVisible());
    QTest::qWait(500);
    QCOMPARE(started.count(), 0);
    QCOMPARE(m_server.hits(QStringLiteral("/")), homeHits);
    QCOMPARE(w->browser()->url().toString(), m_server.url(QStringLiteral("/b")));
    QCOMPARE(w->windowTitle(), QStringLiteral("Page B"));
    QCOMPARE(w->panelCount(), 2);
}

void TestWebsite::arrangesLiveWindowEvenWhenTiny()
{
    WebsiteWindow *w = window();
    w->showNormal();
    auto *frame = qobject_cast<QGroupBox *>(w->control(QStringLiteral("frmBrowser")));
    QVERIFY(frame);
    QLineEdit *text1 = w->addressBox();
    QWidget *go = w->control(QStringLiteral("Command3"));
    QWebEngineView *browser = w->browser();
    const auto px = [](int twips) { return twipsToPixels(twips); };

    for (const QSize size : {QSize(640, 480), QSize(10, 10), QSize(1, 1), QSize(25, 60)}) {
        w->resize(size);
        QTRY_COMPARE(w->size(), size);
        w->arrangeControls();
        const int ww = pixelsToTwips(w->frameGeometry().width());
        const int wh = pixelsToTwips(w->frameGeometry().height());
        const int sh = pixelsToTwips(w->statusBar()->height());
        const int fw = std::abs(ww - 300);
        const int fh = std::abs(wh - sh);
        const QString at = QStringLiteral("at %1x%2").arg(size.width()).arg(size.height());
        QVERIFY2(frame->width() == px(fw) && frame->height() == px(fh), qPrintable(at));
        QVERIFY2(text1->width() == px(std::abs(fw - 540 - 300 - 795)), qPrintable(at));
        QVERIFY2(go->x() == px(std::abs(fw - 540 - 300 - 795) + 540 + 100), qPrintable(at));
        QVERIFY2(browser->width() == px(std::abs(fw - 120 - 100)), qPrintable(at));
        QVERIFY2(browser->height() == px(std::abs(fh - 1140 - 800 - sh)), qPrintable(at));
        QCOMPARE(w->panelWidthTwips(1), px(ww / 2) * kTwipsPerPixel);
        QCOMPARE(w->panelWidthTwips(2), px(ww / 2) * kTwipsPerPixel);
        // The other positions never move.
        QCOMPARE(text1->pos(), QPoint(36, 16));
        QCOMPARE(browser->pos(), QPoint(8, 76));
        QCOMPARE(frame->pos(), QPoint(4, 0));
        // The status bar keeps to the bottom edge.
        QCOMPARE(w->statusBar()->y(), w->height() - w->statusBar()->height());
    }
    w->showMaximized();

    // Arranging on paint settles: a window left alone stops painting.
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    } counter;
    QTest::qWait(300);
    w->installEventFilter(&counter);
    w->update();
    QTest::qWait(500);
    w->removeEventFilter(&counter);
    QVERIFY2(counter.paints >= 1 && counter.paints <= 3, qPrintable(QString::number(counter.paints)));
}

void TestWebsite::labelsDoubleOnlyInsideTheFrame()
{
    WebsiteWindow *w = window();
    QVERIFY(!m_program->profile.skinEnabled);
    QCOMPARE(skinLabelArray(w, QStringLiteral("SkinLabel1")).size(), 1); // the template only
    QVERIFY(!m_program->skin.skinObject());
    const QList<SkinLabel *> made =
        cloneLabelsToSkinLabels(w, SkinLabelRules::byContainer({QStringLiteral("SkinLabel1")}));
    // "URL:" is the frame's only label; the status panels are no labels.
    QCOMPARE(made.size(), 1);
    QLabel *url = qobject_cast<QLabel *>(w->control(QStringLiteral("Label5")));
    QVERIFY(url);
    QCOMPARE(made.first()->objectName(), QStringLiteral("SkinLabel1_1"));
    QCOMPARE(made.first()->parentWidget(), w->control(QStringLiteral("frmBrowser")));
    QCOMPARE(made.first()->text(), QStringLiteral("URL:"));
    QCOMPARE(made.first()->geometry(), url->geometry());
    delete made.first();
}

void TestWebsite::closeUnloadsAndReopenStartsOver()
{
    WebsiteWindow *w = window();
    QVERIFY(loadAndWait([&] { w->navigate(m_server.url(QStringLiteral("/c"))); }));
    QPointer<WebsiteWindow> old = w;
    QSignalSpy closed(w, &WebsiteWindow::closed);
    QVERIFY(w->close());
    // The helper is told at once (and tells the program).
    QCOMPARE(closed.count(), 1);
    QVERIFY(!loaded());
    QTRY_VERIFY(old.isNull());

    const int homeHits = m_server.hits(QStringLiteral("/"));
    WebsiteWindow *again = WebsiteWindow::open(m_program->context);
    QCOMPARE(again->windowTitle(), ProductInfo::website());
    QVERIFY(loadAndWait([] {}));
    QTRY_COMPARE(again->windowTitle(), QStringLiteral("Wendral test home"));
    QCOMPARE(m_server.hits(QStringLiteral("/")), homeHits + 1);

    // Opened again at once, while the closed window still waits for its
    // deletion: a new window loads, and it stays.
    QPointer<WebsiteWindow> closing = again;
    QVERIFY(again->close());
    const QPointer<WebsiteWindow> reopened = WebsiteWindow::open(m_program->context);
    QVERIFY(reopened);
    QVERIFY(reopened != closing);
    QTRY_VERIFY(closing.isNull());
    QVERIFY(reopened);
    QVERIFY(reopened->isVisible());
    QCOMPARE(loaded(), reopened.data());
    QVERIFY(loadAndWait([] {}));
}

// A child run of this program: opens the website window as the only window,
// closes it after a moment and reports how the event loop ended. Whether the
// program ends with it is the program's decision (told through the helper);
// the window itself ends nothing, even as the last window. A guard ends the
// loop with 42 after 5 s.
static int closeChild()
{
    prepareWebEngineEnvironment();
    int argc = 1;
    char name[] = "tst_website";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    test::TestEnvironment env;
    RecordingStacker stacker;
    WebsiteFixture site(stacker);
    WebsiteWindow *w = WebsiteWindow::open(site.context);
    QObject::connect(w, &QObject::destroyed, [] {
        std::fputs("unloaded\n", stdout);
        std::fflush(stdout);
    });
    QTimer::singleShot(800, w, &QWidget::close);
    QTimer::singleShot(5000, &app, [] { QCoreApplication::exit(42); });
    const int rc = app.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return rc;
}

void TestWebsite::closingTheLastWindowEndsNothing()
{
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--close-child")});
    QVERIFY(child.waitForFinished(60000));
    const QByteArray out = child.readAllStandardOutput();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 42);
    QVERIFY2(out.contains("unloaded"), out.constData());
}

// Not a test: shows the window on the local home page with a link hovered and
// saves a picture of the screen (scripts/screenshot-windows.sh runs it under
// Xvfb with a window manager).
static int screenshot(const QString &path)
{
    prepareWebEngineEnvironment();
    int argc = 1;
    char name[] = "tst_website";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    test::TestEnvironment env;
    PageServer server;
    RedirectMaker redirect;
    if (!server.start())
        return 2;
    redirect.port = server.port();
    QWebEngineProfile::defaultProfile()->setUrlRequestInterceptor(&redirect);
    RecordingStacker stacker;
    WebsiteFixture site(stacker);
    WebsiteWindow *w = WebsiteWindow::open(site.context);
    QSignalSpy finished(w->browser()->page(), &QWebEnginePage::loadFinished);
    if (!finished.wait(20000))
        return 3;
    QTest::qWait(1500);
    QWidget *target = w->browser()->focusProxy() ? w->browser()->focusProxy() : w->browser();
    QTest::mouseMove(target, QPoint(60, 130));
    QTest::qWait(1000);
    const bool saved = w->screen()->grabWindow(0).save(path);
    QWebEngineProfile::defaultProfile()->setUrlRequestInterceptor(nullptr);
    return saved ? 0 : 4;
}

int main(int argc, char **argv)
{
    if (argc >= 2 && qstrcmp(argv[1], "--close-child") == 0)
        return closeChild();
    if (argc >= 3 && qstrcmp(argv[1], "--screenshot") == 0)
        return screenshot(QString::fromLocal8Bit(argv[2]));
    prepareWebEngineEnvironment();
    QApplication app(argc, argv);
    TestWebsite t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_website.moc"
