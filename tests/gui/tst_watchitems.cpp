// What the main window shows and offers about watched browsers: the greyed
// "Watching N browsers, M unwatched" item at the top of the tray menu (and in
// the Tools menu), kept current as the engine reports changes; and Tools >
// "Watch browsers started from the desktop", which writes and removes the
// per-user desktop entries, says in the status bar what it did, shows what is
// on disk, and refreshes the entries at start-up when it is on.

#include "blocking/browsercomponents.h"
#include "forms/formtools.h"
#include "support/guimain.h"
#include "support/programfixture.h"
#include "support/testenv.h"
#include "ui/mainwindow.h"

#include <QDir>
#include <QMenu>
#include <QTemporaryDir>

using namespace wendral;
using namespace wendral::test;

namespace {

class FakeEngine : public BrowserWindows
{
    Q_OBJECT
public:
    int watched = 0;
    QList<UnwatchedBrowser> unwatched;
    QList<BrowserPtr> items() const override { return {}; }
    int watchedBrowserCount() const override { return watched; }
    QList<UnwatchedBrowser> unwatchedBrowsers() const override { return unwatched; }
    void change(int w, int u)
    {
        watched = w;
        unwatched.clear();
        for (int i = 0; i < u; ++i)
            unwatched.append(UnwatchedBrowser{100 + i, 1, BrowserKind::Chromium, "Chromium", "/p"});
        emit browsersChanged();
    }
};

QStringList texts(const QMenu *menu)
{
    QStringList out;
    for (const QAction *a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("---") : a->text());
    return out;
}

} // namespace

class TestWatchItems : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    QTemporaryDir system; // the machine's data folder, with the sample browser entries
    QByteArray oldDataDirs;

    QString userEntry(const char *id) const { return env->dataHome() + QStringLiteral("/applications/") + id; }

    std::unique_ptr<MainWindow> loadWindow(ProgramFixture &fixture)
    {
        auto main = std::make_unique<MainWindow>(fixture.context);
        main->load();
        return main;
    }

private slots:
    void initTestCase() { oldDataDirs = qgetenv("XDG_DATA_DIRS"); }
    void cleanupTestCase() { qputenv("XDG_DATA_DIRS", oldDataDirs); }

    void init()
    {
        env = std::make_unique<TestEnvironment>();
        QVERIFY(system.isValid());
        QDir(system.path()).removeRecursively();
        QDir().mkpath(system.path() + QStringLiteral("/applications"));
        for (const char *id : {"chromium.desktop", "google-chrome.desktop", "firefox-esr.desktop"}) {
            QVERIFY(QFile::copy(QStringLiteral(WENDRAL_TEST_DATA "/desktop/share/applications/") + id,
                                system.path() + QStringLiteral("/applications/") + id));
        }
        qputenv("XDG_DATA_DIRS", system.path().toLocal8Bit());
    }
    void cleanup() { env.reset(); }

    void whatIsWatchedIsShownAndKeptCurrent()
    {
        FakeEngine engine;
        ProgramFixture fixture(&engine);
        auto main = loadWindow(fixture);
        QMenu *tray = main->trayMenu();
        QCOMPARE(texts(tray).mid(0, 3), (QStringList{"No browser watched", "---", "Close this menu"}));
        QVERIFY(!main->watchInfoItem()->isEnabled()); // information, not a command

        engine.change(2, 1);
        QCOMPARE(tray->actions().first()->text(), QStringLiteral("Watching 2 browsers, 1 unwatched"));
        engine.change(1, 0);
        QCOMPARE(tray->actions().first()->text(), QStringLiteral("Watching 1 browser"));

        // The Tools menu: the same line above the option, which comes last.
        QMenu *tools = main->findChild<QMenu *>(QStringLiteral("mnuTools"));
        QVERIFY(tools);
        QCOMPARE(texts(tools), (QStringList{"Add Program to IE Tools Menu", "Remove Program from IE Tools Menu", "---",
                                            "Watching 1 browser", "Watch browsers started from the desktop"}));
        QVERIFY(tools->actions().last()->isCheckable());
        QCOMPARE(tools->actions().last(), main->watchLaunchersItem());
    }

    void withoutAnEngineNothingIsWatched()
    {
        ProgramFixture fixture(nullptr);
        auto main = loadWindow(fixture);
        QCOMPARE(main->trayMenu()->actions().first()->text(), QStringLiteral("No browser watched"));
    }

    void theOptionWritesAndRemovesTheEntries()
    {
        ProgramFixture fixture(nullptr);
        // A browser entry the user wrote: never touched.
        QVERIFY(writeFile(userEntry("google-chrome.desktop"), "[Desktop Entry]\nType=Application\nName=Mine\n"
                                                              "Exec=/usr/bin/google-chrome --mine %U\n"));
        auto main = loadWindow(fixture);
        QAction *option = main->watchLaunchersItem();
        QVERIFY(!option->isChecked());

        option->trigger();
        QVERIFY(option->isChecked());
        const QByteArray written = readFile(userEntry("chromium.desktop"));
        QVERIFY(written.contains("X-Wendral-Watched=true"));
        // The launcher beside the program starts it.
        QVERIFY(written.contains(QFile::encodeName(TestEnvironment::buildDir() + QStringLiteral("/wendral-browser"))));
        QVERIFY(!QFile::exists(userEntry("firefox-esr.desktop")));
        QVERIFY(readFile(userEntry("google-chrome.desktop")).contains("--mine"));
        const QString said = main->panels().text(2);
        QVERIFY2(said.contains(QStringLiteral("watched: chromium")), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("google-chrome left alone")), qPrintable(said));

        option->trigger();
        QVERIFY(!option->isChecked());
        QVERIFY(!QFile::exists(userEntry("chromium.desktop")));
        QVERIFY(readFile(userEntry("google-chrome.desktop")).contains("--mine"));
        QCOMPARE(main->panels().text(2), QStringLiteral("Browsers started from the desktop are no longer watched"));
    }

    void nothingToWatchLeavesTheOptionOff()
    {
        QTemporaryDir empty;
        qputenv("XDG_DATA_DIRS", empty.path().toLocal8Bit());
        ProgramFixture fixture(nullptr);
        auto main = loadWindow(fixture);
        main->watchLaunchersItem()->trigger();
        QVERIFY(!main->watchLaunchersItem()->isChecked());
        QCOMPARE(main->panels().text(2), QStringLiteral("No Chromium-family browser found to watch"));
    }

    void startUpRefreshesTheEntriesWhenOn()
    {
        {
            ProgramFixture fixture(nullptr);
            auto main = loadWindow(fixture);
            main->watchLaunchersItem()->trigger();
            QVERIFY(main->watchLaunchersItem()->isChecked());
        }
        // The browser's own entry changes (an update) while Wendral is not running.
        const QString original = system.path() + QStringLiteral("/applications/chromium.desktop");
        QByteArray entry = readFile(original);
        entry.replace("Name=Chromium Web Browser", "Name=Chromium Updated");
        QVERIFY(writeFile(original, entry));
        QVERIFY(!readFile(userEntry("chromium.desktop")).contains("Chromium Updated"));

        ProgramFixture fixture(nullptr);
        auto main = loadWindow(fixture);
        QVERIFY(main->watchLaunchersItem()->isChecked());
        QVERIFY(readFile(userEntry("chromium.desktop")).contains("Name=Chromium Updated"));
        // Nothing went wrong, so nothing is said about it.
        QVERIFY(main->panels().text(2).isEmpty());
    }
};

WENDRAL_GUI_TEST_MAIN(TestWatchItems)
#include "tst_watchitems.moc"
