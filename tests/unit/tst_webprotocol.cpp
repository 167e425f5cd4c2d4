// The channel between the program and its web helper: every message survives
// the trip, anything else is refused (a helper or program that misbehaves
// must not be obeyed), and a byte stream is cut into lines whatever its chunks.

#include "core/webprotocol.h"

#include <QtTest>

using namespace wendral;

class TestWebProtocol : public QObject
{
    Q_OBJECT
private slots:
    void requestsRoundTrip();
    void eventsRoundTrip();
    void linesAreSingleJsonObjects();
    void badRequestsAreRefused_data();
    void badRequestsAreRefused();
    void badEventsAreRefused_data();
    void badEventsAreRefused();
    void lineEndingsAndSpacing();
    void splitterJoinsChunks();
    void splitterDropsOverlongLinesWhole();
};

void TestWebProtocol::requestsRoundTrip()
{
    // An address with characters that need escaping, in JSON and in URLs.
    const QUrl url(QStringLiteral("http://brindlemark.example/freeprograms/banner2.html?a=\"b\"&c=d e#f\\g"));
    const std::optional<WebRequest> banner =
        decodeWebRequest(encodeWebRequest(WebRequest::banner(url, 489, 63, QStringLiteral("#F0f0E1"))));
    QVERIFY(banner);
    QCOMPARE(banner->kind, WebRequest::Kind::Banner);
    QCOMPARE(banner->url, url);
    QCOMPARE(banner->width, 489);
    QCOMPARE(banner->height, 63);
    QCOMPARE(banner->background, QStringLiteral("#F0f0E1"));

    // Without a background the engine's own is kept.
    const auto plain = decodeWebRequest(encodeWebRequest(WebRequest::banner(url, 1, kMaxBannerSide)));
    QVERIFY(plain);
    QVERIFY(plain->background.isEmpty());
    QCOMPARE(plain->height, kMaxBannerSide);

    for (const WebRequest &r : {WebRequest::closeBanner(), WebRequest::website(), WebRequest::quit()}) {
        const auto back = decodeWebRequest(encodeWebRequest(r));
        QVERIFY(back);
        QCOMPARE(back->kind, r.kind);
    }
    // Serials up to 2^53 are exact in JSON.
    for (quint64 serial : {quint64(0), quint64(1), quint64(1) << 53}) {
        const auto ping = decodeWebRequest(encodeWebRequest(WebRequest::ping(serial)));
        QVERIFY(ping);
        QCOMPARE(ping->kind, WebRequest::Kind::Ping);
        QCOMPARE(ping->serial, serial);
    }
}

void TestWebProtocol::eventsRoundTrip()
{
    const auto ready = decodeWebEvent(encodeWebEvent(WebEvent::ready()));
    QVERIFY(ready);
    QCOMPARE(ready->kind, WebEvent::Kind::Ready);
    QCOMPARE(ready->version, kWebProtocolVersion);
    for (quint64 id : {quint64(0), quint64(0x1c00007), quint64(0xffffffff)}) {
        const auto window = decodeWebEvent(encodeWebEvent(WebEvent::bannerWindow(id)));
        QVERIFY(window);
        QCOMPARE(window->kind, WebEvent::Kind::BannerWindow);
        QCOMPARE(window->windowId, id);
    }
    QCOMPARE(decodeWebEvent(encodeWebEvent(WebEvent::websiteOpened()))->kind, WebEvent::Kind::WebsiteOpened);
    QCOMPARE(decodeWebEvent(encodeWebEvent(WebEvent::websiteClosed()))->kind, WebEvent::Kind::WebsiteClosed);
    QCOMPARE(decodeWebEvent(encodeWebEvent(WebEvent::pong(99)))->serial, quint64(99));
    // The directions do not mix: an event is no request and the other way round.
    QVERIFY(!decodeWebRequest(encodeWebEvent(WebEvent::pong(1))));
    QVERIFY(!decodeWebEvent(encodeWebRequest(WebRequest::ping(1))));
}

void TestWebProtocol::linesAreSingleJsonObjects()
{
    const QByteArray line = encodeWebRequest(WebRequest::banner(QUrl(QStringLiteral("http://a.example/x\ny")), 2, 3));
    QVERIFY(line.endsWith('\n'));
    QCOMPARE(line.count('\n'), 1); // a newline inside a value is escaped
    QVERIFY(line.startsWith('{'));
    const QByteArray event = encodeWebEvent(WebEvent::bannerWindow(5));
    QCOMPARE(event, QByteArray("{\"event\":\"bannerWindow\",\"id\":5}\n"));
}

void TestWebProtocol::badRequestsAreRefused_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not JSON") << QByteArray("quit");
    QTest::newRow("truncated") << QByteArray("{\"request\":\"quit\"");
    QTest::newRow("array") << QByteArray("[\"quit\"]");
    QTest::newRow("unknown request") << QByteArray("{\"request\":\"format disk\"}");
    QTest::newRow("name of another case") << QByteArray("{\"request\":\"Quit\"}");
    QTest::newRow("request not a string") << QByteArray("{\"request\":1}");
    QTest::newRow("no url") << QByteArray("{\"request\":\"banner\",\"width\":10,\"height\":10}");
    QTest::newRow("relative url") << QByteArray("{\"request\":\"banner\",\"url\":\"/x\",\"width\":10,\"height\":10}");
    QTest::newRow("url not a string") << QByteArray("{\"request\":\"banner\",\"url\":5,\"width\":10,\"height\":10}");
    QTest::newRow("zero width") << QByteArray(
        "{\"request\":\"banner\",\"url\":\"http://a.b/\",\"width\":0,\"height\":10}");
    QTest::newRow("negative height") << QByteArray(
        "{\"request\":\"banner\",\"url\":\"http://a.b/\",\"width\":10,\"height\":-1}");
    QTest::newRow("huge width") << QByteArray(
        "{\"request\":\"banner\",\"url\":\"http://a.b/\",\"width\":1e300,\"height\":10}");
    QTest::newRow("fractional width") << QByteArray(
        "{\"request\":\"banner\",\"url\":\"http://a.b/\",\"width\":10.5,\"height\":10}");
    QTest::newRow("width as text") << QByteArray(
        "{\"request\":\"banner\",\"url\":\"http://a.b/\",\"width\":\"10\",\"height\":10}");
    QTest::newRow("colour by name") << QByteArray(
        "{\"request\":\"banner\",\"url\":\"http://a.b/\",\"width\":10,\"height\":10,\"background\":\"red\"}");
    QTest::newRow("colour too short") << QByteArray(
        "{\"request\":\"banner\",\"url\":\"http://a.b/\",\"width\":10,\"height\":10,\"background\":\"#fff\"}");
    QTest::newRow("ping without serial") << QByteArray("{\"request\":\"ping\"}");
    QTest::newRow("negative serial") << QByteArray("{\"request\":\"ping\",\"serial\":-1}");
    QTest::newRow("serial beyond exact") << QByteArray("{\"request\":\"ping\",\"serial\":1e17}");
    QTest::newRow("nul byte") << QByteArray("{\"request\":\"quit\"}\0", 19);
}

void TestWebProtocol::badRequestsAreRefused()
{
    QFETCH(QByteArray, line);
    QVERIFY(!decodeWebRequest(line));
}

void TestWebProtocol::badEventsAreRefused_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("garbage") << QByteArray("\xff\xfe{");
    QTest::newRow("unknown event") << QByteArray("{\"event\":\"reboot\"}");
    QTest::newRow("ready without version") << QByteArray("{\"event\":\"ready\"}");
    QTest::newRow("window id negative") << QByteArray("{\"event\":\"bannerWindow\",\"id\":-5}");
    QTest::newRow("window id beyond 32 bits") << QByteArray("{\"event\":\"bannerWindow\",\"id\":4294967296}");
    QTest::newRow("window id as text") << QByteArray("{\"event\":\"bannerWindow\",\"id\":\"12\"}");
    QTest::newRow("window id missing") << QByteArray("{\"event\":\"bannerWindow\"}");
    QTest::newRow("pong fractional") << QByteArray("{\"event\":\"pong\",\"serial\":0.5}");
}

void TestWebProtocol::badEventsAreRefused()
{
    QFETCH(QByteArray, line);
    QVERIFY(!decodeWebEvent(line));
}

void TestWebProtocol::lineEndingsAndSpacing()
{
    QCOMPARE(decodeWebRequest("{\"request\":\"quit\"}\r\n")->kind, WebRequest::Kind::Quit);
    QCOMPARE(decodeWebRequest("  { \"request\" : \"website\" , \"extra\": [1,2] }  ")->kind, WebRequest::Kind::Website);
    QCOMPARE(decodeWebEvent("{\"id\":7,\"event\":\"bannerWindow\"}\n")->windowId, quint64(7));
}

void TestWebProtocol::splitterJoinsChunks()
{
    LineSplitter splitter;
    const QByteArray stream = encodeWebEvent(WebEvent::ready()) + encodeWebEvent(WebEvent::bannerWindow(42)) + "\n" +
                              encodeWebEvent(WebEvent::pong(3));
    // Fed one byte at a time and all at once, the lines are the same.
    QList<QByteArray> bytewise;
    for (char c : stream)
        bytewise += splitter.feed(QByteArray(1, c));
    QCOMPARE(bytewise.size(), 4);
    QCOMPARE(bytewise.at(2), QByteArray()); // the empty line is a line
    LineSplitter whole;
    QCOMPARE(whole.feed(stream), bytewise);
    QCOMPARE(decodeWebEvent(bytewise.at(1))->windowId, quint64(42));

    // A line without its end waits for the rest.
    LineSplitter partial;
    QVERIFY(partial.feed("{\"event\":").isEmpty());
    const QList<QByteArray> done = partial.feed("\"websiteClosed\"}\n{\"ev");
    QCOMPARE(done.size(), 1);
    QCOMPARE(decodeWebEvent(done.first())->kind, WebEvent::Kind::WebsiteClosed);
    QCOMPARE(partial.droppedLines(), 0);
}

void TestWebProtocol::splitterDropsOverlongLinesWhole()
{
    LineSplitter splitter(16);
    QList<QByteArray> lines = splitter.feed("short\n");
    // 40 bytes in three chunks, then a good line in the same chunk as its end.
    lines += splitter.feed(QByteArray(15, 'a'));
    lines += splitter.feed(QByteArray(15, 'b'));
    lines += splitter.feed(QByteArray(10, 'c') + "\nafter\n");
    // Exactly at the limit is still a line.
    lines += splitter.feed(QByteArray(16, 'd') + "\n");
    QCOMPARE(lines, (QList<QByteArray>{"short", "after", QByteArray(16, 'd')}));
    QCOMPARE(splitter.droppedLines(), 1);
}

QTEST_APPLESS_MAIN(TestWebProtocol)
#include "tst_webprotocol.moc"
