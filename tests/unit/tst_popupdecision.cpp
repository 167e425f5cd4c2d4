// The popup decision without widgets: site names, list lookup, the order of
// the decision's steps, the block steps, the setup-mode question that answers
// later (or never, or after the program began to end), requests that arrive or
// go away while it waits, and failures.

#include "core/paths.h"
#include "core/popupdecision.h"
#include "core/programstate.h"
#include "core/sitelists.h"
#include "support/decisionfakes.h"
#include "support/programfixture.h"
#include "support/requestrecorder.h"
#include "support/testenv.h"

#include <QSignalSpy>
#include <QtTest>

#include <limits>
#include <memory>

using namespace wendral;
using test::DecisionOutcome;
using test::RecordedRequestPtr;

namespace {
constexpr qint32 kMaxCount = std::numeric_limits<qint32>::max();

// A question host that can never show the question, and remembers what it was
// offered.
struct RefusingQuestion : SiteQuestion
{
    QStringList offered;
    int withdrawals = 0;
    bool ask(const QString &siteName) override
    {
        offered << siteName;
        return false;
    }
    void withdraw() override { ++withdrawals; }
};
} // namespace

class TestPopupDecision : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void siteName_data();
    void siteName();
    void lookup_data();
    void lookup();

    void blockingOffLetsEverythingThrough();
    void allowNextPassesOnceEvenForDisallowedSite();
    void outsideSetupModeOnlyTheAllowedListCounts_data();
    void outsideSetupModeOnlyTheAllowedListCounts();
    void allowedListWinsOverDisallowedList();
    void setupModeDisallowedSiteBlockedWithoutPrompt();
    void setupModePromptAnswers_data();
    void setupModePromptAnswers();
    void earlierAnswerDoesNotSettleALaterRequest();
    void optionsAreReadAtEveryRequest();

    void linksException_data();
    void linksException();
    void linkUnderMouseUsesUpAnEarlierPass();
    void linkWhileBlockingOffLeavesPassForLater();

    void blockStepsRunInOrder();
    void countAtMaximumStillBlocks();
    void pageWithoutAddressIsInNoList();

    void unreadableAddressLetsRequestThrough();
    void withoutOptionsEverythingGoesThrough();
    void promptThatCannotBeShownLetsRequestThrough();
    void optionsGoneWhileQuestionWaitsLetsThrough();

    // The question that answers later.
    void answerComesAfterOtherEventsRan();
    void questionNeverAnsweredHoldsUntilTheDeciderGoes();
    void questionAnsweredWhileItIsBeingShown();
    void answerAfterTheProgramBeganToEnd();
    void requestsArrivingWhileWaitingShareTheAnswer_data();
    void requestsArrivingWhileWaitingShareTheAnswer();
    void blockedAnswerRunsTheBlockStepsPerRequest();
    void blockCountedOnConfirmationWaitsForIt();
    void withdrawnRequest();
    void requestDuringTheAnswerAsksAgain();

private:
    test::ProgramFixture &fx() { return *m_fixture; }
    ProgramState &state() { return m_fixture->state; }
    PopupDecider &decider() { return m_fixture->decider; }
    SiteLists &lists() { return m_fixture->lists; }
    const QStringList &played() const { return m_fixture->platform.sound.played(); }

    RecordedRequestPtr request(const std::optional<QString> &url) { return test::requestDecision(decider(), url); }
    DecisionOutcome decide(const QString &url) { return test::outcomeOf(*request(url)); }

    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<test::ProgramFixture> m_fixture;
    test::FakeOptions m_options;
    test::FakeQuestion m_question;
};

void TestPopupDecision::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_fixture = std::make_unique<test::ProgramFixture>();
    m_options = test::FakeOptions{};
    m_question = test::FakeQuestion{};
    decider().setOptions(&m_options);
    decider().setQuestion(&m_question);
}

void TestPopupDecision::cleanup()
{
    m_fixture.reset();
    m_env.reset();
}

void TestPopupDecision::siteName_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("site");
    QTest::newRow("path dropped") << "http://www.example.com/page.html?a=b"
                                  << "www.example.com";
    QTest::newRow("https") << "https://secure.example.org/"
                           << "secure.example.org";
    QTest::newRow("capitals kept") << "HTTPS://WWW.Example.COM/X"
                                   << "WWW.Example.COM";
    QTest::newRow("port kept") << "http://host.example:8080/path"
                               << "host.example:8080";
    QTest::newRow("user kept") << "http://user:pw@host.example/"
                               << "user:pw@host.example";
    QTest::newRow("other scheme") << "ftp://files.example.com/a"
                                  << "ftp:";
    QTest::newRow("file scheme") << "file:///home/u/a.html"
                                 << "file:";
    QTest::newRow("no slash") << "about:blank"
                              << "about:blank";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("scheme anywhere") << "https://a.example/http://b.example/"
                                     << "a.example";
    QTest::newRow("repeated scheme") << "http://http://c.example/x"
                                     << "c.example";
    QTest::newRow("not trimmed") << " http://d.example /x"
                                 << " d.example ";
}

void TestPopupDecision::siteName()
{
    QFETCH(QString, url);
    QFETCH(QString, site);
    QCOMPARE(siteNameOf(url), site);
}

void TestPopupDecision::lookup_data()
{
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("listed");
    QTest::newRow("whole entry") << "example.com"
                                 << "a.org\r\nexample.com\r\n"
                                 << true;
    QTest::newRow("part of longer entry") << "example.com"
                                          << "www.example.com\r\n"
                                          << true;
    QTest::newRow("longer than entry") << "www.example.com"
                                       << "example.com\r\n"
                                       << false;
    QTest::newRow("any fragment") << "ample.c"
                                  << "www.example.com\r\n"
                                  << true;
    QTest::newRow("case ignored") << "WWW.EXAMPLE.COM"
                                  << "www.example.com\r\n"
                                  << true;
    QTest::newRow("across entries") << "org\r\nex"
                                    << "a.org\r\nexample.com\r\n"
                                    << true;
    QTest::newRow("empty site, full list") << ""
                                           << "a.org\r\n"
                                           << false;
    QTest::newRow("empty site, empty list") << ""
                                            << "" << false;
    QTest::newRow("empty list") << "a.org"
                                << "" << false;
}

void TestPopupDecision::lookup()
{
    QFETCH(QString, site);
    QFETCH(QString, list);
    QFETCH(bool, listed);
    QCOMPARE(isSiteListed(site, list), listed);
    SiteList one(m_env->home() + "/list.txt");
    one.setText(list);
    QCOMPARE(one.contains(site), listed);
}

void TestPopupDecision::blockingOffLetsEverythingThrough()
{
    m_options.blocking = false;
    m_options.setup = true;
    lists().disallowed().setText("bad.example\r\n");
    state().allowNext = true;
    QCOMPARE(decide("http://bad.example/"), DecisionOutcome::Allowed);
    QCOMPARE(decide("http://other.example/"), DecisionOutcome::Allowed);
    QCOMPARE(state().blockedCount, 0);
    QVERIFY(state().allowNext); // not consumed while blocking is off
    QCOMPARE(m_question.shows, 0);
    QVERIFY(played().isEmpty());
}

void TestPopupDecision::allowNextPassesOnceEvenForDisallowedSite()
{
    m_options.setup = true;
    lists().disallowed().setText("bad.example\r\n");
    state().allowNext = true;
    QCOMPARE(decide("http://bad.example/"), DecisionOutcome::Allowed); // the pass gives an explicit verdict
    QVERIFY(!state().allowNext);
    QCOMPARE(state().blockedCount, 0);
    QCOMPARE(decide("http://bad.example/"), DecisionOutcome::Blocked); // the pass is used up
    QCOMPARE(state().blockedCount, 1);
    QCOMPARE(m_question.shows, 0);
}

void TestPopupDecision::outsideSetupModeOnlyTheAllowedListCounts_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<bool>("blocked");
    QTest::newRow("disallowed only, sound on") << "http://bad.example/" << true << true;
    QTest::newRow("disallowed only, sound off") << "http://bad.example/" << false << true;
    QTest::newRow("neither list, sound on") << "http://new.example/" << true << true;
    QTest::newRow("neither list, sound off") << "http://new.example/" << false << true;
    QTest::newRow("allowed") << "http://good.example/x" << true << false;
    QTest::newRow("allowed, part of entry") << "http://example/x" << true << false;
}

void TestPopupDecision::outsideSetupModeOnlyTheAllowedListCounts()
{
    QFETCH(QString, url);
    QFETCH(bool, sound);
    QFETCH(bool, blocked);
    m_options.sound = sound;
    lists().allowed().setText("good.example\r\n");
    lists().disallowed().setText("bad.example\r\n");
    QCOMPARE(decide(url), blocked ? DecisionOutcome::Blocked : DecisionOutcome::Allowed);
    QCOMPARE(state().blockedCount, blocked ? 1 : 0);
    const QStringList expected = blocked && sound ? QStringList{Paths::programFile("sounds/pop.wav")} : QStringList{};
    QCOMPARE(played(), expected);
    QCOMPARE(m_question.shows, 0);
}

void TestPopupDecision::allowedListWinsOverDisallowedList()
{
    m_options.setup = true;
    lists().allowed().setText("both.example\r\n");
    lists().disallowed().setText("both.example\r\n");
    QCOMPARE(decide("http://both.example/"), DecisionOutcome::Allowed);
    QCOMPARE(state().blockedCount, 0);
    QCOMPARE(m_question.shows, 0);
}

void TestPopupDecision::setupModeDisallowedSiteBlockedWithoutPrompt()
{
    m_options.setup = true;
    lists().disallowed().setText("a.example\r\nbad.example\r\n");
    QCOMPARE(decide("http://BAD.example/"), DecisionOutcome::Blocked);
    QCOMPARE(state().blockedCount, 1);
    QCOMPARE(played().size(), 1);
    QCOMPARE(m_question.shows, 0);
}

void TestPopupDecision::setupModePromptAnswers_data()
{
    QTest::addColumn<SiteAnswer>("answer");
    QTest::addColumn<bool>("blocked");
    QTest::addColumn<QString>("allowedAfter");    // the allowed list's text afterwards
    QTest::addColumn<QString>("disallowedAfter"); // the disallowed list's text afterwards
    QTest::addColumn<DecisionOutcome>("next");    // the next request of the same site
    const QString allowed = "good.example\r\n";
    const QString disallowed = "bad.example\r\n";
    QTest::newRow("let through") << SiteAnswer::AllowOnce << false << allowed << disallowed << DecisionOutcome::Waiting;
    QTest::newRow("block") << SiteAnswer::BlockOnce << true << allowed << disallowed << DecisionOutcome::Waiting;
    QTest::newRow("closed without answer")
        << SiteAnswer::Dismissed << true << allowed << disallowed << DecisionOutcome::Waiting;
    QTest::newRow("allow always") << SiteAnswer::AllowAlways << false << allowed + "New.Example:81\r\n"
                                  << disallowed << DecisionOutcome::Allowed;
    QTest::newRow("block always") << SiteAnswer::BlockAlways << true << allowed << disallowed + "New.Example:81\r\n"
                                  << DecisionOutcome::Blocked;
}

void TestPopupDecision::setupModePromptAnswers()
{
    QFETCH(SiteAnswer, answer);
    QFETCH(bool, blocked);
    QFETCH(QString, allowedAfter);
    QFETCH(QString, disallowedAfter);
    QFETCH(DecisionOutcome, next);
    m_options.setup = true;
    lists().allowed().setText("good.example\r\n");
    lists().disallowed().setText("bad.example\r\n");
    m_question.onShow = [this, answer] { test::FakeQuestion::answerLater(decider(), 20, answer); };

    const RecordedRequestPtr r = request("http://New.Example:81/page");
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Waiting);
    QCOMPARE(m_question.shows, 1);
    QCOMPARE(m_question.siteAsked, QString("New.Example:81"));
    QCOMPARE(decider().askedSite(), QString("New.Example:81"));
    QVERIFY(decider().isAsking());
    QTRY_VERIFY(r->isSettled());
    QCOMPARE(r->verdict(), std::optional(blocked ? Verdict::Block : Verdict::Allow));
    QVERIFY(!decider().isAsking());
    QCOMPARE(decider().askedSite(), QString());
    QCOMPARE(state().blockedCount, blocked ? 1 : 0);
    QCOMPARE(played().size(), blocked ? 1 : 0);
    QCOMPARE(lists().allowed().text(), allowedAfter);
    QCOMPARE(lists().disallowed().text(), disallowedAfter);
    QCOMPARE(m_question.withdrawals, 0); // answered, not withdrawn

    // A one-time answer is for this request only: the next one asks again.
    // An "always" answer put the site on a list, which decides from now on.
    m_question.onShow = [this] { test::FakeQuestion::answerLater(decider(), 0, SiteAnswer::AllowOnce); };
    const RecordedRequestPtr again = request("http://New.Example:81/page");
    QCOMPARE(test::outcomeOf(*again), next);
    QCOMPARE(m_question.shows, next == DecisionOutcome::Waiting ? 2 : 1);
    QTRY_COMPARE(again->verdict(), std::optional(next == DecisionOutcome::Blocked ? Verdict::Block : Verdict::Allow));
}

void TestPopupDecision::earlierAnswerDoesNotSettleALaterRequest()
{
    // An answer left over from an earlier question (nothing waits for it) is
    // not kept for the next request: that one is asked about anew.
    m_options.setup = true;
    decider().answer(SiteAnswer::AllowOnce, "asked.example");
    QCOMPARE(state().blockedCount, 0);
    const RecordedRequestPtr r = request("http://asked.example/");
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Waiting);
    QCOMPARE(m_question.shows, 1);
    QCOMPARE(m_question.siteAsked, QString("asked.example"));
    decider().answer(SiteAnswer::Dismissed, "asked.example");
    QCOMPARE(r->verdict(), std::optional(Verdict::Block));
}

void TestPopupDecision::optionsAreReadAtEveryRequest()
{
    // Blocking off: through, uncounted.
    m_options.blocking = false;
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Allowed);
    QCOMPARE(state().blockedCount, 0);
    // Blocking on, setup mode and sound off: blocked without prompt, silent.
    m_options.blocking = true;
    m_options.setup = false;
    m_options.sound = false;
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Blocked);
    QCOMPARE(m_question.shows, 0);
    QVERIFY(played().isEmpty());
    // With the link exception off a link under the mouse grants nothing.
    m_options.links = false;
    state().lastStatusText = "http://link.example/";
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Blocked);
    QVERIFY(!state().allowNext);
    // Switched on between two requests, the sound plays at the next block.
    m_options.sound = true;
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Blocked);
    QCOMPARE(played().size(), 1);
    QCOMPARE(state().blockedCount, 3);
}

void TestPopupDecision::linksException_data()
{
    QTest::addColumn<bool>("links");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("pass");
    QTest::newRow("link") << true << "http://link.example/a" << true;
    QTest::newRow("exactly http:// is too short") << true << "http://" << false;
    QTest::newRow("https:// alone is long enough") << true << "https://" << true;
    QTest::newRow("capitals") << true << "HTTPS://LINK.EXAMPLE" << true;
    QTest::newRow("other scheme") << true << "ftp://files.example/" << false;
    QTest::newRow("leading space") << true << " http://link.example/" << false;
    QTest::newRow("plain text") << true << "Done loading the page" << false;
    QTest::newRow("empty") << true << "" << false;
    QTest::newRow("option off") << false << "http://link.example/a" << false;
}

void TestPopupDecision::linksException()
{
    QFETCH(bool, links);
    QFETCH(QString, status);
    QFETCH(bool, pass);
    m_options.blocking = false; // blocking off, so the pass is left for inspection
    m_options.links = links;
    decider().setLastStatusText(status);
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Allowed);
    QCOMPARE(state().allowNext, pass);
    QCOMPARE(state().lastStatusText, status); // never changed by the decision
}

void TestPopupDecision::linkUnderMouseUsesUpAnEarlierPass()
{
    m_options.links = true;
    state().allowNext = true; // granted by the allow-next button
    state().lastStatusText = "http://link.example/";
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Allowed);
    QVERIFY(!state().allowNext);
    state().lastStatusText.clear(); // mouse left the link
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Blocked);
    QCOMPARE(state().blockedCount, 1);
}

void TestPopupDecision::linkWhileBlockingOffLeavesPassForLater()
{
    m_options.blocking = false;
    m_options.links = true;
    state().lastStatusText = "http://link.example/";
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Allowed);
    QVERIFY(state().allowNext);
    // Blocking back on, no link under the mouse: the left-over pass lets one through.
    m_options.blocking = true;
    state().lastStatusText.clear();
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Allowed);
    QVERIFY(!state().allowNext);
    QCOMPARE(state().blockedCount, 0);
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Blocked);
}

void TestPopupDecision::blockStepsRunInOrder()
{
    // The block steps: count, sound, and the verdict is delivered last. Nothing
    // else runs inside the decision: an event already queued waits for the
    // event loop.
    QStringList steps;
    bool queuedRan = false;
    connect(&decider(), &PopupDecider::blocked, this,
            [&] { steps << QStringLiteral("counted %1").arg(state().blockedCount); });
    decider().setBlockSound([&] { steps << QStringLiteral("sound at %1").arg(state().blockedCount); });
    QMetaObject::invokeMethod(
        this, [&] { queuedRan = true; }, Qt::QueuedConnection);
    state().blockedCount = 41;

    const RecordedRequestPtr r = test::requestDecision(decider(), QString("http://x.example/"), [&](Verdict v) {
        steps << QStringLiteral("verdict %1").arg(v == Verdict::Block ? "block" : "allow");
    });
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Blocked);
    QCOMPARE(steps, (QStringList{"counted 42", "sound at 42", "verdict block"}));
    QVERIFY(!queuedRan);
    QTRY_VERIFY(queuedRan);
    disconnect(&decider(), &PopupDecider::blocked, this, nullptr);
}

void TestPopupDecision::countAtMaximumStillBlocks()
{
    QSignalSpy blocked(&decider(), &PopupDecider::blocked);
    state().blockedCount = kMaxCount - 1;
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Blocked);
    QCOMPARE(state().blockedCount, kMaxCount);
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Blocked);
    QCOMPARE(state().blockedCount, kMaxCount);
    QCOMPARE(played().size(), 2);
    QCOMPARE(blocked.count(), 2);
}

void TestPopupDecision::pageWithoutAddressIsInNoList()
{
    lists().allowed().setText("good.example\r\n");
    lists().disallowed().setText("bad.example\r\n");
    QCOMPARE(decide(""), DecisionOutcome::Blocked);
    QCOMPARE(state().blockedCount, 1);
    // In setup mode the user is asked about it, with an empty site name.
    m_options.setup = true;
    m_question.onShow = [this] { test::FakeQuestion::answerLater(decider(), 0, SiteAnswer::AllowOnce); };
    const RecordedRequestPtr r = request(QString(""));
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Waiting);
    QCOMPARE(m_question.shows, 1);
    QCOMPARE(m_question.siteAsked, QString());
    QTRY_COMPARE(r->verdict(), std::optional(Verdict::Allow));
}

void TestPopupDecision::unreadableAddressLetsRequestThrough()
{
    m_options.setup = true;
    m_options.links = true;
    state().lastStatusText = "https://link.example/";
    const RecordedRequestPtr r = request(std::nullopt);
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Allowed);
    QCOMPARE(state().blockedCount, 0);
    QCOMPARE(m_question.shows, 0);
    QVERIFY(played().isEmpty());
    // The links exception ran before the address was read, so its pass stays.
    QVERIFY(state().allowNext);
}

void TestPopupDecision::withoutOptionsEverythingGoesThrough()
{
    decider().setOptions(nullptr);
    state().allowNext = true;
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Allowed);
    QCOMPARE(state().blockedCount, 0);
    QVERIFY(state().allowNext);
    QVERIFY(played().isEmpty());
}

void TestPopupDecision::promptThatCannotBeShownLetsRequestThrough()
{
    m_options.setup = true;
    RefusingQuestion refusing;
    decider().setQuestion(&refusing);
    QCOMPARE(decide("http://x.example/"), DecisionOutcome::Allowed);
    QCOMPARE(state().blockedCount, 0);
    QCOMPARE(refusing.offered, QStringList{"x.example"});
    QVERIFY(!decider().isAsking());
    QCOMPARE(decider().askedSite(), QString());
    decider().setQuestion(nullptr);
    QCOMPARE(decide("http://y.example/"), DecisionOutcome::Allowed);
    QCOMPARE(state().blockedCount, 0);
    QCOMPARE(refusing.withdrawals, 0);
}

void TestPopupDecision::optionsGoneWhileQuestionWaitsLetsThrough()
{
    // The main window unloads while the question waits: its options can no
    // longer be read, so the answer that comes lets the request through.
    m_options.setup = true;
    const RecordedRequestPtr r = request("http://x.example/");
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Waiting);
    decider().setOptions(nullptr);
    decider().answer(SiteAnswer::BlockOnce, "x.example");
    QCOMPARE(r->verdict(), std::optional(Verdict::Allow));
    QCOMPARE(state().blockedCount, 0);
    QVERIFY(played().isEmpty());
}

void TestPopupDecision::answerComesAfterOtherEventsRan()
{
    // The question does not hold the event loop: timers and queued events run
    // while it waits, and other requests are decided at once meanwhile.
    m_options.setup = true;
    lists().allowed().setText("good.example\r\n");
    lists().disallowed().setText("bad.example\r\n");
    bool timerRan = false;
    m_question.onShow = [&] {
        QTimer::singleShot(5, this, [&] { timerRan = true; });
        test::FakeQuestion::answerLater(decider(), 60, SiteAnswer::AllowOnce);
    };
    const RecordedRequestPtr r = request("http://new.example/");
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Waiting);
    QTRY_VERIFY(timerRan);
    QVERIFY(!r->isSettled());
    QCOMPARE(decide("http://good.example/"), DecisionOutcome::Allowed);
    QCOMPARE(decide("http://bad.example/"), DecisionOutcome::Blocked);
    QCOMPARE(state().blockedCount, 1);
    QCOMPARE(decider().waitingCount(), 1);
    QTRY_COMPARE(r->verdict(), std::optional(Verdict::Allow));
    QCOMPARE(m_question.shows, 1);
    QCOMPARE(state().blockedCount, 1);
}

void TestPopupDecision::questionNeverAnsweredHoldsUntilTheDeciderGoes()
{
    m_options.setup = true;
    const RecordedRequestPtr r = request("http://new.example/");
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Waiting);
    QTest::qWait(50);
    QVERIFY(!r->isSettled());
    QVERIFY(decider().isAsking());
    QCOMPARE(decider().waitingCount(), 1);
    // Nothing stays held because the decider went away: it lets the request
    // through and takes the question away.
    m_fixture.reset();
    QCOMPARE(r->verdict(), std::optional(Verdict::Allow));
    QCOMPARE(m_question.withdrawals, 1);
}

void TestPopupDecision::questionAnsweredWhileItIsBeingShown()
{
    // A question host that has its answer at hand gives it from inside ask():
    // the request is settled by then and nothing is left waiting.
    m_options.setup = true;
    m_question.onShow = [this] { decider().answer(SiteAnswer::BlockOnce, decider().askedSite()); };
    const RecordedRequestPtr r = request("http://new.example/");
    QCOMPARE(r->verdict(), std::optional(Verdict::Block));
    QVERIFY(!decider().isAsking());
    QCOMPARE(decider().waitingCount(), 0);
    QCOMPARE(m_fixture->state.blockedCount, 1);
}

void TestPopupDecision::answerAfterTheProgramBeganToEnd()
{
    m_options.setup = true;
    const RecordedRequestPtr r = request("http://new.example/");
    QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Waiting);
    test::FakeQuestion::answerLater(decider(), 20, SiteAnswer::BlockOnce);

    decider().releaseAll();
    QCOMPARE(r->verdict(), std::optional(Verdict::Allow));
    QCOMPARE(m_question.withdrawals, 1);
    QVERIFY(!decider().isAsking());
    QCOMPARE(decider().askedSite(), QString());
    // Requests from now on go through without a question, whatever the lists say.
    lists().disallowed().setText("bad.example\r\n");
    QCOMPARE(decide("http://bad.example/"), DecisionOutcome::Allowed);
    QCOMPARE(decide("http://other.example/"), DecisionOutcome::Allowed);
    QCOMPARE(m_question.shows, 1);

    // The answer that comes late changes nothing.
    QTest::qWait(60);
    decider().answer(SiteAnswer::Dismissed, "new.example");
    QCOMPARE(r->verdicts.size(), 1);
    QCOMPARE(state().blockedCount, 0);
    QVERIFY(played().isEmpty());
    // Releasing twice is harmless.
    decider().releaseAll();
    QCOMPARE(m_question.withdrawals, 1);
}

void TestPopupDecision::requestsArrivingWhileWaitingShareTheAnswer_data()
{
    QTest::addColumn<SiteAnswer>("answer");
    QTest::addColumn<bool>("blocked");
    QTest::newRow("allow once") << SiteAnswer::AllowOnce << false;
    QTest::newRow("block once") << SiteAnswer::BlockOnce << true;
    QTest::newRow("closed") << SiteAnswer::Dismissed << true;
    QTest::newRow("allow always") << SiteAnswer::AllowAlways << false;
    QTest::newRow("block always") << SiteAnswer::BlockAlways << true;
}

void TestPopupDecision::requestsArrivingWhileWaitingShareTheAnswer()
{
    QFETCH(SiteAnswer, answer);
    QFETCH(bool, blocked);
    m_options.setup = true;
    QVERIFY(lists().ensureFiles("www.brindlemark.example"));
    QVERIFY(lists().allowed().load());
    QVERIFY(lists().disallowed().load());
    const QByteArray allowedFile = test::readFile(lists().allowed().filePath());
    const QByteArray disallowedFile = test::readFile(lists().disallowed().filePath());
    QSignalSpy blockedSpy(&decider(), &PopupDecider::blocked);

    // The first asks; a second and a third (another page of the same site and
    // a page of another site) arrive while the question waits.
    const RecordedRequestPtr first = request("http://ads.example/a");
    RecordedRequestPtr second;
    RecordedRequestPtr third;
    QTimer::singleShot(5, this, [&] { second = request("http://ads.example/b"); });
    QTimer::singleShot(10, this, [&] { third = request("https://tracker.example/c"); });
    QTRY_VERIFY(third);
    for (const RecordedRequestPtr &r : {first, second, third})
        QCOMPARE(test::outcomeOf(*r), DecisionOutcome::Waiting);
    QCOMPARE(m_question.shows, 1);
    QCOMPARE(decider().askedSite(), QString("ads.example"));
    QCOMPARE(decider().waitingCount(), 3);

    decider().answer(answer, decider().askedSite());
    const Verdict expected = blocked ? Verdict::Block : Verdict::Allow;
    for (const RecordedRequestPtr &r : {first, second, third})
        QCOMPARE(r->verdict(), std::optional(expected));
    QCOMPARE(state().blockedCount, blocked ? 3 : 0);
    QCOMPARE(blockedSpy.count(), blocked ? 3 : 0);
    QCOMPARE(played().size(), blocked ? 3 : 0);
    QVERIFY(!decider().isAsking());
    QCOMPARE(m_question.withdrawals, 0);

    // The answered site went on a list once, in memory and on disk.
    const QString added = "ads.example\r\n";
    QCOMPARE(lists().allowed().text(),
             "www.brindlemark.example\r\n" + (answer == SiteAnswer::AllowAlways ? added : QString()));
    QCOMPARE(lists().disallowed().text(), answer == SiteAnswer::BlockAlways ? added : QString());
    const QByteArray allowedNow = test::readFile(lists().allowed().filePath());
    const QByteArray disallowedNow = test::readFile(lists().disallowed().filePath());
    QCOMPARE(allowedNow.count("ads.example"), answer == SiteAnswer::AllowAlways ? 1 : 0);
    QCOMPARE(disallowedNow.count("ads.example"), answer == SiteAnswer::BlockAlways ? 1 : 0);
    if (answer != SiteAnswer::AllowAlways)
        QCOMPARE(allowedNow, allowedFile);
    if (answer != SiteAnswer::BlockAlways)
        QCOMPARE(disallowedNow, disallowedFile);

    // A second answer (a double click) settles nothing more.
    decider().answer(SiteAnswer::BlockOnce, "ads.example");
    for (const RecordedRequestPtr &r : {first, second, third})
        QCOMPARE(r->verdicts.size(), 1);
    QCOMPARE(state().blockedCount, blocked ? 3 : 0);
}

void TestPopupDecision::blockedAnswerRunsTheBlockStepsPerRequest()
{
    // Each request that a blocking answer stops is counted, sounded and then
    // blocked, before the next one's steps start.
    m_options.setup = true;
    QStringList steps;
    connect(&decider(), &PopupDecider::blocked, this,
            [&] { steps << QStringLiteral("counted %1").arg(state().blockedCount); });
    decider().setBlockSound([&] { steps << QStringLiteral("sound"); });
    const auto onVerdict = [&](Verdict v) { steps << (v == Verdict::Block ? "block" : "allow"); };
    const RecordedRequestPtr a = test::requestDecision(decider(), QString("http://a.example/"), onVerdict);
    const RecordedRequestPtr b = test::requestDecision(decider(), QString("http://b.example/"), onVerdict);
    QVERIFY(steps.isEmpty());
    decider().answer(SiteAnswer::BlockOnce, "a.example");
    QCOMPARE(steps, (QStringList{"counted 1", "sound", "block", "counted 2", "sound", "block"}));
    QCOMPARE(a->verdict(), std::optional(Verdict::Block));
    QCOMPARE(b->verdict(), std::optional(Verdict::Block));
    disconnect(&decider(), &PopupDecider::blocked, this, nullptr);
}

void TestPopupDecision::blockCountedOnConfirmationWaitsForIt()
{
    // A block whose window the browser still has to close is counted and
    // sounded only when the close is confirmed, whether it was decided at
    // once or by the question; the others count as before.
    QStringList verdicts;
    const auto onVerdict = [&](Verdict v) { verdicts << (v == Verdict::Block ? "block" : "allow"); };
    QSignalSpy blocked(&decider(), &PopupDecider::blocked);
    QCOMPARE(decider().decide(QString("http://a.example/"), onVerdict, BlockCount::OnConfirmation), 0u);
    QCOMPARE(verdicts, QStringList{"block"});
    QCOMPARE(state().blockedCount, 0);
    QCOMPARE(blocked.count(), 0);
    QVERIFY(played().isEmpty());
    decider().confirmBlocked();
    QCOMPARE(state().blockedCount, 1);
    QCOMPARE(blocked.count(), 1);
    QCOMPARE(played().size(), 1);

    m_options.setup = true;
    QVERIFY(decider().decide(QString("http://b.example/"), onVerdict, BlockCount::OnConfirmation) != 0);
    QVERIFY(decider().decide(QString("http://c.example/"), onVerdict) != 0);
    decider().answer(SiteAnswer::BlockOnce, "b.example");
    QCOMPARE(verdicts, (QStringList{"block", "block", "block"}));
    QCOMPARE(state().blockedCount, 2);
    QCOMPARE(played().size(), 2);
    decider().confirmBlocked();
    QCOMPARE(state().blockedCount, 3);
    // Nothing blocked, nothing to confirm: an allowed request never counts.
    decider().answer(SiteAnswer::AllowAlways, "d.example");
    QCOMPARE(decider().decide(QString("http://d.example/"), onVerdict, BlockCount::OnConfirmation), 0u);
    QCOMPARE(verdicts.last(), QString("allow"));
    QCOMPARE(state().blockedCount, 3);
}

void TestPopupDecision::withdrawnRequest()
{
    m_options.setup = true;
    // Another request still waits: the question stays.
    const RecordedRequestPtr first = request("http://new.example/1");
    const RecordedRequestPtr second = request("http://new.example/2");
    decider().withdraw(first->id);
    QCOMPARE(m_question.withdrawals, 0);
    QVERIFY(decider().isAsking());
    QCOMPARE(decider().waitingCount(), 1);
    QCOMPARE(decider().askedSite(), QString("new.example"));
    decider().withdraw(first->id); // twice: nothing more
    decider().withdraw(0);
    decider().withdraw(first->id + 1000);
    QCOMPARE(decider().waitingCount(), 1);
    QCOMPARE(m_question.withdrawals, 0);
    // The answer settles the one left, never the withdrawn one.
    decider().answer(SiteAnswer::BlockOnce, "new.example");
    QVERIFY(!first->isSettled());
    QCOMPARE(second->verdict(), std::optional(Verdict::Block));
    QCOMPARE(state().blockedCount, 1);

    // Nothing else waits: the question is withdrawn, and a late answer finds
    // nothing to settle or count.
    const RecordedRequestPtr only = request("http://new.example/3");
    QCOMPARE(m_question.shows, 2);
    decider().withdraw(only->id);
    QCOMPARE(m_question.withdrawals, 1);
    QVERIFY(!decider().isAsking());
    QCOMPARE(decider().askedSite(), QString());
    decider().answer(SiteAnswer::BlockOnce, "new.example");
    QVERIFY(!only->isSettled());
    QCOMPARE(state().blockedCount, 1);
    QCOMPARE(played().size(), 1);
    // The next request asks again.
    QCOMPARE(test::outcomeOf(*request("http://new.example/4")), DecisionOutcome::Waiting);
    QCOMPARE(m_question.shows, 3);
}

void TestPopupDecision::requestDuringTheAnswerAsksAgain()
{
    // A popup let through by the answer opens a page that at once asks for a
    // popup of its own: that request is not settled by the answer being
    // delivered, it gets a question of its own.
    m_options.setup = true;
    RecordedRequestPtr inner;
    const RecordedRequestPtr outer = test::requestDecision(decider(), QString("http://outer.example/"),
                                                           [&](Verdict) { inner = request("http://inner.example/"); });
    decider().answer(SiteAnswer::AllowOnce, "outer.example");
    QCOMPARE(outer->verdict(), std::optional(Verdict::Allow));
    QVERIFY(inner);
    QCOMPARE(test::outcomeOf(*inner), DecisionOutcome::Waiting);
    QCOMPARE(m_question.shows, 2);
    QCOMPARE(m_question.siteAsked, QString("inner.example"));
    QCOMPARE(decider().askedSite(), QString("inner.example"));
    decider().answer(SiteAnswer::BlockOnce, "inner.example");
    QCOMPARE(inner->verdict(), std::optional(Verdict::Block));
    QCOMPARE(outer->verdicts.size(), 1);
}

QTEST_GUILESS_MAIN(TestPopupDecision)
#include "tst_popupdecision.moc"
