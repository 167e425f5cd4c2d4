// One copy per user and desktop: the lock and socket names, the private folder
// they live in, a second start in the same process asking the first to show,
// strangers on the socket, and a lock left behind by a copy that was killed
// (a child process: this test binary started again as a lock holder).

#include "platform/singleinstance.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <sys/stat.h>

using namespace wendral;

namespace {

constexpr char kHolderVariable[] = "WENDRAL_TEST_INSTANCE_HOLDER";

// Sets an environment variable for one scope (unset when value is null).
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    QByteArray m_old;
    bool m_had;
};

int modeOf(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// Starts this test binary as a copy of the program that claims the instance
// and reports on stdout ("first", "running", "unavailable", then "show" for
// each request).
class LockHolder
{
public:
    bool start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kHolderVariable), QStringLiteral("1"));
        m_process.setProcessEnvironment(env);
        m_process.setProgram(QCoreApplication::applicationFilePath());
        m_process.start();
        return m_process.waitForStarted(5000) && waitForLine();
    }
    QByteArray lastLine() const { return m_lines.isEmpty() ? QByteArray() : m_lines.last(); }
    bool waitForLine(int timeoutMs = 10000)
    {
        const qsizetype before = m_lines.size();
        return QTest::qWaitFor(
                   [&] {
                       while (m_process.canReadLine())
                           m_lines.append(m_process.readLine().trimmed());
                       return m_lines.size() > before || m_process.state() == QProcess::NotRunning;
                   },
                   timeoutMs) &&
               m_lines.size() > before;
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    ~LockHolder() { test::stopProcess(m_process, 2000); }

private:
    QProcess m_process;
    QList<QByteArray> m_lines;
};

int holdInstance(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // As the program names itself: the lock must still count as held by a
    // live process although the name differs from the executable's.
    QCoreApplication::setApplicationName(QStringLiteral("Wendral"));
    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::First:
        std::puts("first");
        break;
    case SingleInstance::Claim::Running:
        std::puts("running");
        return 0;
    case SingleInstance::Claim::Unavailable:
        std::puts("unavailable");
        return 1;
    }
    std::fflush(stdout);
    QObject::connect(&instance, &SingleInstance::showRequested, [] {
        std::puts("show");
        std::fflush(stdout);
    });
    return app.exec();
}

} // namespace

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void desktopKeyNamesTheDesktop_data();
    void desktopKeyNamesTheDesktop();
    void privateFolderIsTheRuntimeFolderOrAPrivateFallback();
    void secondClaimAsksTheFirstToShow();
    void otherDesktopsAndLaterStartsGetTheirOwnClaim();
    void strangersOnTheSocketAreDropped();
    void aLockWithoutAnAnswerIsReportedWithinTheTimeout();
    void lockOfAKilledCopyDoesNotStopTheNextStart();

private:
    std::unique_ptr<test::TestEnvironment> m_env;
    std::unique_ptr<ScopedEnv> m_display;
    std::unique_ptr<ScopedEnv> m_wayland;
};

void TestSingleInstance::init()
{
    m_env = std::make_unique<test::TestEnvironment>();
    QVERIFY(m_env->isValid());
    m_display = std::make_unique<ScopedEnv>("DISPLAY", QByteArray(":42"));
    m_wayland = std::make_unique<ScopedEnv>("WAYLAND_DISPLAY", QByteArray());
}

void TestSingleInstance::cleanup()
{
    m_wayland.reset();
    m_display.reset();
    m_env.reset();
}

void TestSingleInstance::desktopKeyNamesTheDesktop_data()
{
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<QByteArray>("wayland");
    QTest::addColumn<QString>("key");
    QTest::newRow("local X display") << QByteArray(":0") << QByteArray() << "x11-0";
    QTest::newRow("screen of the same display") << QByteArray(":0.1") << QByteArray() << "x11-0";
    QTest::newRow("remote X display") << QByteArray("localhost:10.0") << QByteArray() << "x11-localhost-10";
    QTest::newRow("wayland wins over its X server") << QByteArray(":0") << QByteArray("wayland-0") << "wayland-0";
    QTest::newRow("wayland socket path") << QByteArray() << QByteArray("/run/user/1000/wayland-1")
                                         << "wayland-_run_user_1000_wayland-1";
    QTest::newRow("no display") << QByteArray() << QByteArray() << "none";
    QTest::newRow("path tricks stay in the folder") << QByteArray("../../etc/x") << QByteArray() << "x11-.._.._etc_x";
}

void TestSingleInstance::desktopKeyNamesTheDesktop()
{
    QFETCH(QByteArray, display);
    QFETCH(QByteArray, wayland);
    QFETCH(QString, key);
    ScopedEnv d("DISPLAY", display);
    ScopedEnv w("WAYLAND_DISPLAY", wayland);
    QCOMPARE(SingleInstance::desktopKey(), key);
    QCOMPARE(SingleInstance::lockFilePath(), m_env->runtimeDir() + "/wendral-" + key + ".lock");
    QCOMPARE(SingleInstance::socketPath(), m_env->runtimeDir() + "/wendral-" + key + ".socket");

    // Long names are cut so that the socket path stays short enough.
    ScopedEnv longName("WAYLAND_DISPLAY", QByteArray(300, 'w'));
    QVERIFY(SingleInstance::desktopKey().size() <= 48);
}

void TestSingleInstance::privateFolderIsTheRuntimeFolderOrAPrivateFallback()
{
    QCOMPARE(SingleInstance::privateFolder(), m_env->runtimeDir());

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    ScopedEnv tmpdir("TMPDIR", tmp.path().toLocal8Bit());
    const QString fallback = tmp.path() + QStringLiteral("/wendral-") + QString::number(::geteuid());

    // A runtime folder others may enter is not used; nor is a missing one.
    QVERIFY(QFile::setPermissions(m_env->runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                           QFile::ReadGroup | QFile::ExeGroup));
    QCOMPARE(SingleInstance::privateFolder(), fallback);
    QCOMPARE(modeOf(fallback), 0700);
    {
        ScopedEnv none("XDG_RUNTIME_DIR", QByteArray());
        QCOMPARE(SingleInstance::privateFolder(), fallback);
        ScopedEnv relative("XDG_RUNTIME_DIR", QByteArray("runtime"));
        QCOMPARE(SingleInstance::privateFolder(), fallback);
    }

    // A fallback someone else prepared is refused: open to others, or a link.
    QVERIFY(::chmod(QFile::encodeName(fallback).constData(), 0755) == 0);
    QCOMPARE(SingleInstance::privateFolder(), QString());
    QVERIFY(QDir(fallback).removeRecursively());
    QVERIFY(QFile::link(m_env->home(), fallback));
    QCOMPARE(SingleInstance::privateFolder(), QString());
    SingleInstance instance;
    QCOMPARE(instance.claim(), SingleInstance::Claim::Unavailable);
    QVERIFY(QFile::remove(fallback));

    QVERIFY(QFile::setPermissions(m_env->runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(SingleInstance::privateFolder(), m_env->runtimeDir());
}

void TestSingleInstance::secondClaimAsksTheFirstToShow()
{
    SingleInstance first;
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    QCOMPARE(first.claim(), SingleInstance::Claim::First);
    QCOMPARE(first.claim(), SingleInstance::Claim::First); // asked again: the same answer
    QVERIFY(QFileInfo::exists(SingleInstance::lockFilePath()));
    // Nobody else may reach the socket.
    const int socketMode = modeOf(SingleInstance::socketPath());
    QVERIFY2(socketMode >= 0, qPrintable(SingleInstance::socketPath()));
    QCOMPARE(socketMode & 077, 0);
    QCOMPARE(modeOf(m_env->runtimeDir()) & 077, 0);

    SingleInstance second;
    QCOMPARE(second.claim(), SingleInstance::Claim::Running);
    QSignalSpy answered(&second, &SingleInstance::showAnswered);
    QElapsedTimer timer;
    timer.start();
    second.askRunningInstanceToShow(5000);
    QVERIFY(answered.wait(5000));
    QCOMPARE(answered.first().first().toBool(), true);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

    // Every later start is answered too.
    SingleInstance third;
    QCOMPARE(third.claim(), SingleInstance::Claim::Running);
    QSignalSpy thirdAnswered(&third, &SingleInstance::showAnswered);
    third.askRunningInstanceToShow(5000);
    QVERIFY(thirdAnswered.wait(5000));
    QCOMPARE(thirdAnswered.first().first().toBool(), true);
    QCOMPARE(shown.size(), 2);
    QTest::qWait(100);
    QCOMPARE(answered.size(), 1); // one answer per question
}

void TestSingleInstance::otherDesktopsAndLaterStartsGetTheirOwnClaim()
{
    auto first = std::make_unique<SingleInstance>();
    QCOMPARE(first->claim(), SingleInstance::Claim::First);
    {
        ScopedEnv other("DISPLAY", QByteArray(":43"));
        SingleInstance onOtherDesktop;
        QCOMPARE(onOtherDesktop.claim(), SingleInstance::Claim::First);
    }
    // The copy on :43 is gone again and took its files with it.
    {
        ScopedEnv other("DISPLAY", QByteArray(":43"));
        QVERIFY(!QFileInfo::exists(SingleInstance::lockFilePath()));
        QVERIFY(!QFileInfo::exists(SingleInstance::socketPath()));
    }
    // A copy that ended normally leaves the way free.
    first.reset();
    QVERIFY(!QFileInfo::exists(SingleInstance::lockFilePath()));
    SingleInstance next;
    QCOMPARE(next.claim(), SingleInstance::Claim::First);
}

void TestSingleInstance::strangersOnTheSocketAreDropped()
{
    SingleInstance first;
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    QCOMPARE(first.claim(), SingleInstance::Claim::First);

    const QList<QByteArray> strangers{"hello\n", "SHOW\n", "show now\n", QByteArray(200, 'x'), QByteArray("\0\n", 2)};
    for (const QByteArray &words : strangers) {
        QLocalSocket stranger;
        stranger.connectToServer(SingleInstance::socketPath());
        QVERIFY(stranger.waitForConnected(2000));
        stranger.write(words);
        QVERIFY(stranger.waitForBytesWritten(2000));
        QSignalSpy gone(&stranger, &QLocalSocket::disconnected);
        QVERIFY2(gone.wait(3000), words.left(20).constData());
        QVERIFY(!stranger.readAll().contains("ok"));
    }
    // One that connects and says nothing is dropped after a while.
    QLocalSocket silent;
    silent.connectToServer(SingleInstance::socketPath());
    QVERIFY(silent.waitForConnected(2000));
    QSignalSpy silentGone(&silent, &QLocalSocket::disconnected);
    QVERIFY(silentGone.wait(5000));
    QCOMPARE(shown.size(), 0);

    // The first copy still answers a real request.
    SingleInstance second;
    QCOMPARE(second.claim(), SingleInstance::Claim::Running);
    QSignalSpy answered(&second, &SingleInstance::showAnswered);
    second.askRunningInstanceToShow(3000);
    QVERIFY(answered.wait(5000));
    QCOMPARE(answered.first().first().toBool(), true);
    QCOMPARE(shown.size(), 1);
}

void TestSingleInstance::aLockWithoutAnAnswerIsReportedWithinTheTimeout()
{
    // A live holder (this process) that never listens: a hung first copy.
    QLockFile held(SingleInstance::lockFilePath());
    QVERIFY(held.tryLock(0));
    SingleInstance second;
    QCOMPARE(second.claim(), SingleInstance::Claim::Running);
    QSignalSpy answered(&second, &SingleInstance::showAnswered);
    QElapsedTimer timer;
    timer.start();
    second.askRunningInstanceToShow(600);
    QVERIFY(answered.wait(5000));
    QCOMPARE(answered.first().first().toBool(), false);
    QVERIFY2(timer.elapsed() >= 550 && timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QTest::qWait(300);
    QCOMPARE(answered.size(), 1);
}

void TestSingleInstance::lockOfAKilledCopyDoesNotStopTheNextStart()
{
    LockHolder holder;
    QVERIFY(holder.start());
    QCOMPARE(holder.lastLine(), QByteArray("first"));

    // While it lives, it is the running copy and answers.
    {
        SingleInstance second;
        QCOMPARE(second.claim(), SingleInstance::Claim::Running);
        QSignalSpy answered(&second, &SingleInstance::showAnswered);
        second.askRunningInstanceToShow(5000);
        QVERIFY(answered.wait(6000));
        QCOMPARE(answered.first().first().toBool(), true);
        QVERIFY(holder.waitForLine());
        QCOMPARE(holder.lastLine(), QByteArray("show"));
    }

    // Killed: its lock file and socket file stay behind.
    holder.kill();
    QVERIFY(QFileInfo::exists(SingleInstance::lockFilePath()));
    QVERIFY(QFileInfo::exists(SingleInstance::socketPath()));

    SingleInstance next;
    QSignalSpy shown(&next, &SingleInstance::showRequested);
    QCOMPARE(next.claim(), SingleInstance::Claim::First);
    qint64 pid = 0;
    QString hostname, appname;
    QVERIFY(QLockFile(SingleInstance::lockFilePath()).getLockInfo(&pid, &hostname, &appname));
    QCOMPARE(pid, QCoreApplication::applicationPid());

    // And it listens again where the killed copy's socket was.
    SingleInstance later;
    QCOMPARE(later.claim(), SingleInstance::Claim::Running);
    QSignalSpy answered(&later, &SingleInstance::showAnswered);
    later.askRunningInstanceToShow(3000);
    QVERIFY(answered.wait(5000));
    QCOMPARE(answered.first().first().toBool(), true);
    QCOMPARE(shown.size(), 1);
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(kHolderVariable))
        return holdInstance(argc, argv);
    QCoreApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
