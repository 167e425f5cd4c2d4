// The main window at work: start-up from the settings store, the six toggles
// with their messages and writes, the list buttons, the commands, both menus,
// the tray menu, the window state, the banner strip and the unload (also with
// the website window open, which the web helper shows).

#include "blocking/browsertracker.h"
#include "core/paths.h"
#include "core/productinfo.h"
#include "core/programstate.h"
#include "core/registryvalues.h"
#include "core/settingsstore.h"
#include "core/sitelists.h"
#include "forms/formtools.h"
#include "forms/twips.h"
#include "platform/linux/xdgautostart.h"
#include "support/mainwindowfixture.h"
#include "support/specialfiles.h"
#include "support/testenv.h"
#include "ui/aboutwindow.h"
#include "ui/banner.h"
#include "ui/helpwindow.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QStatusBar>
#include <QtTest>

#include <cstdio>

using namespace wendral;

namespace {
struct Write
{
    QString key, value;
    bool operator==(const Write &o) const { return key == o.key && value == o.value; }
};
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void firstStartOnACleanMachine();
    void restoredOptionsRunTheirHandlersSilently();
    void storedStateOtherThanUpStartsMinimised_data();
    void storedStateOtherThanUpStartsMinimised();
    void showHelpOtherThanOneOpensNoHelp();
    void largestCounterIsShownExactly();
    void toggleMessagesAndImmediateWrites_data();
    void toggleMessagesAndImmediateWrites();
    void alwaysOnTopStacksHelpAndAbout();
    void runAtStartupWritesAndRemovesTheAutostartEntry();
    void addButtonsRefuseEmptyAndSingleSpace();
    void addButtonsAddTextAsTyped();
    void deleteButtonsRemoveTheSelectedItemOnly();
    void allowNextFromButtonMenusTrayAndHotkeyShareOneFlag();
    void minimiseWithoutTrayStaysOnTheTaskbar();
    void trayMenuShowProgramAndCloseThisMenu();
    void toolsMenuAddsAndRemovesTheToolbarEntry();
    void unloadWritesNineValuesInOrderAndReleases();
    void closeBoxUnloads();
    void visitButtonAsksForTheWebsite();
    void unloadWithWebsiteOpenKeepsTheProgramAlive();
    void websiteClosingEndsTheProgramOnlyAfterTheUnload_data();
    void websiteClosingEndsTheProgramOnlyAfterTheUnload();
    void bannerMakesRoomAndPlacesTheStrip();
    void bannerIsAskedForWhileTheWindowIsShown();
    void noBannerLeavesTheDesignLayout();

    // Problems with the user's files are shown, not swallowed.
    void listFileProblemsAreShownInTheStatusBar();
    void settingsFileProblemIsShownOnceLoaded();
    void unsavedSettingsAreToldOnceAtUnload();

private:
    MainWindow *load(bool banner = false)
    {
        m_main = &m_fx->load(banner);
        return m_main;
    }
    QCheckBox *check(const char *name) { return m_main->findChild<QCheckBox *>(QString::fromLatin1(name)); }
    QAbstractButton *button(const char *name)
    {
        return m_main->findChild<QAbstractButton *>(QString::fromLatin1(name));
    }
    QAction *action(const char *name) { return m_main->findChild<QAction *>(QString::fromLatin1(name)); }
    QString stored(const QString &key)
    {
        QSettings s(Paths::settingsFile(), QSettings::IniFormat);
        return s.value(QStringLiteral("Settings/") + key).toString();
    }
    void store(const QString &key, const QString &value) { program().settings.write(key, value); }
    test::ProgramFixture &program() { return m_fx->program; }
    ProgramState &state() { return m_fx->program.state; }
    SiteLists &lists() { return m_fx->program.lists; }
    test::FakePlatform &platform() { return m_fx->program.platform; }
    OpenWindows &windows() { return m_fx->program.windows; }
    test::FakeWebContent &web() { return m_fx->program.web; }

    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<test::MainWindowFixture> m_fx;
    MainWindow *m_main = nullptr;
    XdgAutostartService m_xdgAutostart;
    QList<Write> m_writes;
};

void TestMainWindow::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    m_fx = std::make_unique<test::MainWindowFixture>();
    // Offscreen there is no notification area.
    platform().tray.available = false;
    m_writes.clear();
    program().settings.setWriteObserver([this](const QString &k, const QString &v) { m_writes.append({k, v}); });
}

void TestMainWindow::cleanup()
{
    m_main = nullptr;
    m_fx.reset();
    m_env.reset();
}

void TestMainWindow::firstStartOnACleanMachine()
{
    load();
    QCOMPARE(m_main->windowTitle(), QStringLiteral("Wendral by Brindlemark"));
    QCOMPARE(button("Command7")->text(), QStringLiteral("Visit ") + ProductInfo::website());
    // Blocking, setup mode and sounds on; links, on-top and run-at-start off.
    QVERIFY(check("Check1")->isChecked());
    QVERIFY(check("Check2")->isChecked());
    QVERIFY(check("Check5")->isChecked());
    QVERIFY(!check("Check3")->isChecked());
    QVERIFY(!check("Check4")->isChecked());
    QVERIFY(!check("Check6")->isChecked());
    QCOMPARE(m_main->panels().count(), 3);
    QCOMPARE(m_main->panels().text(1), QStringLiteral("0 Popups blocked to date"));
    QCOMPARE(m_main->panels().text(2), QString());
    const int half = pixelsToTwips(m_main->width()) / 2;
    QVERIFY(qAbs(m_main->panels().widthTwips(1) - half) <= 15);
    QCOMPARE(test::readFile(lists().allowed().filePath()), ProductInfo::website().toUtf8() + "\r\n");
    QCOMPARE(test::readFile(lists().disallowed().filePath()), QByteArray("\r\n"));
    QCOMPARE(m_main->findChild<QListWidget *>("List1")->count(), 1);
    QCOMPARE(m_main->findChild<QListWidget *>("List2")->count(), 0);
    QCOMPARE(lists().allowed().text(), ProductInfo::website() + QStringLiteral("\r\n"));
    // Sound is restored as on, and its handler writes it; nothing else is written.
    QCOMPARE(m_writes, (QList<Write>{{"chkSound", "1"}}));
    QVERIFY(windows().help && windows().help->isVisible());
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_main->state(), QStringLiteral("up"));
    QVERIFY(platform().hotkey.isRegistered());
    QVERIFY(m_main->hotkeyRegistered());
    QVERIFY(platform().tray.isShown());
    QVERIFY(m_main->tracker());
    QCOMPARE(program().decider.options(), static_cast<DecisionOptions *>(m_main));
}

void TestMainWindow::restoredOptionsRunTheirHandlersSilently()
{
    store("chkStopPop", "0");
    store("chkAuto", "0");
    store("chkOnTop", "1");
    store("chkLinks", "1");
    store("chkSound", "0");
    m_writes.clear();
    load();
    QVERIFY(!check("Check1")->isChecked());
    QVERIFY(!check("Check2")->isChecked());
    QVERIFY(check("Check3")->isChecked());
    QVERIFY(check("Check6")->isChecked());
    QVERIFY(!check("Check5")->isChecked());
    // On-top restored: the window is topmost, the flag set, the value written back.
    QVERIFY(state().alwaysOnTop);
    QVERIFY(platform().stacker.isAbove(m_main));
    QCOMPARE(m_writes, (QList<Write>{{"chkOnTop", "1"}}));
    // The help window opened at start-up is made topmost too.
    QVERIFY(platform().stacker.isAbove(windows().help));
    // Their messages were lost: panel 2 did not exist yet.
    QCOMPARE(m_main->panels().text(2), QString());
}

void TestMainWindow::storedStateOtherThanUpStartsMinimised_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("minimised");
    QTest::newRow("up") << "up" << false;
    QTest::newRow("down") << "down" << true;
    QTest::newRow("UP") << "UP" << true;
    QTest::newRow("empty") << "" << true;
}

void TestMainWindow::storedStateOtherThanUpStartsMinimised()
{
    QFETCH(QString, stored);
    QFETCH(bool, minimised);
    store("state", stored);
    load();
    // The window is shown first and minimised from the event queue.
    QTRY_COMPARE(bool(m_main->windowState() & Qt::WindowMinimized), minimised);
    QCOMPARE(m_main->state(), minimised ? QStringLiteral("down") : QStringLiteral("up"));
    QCOMPARE(TestMainWindow::stored(QStringLiteral("state")), minimised ? QStringLiteral("down") : stored);
    // Without a notification area the window stays reachable.
    if (minimised)
        QVERIFY(m_main->isVisible());
}

void TestMainWindow::showHelpOtherThanOneOpensNoHelp()
{
    store("showHelp", "0");
    load();
    QVERIFY(!windows().help || !windows().help->isVisible());
    // "View Help" still opens it.
    action("mnuHelpItem_0")->trigger();
    QVERIFY(windows().help && windows().help->isVisible());
}

void TestMainWindow::largestCounterIsShownExactly()
{
    store("intStopped", "2147483647");
    load();
    QCOMPARE(state().blockedCount, 2147483647);
    QCOMPARE(m_main->panels().text(1), QStringLiteral("2147483647 Popups blocked to date"));
}

void TestMainWindow::toggleMessagesAndImmediateWrites_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("onMessage");
    QTest::addColumn<QString>("offMessage");
    QTest::addColumn<QString>("writtenKey");
    QTest::newRow("Check1") << "Check1"
                            << "Now blocking popups"
                            << "Now allowing popups"
                            << "";
    QTest::newRow("Check2") << "Check2"
                            << "Setup Mode Enabled"
                            << "Setup Mode Disabled"
                            << "";
    QTest::newRow("Check3") << "Check3"
                            << "Always On Top Enabled"
                            << "Always On Top Disabled"
                            << "chkOnTop";
    QTest::newRow("Check4") << "Check4"
                            << "Run On Startup Enabled"
                            << "Run On Startup Disabled"
                            << "";
    QTest::newRow("Check5") << "Check5"
                            << "Sounds Enabled"
                            << "Sounds Disabled"
                            << "chkSound";
    QTest::newRow("Check6") << "Check6"
                            << "Auto New Window Enabled"
                            << "Auto New Window Disabled"
                            << "";
}

void TestMainWindow::toggleMessagesAndImmediateWrites()
{
    QFETCH(QString, box);
    QFETCH(QString, onMessage);
    QFETCH(QString, offMessage);
    QFETCH(QString, writtenKey);
    load();
    QCheckBox *c = m_main->findChild<QCheckBox *>(box);
    for (int round = 0; round < 2; ++round) {
        m_writes.clear();
        const bool wasOn = c->isChecked();
        QTest::mouseClick(c, Qt::LeftButton);
        QCOMPARE(c->isChecked(), !wasOn);
        QCOMPARE(m_main->panels().text(2), wasOn ? offMessage : onMessage);
        if (writtenKey.isEmpty()) {
            QVERIFY(m_writes.isEmpty());
        } else {
            QCOMPARE(m_writes, (QList<Write>{{writtenKey, wasOn ? "0" : "1"}}));
            // Written through at once: it survives a kill.
            QCOMPARE(stored(writtenKey), wasOn ? QStringLiteral("0") : QStringLiteral("1"));
        }
    }
    // The decision reads its four boxes live.
    const QHash<QString, std::function<bool()>> decisionReads = {
        {QStringLiteral("Check1"), [this] { return m_main->blockingEnabled(); }},
        {QStringLiteral("Check2"), [this] { return m_main->setupMode(); }},
        {QStringLiteral("Check5"), [this] { return m_main->soundOnBlock(); }},
        {QStringLiteral("Check6"), [this] { return m_main->allowLinkPopups(); }},
    };
    if (const auto read = decisionReads.value(box)) {
        c->setChecked(false);
        QCOMPARE(read(), false);
        c->setChecked(true);
        QCOMPARE(read(), true);
    }
}

void TestMainWindow::alwaysOnTopStacksHelpAndAbout()
{
    store("showHelp", "0");
    load();
    QTest::mouseClick(check("Check3"), Qt::LeftButton);
    QVERIFY(state().alwaysOnTop);
    QVERIFY(platform().stacker.isAbove(m_main));
    action("mnuHelpItem_0")->trigger();
    action("mnuAboutItem_0")->trigger();
    QVERIFY(platform().stacker.isAbove(windows().help));
    QVERIFY(windows().about && windows().about->isVisible());
    QVERIFY(platform().stacker.isAbove(windows().about));
    // Switching on-top off takes only the main window out of the band.
    QTest::mouseClick(check("Check3"), Qt::LeftButton);
    QVERIFY(!state().alwaysOnTop);
    QVERIFY(!platform().stacker.isAbove(m_main));
    QVERIFY(platform().stacker.isAbove(windows().help));
}

void TestMainWindow::runAtStartupWritesAndRemovesTheAutostartEntry()
{
    // The desktop's own autostart folder, inside the test's XDG config home.
    platform().services.autostart = &m_xdgAutostart;
    load();
    const QString entry = m_env->configHome() + QStringLiteral("/autostart/Wendral.desktop");
    const QString runKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    QVERIFY(!QFile::exists(entry));
    QTest::mouseClick(check("Check4"), Qt::LeftButton);
    QVERIFY(QFile::exists(entry));
    QVERIFY(test::readFile(entry).contains(ProductInfo::executablePath().toUtf8()));
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, runKey, QStringLiteral("Wendral"), QStringLiteral("none")),
             ProductInfo::executablePath());
    QTest::mouseClick(check("Check4"), Qt::LeftButton);
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, runKey, QStringLiteral("Wendral"), QStringLiteral("none")),
             QStringLiteral("none"));
}

void TestMainWindow::addButtonsRefuseEmptyAndSingleSpace()
{
    load();
    auto *text1 = m_main->findChild<QLineEdit *>("Text1");
    auto *list1 = m_main->findChild<QListWidget *>("List1");
    const QByteArray before = test::readFile(lists().allowed().filePath());
    for (const QString &t : {QString(), QStringLiteral(" ")}) {
        text1->setText(t);
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
    }
    QCOMPARE(list1->count(), 1);
    QCOMPARE(test::readFile(lists().allowed().filePath()), before);
    auto *text2 = m_main->findChild<QLineEdit *>("Text2");
    text2->setText(QStringLiteral(" "));
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    QCOMPARE(m_main->findChild<QListWidget *>("List2")->count(), 0);
}

void TestMainWindow::addButtonsAddTextAsTyped()
{
    load();
    auto *text1 = m_main->findChild<QLineEdit *>("Text1");
    text1->setText(QStringLiteral(" spaced.example "));
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QTest::mouseClick(button("Command1"), Qt::LeftButton); // duplicates are kept
    auto *list1 = m_main->findChild<QListWidget *>("List1");
    QCOMPARE(list1->count(), 3);
    QCOMPARE(list1->item(2)->text(), QStringLiteral(" spaced.example "));
    QCOMPARE(text1->text(), QStringLiteral(" spaced.example ")); // the box is not cleared
    QCOMPARE(test::readFile(lists().allowed().filePath()),
             ProductInfo::website().toUtf8() + "\r\n spaced.example \r\n spaced.example \r\n\r\n");
    QVERIFY(lists().allowed().text().endsWith(QStringLiteral(" spaced.example \r\n spaced.example \r\n")));

    auto *text2 = m_main->findChild<QLineEdit *>("Text2");
    text2->setText(QStringLiteral("ads.example"));
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    QCOMPARE(m_main->findChild<QListWidget *>("List2")->item(0)->text(), QStringLiteral("ads.example"));
    QCOMPARE(lists().disallowed().text(), QStringLiteral("ads.example\r\n"));
    QCOMPARE(test::readFile(lists().disallowed().filePath()), QByteArray("ads.example\r\n\r\n"));
}

void TestMainWindow::deleteButtonsRemoveTheSelectedItemOnly()
{
    test::writeFile(m_env->wendralDataDir() + "/allowed.txt",
                    "one.example\r\ntwo.example\r\nthree.example\r\nfour\r\n");
    load();
    auto *list1 = m_main->findChild<QListWidget *>("List1");
    QCOMPARE(list1->count(), 4);
    // No selection: nothing happens, no message.
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QCOMPARE(list1->count(), 4);
    QCOMPARE(m_main->panels().text(2), QString());
    list1->item(2)->setSelected(true);
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    QStringList items;
    for (int i = 0; i < list1->count(); ++i)
        items << list1->item(i)->text();
    QCOMPARE(items, (QStringList{"one.example", "two.example", "four"}));
    QCOMPARE(lists().allowed().text(), QStringLiteral("one.example\r\ntwo.example\r\nfour\r\n"));
    QCOMPARE(test::readFile(lists().allowed().filePath()), QByteArray("one.example\r\ntwo.example\r\nfour\r\n\r\n"));
    // An empty list: nothing happens.
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    QCOMPARE(m_main->findChild<QListWidget *>("List2")->count(), 0);
}

void TestMainWindow::allowNextFromButtonMenusTrayAndHotkeyShareOneFlag()
{
    load();
    QVERIFY(!state().allowNext);
    QTest::mouseClick(button("Command5"), Qt::LeftButton);
    QVERIFY(state().allowNext);
    QCOMPARE(m_main->panels().text(2), QStringLiteral("The next popup will be allowed."));
    action("mnuActionItem_1")->trigger();
    QVERIFY(!state().allowNext);
    QCOMPARE(m_main->panels().text(2), QStringLiteral("The next popup will NOT be allowed."));
    action("allow")->trigger();
    QVERIFY(state().allowNext);
    // The hotkey's toggle runs later, from the event queue, on the same flag.
    platform().hotkey.press();
    QVERIFY(state().allowNext);
    QTRY_VERIFY(!state().allowNext);
    QCOMPARE(m_main->panels().text(2), QStringLiteral("The next popup will NOT be allowed."));
    // Works while the window is hidden too.
    m_main->hide();
    platform().hotkey.press();
    QTRY_VERIFY(state().allowNext);
}

void TestMainWindow::minimiseWithoutTrayStaysOnTheTaskbar()
{
    load();
    m_writes.clear();
    QTest::mouseClick(button("Command6"), Qt::LeftButton);
    QTRY_VERIFY(m_main->windowState() & Qt::WindowMinimized);
    QCOMPARE(m_main->state(), QStringLiteral("down"));
    QCOMPARE(stored("state"), QStringLiteral("down"));
    // No notification area here: hiding would strand the window.
    QVERIFY(m_main->isVisible());
    // The menu item does the same, and "Show program" brings it back as "up".
    action("show")->trigger();
    QVERIFY(!(m_main->windowState() & Qt::WindowMinimized));
    QCOMPARE(stored("state"), QStringLiteral("up"));
    action("mnuActionItem_0")->trigger();
    QTRY_COMPARE(stored("state"), QStringLiteral("down"));
}

void TestMainWindow::trayMenuShowProgramAndCloseThisMenu()
{
    store("state", "down");
    load();
    QCOMPARE(m_main->state(), QStringLiteral("down"));
    m_writes.clear();
    const QString before = m_main->panels().text(2);
    action("close")->trigger();
    QVERIFY(m_writes.isEmpty());
    QCOMPARE(m_main->panels().text(2), before);
    QCOMPARE(m_main->state(), QStringLiteral("down"));
    action("show")->trigger();
    QVERIFY(m_main->isVisible());
    QCOMPARE(m_main->windowState() & Qt::WindowMinimized, Qt::WindowNoState);
    QCOMPARE(m_main->state(), QStringLiteral("up"));
    QCOMPARE(stored("state"), QStringLiteral("up"));
}

void TestMainWindow::toolsMenuAddsAndRemovesTheToolbarEntry()
{
    load();
    const QString key =
        QStringLiteral("Software\\Microsoft\\Internet Explorer\\Extensions\\{ECC5777A-6E88-BFCE-13CE-81F134789E7B}");
    action("mnuToolsItem_0")->trigger();
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("ButtonText"), {}),
             QStringLiteral("Wendral"));
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("Exec"), {}),
             ProductInfo::executablePath());
    action("mnuToolsItem_1")->trigger();
    QCOMPARE(RegistryValues::readValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("ButtonText"), QStringLiteral("gone")),
             QStringLiteral("gone"));
}

void TestMainWindow::unloadWritesNineValuesInOrderAndReleases()
{
    load();
    QTest::mouseClick(check("Check6"), Qt::LeftButton);
    QTest::mouseClick(check("Check1"), Qt::LeftButton);
    state().blockedCount = 42;
    m_writes.clear();
    QSignalSpy unloaded(m_main, &MainWindow::unloaded);
    action("mnuFileItem_1")->trigger();
    QCOMPARE(unloaded.count(), 1);
    QVERIFY(m_main->isUnloaded());
    const QList<Write> expected = {
        {"chkRunAtStart", "0"}, {"chkOnTop", "0"},    {"chkAuto", "1"},
        {"chkStopPop", "0"},    {"intStopped", "42"}, {"strAllowed", ProductInfo::website() + "\r\n"},
        {"strDisallowed", ""},  {"chkLinks", "1"},    {"state", "up"}};
    QCOMPARE(m_writes, expected);
    QVERIFY(!platform().hotkey.isRegistered());
    QCOMPARE(platform().hotkey.unregisterCalls, 1);
    QVERIFY(!m_main->hotkeyRegistered());
    QVERIFY(!platform().tray.isShown());
    QVERIFY(!m_main->tracker());
    QCOMPARE(program().decider.options(), nullptr);
    QVERIFY(!m_main->isVisible());
    // A second way out does nothing more.
    action("Exit")->trigger();
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(m_writes.size(), expected.size());
}

void TestMainWindow::closeBoxUnloads()
{
    load();
    QSignalSpy unloaded(m_main, &MainWindow::unloaded);
    QVERIFY(m_main->close());
    QCOMPARE(unloaded.count(), 1);
    QCOMPARE(stored("chkStopPop"), QStringLiteral("1"));
}

void TestMainWindow::visitButtonAsksForTheWebsite()
{
    store("showHelp", "0");
    load();
    QCOMPARE(web().websiteRequests, 0);
    QTest::mouseClick(button("Command7"), Qt::LeftButton);
    QCOMPARE(web().websiteRequests, 1);
    // Asked again while open: the helper brings the one window forward.
    QTest::mouseClick(button("Command7"), Qt::LeftButton);
    QCOMPARE(web().websiteRequests, 2);
    // Closing it ends nothing while the program runs.
    web().closeWebsite();
    QVERIFY(!state().endOnWebsiteClose);
    QVERIFY(!m_main->isUnloaded());
    QVERIFY(m_main->isVisible());
}

void TestMainWindow::unloadWithWebsiteOpenKeepsTheProgramAlive()
{
    store("showHelp", "0");
    load();
    QVERIFY(!state().endOnWebsiteClose);
    QTest::mouseClick(button("Command7"), Qt::LeftButton);
    QVERIFY(web().isWebsiteOpen());
    QSignalSpy unloaded(m_main, &MainWindow::unloaded);
    m_main->unload();
    QCOMPARE(unloaded.count(), 1);
    QVERIFY(state().endOnWebsiteClose);
    QVERIFY(!m_main->isVisible());
    // The settings are saved all the same.
    QCOMPARE(stored("state"), QStringLiteral("up"));
}

// A child run of this program: loads the main window, asks for the website
// window (or not), unloads, then lets the helper report the website window
// closed, and prints how its event loop ended. A guard ends the loop with 42
// after 5 s.
//   "open":   website open at the unload -> its closing ends the program (0)
//   "closed": website closed before the unload -> the unload ends it (0),
//             the later closing report changes nothing
//   "early":  the website window closes before any unload -> runs on (42)
static int websiteChild(const char *mode)
{
    int argc = 1;
    char name[] = "tst_mainwindow";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    test::TestEnvironment env;
    auto fx = std::make_unique<test::MainWindowFixture>();
    fx->program.settings.write(QStringLiteral("showHelp"), QStringLiteral("0"));
    MainWindow &main = fx->load(false);
    test::FakeWebContent &web = fx->program.web;
    const QByteArray m(mode);
    if (m != "closed")
        main.findChild<QAbstractButton *>(QStringLiteral("Command7"))->click();
    if (m == "closed")
        web.websiteOpen = false;
    QTimer::singleShot(100, &main, [&] {
        if (m != "early")
            main.unload();
        std::printf("endOnWebsiteClose=%d\n", int(fx->program.state.endOnWebsiteClose));
        std::fflush(stdout);
    });
    QTimer::singleShot(400, &web, [&] { web.closeWebsite(); });
    QTimer::singleShot(5000, &app, [] { QCoreApplication::exit(42); });
    const int rc = app.exec();
    fx.reset();
    return rc;
}

void TestMainWindow::websiteClosingEndsTheProgramOnlyAfterTheUnload_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("flag");
    QTest::newRow("open at the unload: its closing ends the program") << "open" << 0 << true;
    QTest::newRow("closed before the unload: the unload ends it") << "closed" << 0 << false;
    QTest::newRow("closed without an unload: the program runs on") << "early" << 42 << false;
}

void TestMainWindow::websiteClosingEndsTheProgramOnlyAfterTheUnload()
{
    QFETCH(QString, mode);
    QFETCH(int, exitCode);
    QFETCH(bool, flag);
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--website-child"), mode});
    QVERIFY(child.waitForFinished(60000));
    const QByteArray out = child.readAllStandardOutput();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), exitCode);
    QVERIFY2(out.contains(flag ? "endOnWebsiteClose=1" : "endOnWebsiteClose=0"), out.constData());
}

void TestMainWindow::bannerMakesRoomAndPlacesTheStrip()
{
    const int designHeight = m_fx->create().height();
    load(true);
    auto *frame1 = m_main->findChild<QGroupBox *>("Frame1");
    auto *frame2 = m_main->findChild<QGroupBox *>("Frame2");
    QCOMPARE(frame2->y(), twipsToPixels(2125));
    QCOMPARE(frame1->y(), twipsToPixels(3925));
    QCOMPARE(m_main->height(), designHeight + twipsToPixels(1045));
    QFrame *box = m_main->bannerBox();
    QVERIFY(box);
    QCOMPARE(box->objectName(), QStringLiteral("picBox"));
    QCOMPARE(box->width(), twipsToPixels(7335) - twipsToPixels(280));
    QCOMPARE(box->geometry().topLeft(), twipsRect(300, 1080, 0, 0).topLeft());
    auto *banner = m_main->findChild<BannerStrip *>("wbBanner");
    QCOMPARE(banner->parentWidget(), box);
    QCOMPARE(banner->pos(), QPoint(0, 0));
    QCOMPARE(banner->width(), twipsToPixels(7335)); // clipped by the box on the right
    QCOMPARE(banner->height(), twipsToPixels(945));
    QVERIFY(banner->isVisible());
    QVERIFY(!m_main->findChild<QWidget *>("wbPicture")->isVisible());
    QCOMPARE(banner->requestedUrl(), QUrl(program().profile.bannerUrl));
    QVERIFY(program().profile.bannerUrl.endsWith(QStringLiteral("/freeprograms/banner2.html")));
    // The status bar stays along the bottom edge.
    QCOMPARE(m_main->statusBar()->geometry().bottom(), m_main->height() - 1);
}

void TestMainWindow::bannerIsAskedForWhileTheWindowIsShown()
{
    store("showHelp", "0");
    platform().tray.available = true; // minimising hides the window
    load(true);
    auto *banner = m_main->findChild<BannerStrip *>("wbBanner");
    // Asked for once the window is shown, not while it loads.
    QTRY_COMPARE(web().bannerRequests.size(), 1);
    const test::FakeWebContent::Banner asked = web().bannerRequests.first();
    QCOMPARE(asked.url, QUrl(program().profile.bannerUrl));
    QCOMPARE(asked.size, QSize(twipsToPixels(7335), twipsToPixels(945)));
    QCOMPARE(asked.size, banner->size());
    QCOMPARE(asked.background, banner->palette().color(QPalette::Window));

    // The helper's window arrives; offscreen nothing can be embedded, and
    // the strip stays empty without complaint.
    QVERIFY(!BannerStrip::canEmbed());
    web().publishBannerWindow(0x1234567);
    QVERIFY(!banner->container());
    QCOMPARE(banner->embeddedWindow(), quint64(0));

    // Hidden to the tray: the strip is not needed any more.
    QTest::mouseClick(button("Command6"), Qt::LeftButton);
    QTRY_VERIFY(!m_main->isVisible());
    QCOMPARE(web().bannerHides, 1);
    QVERIFY(!web().bannerShown());
    QTest::qWait(50);
    QCOMPARE(web().bannerRequests.size(), 1);

    // Shown again: asked for again.
    action("show")->trigger();
    QVERIFY(m_main->isVisible());
    QTRY_COMPARE(web().bannerRequests.size(), 2);
    QVERIFY(web().bannerShown());

    // The unload hides the window for good: the strip goes with it, and the
    // last word the helper hears about it is that it is hidden.
    m_main->unload();
    QCOMPARE(web().bannerHides, 2);
    QTest::qWait(50);
    QCOMPARE(web().bannerRequests.size(), 2);
}

void TestMainWindow::noBannerLeavesTheDesignLayout()
{
    load(false);
    QVERIFY(!m_main->bannerBox());
    QVERIFY(!m_main->findChild<QFrame *>("picBox"));
    QCOMPARE(m_main->findChild<QGroupBox *>("Frame2")->y(), twipsToPixels(1080));
    QCOMPARE(m_main->findChild<QGroupBox *>("Frame1")->y(), twipsToPixels(2880));
    QVERIFY(!m_main->findChild<QWidget *>("wbBanner")->isVisible());
    QVERIFY(m_main->findChild<QWidget *>("wbPicture")->isVisible());
    QVERIFY(!m_main->findChild<BannerStrip *>("wbBanner")->container());
    // Nothing is asked of the web helper, shown or hidden.
    QTest::qWait(50);
    QVERIFY(web().bannerRequests.isEmpty());
    QCOMPARE(web().bannerHides, 0);
}

void TestMainWindow::listFileProblemsAreShownInTheStatusBar()
{
    store("showHelp", "0");
    QDir().mkpath(m_env->wendralDataDir());
    const QString fifo = m_env->wendralDataDir() + "/allowed.txt";
    QVERIFY(test::makeFifo(fifo));
    {
        test::FifoGuard guard(fifo); // the start must not wait on it
        load();
        QVERIFY(!guard.fired());
    }
    QVERIFY2(m_main->panels().text(2).contains("allowed.txt is not a regular file"),
             qPrintable(m_main->panels().text(2)));
    auto *list1 = m_main->findChild<QListWidget *>("List1");
    QCOMPARE(list1->count(), 0);

    // "Add" is refused and says so; so is "Allow Always" from the question.
    m_main->findChild<QLineEdit *>("Text1")->setText("typed.example");
    m_main->panels().setText(2, QString());
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    QVERIFY(m_main->panels().text(2).startsWith("The change is refused"));
    m_main->panels().setText(2, QString());
    program().decider.answer(SiteAnswer::AllowAlways, "asked.example");
    QVERIFY(m_main->panels().text(2).startsWith("The change is refused"));
    QCOMPARE(list1->count(), 0);
    QCOMPARE(test::pathKind(fifo).type, 'p');
    // The disallowed list works as ever.
    m_main->findChild<QLineEdit *>("Text2")->setText("ads.example");
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    QCOMPARE(m_main->findChild<QListWidget *>("List2")->count(), 1);
}

void TestMainWindow::settingsFileProblemIsShownOnceLoaded()
{
    QDir().mkpath(m_env->wendralConfigDir());
    QVERIFY(test::makeFifo(Paths::settingsFile()));
    {
        test::FifoGuard guard(Paths::settingsFile());
        load();
        QVERIFY(!guard.fired());
    }
    QVERIFY2(m_main->panels().text(2).startsWith("Settings are not read"), qPrintable(m_main->panels().text(2)));
    QVERIFY(check("Check1")->isChecked()); // the defaults
    QCOMPARE(test::pathKind(Paths::settingsFile()).type, 'p');
}

void TestMainWindow::unsavedSettingsAreToldOnceAtUnload()
{
    store("showHelp", "0");
    load();
    test::ReadOnlyFolder readOnly(m_env->wendralConfigDir());
    QVERIFY(readOnly.isReadOnly());
    // A write while the program runs: panel 2 says so at once.
    QTest::mouseClick(check("Check5"), Qt::LeftButton);
    QVERIFY2(m_main->panels().text(2).startsWith("Settings are not saved"), qPrintable(m_main->panels().text(2)));
    QVERIFY(platform().notifier.messages.isEmpty());
    // At the end the window goes: one notification on the desktop.
    action("mnuFileItem_1")->trigger();
    action("Exit")->trigger();
    QCOMPARE(platform().notifier.messages.size(), 1);
    QVERIFY2(platform().notifier.messages.first().contains("were not saved"),
             qPrintable(platform().notifier.messages.first()));
    QVERIFY(platform().notifier.messages.first().contains(Paths::settingsFile()));
}

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--website-child") == 0)
        return websiteChild(argv[2]);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    QApplication::setQuitOnLastWindowClosed(false);
    TestMainWindow tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_mainwindow.moc"
