// The setup-mode prompt driven through the real decision: a browser window in
// the in-memory engine asks for a popup, the main window shows the prompt, and
// each answer ends the waiting request with its list, file, count and sound.

#include "core/paths.h"
#include "core/programstate.h"
#include "core/settingsstore.h"
#include "core/sitelists.h"
#include "support/guimain.h"
#include "support/mainwindowfixture.h"
#include "support/testenv.h"
#include "ui/mainwindow.h"
#include "ui/siteprompt.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>

using namespace wendral;
using Outcome = MemoryBrowser::Outcome;

class TestSitePrompt : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void answers_data();
    void answers();
    void closeBoxBlocks();
    void allowAlwaysWithEmptiedBoxAddsAnEmptyItem();
    void allowNowAsksAgainNextTime();
    void secondRequestWhileOpenTakesTheSameAnswer();
    void promptStaysAboveAndKeepsTheMainWindowTopmost();
    void mainWindowStaysUsableWhileThePromptWaits();
    void popupGoneWhileAskedWithdrawsThePrompt();
    void unloadWhileAskedLetsThePopupThrough();

private:
    // Raises a request from a page at url. When the decision waits for the
    // question, act(prompt) runs on the prompt it shows. Returns how the
    // request stands afterwards.
    Outcome requestWith(const QString &url, const std::function<void(SitePrompt *)> &act);
    QListWidget *list(const char *name) { return m_main->findChild<QListWidget *>(QString::fromLatin1(name)); }

    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<test::MainWindowFixture> m_fx;
    MainWindow *m_main = nullptr;
    ProgramState *m_state = nullptr;
    SiteLists *m_lists = nullptr;
    test::RecordingSoundPlayer *m_sound = nullptr;
    int m_prompted = 0; // prompts act() ran on
};

void TestSitePrompt::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_fx = std::make_unique<test::MainWindowFixture>();
    m_fx->browsers.setOpensPopups(false);
    m_fx->program.settings.write(Settings::kShowHelp, QStringLiteral("0"));
    m_main = &m_fx->load(false);
    m_state = &m_fx->program.state;
    m_lists = &m_fx->program.lists;
    m_sound = &m_fx->program.platform.sound;
    m_prompted = 0;
}

void TestSitePrompt::cleanup()
{
    m_main = nullptr;
    m_fx.reset();
    m_env.reset();
}

Outcome TestSitePrompt::requestWith(const QString &url, const std::function<void(SitePrompt *)> &act)
{
    auto browser = m_fx->browsers.openWindow(url);
    const Outcome first = browser->requestNewWindow();
    SitePrompt *p = m_main->prompt();
    if (first != Outcome::Waiting || !p || !p->isVisible())
        return first;
    ++m_prompted;
    act(p);
    if (browser->waitingCount() > 0)
        return Outcome::Waiting;
    return browser->blockedCount() > 0 ? Outcome::Blocked : Outcome::Allowed;
}

void TestSitePrompt::answers_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<int>("allowedItems");
    QTest::addColumn<int>("disallowedItems");
    QTest::newRow("Allow Always") << "Command1" << false << 2 << 0;
    QTest::newRow("Block Always") << "Command2" << true << 1 << 1;
    QTest::newRow("Allow Now") << "Command3" << false << 1 << 0;
    QTest::newRow("Block Now") << "Command4" << true << 1 << 0;
}

void TestSitePrompt::answers()
{
    QFETCH(QString, button);
    QFETCH(bool, cancelled);
    QFETCH(int, allowedItems);
    QFETCH(int, disallowedItems);
    QString shownSite;
    const Outcome outcome = requestWith(QStringLiteral("http://Ads.Example.com:8080/page.html"), [&](SitePrompt *p) {
        shownSite = p->findChild<QLineEdit *>("Text1")->text();
        QTest::mouseClick(p->findChild<QAbstractButton *>(button), Qt::LeftButton);
    });
    QCOMPARE(m_prompted, 1);
    QCOMPARE(shownSite, QStringLiteral("Ads.Example.com:8080"));
    QCOMPARE(outcome, cancelled ? Outcome::Blocked : Outcome::Allowed);
    QVERIFY(!m_fx->program.decider.isAsking());
    QCOMPARE(m_state->blockedCount, cancelled ? 1 : 0);
    QCOMPARE(m_sound->played().size(), cancelled ? 1 : 0);
    QCOMPARE(list("List1")->count(), allowedItems);
    QCOMPARE(list("List2")->count(), disallowedItems);
    QTRY_VERIFY(!m_main->prompt()); // unloaded after every answer
    if (button == QLatin1String("Command1")) {
        QVERIFY(test::readFile(m_lists->allowed().filePath()).endsWith("Ads.Example.com:8080\r\n\r\n"));
        QVERIFY(isSiteListed(QStringLiteral("ads.example.com:8080"), m_lists->allowed().text()));
    }
    if (button == QLatin1String("Command2")) {
        // Appended, not rewritten: the file keeps its first empty line.
        QCOMPARE(test::readFile(m_lists->disallowed().filePath()), QByteArray("\r\nAds.Example.com:8080\r\n"));
        // Later requests from the site are blocked without asking.
        auto again = m_fx->browsers.openWindow(QStringLiteral("http://ads.example.com:8080/other"));
        QCOMPARE(again->requestNewWindow(), Outcome::Blocked);
        QVERIFY(!m_main->prompt());
        QCOMPARE(m_state->blockedCount, 2);
    }
}

void TestSitePrompt::closeBoxBlocks()
{
    const Outcome outcome = requestWith(QStringLiteral("https://popups.example/"), [](SitePrompt *p) { p->close(); });
    QCOMPARE(m_prompted, 1);
    QCOMPARE(outcome, Outcome::Blocked);
    QCOMPARE(m_state->blockedCount, 1);
    QCOMPARE(m_sound->played(), QStringList{Paths::programFile(QStringLiteral("sounds/pop.wav"))});
    QCOMPARE(list("List2")->count(), 0);
    QTRY_VERIFY(!m_main->prompt());
}

void TestSitePrompt::allowAlwaysWithEmptiedBoxAddsAnEmptyItem()
{
    const Outcome outcome = requestWith(QStringLiteral("http://x.example/"), [](SitePrompt *p) {
        p->findChild<QLineEdit *>("Text1")->clear();
        QTest::mouseClick(p->findChild<QAbstractButton *>("Command1"), Qt::LeftButton);
    });
    QCOMPARE(m_prompted, 1);
    QCOMPARE(outcome, Outcome::Allowed);
    auto *list1 = list("List1");
    QCOMPARE(list1->count(), 2);
    QCOMPARE(list1->item(1)->text(), QString());
    // An empty line in the file, skipped at the next load.
    QVERIFY(test::readFile(m_lists->allowed().filePath()).endsWith("\r\n\r\n\r\n"));
}

void TestSitePrompt::allowNowAsksAgainNextTime()
{
    auto allowNow = [](SitePrompt *p) {
        QTest::mouseClick(p->findChild<QAbstractButton *>("Command3"), Qt::LeftButton);
    };
    QCOMPARE(requestWith(QStringLiteral("http://again.example/"), allowNow), Outcome::Allowed);
    QCOMPARE(requestWith(QStringLiteral("http://again.example/"), allowNow), Outcome::Allowed);
    QCOMPARE(m_prompted, 2);
    QCOMPARE(m_state->blockedCount, 0);
}

void TestSitePrompt::secondRequestWhileOpenTakesTheSameAnswer()
{
    auto first = m_fx->browsers.openWindow(QStringLiteral("http://first.example/"));
    auto second = m_fx->browsers.openWindow(QStringLiteral("http://second.example/"));
    QCOMPARE(first->requestNewWindow(), Outcome::Waiting);
    QPointer<SitePrompt> p = m_main->prompt();
    QVERIFY(p && p->isVisible());
    // The second request joins the open question: no second prompt.
    QCOMPARE(second->requestNewWindow(), Outcome::Waiting);
    QCOMPARE(m_main->prompt(), p.data());
    QCOMPARE(m_fx->program.decider.waitingCount(), 2);
    // The window and the question keep the first site.
    QCOMPARE(p->findChild<QLineEdit *>("Text1")->text(), QStringLiteral("first.example"));
    QCOMPARE(m_fx->program.decider.askedSite(), QStringLiteral("first.example"));
    QTest::mouseClick(p->findChild<QAbstractButton *>("Command4"), Qt::LeftButton);
    QCOMPARE(first->blockedCount(), 1);
    QCOMPARE(second->blockedCount(), 1);
    QCOMPARE(first->waitingCount() + second->waitingCount(), 0);
    QCOMPARE(m_state->blockedCount, 2);
    QCOMPARE(m_sound->played().size(), 2);
}

void TestSitePrompt::promptStaysAboveAndKeepsTheMainWindowTopmost()
{
    WindowStacker &stacker = m_fx->program.platform.stacker;
    QTest::mouseClick(m_main->findChild<QAbstractButton *>("Check3"), Qt::LeftButton);
    QVERIFY(stacker.isAbove(m_main));
    bool promptAbove = false;
    bool mainAbove = false;
    requestWith(QStringLiteral("http://top.example/"), [&](SitePrompt *p) {
        promptAbove = stacker.isAbove(p);
        mainAbove = stacker.isAbove(m_main);
        QTest::mouseClick(p->findChild<QAbstractButton *>("Command3"), Qt::LeftButton);
    });
    QCOMPARE(m_prompted, 1);
    QVERIFY(promptAbove);
    QVERIFY(mainAbove);
}

void TestSitePrompt::mainWindowStaysUsableWhileThePromptWaits()
{
    bool toggled = false;
    requestWith(QStringLiteral("http://modeless.example/"), [&](SitePrompt *p) {
        // The prompt is modeless: the main window takes clicks meanwhile.
        QTest::mouseClick(m_main->findChild<QAbstractButton *>("Command5"), Qt::LeftButton);
        toggled = m_state->allowNext;
        QTest::mouseClick(p->findChild<QAbstractButton *>("Command4"), Qt::LeftButton);
    });
    QCOMPARE(m_prompted, 1);
    QVERIFY(toggled);
    QTRY_VERIFY(!m_main->prompt());
}

void TestSitePrompt::popupGoneWhileAskedWithdrawsThePrompt()
{
    auto browser = m_fx->browsers.openWindow(QStringLiteral("http://gone.example/"));
    QCOMPARE(browser->requestNewWindow(), Outcome::Waiting);
    QPointer<SitePrompt> p = m_main->prompt();
    QVERIFY(p && p->isVisible());
    // The page's window closes while the question is open: nothing waits any
    // more, so the prompt goes without an answer.
    m_fx->browsers.closeWindow(browser.get());
    QVERIFY(!m_fx->program.decider.isAsking());
    QTRY_VERIFY(!p);
    QCOMPARE(m_state->blockedCount, 0);
    QVERIFY(m_sound->played().isEmpty());
    QCOMPARE(list("List1")->count(), 1);
    QCOMPARE(list("List2")->count(), 0);
    // The next request from the site is asked about afresh.
    QCOMPARE(requestWith(
                 QStringLiteral("http://gone.example/"),
                 [](SitePrompt *q) { QTest::mouseClick(q->findChild<QAbstractButton *>("Command4"), Qt::LeftButton); }),
             Outcome::Blocked);
    QCOMPARE(m_prompted, 1);
}

void TestSitePrompt::unloadWhileAskedLetsThePopupThrough()
{
    auto browser = m_fx->browsers.openWindow(QStringLiteral("http://ending.example/"));
    QCOMPARE(browser->requestNewWindow(), Outcome::Waiting);
    QPointer<SitePrompt> p = m_main->prompt();
    QVERIFY(p);
    m_main->unload();
    // Nothing stays held by a program that is going away.
    QCOMPARE(browser->waitingCount(), 0);
    QCOMPARE(browser->letThroughCount(), 1);
    QTRY_VERIFY(!p);
    QCOMPARE(m_state->blockedCount, 0);
    // Later requests go through without a question.
    QCOMPARE(browser->requestNewWindow(), Outcome::Allowed);
}

WENDRAL_GUI_TEST_MAIN(TestSitePrompt)
#include "tst_siteprompt.moc"
