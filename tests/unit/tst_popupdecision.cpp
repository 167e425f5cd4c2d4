// The popup decision without widgets: site names, list lookup, the order of
// the decision's steps, the block steps, the setup-mode prompt and failures.

#include "core/paths.h"
#include "core/programstate.h"
#include "support/memorybrowsers.h"
#include "core/popupdecision.h"
#include "platform/soundplayer.h"
#include "support/decisionfakes.h"
#include "support/testenv.h"

#include <QtTest>

#include <limits>
#include <memory>

using namespace wendral;

namespace {
constexpr qint32 kMaxCount = std::numeric_limits<qint32>::max();
}

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
    void promptStateIsResetBeforeShowing();
    void optionValuesOtherThanOneCountAsOff();

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
    void optionsGoneDuringBlockPassEndsHandler();

private:
    bool decide(const QString &url, bool cancel = false);

    std::unique_ptr<test::TestEnvironment> m_env;
    test::FakeOptions m_options;
    test::FakePrompt m_prompt;
    RecordingSoundPlayer m_sound;
    std::unique_ptr<MemoryBrowser> m_browser;
};

void TestPopupDecision::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_options = test::FakeOptions{};
    m_prompt.canShow = true;
    m_prompt.shows = 0;
    m_prompt.onShow = nullptr;
    m_sound.clear();
    decision::setOptions(&m_options);
    decision::setPromptHost(&m_prompt);
    setSoundPlayer(&m_sound);
    m_browser = std::make_unique<MemoryBrowser>(nullptr, QString());
}

void TestPopupDecision::cleanup()
{
    decision::setOptions(nullptr);
    decision::setPromptHost(nullptr);
    setSoundPlayer(nullptr);
    m_browser.reset();
    m_env.reset();
}

bool TestPopupDecision::decide(const QString &url, bool cancel)
{
    m_browser->setLocation(url);
    decision::run(*m_browser, cancel);
    return cancel;
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
}

void TestPopupDecision::blockingOffLetsEverythingThrough()
{
    m_options.c1 = 0;
    m_options.c2 = 1;
    shared().disallowedList = "bad.example\r\n";
    shared().allowNext = true;
    QCOMPARE(decide("http://bad.example/"), false);
    QCOMPARE(decide("http://other.example/"), false);
    QCOMPARE(shared().blockedCount, 0);
    QVERIFY(shared().allowNext); // not consumed while blocking is off
    QCOMPARE(m_prompt.shows, 0);
    QVERIFY(m_sound.played().isEmpty());
}

void TestPopupDecision::allowNextPassesOnceEvenForDisallowedSite()
{
    m_options.c2 = 1;
    shared().disallowedList = "bad.example\r\n";
    shared().allowNext = true;
    QCOMPARE(decide("http://bad.example/", true), false); // the decision itself clears cancel
    QVERIFY(!shared().allowNext);
    QCOMPARE(shared().blockedCount, 0);
    QCOMPARE(decide("http://bad.example/"), true); // the pass is used up
    QCOMPARE(shared().blockedCount, 1);
    QCOMPARE(m_prompt.shows, 0);
}

void TestPopupDecision::outsideSetupModeOnlyTheAllowedListCounts_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("sound");
    QTest::addColumn<bool>("blocked");
    QTest::newRow("disallowed only, sound on") << "http://bad.example/" << 1 << true;
    QTest::newRow("disallowed only, sound off") << "http://bad.example/" << 0 << true;
    QTest::newRow("neither list, sound on") << "http://new.example/" << 1 << true;
    QTest::newRow("neither list, sound off") << "http://new.example/" << 0 << true;
    QTest::newRow("allowed") << "http://good.example/x" << 1 << false;
    QTest::newRow("allowed, part of entry") << "http://example/x" << 1 << false;
}

void TestPopupDecision::outsideSetupModeOnlyTheAllowedListCounts()
{
    QFETCH(QString, url);
    QFETCH(int, sound);
    QFETCH(bool, blocked);
    m_options.c5 = sound;
    shared().allowedList = "good.example\r\n";
    shared().disallowedList = "bad.example\r\n";
    QCOMPARE(decide(url), blocked);
    QCOMPARE(shared().blockedCount, blocked ? 1 : 0);
    const QStringList expected =
        blocked && sound == 1 ? QStringList{Paths::programFile("sounds/pop.wav")} : QStringList{};
    QCOMPARE(m_sound.played(), expected);
    QCOMPARE(m_prompt.shows, 0);
}

void TestPopupDecision::allowedListWinsOverDisallowedList()
{
    m_options.c2 = 1;
    shared().allowedList = "both.example\r\n";
    shared().disallowedList = "both.example\r\n";
    QCOMPARE(decide("http://both.example/", true), false);
    QCOMPARE(shared().blockedCount, 0);
    QCOMPARE(m_prompt.shows, 0);
}

void TestPopupDecision::setupModeDisallowedSiteBlockedWithoutPrompt()
{
    m_options.c2 = 1;
    shared().disallowedList = "a.example\r\nbad.example\r\n";
    QCOMPARE(decide("http://BAD.example/"), true);
    QCOMPARE(shared().blockedCount, 1);
    QCOMPARE(m_sound.played().size(), 1);
    QCOMPARE(m_prompt.shows, 0);
}

void TestPopupDecision::setupModePromptAnswers_data()
{
    QTest::addColumn<int>("answer"); // 0 block, 1 allow, 2 close box
    QTest::addColumn<bool>("blocked");
    QTest::newRow("let through") << 1 << false;
    QTest::newRow("block") << 0 << true;
    QTest::newRow("closed without answer") << 2 << true;
}

void TestPopupDecision::setupModePromptAnswers()
{
    QFETCH(int, answer);
    QFETCH(bool, blocked);
    m_options.c2 = 1;
    shared().allowedList = "good.example\r\n";
    shared().disallowedList = "bad.example\r\n";
    m_prompt.onShow = [answer] {
        if (answer == 2)
            test::FakePrompt::closeLater(20);
        else
            test::FakePrompt::answerLater(20, answer == 1);
    };
    QCOMPARE(decide("http://New.Example:81/page"), blocked);
    QCOMPARE(m_prompt.shows, 1);
    QCOMPARE(m_prompt.domainAtShow, QString("New.Example:81"));
    QCOMPARE(shared().promptDomain, QString("New.Example:81"));
    QCOMPARE(shared().blockedCount, blocked ? 1 : 0);
    QCOMPARE(m_sound.played().size(), blocked ? 1 : 0);
    // The answer is for this request only: the next one asks again.
    m_prompt.onShow = [] { test::FakePrompt::answerLater(0, true); };
    QCOMPARE(decide("http://New.Example:81/page"), false);
    QCOMPARE(m_prompt.shows, 2);
}

void TestPopupDecision::promptStateIsResetBeforeShowing()
{
    m_options.c2 = 1;
    shared().promptAnswered = true; // left over from an earlier question
    shared().promptAllow = true;
    m_prompt.onShow = [] { test::FakePrompt::closeLater(0); };
    QCOMPARE(decide("http://asked.example/"), true);
    QCOMPARE(m_prompt.answeredAtShow, false);
    QCOMPARE(m_prompt.allowAtShow, false);
    QCOMPARE(m_prompt.domainAtShow, QString("asked.example"));
}

void TestPopupDecision::optionValuesOtherThanOneCountAsOff()
{
    // Blocking with a value of 2 is off.
    m_options.c1 = 2;
    QCOMPARE(decide("http://x.example/"), false);
    QCOMPARE(shared().blockedCount, 0);
    // Setup mode and sound with odd values are off: blocked without prompt, silent.
    m_options.c1 = 1;
    m_options.c2 = -1;
    m_options.c5 = 2;
    QCOMPARE(decide("http://x.example/"), true);
    QCOMPARE(m_prompt.shows, 0);
    QVERIFY(m_sound.played().isEmpty());
    // A links exception of 2 grants nothing.
    m_options.c6 = 2;
    shared().lastStatusText = "http://link.example/";
    QCOMPARE(decide("http://x.example/"), true);
    QVERIFY(!shared().allowNext);
}

void TestPopupDecision::linksException_data()
{
    QTest::addColumn<int>("check6");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("pass");
    QTest::newRow("link") << 1 << "http://link.example/a" << true;
    QTest::newRow("exactly http:// is too short") << 1 << "http://" << false;
    QTest::newRow("https:// alone is long enough") << 1 << "https://" << true;
    QTest::newRow("capitals") << 1 << "HTTPS://LINK.EXAMPLE" << true;
    QTest::newRow("other scheme") << 1 << "ftp://files.example/" << false;
    QTest::newRow("leading space") << 1 << " http://link.example/" << false;
    QTest::newRow("plain text") << 1 << "Done loading the page" << false;
    QTest::newRow("empty") << 1 << "" << false;
    QTest::newRow("option off") << 0 << "http://link.example/a" << false;
}

void TestPopupDecision::linksException()
{
    QFETCH(int, check6);
    QFETCH(QString, status);
    QFETCH(bool, pass);
    m_options.c1 = 0; // blocking off, so the pass is left for inspection
    m_options.c6 = check6;
    shared().lastStatusText = status;
    QCOMPARE(decide("http://x.example/"), false);
    QCOMPARE(shared().allowNext, pass);
    QCOMPARE(shared().lastStatusText, status); // never changed by the decision
}

void TestPopupDecision::linkUnderMouseUsesUpAnEarlierPass()
{
    m_options.c6 = 1;
    shared().allowNext = true; // granted by the allow-next button
    shared().lastStatusText = "http://link.example/";
    QCOMPARE(decide("http://x.example/"), false);
    QVERIFY(!shared().allowNext);
    shared().lastStatusText.clear(); // mouse left the link
    QCOMPARE(decide("http://x.example/"), true);
    QCOMPARE(shared().blockedCount, 1);
}

void TestPopupDecision::linkWhileBlockingOffLeavesPassForLater()
{
    m_options.c1 = 0;
    m_options.c6 = 1;
    shared().lastStatusText = "http://link.example/";
    QCOMPARE(decide("http://x.example/"), false);
    QVERIFY(shared().allowNext);
    // Blocking back on, no link under the mouse: the left-over pass lets one through.
    m_options.c1 = 1;
    shared().lastStatusText.clear();
    QCOMPARE(decide("http://x.example/"), false);
    QVERIFY(!shared().allowNext);
    QCOMPARE(shared().blockedCount, 0);
    QCOMPARE(decide("http://x.example/"), true);
}

namespace {
// Notes what the block steps had done when the sound started.
struct ObservingPlayer : SoundPlayer
{
    bool *cancel = nullptr;
    bool *pendingRan = nullptr;
    bool cancelAtPlay = true;
    bool pendingRanAtPlay = false;
    qint32 countAtPlay = -1;
    int plays = 0;
    void play(const QString &) override
    {
        ++plays;
        cancelAtPlay = *cancel;
        pendingRanAtPlay = *pendingRan;
        countAtPlay = shared().blockedCount;
    }
};
} // namespace

void TestPopupDecision::blockStepsRunInOrder()
{
    bool cancel = false;
    bool pendingRan = false;
    qint32 countSeenByPending = -1;
    int playsSeenByPending = -1;
    ObservingPlayer player;
    player.cancel = &cancel;
    player.pendingRan = &pendingRan;
    setSoundPlayer(&player);
    shared().blockedCount = 41;

    // An event already waiting in the queue runs during the block's one pass.
    QMetaObject::invokeMethod(
        this,
        [&] {
            pendingRan = true;
            countSeenByPending = shared().blockedCount;
            playsSeenByPending = player.plays;
        },
        Qt::QueuedConnection);
    m_browser->setLocation("http://x.example/");
    decision::run(*m_browser, cancel);

    QVERIFY(pendingRan);
    QCOMPARE(countSeenByPending, 42); // counted before the pass
    QCOMPARE(playsSeenByPending, 0);  // sound after the pass
    QCOMPARE(player.plays, 1);
    QVERIFY(player.pendingRanAtPlay);
    QCOMPARE(player.countAtPlay, 42);
    QCOMPARE(player.cancelAtPlay, false); // cancel is the last step
    QCOMPARE(cancel, true);
}

void TestPopupDecision::countAtMaximumStillBlocks()
{
    shared().blockedCount = kMaxCount - 1;
    QCOMPARE(decide("http://x.example/"), true);
    QCOMPARE(shared().blockedCount, kMaxCount);
    QCOMPARE(decide("http://x.example/"), true);
    QCOMPARE(shared().blockedCount, kMaxCount);
    QCOMPARE(m_sound.played().size(), 2);
}

void TestPopupDecision::pageWithoutAddressIsInNoList()
{
    shared().allowedList = "good.example\r\n";
    shared().disallowedList = "bad.example\r\n";
    QCOMPARE(decide(""), true);
    QCOMPARE(shared().blockedCount, 1);
    // In setup mode the user is asked about it, with an empty site name.
    m_options.c2 = 1;
    m_prompt.onShow = [] { test::FakePrompt::answerLater(0, true); };
    QCOMPARE(decide(""), false);
    QCOMPARE(m_prompt.shows, 1);
    QCOMPARE(m_prompt.domainAtShow, QString());
}

void TestPopupDecision::unreadableAddressLetsRequestThrough()
{
    m_options.c2 = 1;
    m_options.c6 = 1;
    shared().lastStatusText = "https://link.example/";
    m_browser->setUnreadable(true);
    bool cancel = false;
    decision::run(*m_browser, cancel);
    QCOMPARE(cancel, false);
    QCOMPARE(shared().blockedCount, 0);
    QCOMPARE(m_prompt.shows, 0);
    QVERIFY(m_sound.played().isEmpty());
    // The links exception ran before the address was read, so its pass stays.
    QVERIFY(shared().allowNext);
}

void TestPopupDecision::withoutOptionsEverythingGoesThrough()
{
    decision::setOptions(nullptr);
    shared().allowNext = true;
    QCOMPARE(decide("http://x.example/"), false);
    QCOMPARE(shared().blockedCount, 0);
    QVERIFY(shared().allowNext);
    QVERIFY(m_sound.played().isEmpty());
}

void TestPopupDecision::promptThatCannotBeShownLetsRequestThrough()
{
    m_options.c2 = 1;
    m_prompt.canShow = false;
    QCOMPARE(decide("http://x.example/"), false);
    QCOMPARE(shared().blockedCount, 0);
    QCOMPARE(shared().promptDomain, QString("x.example"));
    decision::setPromptHost(nullptr);
    QCOMPARE(decide("http://y.example/"), false);
    QCOMPARE(shared().blockedCount, 0);
}

void TestPopupDecision::optionsGoneDuringBlockPassEndsHandler()
{
    // The main window unloads while the block lets pending events run.
    QMetaObject::invokeMethod(
        this, [] { decision::setOptions(nullptr); }, Qt::QueuedConnection);
    QCOMPARE(decide("http://x.example/"), false);
    QCOMPARE(shared().blockedCount, 1); // a count already added stays
    QVERIFY(m_sound.played().isEmpty());
}

QTEST_GUILESS_MAIN(TestPopupDecision)
#include "tst_popupdecision.moc"
