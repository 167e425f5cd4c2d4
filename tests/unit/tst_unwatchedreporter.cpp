// Telling the user about unwatched browsers: once per browser process, never
// while popup blocking is off, again for a new process (even one that got the
// same process id), and with a message that names the browser and the way to
// fix it. Also the tray menu's summary wording.

#include "blocking/browsercomponents.h"
#include "blocking/unwatchedreporter.h"

#include <QSignalSpy>
#include <QTest>

using namespace wendral;

namespace {

// Browsers as the engine would list them, changed by the test.
class FakeBrowsers : public BrowserWindows
{
    Q_OBJECT
public:
    QList<BrowserPtr> items() const override { return {}; }
    QList<UnwatchedBrowser> unwatchedBrowsers() const override { return m_unwatched; }
    void set(const QList<UnwatchedBrowser> &list)
    {
        m_unwatched = list;
        emit browsersChanged();
    }

private:
    QList<UnwatchedBrowser> m_unwatched;
};

UnwatchedBrowser browser(qint64 pid, BrowserKind kind, quint64 start = 100)
{
    UnwatchedBrowser b;
    b.pid = pid;
    b.startTime = start;
    b.kind = kind;
    b.name = browserKindName(kind);
    b.profileDir = QStringLiteral("/p/%1").arg(pid);
    return b;
}

QStringList titles(const QSignalSpy &spy)
{
    QStringList out;
    for (const QList<QVariant> &args : spy)
        out << args.at(0).toString();
    return out;
}

} // namespace

class TestUnwatchedReporter : public QObject
{
    Q_OBJECT

private slots:
    void eachBrowserProcessIsToldAboutOnce()
    {
        FakeBrowsers browsers;
        bool blocking = true;
        UnwatchedBrowserReporter reporter(&browsers, [&] { return blocking; });
        QSignalSpy told(&reporter, &UnwatchedBrowserReporter::report);

        const UnwatchedBrowser chromium = browser(10, BrowserKind::Chromium);
        browsers.set({chromium});
        QCOMPARE(told.count(), 1);
        // The engine's list changes for other reasons, and the same process
        // is still there: nothing new.
        browsers.set({chromium});
        reporter.reconsider();
        QCOMPARE(told.count(), 1);

        // A second unwatched browser: told once, the first not again.
        const UnwatchedBrowser brave = browser(11, BrowserKind::Brave);
        browsers.set({chromium, brave});
        browsers.set({brave, chromium});
        QCOMPARE(titles(told), (QStringList{"Chromium is not watched by Wendral", "Brave is not watched by Wendral"}));
        QCOMPARE(reporter.toldCount(), 2);

        // Chromium ends; a new Chromium process (that happens to get the same
        // id) is a browser of its own.
        browsers.set({brave});
        QCOMPARE(reporter.toldCount(), 1);
        browsers.set({brave, browser(10, BrowserKind::Chromium, 999)});
        QCOMPARE(told.count(), 3);
        QCOMPARE(told.last().at(0).toString(), QStringLiteral("Chromium is not watched by Wendral"));
    }

    void neverWhilePopupBlockingIsOff()
    {
        FakeBrowsers browsers;
        bool blocking = false;
        UnwatchedBrowserReporter reporter(&browsers, [&] { return blocking; });
        QSignalSpy told(&reporter, &UnwatchedBrowserReporter::report);
        const UnwatchedBrowser edge = browser(20, BrowserKind::MicrosoftEdge);
        const UnwatchedBrowser gone = browser(21, BrowserKind::Vivaldi);
        browsers.set({edge, gone});
        reporter.reconsider();
        QCOMPARE(told.count(), 0);

        // One of them ends while blocking is still off; blocking comes on:
        // the one still running is told about, once.
        browsers.set({edge});
        blocking = true;
        reporter.reconsider();
        QCOMPARE(titles(told), QStringList{"Microsoft Edge is not watched by Wendral"});
        reporter.reconsider();
        QCOMPARE(told.count(), 1);

        // Off and on again: a browser already told about stays told.
        blocking = false;
        reporter.reconsider();
        blocking = true;
        reporter.reconsider();
        QCOMPARE(told.count(), 1);
    }

    void theMessageNamesTheBrowserAndTheFix()
    {
        const UnwatchedBrowser chrome = browser(30, BrowserKind::GoogleChrome);
        const QString text = UnwatchedBrowserReporter::text(chrome);
        QVERIFY(UnwatchedBrowserReporter::title(chrome).startsWith(QStringLiteral("Google Chrome ")));
        QVERIFY(text.contains(QStringLiteral("Close Google Chrome and start it again")));
        QVERIFY(text.contains(QStringLiteral("\"Watch browsers started from the desktop\"")));
        QVERIFY(text.contains(QStringLiteral("wendral-browser")));
    }

    void withoutAnEngineNothingHappens()
    {
        UnwatchedBrowserReporter reporter(nullptr, [] { return true; });
        QSignalSpy told(&reporter, &UnwatchedBrowserReporter::report);
        reporter.reconsider();
        QCOMPARE(told.count(), 0);
    }

    void summaryWording_data()
    {
        QTest::addColumn<int>("watched");
        QTest::addColumn<int>("unwatched");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << 0 << 0 << "No browser watched";
        QTest::newRow("one") << 1 << 0 << "Watching 1 browser";
        QTest::newRow("two and one") << 2 << 1 << "Watching 2 browsers, 1 unwatched";
        QTest::newRow("only unwatched") << 0 << 3 << "No browser watched, 3 unwatched";
    }

    void summaryWording()
    {
        QFETCH(int, watched);
        QFETCH(int, unwatched);
        QFETCH(QString, text);
        QCOMPARE(watchSummary(watched, unwatched), text);
    }
};

QTEST_GUILESS_MAIN(TestUnwatchedReporter)
#include "tst_unwatchedreporter.moc"
