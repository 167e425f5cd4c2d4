#include "support/desktopbrowser.h"

#include "blocking/cdp/browserprocesses.h"
#include "support/chromiumharness.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <csignal>
#include <unistd.h>

namespace wendral::test {

namespace {

QByteArray commandLineOf(const QString &pid)
{
    QFile f(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = f.read(256 * 1024);
    text.replace('\0', ' ');
    return ' ' + text + ' ';
}

bool alive(qint64 pid)
{
    if (::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    // A zombie no longer runs.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) != "Z";
}

} // namespace

DesktopChromium::~DesktopChromium()
{
    stop();
}

QStringList quietBrowserFlags()
{
    QStringList flags{QStringLiteral("--no-first-run"),
                      QStringLiteral("--no-default-browser-check"),
                      QStringLiteral("--disable-gpu"),
                      QStringLiteral("--disable-background-networking"),
                      QStringLiteral("--disable-component-update"),
                      QStringLiteral("--disable-sync"),
                      QStringLiteral("--password-store=basic")};
    if (::geteuid() == 0)
        flags.prepend(QStringLiteral("--no-sandbox"));
    return flags;
}

bool DesktopChromium::start(const Options &options, int timeoutMs)
{
    stop();
    m_options = options;
    QStringList args = quietBrowserFlags();
    QString portFile;
    if (!options.profileDir.isEmpty()) {
        QDir().mkpath(options.profileDir);
        args << QStringLiteral("--user-data-dir=") + options.profileDir;
        portFile = options.profileDir + QStringLiteral("/DevToolsActivePort");
        QFile::remove(portFile);
    }
    if (options.debugging)
        args << QStringLiteral("--remote-debugging-port=0");
    args += options.extraArgs;
    args << options.url;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), options.display);
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_since.start();
    m_process->start(ChromiumProcess::executable(), args);
    if (!m_process->waitForStarted(5000))
        return false;
    if (!options.debugging || portFile.isEmpty())
        return true;
    return waitUntil(
        [&] {
            QFile f(portFile);
            if (!f.open(QIODevice::ReadOnly))
                return false;
            const QList<QByteArray> lines = f.readAll().split('\n');
            if (lines.size() < 2 || lines.at(1).trimmed().isEmpty())
                return false;
            m_port = static_cast<quint16>(lines.at(0).trimmed().toUInt());
            m_browserPath = QString::fromLatin1(lines.at(1).trimmed());
            return m_port != 0;
        },
        timeoutMs);
}

qint64 DesktopChromium::pid() const
{
    return m_process ? m_process->processId() : 0;
}

QString DesktopChromium::browserWsUrl() const
{
    return QStringLiteral("ws://127.0.0.1:%1%2").arg(m_port).arg(m_browserPath);
}

void DesktopChromium::stop()
{
    if (!m_process)
        return;
    stopProcess(*m_process);
    m_process.reset();
    if (!m_options.profileDir.isEmpty())
        waitProfileFree(m_options.profileDir);
}

QList<qint64> processesUsingProfile(const QString &profileDir, bool helpers)
{
    QList<qint64> out;
    const QByteArray needle = " --user-data-dir=" + QFile::encodeName(profileDir) + ' ';
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!pid.front().isDigit())
            continue;
        const QByteArray line = commandLineOf(pid);
        if (line.contains(needle) && line.contains(" --type=") == helpers)
            out << pid.toLongLong();
    }
    return out;
}

qint64 profileHolder(const QString &profileDir)
{
    const QString lock = QFileInfo(profileDir + QStringLiteral("/SingletonLock")).symLinkTarget();
    const qint64 pid = lock.section(u'/', -1).section(u'-', -1).toLongLong();
    return pid > 0 && alive(pid) ? pid : 0;
}

bool connectedToPort(qint64 pid, quint16 port)
{
    const QList<quint64> mine = cdp::socketInodes(QStringLiteral("/proc/%1").arg(pid), 4096);
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = f.readAll().split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
            if (fields.size() < 10 || fields.at(3) != "01") // 01: established
                continue;
            const quint16 remote =
                static_cast<quint16>(fields.at(2).mid(fields.at(2).lastIndexOf(':') + 1).toUInt(nullptr, 16));
            if (remote == port && mine.contains(fields.at(9).toULongLong()))
                return true;
        }
    }
    return false;
}

void endProcess(qint64 pid, int graceMs)
{
    if (pid <= 0 || !alive(pid))
        return;
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    if (!waitUntil([&] { return !alive(pid); }, graceMs)) {
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        waitUntil([&] { return !alive(pid); }, 5000);
    }
}

bool waitProfileFree(const QString &profileDir, int timeoutMs)
{
    return waitUntil(
        [&] {
            return processesUsingProfile(profileDir, false).isEmpty() &&
                   processesUsingProfile(profileDir, true).isEmpty();
        },
        timeoutMs);
}

} // namespace wendral::test
