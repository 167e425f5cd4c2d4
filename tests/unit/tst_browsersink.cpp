// Browser event sinks on the in-memory engine: subscription, status text, and
// whole popup requests from a window opening to the verdict, the count and the
// sound, including requests that wait for the setup question while windows
// come and go.

#include "blocking/browsersink.h"
#include "core/paths.h"
#include "core/popupdecision.h"
#include "core/programstate.h"
#include "support/decisionfakes.h"
#include "support/memorybrowsers.h"
#include "support/programfixture.h"
#include "support/requestrecorder.h"
#include "support/testenv.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace wendral;
using Outcome = MemoryBrowser::Outcome;

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
    void requestIsSettledOnce();

    void popupBlockedAndAllowedEndToEnd();
    void popupOfAllowedPopupIsDecidedByItsOwnAddress();
    void secondRequestWhilePromptOpenTakesSameAnswer_data();
    void secondRequestWhilePromptOpenTakesSameAnswer();
    void windowClosedWhilePromptOpen();
    void oneOfTwoWaitingWindowsCloses();
    void sinksDroppedWhileWaitingStillGetTheVerdict();
    void deciderGoneWhileWaitingLetsThrough();

private:
    std::shared_ptr<BrowserSink> attach(const BrowserPtr &browser);
    ProgramState &state() { return m_fixture->state; }
    PopupDecider &decider() { return m_fixture->decider; }
    const QStringList &played() const { return m_fixture->platform.sound.played(); }

    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<test::ProgramFixture> m_fixture;
    test::FakeOptions m_options;
    test::FakeQuestion m_question;
    std::unique_ptr<MemoryBrowserWindows> m_shell;
    std::vector<std::shared_ptr<BrowserSink>> m_sinks; // as the tracker holds them
};

void TestBrowserSink::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_fixture = std::make_unique<test::ProgramFixture>();
    m_options = test::FakeOptions{};
    m_question = test::FakeQuestion{};
    decider().setOptions(&m_options);
    decider().setQuestion(&m_question);
    m_shell = std::make_unique<MemoryBrowserWindows>();
}

void TestBrowserSink::cleanup()
{
    m_sinks.clear();
    m_shell.reset();
    m_fixture.reset();
    m_env.reset();
}

std::shared_ptr<BrowserSink> TestBrowserSink::attach(const BrowserPtr &browser)
{
    auto sink = std::make_shared<BrowserSink>(decider());
    sink->attach(browser);
    m_sinks.push_back(sink);
    return sink;
}

void TestBrowserSink::sinkFollowsItsBrowser()
{
    auto a = m_shell->openWindow("http://a.example/");
    auto b = m_shell->openWindow("http://b.example/");
    auto sink = std::make_shared<BrowserSink>(decider());
    sink->attach(a);
    QCOMPARE(sink->browser(), BrowserPtr(a));
    QCOMPARE(a->sinkCount(), 1);
    sink->attach(b); // moves the subscription
    QCOMPARE(a->sinkCount(), 0);
    QCOMPARE(b->sinkCount(), 1);
    sink->attach(nullptr);
    QCOMPARE(b->sinkCount(), 0);
    QVERIFY(!sink->browser());
    sink->attach(a);
    sink.reset(); // dropping the sink unsubscribes it
    QCOMPARE(a->sinkCount(), 0);
    QCOMPARE(a->requestNewWindow(), Outcome::Allowed);
    QCOMPARE(state().blockedCount, 0);
}

void TestBrowserSink::sinkOutsideSharedPtrReceivesNothing()
{
    auto a = m_shell->openWindow("http://a.example/");
    {
        BrowserSink sink(decider());
        sink.attach(a); // cannot be held by weak reference: ignored
        QCOMPARE(sink.browser(), BrowserPtr(a));
        QCOMPARE(a->sinkCount(), 0);
    }
    a->setStatusText("http://x.example/");
    QVERIFY(state().lastStatusText.isEmpty());
}

void TestBrowserSink::statusTextFromAnyBrowser()
{
    auto a = m_shell->openWindow("http://a.example/");
    auto b = m_shell->openWindow("http://b.example/");
    attach(a);
    attach(b);
    a->setStatusText("http://link.a.example/");
    QCOMPARE(state().lastStatusText, QString("http://link.a.example/"));
    b->setStatusText("Loading...");
    QCOMPARE(state().lastStatusText, QString("Loading..."));
    a->setStatusText(QString());
    QCOMPARE(state().lastStatusText, QString());
}

void TestBrowserSink::shellReportsWindowsComingAndGoing()
{
    QSignalSpy opened(m_shell.get(), &BrowserWindows::windowOpened);
    QSignalSpy closed(m_shell.get(), &BrowserWindows::windowClosed);
    auto a = m_shell->openWindow("http://a.example/");
    auto b = m_shell->openWindow("http://b.example/");
    QCOMPARE(opened.count(), 2);
    QCOMPARE(m_shell->items(), (QList<BrowserPtr>{a, b}));
    a->close();
    QCOMPARE(closed.count(), 1);
    QCOMPARE(m_shell->items(), QList<BrowserPtr>{b});
    QVERIFY(a->isClosed());
    QVERIFY(!a->pageUrl().has_value());
    a->close(); // already closed: no second notice
    m_shell->closeWindow(a.get());
    QCOMPARE(closed.count(), 1);
    m_shell->closeAll();
    QCOMPARE(closed.count(), 2);
    QVERIFY(m_shell->items().isEmpty());
}

void TestBrowserSink::requestWithoutSinkGoesThrough()
{
    auto a = m_shell->openWindow("http://a.example/");
    QCOMPARE(a->requestNewWindow("http://popup.example/"), Outcome::Allowed);
    QCOMPARE(m_shell->count(), 2);
    QCOMPARE(m_shell->lastOpened()->pageUrl(), std::optional<QString>("http://popup.example/"));
    QCOMPARE(state().blockedCount, 0);
}

void TestBrowserSink::requestIsSettledOnce()
{
    // Only the first verdict counts; an abandoned request takes none, and
    // tells whoever was going to decide it, once.
    QList<Verdict> verdicts;
    NewWindowRequest request([&](Verdict v) { verdicts << v; });
    int abandoned = 0;
    request.onAbandoned([&] { ++abandoned; });
    request.settle(Verdict::Block);
    request.settle(Verdict::Allow);
    request.abandon();
    QCOMPARE(verdicts, QList<Verdict>{Verdict::Block});
    QCOMPARE(abandoned, 0); // settled: nobody is told it went away
    QVERIFY(request.isSettled());

    NewWindowRequest gone([&](Verdict v) { verdicts << v; });
    gone.onAbandoned([&] { ++abandoned; });
    gone.abandon();
    gone.abandon();
    gone.settle(Verdict::Allow);
    QCOMPARE(abandoned, 1);
    QCOMPARE(verdicts.size(), 1);
}

void TestBrowserSink::popupBlockedAndAllowedEndToEnd()
{
    m_fixture->lists.allowed().setText("good.example\r\n");
    QSignalSpy opened(m_shell.get(), &BrowserWindows::windowOpened);
    auto bad = m_shell->openWindow("http://ads.bad.example/page");
    auto good = m_shell->openWindow("https://GOOD.example/page");
    attach(bad);
    attach(good);

    QCOMPARE(bad->requestNewWindow("http://ads.bad.example/pop"), Outcome::Blocked);
    QCOMPARE(m_shell->count(), 2); // no window opened
    QCOMPARE(state().blockedCount, 1);
    QCOMPARE(played(), QStringList{Paths::programFile("sounds/pop.wav")});

    QCOMPARE(good->requestNewWindow("http://www.good.example/pop"), Outcome::Allowed);
    QCOMPARE(m_shell->count(), 3);
    QCOMPARE(opened.count(), 3);
    QCOMPARE(state().blockedCount, 1);
    QCOMPARE(played().size(), 1);

    m_options.sound = false;
    QCOMPARE(bad->requestNewWindow(), Outcome::Blocked);
    QCOMPARE(state().blockedCount, 2);
    QCOMPARE(played().size(), 1);
    QCOMPARE(bad->requestCount(), 2);
    QCOMPARE(bad->letThroughCount(), 0);
    QCOMPARE(bad->blockedCount(), 2);
}

void TestBrowserSink::popupOfAllowedPopupIsDecidedByItsOwnAddress()
{
    m_fixture->lists.allowed().setText("good.example\r\n");
    auto good = m_shell->openWindow("http://good.example/");
    attach(good);
    QCOMPARE(good->requestNewWindow("http://elsewhere.example/landing"), Outcome::Allowed);
    auto popup = m_shell->lastOpened();
    QVERIFY(popup && popup != good);
    attach(popup); // the tracker attaches a sink to the new window
    QCOMPARE(popup->requestNewWindow("http://more.example/"), Outcome::Blocked);
    QCOMPARE(state().blockedCount, 1);
    popup->setLocation("http://good.example/inner");
    QCOMPARE(popup->requestNewWindow(), Outcome::Allowed);
}

void TestBrowserSink::secondRequestWhilePromptOpenTakesSameAnswer_data()
{
    QTest::addColumn<bool>("allow");
    QTest::newRow("let through") << true;
    QTest::newRow("block") << false;
}

void TestBrowserSink::secondRequestWhilePromptOpenTakesSameAnswer()
{
    // Two browsers ask at once: one question, about the first, and its one
    // answer settles both.
    QFETCH(bool, allow);
    m_options.setup = true;
    auto first = m_shell->openWindow("http://first.example/");
    auto second = m_shell->openWindow("http://second.example/");
    m_shell->setOpensPopups(false);
    attach(first);
    attach(second);

    QCOMPARE(first->requestNewWindow(), Outcome::Waiting);
    QCOMPARE(second->requestNewWindow(), Outcome::Waiting);
    QCOMPARE(m_question.shows, 1);
    QCOMPARE(decider().askedSite(), QString("first.example"));
    QCOMPARE(decider().waitingCount(), 2);
    QCOMPARE(first->waitingCount(), 1);
    QCOMPARE(second->waitingCount(), 1);

    test::FakeQuestion::answerLater(decider(), 20, allow ? SiteAnswer::AllowOnce : SiteAnswer::BlockOnce);
    QTRY_COMPARE(second->waitingCount(), 0);
    QCOMPARE(first->waitingCount(), 0);
    QCOMPARE(first->letThroughCount(), allow ? 1 : 0);
    QCOMPARE(second->letThroughCount(), allow ? 1 : 0);
    QCOMPARE(first->blockedCount(), allow ? 0 : 1);
    QCOMPARE(second->blockedCount(), allow ? 0 : 1);
    QCOMPARE(state().blockedCount, allow ? 0 : 2);
    QCOMPARE(played().size(), allow ? 0 : 2);
    QCOMPARE(m_question.shows, 1);
    QCOMPARE(m_question.withdrawals, 0);
}

void TestBrowserSink::windowClosedWhilePromptOpen()
{
    // The only waiting window closes: its request is withdrawn, and with it
    // the question; the answer that comes afterwards settles nothing.
    m_options.setup = true;
    auto window = m_shell->openWindow("http://closing.example/");
    attach(window);
    m_question.onShow = [&] {
        QTimer::singleShot(5, m_shell.get(), [&] {
            m_sinks.clear(); // the tracker rebuilds and drops every sink
            window->close();
        });
    };
    QCOMPARE(window->requestNewWindow("http://popup.example/"), Outcome::Waiting);
    QTRY_VERIFY(window->isClosed());
    QCOMPARE(m_question.withdrawals, 1);
    QVERIFY(!decider().isAsking());
    decider().answer(SiteAnswer::AllowOnce, "closing.example");
    QCOMPARE(window->letThroughCount(), 0);
    QCOMPARE(window->blockedCount(), 0);
    QCOMPARE(m_shell->count(), 0); // a closed window opens no popup
    QCOMPARE(state().blockedCount, 0);
}

void TestBrowserSink::oneOfTwoWaitingWindowsCloses()
{
    // Another window still waits: the question stays for it, and the answer
    // settles it alone.
    m_options.setup = true;
    auto going = m_shell->openWindow("http://going.example/");
    auto staying = m_shell->openWindow("http://staying.example/");
    m_shell->setOpensPopups(false);
    attach(going);
    attach(staying);
    QCOMPARE(going->requestNewWindow(), Outcome::Waiting);
    QCOMPARE(staying->requestNewWindow(), Outcome::Waiting);
    going->close();
    QCOMPARE(m_question.withdrawals, 0);
    QCOMPARE(decider().waitingCount(), 1);
    decider().answer(SiteAnswer::BlockOnce, decider().askedSite());
    QCOMPARE(staying->blockedCount(), 1);
    QCOMPARE(going->blockedCount(), 0);
    QCOMPARE(state().blockedCount, 1);
}

void TestBrowserSink::sinksDroppedWhileWaitingStillGetTheVerdict()
{
    // A rebuild drops the sink that asked; the request itself still carries
    // the verdict back to its window, which opens the popup.
    m_options.setup = true;
    auto window = m_shell->openWindow("http://asking.example/");
    attach(window);
    QCOMPARE(window->requestNewWindow("http://popup.example/"), Outcome::Waiting);
    m_sinks.clear();
    QCOMPARE(window->sinkCount(), 0);
    decider().answer(SiteAnswer::AllowOnce, "asking.example");
    QCOMPARE(window->letThroughCount(), 1);
    QCOMPARE(m_shell->count(), 2);
    QCOMPARE(m_shell->lastOpened()->pageUrl(), std::optional<QString>("http://popup.example/"));
}

void TestBrowserSink::deciderGoneWhileWaitingLetsThrough()
{
    m_options.setup = true;
    auto window = m_shell->openWindow("http://asking.example/");
    auto sink = attach(window);
    m_shell->setOpensPopups(false);
    QCOMPARE(window->requestNewWindow(), Outcome::Waiting);
    m_fixture.reset(); // the program ends with the question open
    QCOMPARE(window->letThroughCount(), 1);
    QCOMPARE(window->waitingCount(), 0);
    // A sink whose decider has gone lets requests through, and closing the
    // window afterwards reaches nobody.
    QCOMPARE(window->requestNewWindow(), Outcome::Allowed);
    window->close();
    QVERIFY(window->isClosed());
}

QTEST_GUILESS_MAIN(TestBrowserSink)
#include "tst_browsersink.moc"
