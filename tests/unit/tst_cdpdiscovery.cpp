// Finding DevTools endpoints: the DevToolsActivePort file, the command lines
// of running browsers, and noticing files that appear or are written again.

#include "blocking/cdp/cdpdiscovery.h"
#include "support/chromiumharness.h"
#include "support/testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace wendral::cdp;
using namespace wendral::test;

class TestCdpDiscovery : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;

    static QByteArray cmdline(std::initializer_list<const char *> args)
    {
        QByteArray out;
        for (const char *a : args)
            out += QByteArray(a) + '\0';
        return out;
    }

private slots:
    void init() { env = std::make_unique<TestEnvironment>(); }
    void cleanup() { env.reset(); }

    void standardFoldersFollowXdgConfigHome()
    {
        const QStringList dirs = CdpDiscovery::standardProfileDirs();
        QCOMPARE(dirs.size(), 9);
        QVERIFY(dirs.contains(env->configHome() + QStringLiteral("/chromium")));
        QVERIFY(dirs.contains(env->configHome() + QStringLiteral("/BraveSoftware/Brave-Browser")));
        qputenv("XDG_CONFIG_HOME", "relative/path"); // not absolute: ignored
        QVERIFY(CdpDiscovery::standardProfileDirs().contains(env->home() + QStringLiteral("/.config/vivaldi")));
        qputenv("XDG_CONFIG_HOME", env->configHome().toLocal8Bit());
    }

    void portFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("path");
        QTest::newRow("as written") << QByteArray("40123\n/devtools/browser/ab-12") << 40123
                                    << QStringLiteral("/devtools/browser/ab-12");
        QTest::newRow("line ends") << QByteArray("9222\r\n/devtools/browser/x\r\n") << 9222
                                   << QStringLiteral("/devtools/browser/x");
        QTest::newRow("port only") << QByteArray("9222\n") << 0 << QString();
        QTest::newRow("port zero") << QByteArray("0\n/devtools/browser/x") << 0 << QString();
        QTest::newRow("port too big") << QByteArray("70000\n/devtools/browser/x") << 0 << QString();
        QTest::newRow("port text") << QByteArray("abc\n/devtools/browser/x") << 0 << QString();
        QTest::newRow("other path") << QByteArray("9222\n/json/version") << 0 << QString();
        QTest::newRow("path escapes") << QByteArray("9222\n/devtools/browser/../../x") << 0 << QString();
        QTest::newRow("path with host") << QByteArray("9222\n/devtools/browser/x@evil:1") << 0 << QString();
        QTest::newRow("empty id") << QByteArray("9222\n/devtools/browser/") << 0 << QString();
        QTest::newRow("empty") << QByteArray() << 0 << QString();
        QTest::newRow("huge") << QByteArray("9222\n/devtools/browser/x\n") + QByteArray(10000, 'z') << 0 << QString();
    }

    void portFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, port);
        QFETCH(QString, path);
        const QString dir = env->configHome() + QStringLiteral("/chromium");
        QVERIFY(writeFile(dir + QStringLiteral("/DevToolsActivePort"), content));
        const auto ep = CdpDiscovery::readActivePort(dir);
        QCOMPARE(ep.has_value(), port != 0);
        if (ep) {
            QCOMPARE(int(ep->port), port);
            QCOMPARE(ep->browserPath, path);
            QCOMPARE(ep->dataDir, dir);
        }
    }

    void commandLine_data()
    {
        QTest::addColumn<QByteArray>("args");
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<QString>("expected");
        QTest::newRow("browser") << cmdline({"/usr/lib/chromium/chromium", "--remote-debugging-port=0",
                                             "--user-data-dir=/tmp/p/", "about:blank"})
                                 << QString() << QStringLiteral("/tmp/p");
        QTest::newRow("relative") << cmdline({"chrome", "--user-data-dir=prof", "--remote-debugging-port=9222"})
                                  << QStringLiteral("/home/u") << QStringLiteral("/home/u/prof");
        QTest::newRow("relative, cwd unknown")
            << cmdline({"chrome", "--user-data-dir=prof", "--remote-debugging-port=9222"}) << QString() << QString();
        QTest::newRow("no debugging port") << cmdline({"chromium", "--user-data-dir=/tmp/p"}) << QString() << QString();
        QTest::newRow("pipe only") << cmdline({"chromium", "--remote-debugging-pipe", "--user-data-dir=/tmp/p"})
                                   << QString() << QString();
        QTest::newRow("default profile") << cmdline({"chromium", "--remote-debugging-port=0"}) << QString()
                                         << QString();
        QTest::newRow("renderer child") << cmdline({"chromium", "--type=renderer", "--remote-debugging-port=0",
                                                    "--user-data-dir=/tmp/p"})
                                        << QString() << QString();
        QTest::newRow("switch as the program name") << cmdline({"--remote-debugging-port=1"}) << QString() << QString();
    }

    void commandLine()
    {
        QFETCH(QByteArray, args);
        QFETCH(QString, cwd);
        QFETCH(QString, expected);
        QCOMPARE(CdpDiscovery::dataDirFromCmdline(args, cwd).value_or(QString()), expected);
    }

    void findsFilesAsTheyAppearAndAreRewritten()
    {
        const QString chromium = env->configHome() + QStringLiteral("/chromium");
        const QString brave = env->configHome() + QStringLiteral("/BraveSoftware/Brave-Browser");
        CdpDiscovery discovery;
        discovery.setProcRoot(QString());
        discovery.setScanInterval(60000); // only file notifications (and start) count here
        QSignalSpy found(&discovery, &CdpDiscovery::endpointFound);
        QVERIFY(writeFile(chromium + QStringLiteral("/DevToolsActivePort"), "1111\n/devtools/browser/a"));
        discovery.start();
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).value<CdpEndpoint>().port, quint16(1111));

        // A folder that did not exist at start (a browser's first run).
        QVERIFY(writeFile(brave + QStringLiteral("/DevToolsActivePort"), "2222\n/devtools/browser/b"));
        QVERIFY(waitUntil([&] { return found.count() == 2; }, 3000));
        QCOMPARE(found.at(1).at(0).value<CdpEndpoint>().dataDir, brave);

        // Written again (a restart): reported again, even with the same text.
        QTest::qWait(20);
        QVERIFY(writeFile(chromium + QStringLiteral("/DevToolsActivePort"), "1111\n/devtools/browser/a"));
        QVERIFY(waitUntil([&] { return found.count() == 3; }, 3000));
        QCOMPARE(found.at(2).at(0).value<CdpEndpoint>().dataDir, chromium);

        // Unchanged files are not reported again by a scan; forgotten ones are.
        discovery.scan();
        QCOMPARE(found.count(), 3);
        discovery.forget(brave);
        discovery.scan();
        QCOMPARE(found.count(), 4);
    }

    void findsBrowsersThroughTheirCommandLines()
    {
        // A process table of our own making.
        QTemporaryDir proc;
        const QString profile = env->home() + QStringLiteral("/elsewhere");
        QVERIFY(writeFile(proc.path() + QStringLiteral("/4242/cmdline"),
                          cmdline({"chromium", "--remote-debugging-port=0", "--user-data-dir="}).chopped(1) +
                              profile.toLocal8Bit() + '\0'));
        // It shows on our display (a browser of another desktop is left alone).
        QVERIFY(writeFile(proc.path() + QStringLiteral("/4242/environ"), QByteArray("DISPLAY=:5\0", 11)));
        QVERIFY(writeFile(proc.path() + QStringLiteral("/4243/cmdline"), QByteArray("bash\0", 5)));
        QVERIFY(writeFile(proc.path() + QStringLiteral("/self/cmdline"), QByteArray("x\0", 2)));
        QVERIFY(writeFile(profile + QStringLiteral("/DevToolsActivePort"), "3333\n/devtools/browser/c"));
        CdpDiscovery discovery;
        discovery.setProfileDirs({});
        discovery.setProcRoot(proc.path());
        discovery.setDesktop(DesktopIdentity{QStringLiteral(":5"), QString(), QString()});
        discovery.setScanInterval(50);
        QSignalSpy found(&discovery, &CdpDiscovery::endpointFound);
        discovery.start();
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).value<CdpEndpoint>().dataDir, profile);

        // The process ends and another starts with a new folder.
        QVERIFY(QDir(proc.path() + QStringLiteral("/4242")).removeRecursively());
        const QString second = env->home() + QStringLiteral("/second");
        QVERIFY(writeFile(second + QStringLiteral("/DevToolsActivePort"), "4444\n/devtools/browser/d"));
        QVERIFY(writeFile(proc.path() + QStringLiteral("/5000/environ"), QByteArray("DISPLAY=:5.0\0", 13)));
        QVERIFY(writeFile(proc.path() + QStringLiteral("/5000/cmdline"),
                          cmdline({"chrome", "--remote-debugging-port=9", "--user-data-dir="}).chopped(1) +
                              second.toLocal8Bit() + '\0'));
        QVERIFY(waitUntil([&] { return found.count() == 2; }, 2000));
        QCOMPARE(found.at(1).at(0).value<CdpEndpoint>().port, quint16(4444));
    }
};

QTEST_GUILESS_MAIN(TestCdpDiscovery)
#include "tst_cdpdiscovery.moc"
