// The setup-mode prompt driven through the real decision: a browser window in
// the in-memory engine asks for a popup, the main window shows the prompt, and
// each answer ends the waiting request with its list, file, count and sound.

#include "ui/mainwindow.h"
#include "core/paths.h"
#include "core/settingsstore.h"
#include "core/programstate.h"
#include "support/memorybrowsers.h"
#include "platform/soundplayer.h"
#include "core/profile.h"
#include "core/sitelists.h"
#include "ui/siteprompt.h"
#include "support/guimain.h"
#include "support/testenv.h"
#include "platform/windowstacker.h"
#include "ui/helpwindow.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QListWidget>

using namespace wendral;

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

private:
    // Runs a request from a page at url; while the decision waits, act(prompt)
    // is run once the prompt is visible. Returns the request's cancel flag.
    bool requestWith(const QString &url, const std::function<void(SitePrompt *)> &act);

    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<MemoryBrowserWindows> m_shell;
    std::unique_ptr<RecordingSoundPlayer> m_sound;
    std::unique_ptr<MainWindow> m_main;
};

void TestSitePrompt::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_shell = std::make_unique<MemoryBrowserWindows>();
    m_shell->setOpensPopups(false);
    m_sound = std::make_unique<RecordingSoundPlayer>();
    setSoundPlayer(m_sound.get());
    MainWindow::setShellWindowsSource(m_shell.get());
    Settings::write(Settings::kShowHelp, QStringLiteral("0"));
    InitProfile();
    profile().bannerEnabled = false;
    m_main = std::make_unique<MainWindow>();
    m_main->load();
    m_main->showLoaded();
}

void TestSitePrompt::cleanup()
{
    m_main.reset();
    MainWindow::setShellWindowsSource(nullptr);
    setSoundPlayer(nullptr);
    m_sound.reset();
    m_shell.reset();
    resetProfile();
    m_env.reset();
}

bool TestSitePrompt::requestWith(const QString &url, const std::function<void(SitePrompt *)> &act)
{
    auto browser = m_shell->openWindow(url);
    bool acted = false;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, [&] {
        SitePrompt *p = m_main->prompt();
        if (!acted && p && p->isVisible()) {
            acted = true;
            act(p);
        }
    });
    poll.start();
    const bool cancel = browser->requestNewWindow();
    poll.stop();
    return cancel;
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
    const bool cancel = requestWith(QStringLiteral("http://Ads.Example.com:8080/page.html"), [&](SitePrompt *p) {
        shownSite = p->findChild<QLineEdit *>("Text1")->text();
        QTest::mouseClick(p->findChild<QAbstractButton *>(button), Qt::LeftButton);
    });
    QCOMPARE(shownSite, QStringLiteral("Ads.Example.com:8080"));
    QCOMPARE(cancel, cancelled);
    QCOMPARE(shared().blockedCount, cancelled ? 1 : 0);
    QCOMPARE(m_sound->played().size(), cancelled ? 1 : 0);
    QCOMPARE(m_main->findChild<QListWidget *>("List1")->count(), allowedItems);
    QCOMPARE(m_main->findChild<QListWidget *>("List2")->count(), disallowedItems);
    QTRY_VERIFY(!m_main->prompt()); // unloaded after every answer
    if (button == QLatin1String("Command1")) {
        QVERIFY(test::readFile(Module1::allowedFile()).endsWith("Ads.Example.com:8080\r\n\r\n"));
        QVERIFY(isSiteListed(QStringLiteral("ads.example.com:8080"), shared().allowedList));
    }
    if (button == QLatin1String("Command2")) {
        // Appended, not rewritten: the file keeps its first empty line.
        QCOMPARE(test::readFile(Module1::disallowedFile()), QByteArray("\r\nAds.Example.com:8080\r\n"));
        // Later requests from the site are blocked without asking.
        auto again = m_shell->openWindow(QStringLiteral("http://ads.example.com:8080/other"));
        QVERIFY(again->requestNewWindow());
        QVERIFY(!m_main->prompt());
        QCOMPARE(shared().blockedCount, 2);
    }
}

void TestSitePrompt::closeBoxBlocks()
{
    const bool cancel = requestWith(QStringLiteral("https://popups.example/"), [](SitePrompt *p) { p->close(); });
    QVERIFY(cancel);
    QCOMPARE(shared().blockedCount, 1);
    QCOMPARE(m_sound->played(), QStringList{Paths::programFile(QStringLiteral("sounds/pop.wav"))});
    QCOMPARE(m_main->findChild<QListWidget *>("List2")->count(), 0);
}

void TestSitePrompt::allowAlwaysWithEmptiedBoxAddsAnEmptyItem()
{
    const bool cancel = requestWith(QStringLiteral("http://x.example/"), [](SitePrompt *p) {
        p->findChild<QLineEdit *>("Text1")->clear();
        QTest::mouseClick(p->findChild<QAbstractButton *>("Command1"), Qt::LeftButton);
    });
    QVERIFY(!cancel);
    auto *list1 = m_main->findChild<QListWidget *>("List1");
    QCOMPARE(list1->count(), 2);
    QCOMPARE(list1->item(1)->text(), QString());
    // An empty line in the file, skipped at the next load.
    QVERIFY(test::readFile(Module1::allowedFile()).endsWith("\r\n\r\n\r\n"));
}

void TestSitePrompt::allowNowAsksAgainNextTime()
{
    int shown = 0;
    auto allowNow = [&](SitePrompt *p) {
        ++shown;
        QTest::mouseClick(p->findChild<QAbstractButton *>("Command3"), Qt::LeftButton);
    };
    QVERIFY(!requestWith(QStringLiteral("http://again.example/"), allowNow));
    QVERIFY(!requestWith(QStringLiteral("http://again.example/"), allowNow));
    QCOMPARE(shown, 2);
    QCOMPARE(shared().blockedCount, 0);
}

void TestSitePrompt::secondRequestWhileOpenTakesTheSameAnswer()
{
    auto first = m_shell->openWindow(QStringLiteral("http://first.example/"));
    auto second = m_shell->openWindow(QStringLiteral("http://second.example/"));
    bool secondCancel = false;
    bool secondDone = false;
    QString shownDuringSecond;
    // While the first request waits, the second arrives; once both wait, answer.
    QTimer::singleShot(50, this, [&] {
        QTimer::singleShot(50, this, [&] {
            SitePrompt *p = m_main->prompt();
            QVERIFY(p);
            shownDuringSecond = p->findChild<QLineEdit *>("Text1")->text();
            QTest::mouseClick(p->findChild<QAbstractButton *>("Command4"), Qt::LeftButton);
        });
        secondCancel = second->requestNewWindow();
        secondDone = true;
    });
    const bool firstCancel = first->requestNewWindow();
    QVERIFY(secondDone); // the inner wait ended first
    QVERIFY(firstCancel);
    QVERIFY(secondCancel);
    QCOMPARE(shownDuringSecond, QStringLiteral("first.example")); // the window kept the first site
    QCOMPARE(shared().promptDomain, QStringLiteral("second.example"));
    QCOMPARE(shared().blockedCount, 2);
}

void TestSitePrompt::promptStaysAboveAndKeepsTheMainWindowTopmost()
{
    QTest::mouseClick(m_main->findChild<QAbstractButton *>("Check3"), Qt::LeftButton);
    QVERIFY(windowStacker().isAbove(m_main.get()));
    bool promptAbove = false;
    bool mainAbove = false;
    requestWith(QStringLiteral("http://top.example/"), [&](SitePrompt *p) {
        promptAbove = windowStacker().isAbove(p);
        mainAbove = windowStacker().isAbove(m_main.get());
        QTest::mouseClick(p->findChild<QAbstractButton *>("Command3"), Qt::LeftButton);
    });
    QVERIFY(promptAbove);
    QVERIFY(mainAbove);
}

void TestSitePrompt::mainWindowStaysUsableWhileThePromptWaits()
{
    bool toggled = false;
    requestWith(QStringLiteral("http://modeless.example/"), [&](SitePrompt *p) {
        // The prompt is modeless: the main window takes clicks meanwhile.
        QTest::mouseClick(m_main->findChild<QAbstractButton *>("Command5"), Qt::LeftButton);
        toggled = shared().allowNext;
        QTest::mouseClick(p->findChild<QAbstractButton *>("Command4"), Qt::LeftButton);
    });
    QVERIFY(toggled);
    QVERIFY(!m_main->prompt());
}

WENDRAL_GUI_TEST_MAIN(TestSitePrompt)
#include "tst_siteprompt.moc"
