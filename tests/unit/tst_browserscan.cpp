// The process scan that finds this desktop's browsers: command lines in both
// forms the kernel shows (NUL-separated, and rewritten by Chromium into one
// space-joined string), which program is which browser, which display a
// process shows on (from its environment, or from the display server its
// sockets are connected to), and the scan itself over process tables of the
// test's own making: helpers, other users, other displays and non-browsers are
// never counted; a command line rewritten after start is read again; bounds.

#include "blocking/cdp/browserprocesses.h"
#include "blocking/cdp/cdpdiscovery.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace wendral;
using namespace wendral::cdp;
using namespace wendral::test;

namespace {

QByteArray nulJoined(const QStringList &args)
{
    QByteArray out;
    for (const QString &a : args)
        out += a.toUtf8() + '\0';
    return out;
}

// Chromium's rewritten form: one string, one NUL at the end.
QByteArray spaceJoined(const QStringList &args)
{
    return args.join(u' ').toUtf8() + '\0';
}

QByteArray environBlock(std::initializer_list<const char *> entries)
{
    QByteArray out;
    for (const char *e : entries)
        out += QByteArray(e) + '\0';
    return out;
}

// A process table of the test's own making, laid out as /proc is.
class FakeProc
{
public:
    struct Process
    {
        QString exe; // empty: no exe link (a kernel thread, or not ours to read)
        QByteArray cmdline;
        qint64 uid = ::getuid();
        int ppid = 1;
        QByteArray environ; // empty: blanked by the browser
        QList<quint64> sockets;
        QString cwd;
        quint64 startTime = 1000;
    };

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }

    void add(int pid, const Process &p)
    {
        const QString base = dir(pid);
        QDir(base).removeRecursively();
        QDir().mkpath(base + QStringLiteral("/fd"));
        if (!p.exe.isEmpty())
            QFile::link(p.exe, base + QStringLiteral("/exe"));
        writeFile(base + QStringLiteral("/cmdline"), p.cmdline);
        writeFile(base + QStringLiteral("/status"), QStringLiteral("Name:\tx\nUmask:\t0022\nState:\tS (sleeping)\n"
                                                                   "Tgid:\t%1\nPid:\t%1\nPPid:\t%2\n"
                                                                   "Uid:\t%3\t%3\t%3\t%3\nGid:\t0\t0\t0\t0\n")
                                                        .arg(pid)
                                                        .arg(p.ppid)
                                                        .arg(p.uid)
                                                        .toUtf8());
        writeFile(base + QStringLiteral("/environ"), p.environ.isEmpty() ? QByteArray(64, '\0') : p.environ);
        writeFile(base + QStringLiteral("/stat"),
                  QStringLiteral("%1 (x y) S %2 %1 %1 0 -1 4194560 1 0 0 0 0 0 0 0 20 0 "
                                 "1 0 %3 1000 100\n")
                      .arg(pid)
                      .arg(p.ppid)
                      .arg(p.startTime)
                      .toUtf8());
        if (!p.cwd.isEmpty())
            QFile::link(p.cwd, base + QStringLiteral("/cwd"));
        int fd = 3;
        for (quint64 inode : p.sockets)
            QFile::link(QStringLiteral("socket:[%1]").arg(inode), base + QStringLiteral("/fd/%1").arg(fd++));
    }
    void remove(int pid) { QDir(dir(pid)).removeRecursively(); }
    void addSocket(int pid, int fd, quint64 inode)
    {
        QFile::link(QStringLiteral("socket:[%1]").arg(inode), dir(pid) + QStringLiteral("/fd/%1").arg(fd));
    }
    QString dir(int pid) const { return root() + QLatin1Char('/') + QString::number(pid); }

private:
    QTemporaryDir m_dir;
};

QList<qint64> pidsOf(const QList<UnwatchedBrowser> &browsers)
{
    QList<qint64> out;
    for (const UnwatchedBrowser &b : browsers)
        out << b.pid;
    std::sort(out.begin(), out.end());
    return out;
}

const QString kChromium = QStringLiteral("/usr/lib/chromium/chromium");
const QString kChrome = QStringLiteral("/opt/google/chrome/chrome");
const QString kBrave = QStringLiteral("/opt/brave.com/brave/brave");
const QString kVivaldi = QStringLiteral("/opt/vivaldi/vivaldi-bin");
const QString kEdge = QStringLiteral("/opt/microsoft/msedge/msedge");

} // namespace

class TestBrowserScan : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnvironment> env;
    // Our desktop in these tests: display :5.
    const DesktopIdentity ours{QStringLiteral(":5"), QString(), QStringLiteral("/run/user/1000")};

    // A discovery over a fake table; socket peers from the map given.
    std::unique_ptr<CdpDiscovery> makeDiscovery(const FakeProc &proc, const QHash<quint64, QString> *peers)
    {
        auto d = std::make_unique<CdpDiscovery>();
        d->setProfileDirs(CdpDiscovery::standardProfileDirs());
        d->setProcRoot(proc.root());
        d->setDesktop(ours);
        d->setScanInterval(60000); // scans run when the test says
        d->setSocketPeerReader([peers] { return peers ? *peers : QHash<quint64, QString>(); });
        return d;
    }

private slots:
    void init() { env = std::make_unique<TestEnvironment>(); }
    void cleanup() { env.reset(); }

    // ---------------------------------------------------------------- command lines

    void commandLines_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("helper");
        QTest::addColumn<bool>("debugging");
        QTest::newRow("NUL-separated") << nulJoined({kChromium, "--remote-debugging-port=0", "about:blank"})
                                       << kChromium << QStringList{"--remote-debugging-port=0", "about:blank"} << false
                                       << true;
        QTest::newRow("rewritten") << spaceJoined({kChromium, "--enable-x", "--remote-debugging-port=0"}) << kChromium
                                   << QStringList{"--enable-x", "--remote-debugging-port=0"} << false << true;
        QTest::newRow("rewritten, spaces in the program and a value")
            << spaceJoined({"/opt/My Apps/chrome", "--user-data-dir=/home/u/My Profile", "--no-first-run"})
            << QStringLiteral("/opt/My Apps/chrome")
            << QStringList{"--user-data-dir=/home/u/My Profile", "--no-first-run"} << false << false;
        QTest::newRow("rewritten helper") << spaceJoined({kChromium, "--type=renderer", "--lang=en-US"}) << kChromium
                                          << QStringList{"--type=renderer", "--lang=en-US"} << true << false;
        QTest::newRow("NUL helper, switch late") << nulJoined({kChromium, "--no-sandbox", "--type=zygote"}) << kChromium
                                                 << QStringList{"--no-sandbox", "--type=zygote"} << true << false;
        QTest::newRow("a switch that only begins like --type")
            << nulJoined({kChromium, "--typeface=x", "--remote-debugging-portal"}) << kChromium
            << QStringList{"--typeface=x", "--remote-debugging-portal"} << false << false;
        QTest::newRow("program alone") << nulJoined({kChromium}) << kChromium << QStringList() << false << false;
        QTest::newRow("empty (a process that is ending)")
            << QByteArray() << QString() << QStringList() << false << false;
        QTest::newRow("only NULs") << QByteArray(16, '\0') << QString() << QStringList() << false << false;
    }

    void commandLines()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(bool, helper);
        QFETCH(bool, debugging);
        const BrowserCommandLine c = BrowserCommandLine::parse(raw);
        QCOMPARE(c.program, program);
        QCOMPARE(c.arguments, arguments);
        QCOMPARE(c.isHelper(), helper);
        QCOMPARE(c.has(QLatin1String("remote-debugging-port")), debugging);
    }

    void switchValues()
    {
        const BrowserCommandLine c =
            BrowserCommandLine::parse(nulJoined({kChromium, "--user-data-dir=/a", "--user-data-dir=/b", "--flag"}));
        QCOMPARE(c.value(QLatin1String("user-data-dir")).value_or(QString()), QStringLiteral("/b"));
        QVERIFY(!c.value(QLatin1String("flag"))); // present, but without a value
        QVERIFY(c.has(QLatin1String("flag")));
        QVERIFY(!c.value(QLatin1String("user-data")));
    }

    void profileFolderOfARewrittenCommandLine()
    {
        // "--user-data-dir=<folder with a space> about:blank" once joined: the
        // existing folder is what counts, not the words after it.
        const QString folder = env->home() + QStringLiteral("/My Profile");
        QVERIFY(QDir().mkpath(folder));
        const auto joined =
            BrowserCommandLine::parse(spaceJoined({kChromium, "--user-data-dir=" + folder + " about:blank"}));
        QCOMPARE(CdpDiscovery::userDataDir(joined, QString()).value_or(QString()), folder);
        // Relative to the browser's working folder, and ~ for our home.
        const auto relative = BrowserCommandLine::parse(spaceJoined({kChromium, "--user-data-dir=My Profile"}));
        QCOMPARE(CdpDiscovery::userDataDir(relative, env->home()).value_or(QString()), folder);
        QVERIFY(!CdpDiscovery::userDataDir(relative, QString()));
        const auto home = BrowserCommandLine::parse(nulJoined({kChromium, "--user-data-dir=~/p"}));
        QCOMPARE(CdpDiscovery::userDataDir(home, QString()).value_or(QString()), QDir::homePath() + "/p");
        // Nothing exists: the whole value, as written.
        const auto missing = BrowserCommandLine::parse(spaceJoined({kChromium, "--user-data-dir=/nowhere/a b"}));
        QCOMPARE(CdpDiscovery::userDataDir(missing, QString()).value_or(QString()), QStringLiteral("/nowhere/a b"));
        // The old entry point reads both forms too.
        QCOMPARE(CdpDiscovery::dataDirFromCmdline(
                     spaceJoined({kChromium, "--remote-debugging-port=0", "--user-data-dir=" + folder}), QString())
                     .value_or(QString()),
                 folder);
    }

    // ---------------------------------------------------------------- browser kinds

    void browserKinds_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("kind"); // -1: not a browser
        QTest::addColumn<QString>("defaultFolder");
        QTest::newRow("Debian's Chromium") << kChromium << int(BrowserKind::Chromium) << "chromium";
        QTest::newRow("Ubuntu's name") << "/usr/bin/chromium-browser" << int(BrowserKind::Chromium) << "chromium";
        QTest::newRow("snap") << "/snap/chromium/2000/usr/lib/chromium-browser/chrome" << int(BrowserKind::Chromium)
                              << "chromium";
        QTest::newRow("Google Chrome") << kChrome << int(BrowserKind::GoogleChrome) << "google-chrome";
        QTest::newRow("Chrome beta") << "/opt/google/chrome-beta/chrome" << int(BrowserKind::GoogleChrome)
                                     << "google-chrome-beta";
        QTest::newRow("replaced by an update")
            << kChrome + " (deleted)" << int(BrowserKind::GoogleChrome) << "google-chrome";
        QTest::newRow("Edge") << kEdge << int(BrowserKind::MicrosoftEdge) << "microsoft-edge";
        QTest::newRow("Edge dev") << "/opt/microsoft/msedge-dev/msedge" << int(BrowserKind::MicrosoftEdge)
                                  << "microsoft-edge-dev";
        QTest::newRow("Brave") << kBrave << int(BrowserKind::Brave) << "BraveSoftware/Brave-Browser";
        QTest::newRow("Vivaldi") << kVivaldi << int(BrowserKind::Vivaldi) << "vivaldi";
        QTest::newRow("crash handler") << "/opt/google/chrome/chrome_crashpad_handler" << -1 << "";
        QTest::newRow("sandbox helper") << "/usr/lib/chromium/chrome-sandbox" << -1 << "";
        QTest::newRow("the wrapper's shell") << "/usr/bin/dash" << -1 << "";
        QTest::newRow("empty") << "" << -1 << "";
    }

    void browserKinds()
    {
        QFETCH(QString, path);
        QFETCH(int, kind);
        QFETCH(QString, defaultFolder);
        const auto found = browserKindOfProgram(path);
        QCOMPARE(found ? int(*found) : -1, kind);
        if (found)
            QCOMPARE(defaultProfileFolder(*found, path), defaultFolder);
    }

    // ---------------------------------------------------------------- displays

    void displayNames_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("normalised"); // "" for none
        QTest::newRow("plain") << ":0"
                               << ":0";
        QTest::newRow("with screen") << ":12.0"
                                     << ":12";
        QTest::newRow("unix host") << "unix:3"
                                   << ":3";
        QTest::newRow("socket path") << "/tmp/.X11-unix/X7"
                                     << ":7";
        QTest::newRow("TCP display") << "LocalHost:10.0"
                                     << "localhost:10";
        QTest::newRow("leading zero") << ":05"
                                      << ":5";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("no number") << "host:"
                                   << "";
        QTest::newRow("letters") << ":x"
                                 << "";
        QTest::newRow("other socket") << "/tmp/elsewhere/X1"
                                      << "";
    }

    void displayNames()
    {
        QFETCH(QString, display);
        QFETCH(QString, normalised);
        QCOMPARE(normalisedX11Display(display).value_or(QString()), normalised);
    }

    void placement()
    {
        const DesktopIdentity wayland{QString(), QStringLiteral("wayland-1"), QStringLiteral("/run/user/1000")};
        const DesktopIdentity none{QString(), QString(), QStringLiteral("/run/user/1000")};
        auto env = [](const char *display, const char *wl, const char *runtime) {
            return DesktopIdentity{QString::fromLatin1(display), QString::fromLatin1(wl), QString::fromLatin1(runtime)};
        };
        // From the environment.
        QCOMPARE(placementByEnvironment(env(":5.0", "", ""), ours), Placement::ThisDesktop);
        QCOMPARE(placementByEnvironment(env(":6", "", "/run/user/1000"), ours), Placement::OtherDesktop);
        QCOMPARE(placementByEnvironment(env("", "", "/run/user/1000"), ours), Placement::OtherDesktop);
        QCOMPARE(placementByEnvironment(env("", "/run/user/1000/wayland-1", ""), wayland), Placement::ThisDesktop);
        QCOMPARE(placementByEnvironment(env("", "wayland-0", "/run/user/1000"), wayland), Placement::OtherDesktop);
        // Where we have no display, the runtime folder decides.
        QCOMPARE(placementByEnvironment(env(":9", "", "/run/user/1000/"), none), Placement::ThisDesktop);
        QCOMPARE(placementByEnvironment(env(":9", "", "/run/user/1001"), none), Placement::OtherDesktop);
        // From the sockets' peers.
        QCOMPARE(placementBySocketPeers({"@/tmp/.X11-unix/X5"}, ours), Placement::ThisDesktop);
        QCOMPARE(placementBySocketPeers({"/run/user/1000/bus", "/tmp/.X11-unix/X5"}, ours), Placement::ThisDesktop);
        QCOMPARE(placementBySocketPeers({"@/tmp/.X11-unix/X50"}, ours), Placement::OtherDesktop);
        QCOMPARE(placementBySocketPeers({"/run/user/1000/wayland-0"}, ours), Placement::OtherDesktop);
        QCOMPARE(placementBySocketPeers({"/run/user/1000/bus"}, ours), Placement::Unknown);
        QCOMPARE(placementBySocketPeers({}, ours), Placement::Unknown);
        QCOMPARE(placementBySocketPeers({"/run/user/1000/wayland-1"}, wayland), Placement::ThisDesktop);
        QCOMPARE(placementBySocketPeers({"/run/user/1000/bus"}, none), Placement::ThisDesktop);
        QCOMPARE(placementBySocketPeers({"/run/user/1001/bus"}, none), Placement::Unknown);
    }

    void environmentBlocks()
    {
        const auto parsed = parseEnvironment(environBlock({"DISPLAY=:5", "EMPTY=", "=odd", "NOEQUALS", "A=b=c"}));
        QCOMPARE(parsed.value("DISPLAY"), QByteArray(":5"));
        QCOMPARE(parsed.value("A"), QByteArray("b=c"));
        QVERIFY(parsed.contains("EMPTY"));
        QCOMPARE(parsed.size(), 3);
        QVERIFY(parseEnvironment(QByteArray(4096, '\0')).isEmpty()); // blanked by Chromium
    }

    void socketPeersFromTheKernel()
    {
        // A server of our own, once on a path and once in the abstract
        // namespace: the client's socket reads as connected to it.
        for (const bool abstract : {false, true}) {
            QLocalServer server;
            if (abstract)
                server.setSocketOptions(QLocalServer::AbstractNamespaceOption);
            const QString name = env->runtimeDir() + QStringLiteral("/peer-test");
            QVERIFY(server.listen(name));
            QLocalSocket client;
            if (abstract)
                client.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
            client.connectToServer(name);
            QVERIFY(client.waitForConnected(2000));
            QVERIFY(server.waitForNewConnection(2000));
            const QString expected = (abstract ? QStringLiteral("@") : QString()) + server.fullServerName();
            const QHash<quint64, QString> peers = readUnixSocketPeers(CdpDiscovery::kMaxSockets);
            QVERIFY(!peers.isEmpty());
            const QList<quint64> mine = socketInodes(QStringLiteral("/proc/self"), 4096);
            QStringList names;
            for (quint64 inode : mine)
                names << peers.value(inode);
            QVERIFY2(names.contains(expected), qPrintable(names.join(u',')));
            // Without a display of our own, a peer in our runtime folder makes a
            // process this desktop's.
            QCOMPARE(placementBySocketPeers(names, DesktopIdentity{QString(), QString(), env->runtimeDir()}),
                     Placement::ThisDesktop);
        }
        // A process that does not exist has no sockets.
        QVERIFY(socketInodes(QStringLiteral("/proc/0"), 10).isEmpty());
    }

    // ---------------------------------------------------------------- the scan

    void onlyThisDesktopsBrowserMainProcessesAreUnwatched()
    {
        FakeProc proc;
        QVERIFY(proc.isValid());
        const QString profiles = env->home() + QStringLiteral("/profiles");
        auto profile = [&](const char *name) { return QStringLiteral("--user-data-dir=%1/%2").arg(profiles, name); };
        const QHash<quint64, QString> peers{{501, QStringLiteral("@/tmp/.X11-unix/X5")},
                                            {502, QStringLiteral("@/tmp/.X11-unix/X7")},
                                            {503, QStringLiteral("/run/user/1000/bus")}};
        FakeProc::Process p;
        // Ours, NUL-separated, its display in its environment.
        p.exe = kChromium;
        p.cmdline = nulJoined({kChromium, profile("a"), "about:blank"});
        p.environ = environBlock({"HOME=/x", "DISPLAY=:5"});
        proc.add(100, p);
        // Its helpers.
        p.cmdline = spaceJoined({kChromium, "--type=renderer", profile("a")});
        p.ppid = 100;
        proc.add(101, p);
        p.cmdline = nulJoined({kChromium, "--type=zygote", profile("a")});
        proc.add(102, p);
        p.ppid = 1;
        // Another user's, on our display.
        p.cmdline = nulJoined({kChromium, profile("b")});
        p.uid = ::getuid() + 4242;
        proc.add(103, p);
        p.uid = ::getuid();
        // Ours, on another display.
        p.cmdline = nulJoined({kChromium, profile("c")});
        p.environ = environBlock({"DISPLAY=:7"});
        proc.add(104, p);
        // Chrome, rewritten and blanked: its X connection tells.
        p.exe = kChrome;
        p.cmdline = spaceJoined({kChrome, profile("d"), "--enable-features=x"});
        p.environ.clear();
        p.sockets = {503, 501};
        proc.add(105, p);
        // Brave, blanked, connected to another X server.
        p.exe = kBrave;
        p.cmdline = spaceJoined({kBrave, profile("e")});
        p.sockets = {502};
        proc.add(106, p);
        // Vivaldi on its default profile, which is a standard folder (its lock
        // names it): this desktop's wherever it shows.
        p.exe = kVivaldi;
        p.cmdline = spaceJoined({kVivaldi});
        p.sockets = {502};
        proc.add(107, p);
        QVERIFY(QDir().mkpath(env->configHome() + QStringLiteral("/vivaldi")));
        QVERIFY(
            QFile::link(QStringLiteral("somehost-107"), env->configHome() + QStringLiteral("/vivaldi/SingletonLock")));
        // Brave on its default profile, with a blanked environment, that does
        // not hold our standard folder (it runs with another HOME): its display
        // decides, and that is another one.
        p.exe = kBrave;
        p.cmdline = spaceJoined({kBrave});
        proc.add(112, p);
        // Not browsers, or not for the user.
        p.exe = QStringLiteral("/usr/bin/bash");
        p.cmdline = nulJoined({"bash", "--login"});
        p.environ = environBlock({"DISPLAY=:5"});
        proc.add(108, p);
        p.exe = kChromium;
        p.cmdline = nulJoined({kChromium, "--headless=new", profile("f")});
        proc.add(109, p);
        p.exe = kEdge;
        p.cmdline = nulJoined({kEdge, "--remote-debugging-pipe", profile("g")});
        proc.add(110, p);
        // A kernel thread: no program, no command line.
        proc.add(111, FakeProc::Process{});

        auto discovery = makeDiscovery(proc, &peers);
        QSignalSpy changed(discovery.get(), &CdpDiscovery::unwatchedChanged);
        discovery->start();
        const QList<UnwatchedBrowser> found = discovery->unwatchedBrowsers();
        QCOMPARE(pidsOf(found), (QList<qint64>{100, 105, 107}));
        QCOMPARE(changed.count(), 1);
        for (const UnwatchedBrowser &b : found) {
            if (b.pid == 100) {
                QCOMPARE(b.kind, BrowserKind::Chromium);
                QCOMPARE(b.name, QStringLiteral("Chromium"));
                QCOMPARE(b.profileDir, profiles + QStringLiteral("/a"));
                QCOMPARE(b.startTime, quint64(1000));
            } else if (b.pid == 105) {
                QCOMPARE(b.name, QStringLiteral("Google Chrome"));
                QCOMPARE(b.profileDir, profiles + QStringLiteral("/d"));
            } else {
                QCOMPARE(b.name, QStringLiteral("Vivaldi"));
                QCOMPARE(b.profileDir, env->configHome() + QStringLiteral("/vivaldi"));
            }
        }
        // A scan that finds nothing new says nothing.
        discovery->scan();
        QCOMPARE(changed.count(), 1);
    }

    void onlyThisDesktopsDebuggingBrowsersAreWatched()
    {
        FakeProc proc;
        const QString here = env->home() + QStringLiteral("/here");
        const QString there = env->home() + QStringLiteral("/there");
        QVERIFY(writeFile(here + QStringLiteral("/DevToolsActivePort"), "1111\n/devtools/browser/here"));
        QVERIFY(writeFile(there + QStringLiteral("/DevToolsActivePort"), "2222\n/devtools/browser/there"));
        FakeProc::Process p;
        p.exe = kChromium;
        p.cmdline = spaceJoined({kChromium, "--remote-debugging-port=0", "--user-data-dir=" + there});
        p.environ = environBlock({"DISPLAY=:7"});
        proc.add(200, p);
        p.cmdline = spaceJoined({kChromium, "--remote-debugging-port=0", "--user-data-dir=" + here});
        p.environ = environBlock({"DISPLAY=:5.0"});
        proc.add(201, p);
        auto discovery = makeDiscovery(proc, nullptr);
        discovery->setProfileDirs({});
        QSignalSpy found(discovery.get(), &CdpDiscovery::endpointFound);
        discovery->start();
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).value<CdpEndpoint>().dataDir, here);
        QVERIFY(discovery->unwatchedBrowsers().isEmpty());

        // The one on the other display uses a standard folder after all: then
        // it is this user's, wherever it shows.
        discovery->setProfileDirs({there});
        discovery->scan();
        QCOMPARE(found.count(), 2);
        QCOMPARE(found.at(1).at(0).value<CdpEndpoint>().dataDir, there);
    }

    void aNumberHandedOnToAnotherBrowserProcessIsLookedAtAgain()
    {
        // The kernel hands a freed process number on; a new browser may get
        // the number a helper of the same program had a moment before. The
        // helper was no browser; the newcomer is looked at afresh.
        FakeProc proc;
        const QString dir = env->home() + QStringLiteral("/later");
        QVERIFY(writeFile(dir + QStringLiteral("/DevToolsActivePort"), "5555\n/devtools/browser/later"));
        FakeProc::Process p;
        p.exe = kChromium;
        p.environ = environBlock({"DISPLAY=:5"});
        p.cmdline = spaceJoined({kChromium, "--type=renderer", "--lang=en-US"});
        p.startTime = 1000;
        proc.add(400, p);
        auto discovery = makeDiscovery(proc, nullptr);
        discovery->setProfileDirs({});
        QSignalSpy found(discovery.get(), &CdpDiscovery::endpointFound);
        discovery->start();
        QCOMPARE(found.count(), 0);

        // The same number, the same program, a later start: a browser.
        p.cmdline = spaceJoined({kChromium, "--remote-debugging-port=0", "--user-data-dir=" + dir});
        p.startTime = 2000;
        proc.add(400, p);
        discovery->scan();
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).value<CdpEndpoint>().dataDir, dir);
    }

    void aBlankedBrowserWithoutADisplayIsPlacedByItsParent()
    {
        // A headless browser has no display connection, and once it has blanked
        // its environment only the process that started it still tells where
        // it was started: its parent, when that is the user's own.
        FakeProc proc;
        FakeProc::Process parent;
        parent.exe = QStringLiteral("/usr/bin/bash");
        parent.cmdline = nulJoined({"bash"});
        parent.environ = environBlock({"DISPLAY=:5"});
        proc.add(300, parent); // ours
        parent.environ = environBlock({"DISPLAY=:7"});
        proc.add(301, parent); // another display's
        parent.environ = environBlock({"DISPLAY=:5"});
        parent.uid = ::getuid() + 4242;
        proc.add(302, parent); // another user's, on our display
        FakeProc::Process p;
        p.exe = kChromium;
        for (int i = 0; i < 3; ++i) {
            const QString dir = env->home() + QStringLiteral("/child%1").arg(i);
            QVERIFY(writeFile(dir + QStringLiteral("/DevToolsActivePort"),
                              QByteArray::number(4000 + i) + "\n/devtools/browser/x"));
            p.cmdline =
                spaceJoined({kChromium, "--headless=new", "--remote-debugging-port=0", "--user-data-dir=" + dir});
            p.ppid = 300 + i;
            proc.add(310 + i, p);
        }
        auto discovery = makeDiscovery(proc, nullptr);
        discovery->setProfileDirs({});
        QSignalSpy found(discovery.get(), &CdpDiscovery::endpointFound);
        discovery->start();
        QCOMPARE(found.count(), 1);
        QCOMPARE(found.at(0).at(0).value<CdpEndpoint>().port, quint16(4000));
    }

    void aCommandLineRewrittenAfterStartIsReadAgain()
    {
        FakeProc proc;
        QHash<quint64, QString> peers;
        FakeProc::Process p;
        // Debian's wrapper script first: a shell, not yet the browser.
        p.exe = QStringLiteral("/usr/bin/dash");
        p.cmdline = nulJoined({"/bin/sh", "/usr/bin/chromium", "about:blank"});
        p.environ = environBlock({"DISPLAY=:5"});
        proc.add(300, p);
        // A browser whose display cannot be told yet (blanked environment, no
        // connection yet).
        p.exe = kChromium;
        p.cmdline = spaceJoined({kChromium, "--user-data-dir=/p/late"});
        p.environ.clear();
        proc.add(301, p);
        auto discovery = makeDiscovery(proc, &peers);
        QSignalSpy changed(discovery.get(), &CdpDiscovery::unwatchedChanged);
        discovery->start();
        QVERIFY(discovery->unwatchedBrowsers().isEmpty());

        // The wrapper starts the browser in the same process, which then
        // rewrites its command line; the other one connects to our display.
        proc.add(300, FakeProc::Process{kChromium,
                                        spaceJoined({kChromium, "--user-data-dir=/p/wrapped", "--x"}),
                                        qint64(::getuid()),
                                        1,
                                        QByteArray(),
                                        {77},
                                        QString(),
                                        2000});
        peers.insert(77, QStringLiteral("@/tmp/.X11-unix/X5"));
        proc.addSocket(301, 9, 77);
        discovery->scan();
        QCOMPARE(pidsOf(discovery->unwatchedBrowsers()), (QList<qint64>{300, 301}));
        QCOMPARE(changed.count(), 1);

        // A browser that ends leaves the list.
        proc.remove(300);
        discovery->scan();
        QCOMPARE(pidsOf(discovery->unwatchedBrowsers()), QList<qint64>{301});
        QCOMPARE(changed.count(), 2);
    }

    void anUndecidedBrowserIsLeftAloneAfterAWhile()
    {
        FakeProc proc;
        QHash<quint64, QString> peers;
        FakeProc::Process p;
        p.exe = kChromium;
        p.cmdline = spaceJoined({kChromium, "--user-data-dir=/p/never"});
        proc.add(310, p);
        auto discovery = makeDiscovery(proc, &peers);
        discovery->setUndecidedLimit(100);
        discovery->start();
        QTest::qWait(150);
        discovery->scan(); // over the limit: left alone
        // A display connection that comes later changes nothing any more.
        peers.insert(78, QStringLiteral("@/tmp/.X11-unix/X5"));
        proc.addSocket(310, 9, 78);
        discovery->scan();
        QVERIFY(discovery->unwatchedBrowsers().isEmpty());
    }

    void childrenAndSecondStartsAreNotBrowsersOfTheirOwn()
    {
        FakeProc proc;
        FakeProc::Process p;
        p.exe = kChromium;
        p.environ = environBlock({"DISPLAY=:5"});
        p.cmdline = nulJoined({kChromium, "--user-data-dir=/p/one"});
        proc.add(400, p);
        // Forked by the browser, before it takes its own command line.
        p.ppid = 400;
        proc.add(401, p);
        // A second start on the same profile (it hands over and ends).
        p.ppid = 1;
        proc.add(402, p);
        auto discovery = makeDiscovery(proc, nullptr);
        discovery->start();
        const QList<UnwatchedBrowser> found = discovery->unwatchedBrowsers();
        QCOMPARE(found.size(), 1);
        QVERIFY(found.first().pid == 400 || found.first().pid == 402);
    }

    void boundedWork()
    {
        // More new browsers than one scan examines: the rest come with the
        // next scan, and none is lost or counted twice.
        FakeProc proc;
        const int many = CdpDiscovery::kMaxExaminedPerScan + 40;
        FakeProc::Process p;
        p.exe = kChromium;
        p.environ = environBlock({"DISPLAY=:5"});
        for (int i = 0; i < many; ++i) {
            p.cmdline = nulJoined({kChromium, QStringLiteral("--user-data-dir=/p/%1").arg(i)});
            proc.add(1000 + i, p);
        }
        // A command line far over the bound: read in part, no harm done.
        p.cmdline = QByteArray(kChromium.toUtf8() + ' ' + QByteArray(CdpDiscovery::kMaxCmdlineBytes * 2, 'x'));
        proc.add(5000, p);
        auto discovery = makeDiscovery(proc, nullptr);
        discovery->start();
        const qsizetype first = discovery->unwatchedBrowsers().size();
        QVERIFY(first <= CdpDiscovery::kMaxExaminedPerScan);
        discovery->scan();
        QCOMPARE(discovery->unwatchedBrowsers().size(), many + 1);
        QSet<qint64> distinct;
        for (const UnwatchedBrowser &b : discovery->unwatchedBrowsers())
            distinct.insert(b.pid);
        QCOMPARE(distinct.size(), many + 1);
    }
};

QTEST_GUILESS_MAIN(TestBrowserScan)
#include "tst_browserscan.moc"
