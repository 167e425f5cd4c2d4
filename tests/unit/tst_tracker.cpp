// The window tracker over the in-memory browser engine: one fresh sink per
// listed window after every change, subscribed once to the collection.

#include "blocking/browsertracker.h"
#include "core/popupdecision.h"
#include "core/programstate.h"
#include "support/decisionfakes.h"
#include "support/memorybrowsers.h"
#include "support/programfixture.h"
#include "support/requestrecorder.h"
#include "support/testenv.h"

#include <QTest>

using namespace wendral;
using namespace wendral::test;
using Outcome = MemoryBrowser::Outcome;

namespace {

// Counts the rebuilds: each one lists the windows exactly once.
class CountingShell : public MemoryBrowserWindows
{
public:
    mutable int listings = 0;
    QList<BrowserPtr> items() const override
    {
        ++listings;
        return MemoryBrowserWindows::items();
    }
};

} // namespace

class TestTracker : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<ProgramFixture> program;
    FakeOptions options;
    FakeQuestion question;
    PopupDecider &decider() { return program->decider; }

private slots:
    void init()
    {
        env = std::make_unique<TestEnvironment>();
        program = std::make_unique<ProgramFixture>();
        options = FakeOptions();
        options.sound = false;
        question = FakeQuestion();
        decider().setOptions(&options);
        decider().setQuestion(&question);
    }
    void cleanup()
    {
        program.reset();
        env.reset();
    }

    void noBrowserAtCreationThenOneOpens()
    {
        MemoryBrowserWindows shell;
        BrowserTracker tracker(&shell, decider());
        QCOMPARE(tracker.count(), 0);
        QVERIFY(!tracker.sink(0));
        auto w = shell.openWindow(QStringLiteral("http://a.example/"));
        QCOMPARE(tracker.count(), 1);
        QCOMPARE(tracker.sink(0)->browser(), BrowserPtr(w));
        QCOMPARE(w->sinkCount(), 1);
    }

    void oneOfTwoClosesLeavesOneNewSink()
    {
        MemoryBrowserWindows shell;
        auto a = shell.openWindow(QStringLiteral("http://a.example/"));
        auto b = shell.openWindow(QStringLiteral("http://b.example/"));
        BrowserTracker tracker(&shell, decider());
        QCOMPARE(tracker.count(), 2);
        std::weak_ptr<BrowserSink> oldA = tracker.sink(0), oldB = tracker.sink(1);
        QCOMPARE(tracker.sink(1)->browser(), BrowserPtr(b));
        shell.closeWindow(a.get());
        QCOMPARE(tracker.count(), 1);
        const auto sink = tracker.sink(0);
        QCOMPARE(sink->browser(), BrowserPtr(b));
        // A new object; the old ones are gone and no longer subscribed.
        QVERIFY(oldA.expired());
        QVERIFY(oldB.expired());
        QCOMPARE(b->sinkCount(), 1);
        QCOMPARE(a->sinkCount(), 0);
    }

    void letThroughPopupGetsItsOwnSink()
    {
        options.blocking = false; // blocking off: the request goes through
        MemoryBrowserWindows shell;
        auto page = shell.openWindow(QStringLiteral("http://a.example/"));
        BrowserTracker tracker(&shell, decider());
        QCOMPARE(page->requestNewWindow(QStringLiteral("http://popup.example/")), Outcome::Allowed);
        QCOMPARE(tracker.count(), 2);
        auto popup = shell.lastOpened();
        QVERIFY(popup && popup != page);
        QCOMPARE(popup->sinkCount(), 1);
        // Popups from the popup are decided too.
        options.blocking = true;
        const int blocked = program->state.blockedCount;
        QCOMPARE(popup->requestNewWindow(QStringLiteral("http://second.example/")), Outcome::Blocked);
        QCOMPARE(program->state.blockedCount, blocked + 1);
        QCOMPARE(tracker.count(), 2);
    }

    void rebuildsSubscribeOnce()
    {
        CountingShell shell;
        BrowserTracker tracker(&shell, decider());
        QCOMPARE(shell.listings, 1);
        for (int i = 0; i < 5; ++i)
            shell.openWindow(QStringLiteral("http://w%1.example/").arg(i));
        // One rebuild per event, however many there were before.
        QCOMPARE(shell.listings, 6);
        QCOMPARE(tracker.count(), 5);
        for (const auto &b : shell.items())
            QCOMPARE(b->sinkCount(), 1);
        emit shell.windowClosed();
        QCOMPARE(shell.listings, 8); // the emit, plus the items() call above
    }

    void indexEnumerationAndCloseFirst()
    {
        MemoryBrowserWindows shell;
        auto a = shell.openWindow(QStringLiteral("http://a.example/"));
        auto b = shell.openWindow(QStringLiteral("http://b.example/"));
        BrowserTracker tracker(&shell, decider());
        QVERIFY(!tracker.sink(-1));
        QVERIFY(!tracker.sink(2));
        QVERIFY(!tracker.sink(100));
        const auto sinks = tracker.sinks();
        QCOMPARE(static_cast<int>(sinks.size()), 2);
        QCOMPARE(sinks[0], tracker.sink(0));
        QCOMPARE(sinks[1], tracker.sink(1));
        tracker.closeFirst(); // the first window quits
        QVERIFY(a->isClosed());
        QVERIFY(!b->isClosed());
        QCOMPARE(tracker.count(), 1);
        QCOMPARE(tracker.sink(0)->browser(), BrowserPtr(b));
    }

    void sourceGoneBeforeTracker()
    {
        auto shell = std::make_unique<MemoryBrowserWindows>();
        shell->openWindow(QStringLiteral("http://a.example/"));
        BrowserTracker tracker(shell.get(), decider());
        QCOMPARE(tracker.count(), 1);
        shell.reset();
        QCOMPARE(tracker.count(), 1); // the sinks stay until the next rebuild
        tracker.closeFirst();         // the window's shell has gone: nothing happens
        QVERIFY(tracker.sink(0));
    }

    void droppingTheTrackerUnsubscribesEverySink()
    {
        MemoryBrowserWindows shell;
        auto a = shell.openWindow(QStringLiteral("http://a.example/"));
        {
            BrowserTracker tracker(&shell, decider());
            QCOMPARE(a->sinkCount(), 1);
        }
        QCOMPARE(a->sinkCount(), 0);
        // And no rebuild reaches a tracker that has gone.
        shell.openWindow(QStringLiteral("http://b.example/"));
        QCOMPARE(a->sinkCount(), 0);
    }

    void windowEventDuringADecisionRebuildsAndTheDecisionFinishes()
    {
        // Setup mode: the question waits; meanwhile a window opens and the list
        // is rebuilt, dropping the deciding sink. The answer still reaches the
        // request.
        options.setup = true;
        MemoryBrowserWindows shell;
        shell.setOpensPopups(false);
        auto page = shell.openWindow(QStringLiteral("http://asking.example/"));
        BrowserTracker tracker(&shell, decider());
        std::weak_ptr<BrowserSink> deciding = tracker.sink(0);
        question.onShow = [&] {
            QTimer::singleShot(10, &shell, [&] { shell.openWindow(QStringLiteral("http://other.example/")); });
            FakeQuestion::answerLater(decider(), 50, SiteAnswer::AllowOnce);
        };
        QCOMPARE(page->requestNewWindow(), Outcome::Waiting);
        QTRY_COMPARE(tracker.count(), 2);
        QVERIFY(deciding.expired());
        QCOMPARE(page->sinkCount(), 1);
        QTRY_COMPARE(page->letThroughCount(), 1);
        QCOMPARE(page->waitingCount(), 0);
    }

    void closingTheWaitingWindowWithdrawsTheQuestion()
    {
        // The window closes while its request waits: the tracker rebuilds, the
        // request is abandoned and the question withdrawn, and the new sinks
        // decide the next request as ever.
        options.setup = true;
        MemoryBrowserWindows shell;
        auto page = shell.openWindow(QStringLiteral("http://asking.example/"));
        auto other = shell.openWindow(QStringLiteral("http://other.example/"));
        BrowserTracker tracker(&shell, decider());
        QCOMPARE(page->requestNewWindow(), Outcome::Waiting);
        tracker.closeFirst();
        QVERIFY(page->isClosed());
        QCOMPARE(tracker.count(), 1);
        QCOMPARE(question.withdrawals, 1);
        QVERIFY(!decider().isAsking());
        QCOMPARE(other->requestNewWindow(), Outcome::Waiting);
        QCOMPARE(question.shows, 2);
        QCOMPARE(question.siteAsked, QStringLiteral("other.example"));
        decider().answer(SiteAnswer::BlockOnce, question.siteAsked);
        QCOMPARE(other->blockedCount(), 1);
        QCOMPARE(page->blockedCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTracker)
#include "tst_tracker.moc"
