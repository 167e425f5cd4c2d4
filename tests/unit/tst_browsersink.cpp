// Browser event sinks on the in-memory engine: subscription, status text, and
// whole popup requests from a window opening to the cancel flag, the count
// and the sound.

#include "core/paths.h"
#include "core/programstate.h"
#include "blocking/browsersink.h"
#include "support/memorybrowsers.h"
#include "core/popupdecision.h"
#include "platform/soundplayer.h"
#include "support/decisionfakes.h"
#include "support/testenv.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace wendral;

class TestBrowserSink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void sinkFollowsItsBrowser();
    void sinkOutsideSharedPtrReceivesNothing();
    void statusTextFromAnyBrowser();
    void shellReportsWindowsComingAndGoing();
    void requestWithoutSinkGoesThrough();

    void popupBlockedAndAllowedEndToEnd();
    void popupOfAllowedPopupIsDecidedByItsOwnAddress();
    void secondRequestWhilePromptOpenTakesSameAnswer_data();
    void secondRequestWhilePromptOpenTakesSameAnswer();
    void windowClosedWhilePromptOpen();

private:
    std::shared_ptr<BrowserSink> attach(const BrowserPtr &browser);

    std::unique_ptr<test::TestEnvironment> m_env;
    test::FakeOptions m_options;
    test::FakePrompt m_prompt;
    RecordingSoundPlayer m_sound;
    std::unique_ptr<MemoryBrowserWindows> m_shell;
    std::vector<std::shared_ptr<BrowserSink>> m_sinks; // as the tracker holds them
};

void TestBrowserSink::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_options = test::FakeOptions{};
    m_prompt.shows = 0;
    m_prompt.onShow = nullptr;
    m_sound.clear();
    decision::setOptions(&m_options);
    decision::setPromptHost(&m_prompt);
    setSoundPlayer(&m_sound);
    m_shell = std::make_unique<MemoryBrowserWindows>();
}

void TestBrowserSink::cleanup()
{
    m_sinks.clear();
    m_shell.reset();
    decision::setOptions(nullptr);
    decision::setPromptHost(nullptr);
    setSoundPlayer(nullptr);
    m_env.reset();
}

std::shared_ptr<BrowserSink> TestBrowserSink::attach(const BrowserPtr &browser)
{
    auto sink = std::make_shared<BrowserSink>();
    sink->IEctl(browser);
    m_sinks.push_back(sink);
    return sink;
}

void TestBrowserSink::sinkFollowsItsBrowser()
{
    auto a = m_shell->openWindow("http://a.example/");
    auto b = m_shell->openWindow("http://b.example/");
    auto sink = std::make_shared<BrowserSink>();
    sink->IEctl(a);
    QCOMPARE(sink->browser(), BrowserPtr(a));
    QCOMPARE(a->sinkCount(), 1);
    sink->IEctl(b); // moves the subscription
    QCOMPARE(a->sinkCount(), 0);
    QCOMPARE(b->sinkCount(), 1);
    sink->IEctl(nullptr);
    QCOMPARE(b->sinkCount(), 0);
    QVERIFY(!sink->browser());
    sink->IEctl(a);
    sink.reset(); // dropping the sink unsubscribes it
    QCOMPARE(a->sinkCount(), 0);
    QCOMPARE(a->requestNewWindow(), false);
}

void TestBrowserSink::sinkOutsideSharedPtrReceivesNothing()
{
    auto a = m_shell->openWindow("http://a.example/");
    {
        BrowserSink sink;
        sink.IEctl(a); // cannot be held by weak reference: ignored
        QCOMPARE(sink.browser(), BrowserPtr(a));
        QCOMPARE(a->sinkCount(), 0);
    }
    a->setStatusText("http://x.example/");
    QVERIFY(shared().lastStatusText.isEmpty());
}

void TestBrowserSink::statusTextFromAnyBrowser()
{
    auto a = m_shell->openWindow("http://a.example/");
    auto b = m_shell->openWindow("http://b.example/");
    attach(a);
    attach(b);
    a->setStatusText("http://link.a.example/");
    QCOMPARE(shared().lastStatusText, QString("http://link.a.example/"));
    b->setStatusText("Loading...");
    QCOMPARE(shared().lastStatusText, QString("Loading..."));
    a->setStatusText(QString());
    QCOMPARE(shared().lastStatusText, QString());
}

void TestBrowserSink::shellReportsWindowsComingAndGoing()
{
    QSignalSpy registered(m_shell.get(), &BrowserWindows::WindowRegistered);
    QSignalSpy revoked(m_shell.get(), &BrowserWindows::WindowRevoked);
    auto a = m_shell->openWindow("http://a.example/");
    auto b = m_shell->openWindow("http://b.example/");
    QCOMPARE(registered.count(), 2);
    QCOMPARE(m_shell->items(), (QList<BrowserPtr>{a, b}));
    a->Quit();
    QCOMPARE(revoked.count(), 1);
    QCOMPARE(m_shell->items(), QList<BrowserPtr>{b});
    QVERIFY(a->isClosed());
    QVERIFY(!a->LocationURL().has_value());
    a->Quit(); // already closed: no second notice
    m_shell->closeWindow(a.get());
    QCOMPARE(revoked.count(), 1);
    m_shell->closeAll();
    QCOMPARE(revoked.count(), 2);
    QVERIFY(m_shell->items().isEmpty());
}

void TestBrowserSink::requestWithoutSinkGoesThrough()
{
    auto a = m_shell->openWindow("http://a.example/");
    QCOMPARE(a->requestNewWindow("http://popup.example/"), false);
    QCOMPARE(m_shell->count(), 2);
    QCOMPARE(m_shell->lastOpened()->LocationURL(), std::optional<QString>("http://popup.example/"));
    QCOMPARE(shared().blockedCount, 0);
}

void TestBrowserSink::popupBlockedAndAllowedEndToEnd()
{
    shared().allowedList = "good.example\r\n";
    QSignalSpy registered(m_shell.get(), &BrowserWindows::WindowRegistered);
    auto bad = m_shell->openWindow("http://ads.bad.example/page");
    auto good = m_shell->openWindow("https://GOOD.example/page");
    attach(bad);
    attach(good);

    QCOMPARE(bad->requestNewWindow("http://ads.bad.example/pop"), true);
    QCOMPARE(m_shell->count(), 2); // no window opened
    QCOMPARE(shared().blockedCount, 1);
    QCOMPARE(m_sound.played(), QStringList{Paths::programFile("sounds/pop.wav")});

    QCOMPARE(good->requestNewWindow("http://www.good.example/pop"), false);
    QCOMPARE(m_shell->count(), 3);
    QCOMPARE(registered.count(), 3);
    QCOMPARE(shared().blockedCount, 1);
    QCOMPARE(m_sound.played().size(), 1);

    m_options.c5 = 0;
    QCOMPARE(bad->requestNewWindow(), true);
    QCOMPARE(shared().blockedCount, 2);
    QCOMPARE(m_sound.played().size(), 1);
    QCOMPARE(bad->requestCount(), 2);
    QCOMPARE(bad->letThroughCount(), 0);
}

void TestBrowserSink::popupOfAllowedPopupIsDecidedByItsOwnAddress()
{
    shared().allowedList = "good.example\r\n";
    auto good = m_shell->openWindow("http://good.example/");
    attach(good);
    QCOMPARE(good->requestNewWindow("http://elsewhere.example/landing"), false);
    auto popup = m_shell->lastOpened();
    QVERIFY(popup && popup != good);
    attach(popup); // the tracker attaches a sink to the new window
    QCOMPARE(popup->requestNewWindow("http://more.example/"), true);
    QCOMPARE(shared().blockedCount, 1);
    popup->setLocation("http://good.example/inner");
    QCOMPARE(popup->requestNewWindow(), false);
}

void TestBrowserSink::secondRequestWhilePromptOpenTakesSameAnswer_data()
{
    QTest::addColumn<bool>("allow");
    QTest::newRow("let through") << true;
    QTest::newRow("block") << false;
}

void TestBrowserSink::secondRequestWhilePromptOpenTakesSameAnswer()
{
    QFETCH(bool, allow);
    m_options.c2 = 1;
    auto first = m_shell->openWindow("http://first.example/");
    auto second = m_shell->openWindow("http://second.example/");
    m_shell->setOpensPopups(false);
    attach(first);
    attach(second);

    QStringList finished;
    bool secondCancel = !allow;
    // The first showing schedules the second request (arriving while the
    // prompt is open) and, later, the one answer the user gives.
    m_prompt.onShow = [&] {
        if (m_prompt.shows != 1)
            return;
        QTimer::singleShot(10, [&] {
            secondCancel = second->requestNewWindow();
            finished << "second";
        });
        test::FakePrompt::answerLater(60, allow);
    };
    const bool firstCancel = first->requestNewWindow();
    finished << "first";

    QCOMPARE(m_prompt.shows, 2);
    QCOMPARE(shared().promptDomain, QString("second.example"));
    QCOMPARE(finished, (QStringList{"second", "first"})); // inner wait ends first
    QCOMPARE(firstCancel, !allow);
    QCOMPARE(secondCancel, !allow);
    QCOMPARE(shared().blockedCount, allow ? 0 : 2);
    QCOMPARE(m_sound.played().size(), allow ? 0 : 2);
}

void TestBrowserSink::windowClosedWhilePromptOpen()
{
    m_options.c2 = 1;
    auto window = m_shell->openWindow("http://closing.example/");
    attach(window);
    m_prompt.onShow = [&] {
        QTimer::singleShot(5, [&] {
            m_sinks.clear(); // the tracker rebuilds and drops every sink
            window->Quit();
        });
        test::FakePrompt::answerLater(30, true);
    };
    QCOMPARE(window->requestNewWindow("http://popup.example/"), false);
    QCOMPARE(window->letThroughCount(), 1);
    QCOMPARE(m_shell->count(), 0); // a closed window opens no popup
    QCOMPARE(shared().blockedCount, 0);
}

QTEST_GUILESS_MAIN(TestBrowserSink)
#include "tst_browsersink.moc"
