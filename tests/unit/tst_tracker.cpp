// The window tracker over the in-memory browser engine: one fresh sink per
// listed window after every change, subscribed once to the collection.

#include "core/programstate.h"
#include "support/memorybrowsers.h"
#include "core/popupdecision.h"
#include "platform/soundplayer.h"
#include "blocking/browsertracker.h"
#include "support/decisionfakes.h"
#include "support/testenv.h"

#include <QTest>

using namespace wendral;
using namespace wendral::test;

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
    FakeOptions options;
    RecordingSoundPlayer sound;

private slots:
    void init()
    {
        env = std::make_unique<TestEnvironment>();
        options = FakeOptions();
        options.c5 = 0;
        decision::setOptions(&options);
        setSoundPlayer(&sound);
    }
    void cleanup()
    {
        decision::setOptions(nullptr);
        setSoundPlayer(nullptr);
        env.reset();
    }

    void noBrowserAtCreationThenOneOpens()
    {
        MemoryBrowserWindows shell;
        BrowserTracker tracker(&shell);
        QCOMPARE(tracker.Count(), 0);
        QVERIFY(!tracker.IE(1));
        auto w = shell.openWindow(QStringLiteral("http://a.example/"));
        QCOMPARE(tracker.Count(), 1);
        QCOMPARE(tracker.IE(1)->browser(), BrowserPtr(w));
        QCOMPARE(w->sinkCount(), 1);
    }

    void oneOfTwoClosesLeavesOneNewSink()
    {
        MemoryBrowserWindows shell;
        auto a = shell.openWindow(QStringLiteral("http://a.example/"));
        auto b = shell.openWindow(QStringLiteral("http://b.example/"));
        BrowserTracker tracker(&shell);
        QCOMPARE(tracker.Count(), 2);
        std::weak_ptr<BrowserSink> oldA = tracker.IE(1), oldB = tracker.IE(2);
        QCOMPARE(tracker.IE(2)->browser(), BrowserPtr(b));
        shell.closeWindow(a.get());
        QCOMPARE(tracker.Count(), 1);
        const auto sink = tracker.IE(1);
        QCOMPARE(sink->browser(), BrowserPtr(b));
        // A new object; the old ones are gone and no longer subscribed.
        QVERIFY(oldA.expired());
        QVERIFY(oldB.expired());
        QCOMPARE(b->sinkCount(), 1);
        QCOMPARE(a->sinkCount(), 0);
    }

    void letThroughPopupGetsItsOwnSink()
    {
        options.c1 = 0; // blocking off: the request goes through
        MemoryBrowserWindows shell;
        auto page = shell.openWindow(QStringLiteral("http://a.example/"));
        BrowserTracker tracker(&shell);
        QVERIFY(!page->requestNewWindow(QStringLiteral("http://popup.example/")));
        QCOMPARE(tracker.Count(), 2);
        auto popup = shell.lastOpened();
        QVERIFY(popup && popup != page);
        QCOMPARE(popup->sinkCount(), 1);
        // Popups from the popup are decided too.
        options.c1 = 1;
        const int blocked = shared().blockedCount;
        QVERIFY(popup->requestNewWindow(QStringLiteral("http://second.example/")));
        QCOMPARE(shared().blockedCount, blocked + 1);
        QCOMPARE(tracker.Count(), 2);
    }

    void rebuildsSubscribeOnce()
    {
        CountingShell shell;
        BrowserTracker tracker(&shell);
        QCOMPARE(shell.listings, 1);
        for (int i = 0; i < 5; ++i)
            shell.openWindow(QStringLiteral("http://w%1.example/").arg(i));
        // One rebuild per event, however many there were before.
        QCOMPARE(shell.listings, 6);
        QCOMPARE(tracker.Count(), 5);
        for (const auto &b : shell.items())
            QCOMPARE(b->sinkCount(), 1);
        emit shell.WindowRevoked(0);
        QCOMPARE(shell.listings, 8); // the emit, plus the items() call above
    }

    void indexEnumerationAndCloseIE()
    {
        MemoryBrowserWindows shell;
        auto a = shell.openWindow(QStringLiteral("http://a.example/"));
        auto b = shell.openWindow(QStringLiteral("http://b.example/"));
        BrowserTracker tracker(&shell);
        QVERIFY(!tracker.IE(0));
        QVERIFY(!tracker.IE(3));
        QVERIFY(!tracker.IE(-1));
        const auto sinks = tracker.NewEnum();
        QCOMPARE(static_cast<int>(sinks.size()), 2);
        QCOMPARE(sinks[0], tracker.IE(1));
        QCOMPARE(sinks[1], tracker.IE(2));
        tracker.closeIE(); // the first window quits
        QVERIFY(a->isClosed());
        QVERIFY(!b->isClosed());
        QCOMPARE(tracker.Count(), 1);
        QCOMPARE(tracker.IE(1)->browser(), BrowserPtr(b));
    }

    void sourceGoneBeforeTracker()
    {
        auto shell = std::make_unique<MemoryBrowserWindows>();
        shell->openWindow(QStringLiteral("http://a.example/"));
        BrowserTracker tracker(shell.get());
        QCOMPARE(tracker.Count(), 1);
        shell.reset();
        QCOMPARE(tracker.Count(), 1); // the sinks stay until the next rebuild
        tracker.closeIE();            // the window's shell has gone: nothing happens
        QVERIFY(tracker.IE(1));
    }

    void droppingTheTrackerUnsubscribesEverySink()
    {
        MemoryBrowserWindows shell;
        auto a = shell.openWindow(QStringLiteral("http://a.example/"));
        {
            BrowserTracker tracker(&shell);
            QCOMPARE(a->sinkCount(), 1);
        }
        QCOMPARE(a->sinkCount(), 0);
        // And no rebuild reaches a tracker that has gone.
        shell.openWindow(QStringLiteral("http://b.example/"));
        QCOMPARE(a->sinkCount(), 0);
    }

    void windowEventDuringADecisionRebuildsAndTheDecisionFinishes()
    {
        // Setup mode: the prompt waits; meanwhile a window opens and the list is
        // rebuilt, dropping the deciding sink, which still ends its decision.
        options.c2 = 1;
        FakePrompt prompt;
        decision::setPromptHost(&prompt);
        MemoryBrowserWindows shell;
        shell.setOpensPopups(false);
        auto page = shell.openWindow(QStringLiteral("http://asking.example/"));
        BrowserTracker tracker(&shell);
        std::weak_ptr<BrowserSink> deciding = tracker.IE(1);
        prompt.onShow = [&] {
            QTimer::singleShot(10, [&] { shell.openWindow(QStringLiteral("http://other.example/")); });
            FakePrompt::answerLater(50, true);
        };
        QVERIFY(!page->requestNewWindow());
        decision::setPromptHost(nullptr);
        QCOMPARE(tracker.Count(), 2);
        QVERIFY(deciding.expired());
        QCOMPARE(page->sinkCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTracker)
#include "tst_tracker.moc"
