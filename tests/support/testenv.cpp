#include "support/testenv.h"

#include "core/paths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>
#include <QSettings>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

namespace wendral::test {

TestEnvironment::TestEnvironment()
{
    m_oldHome = qgetenv("HOME");
    const QString root = m_dir.path();
    for (const char *sub : {"config", "data", "cache", "runtime"})
        QDir(root).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", root.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_DATA_HOME", dataHome().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (root + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    Paths::setProgramDir(buildDir());
    Paths::setDataDir(wendralDataDir());
    Paths::setConfigDir(wendralConfigDir());
}

TestEnvironment::~TestEnvironment()
{
    Paths::resetOverrides();
    qputenv("HOME", m_oldHome);
}

QString TestEnvironment::configHome() const
{
    return m_dir.path() + QStringLiteral("/config");
}
QString TestEnvironment::dataHome() const
{
    return m_dir.path() + QStringLiteral("/data");
}
QString TestEnvironment::runtimeDir() const
{
    return m_dir.path() + QStringLiteral("/runtime");
}
QString TestEnvironment::wendralConfigDir() const
{
    return configHome() + QStringLiteral("/Wendral");
}
QString TestEnvironment::wendralDataDir() const
{
    return dataHome() + QStringLiteral("/Wendral");
}

QString TestEnvironment::settingsFile() const
{
    return wendralConfigDir() + QStringLiteral("/Wendral.conf");
}

bool TestEnvironment::seedSettings(const QList<std::pair<QString, QString>> &values) const
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    for (const auto &[key, value] : values)
        settings.setValue(QStringLiteral("Settings/") + key, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

std::optional<QString> TestEnvironment::storedSetting(const QString &key)
{
    const QString copy = home() + QStringLiteral("/read-%1.conf").arg(++m_settingsReads);
    if (!QFile::copy(settingsFile(), copy))
        return std::nullopt;
    const QSettings settings(copy, QSettings::IniFormat);
    const QString full = QStringLiteral("Settings/") + key;
    if (!settings.contains(full))
        return std::nullopt;
    return settings.value(full).toString();
}
QString TestEnvironment::buildDir()
{
    return QStringLiteral(WENDRAL_BUILD_DIR);
}
QString TestEnvironment::programPath()
{
    return buildDir() + QStringLiteral("/wendral");
}

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start(const QString &screen)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    m_process = std::make_unique<QProcess>();
    const int writeEnd = fds[1];
    m_process->setChildProcessModifier([writeEnd]() {
        // The display number comes back on fd 3.
        dup2(writeEnd, 3);
    });
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("3"), QStringLiteral("-noreset"),
                      QStringLiteral("-screen"), QStringLiteral("0"), screen, QStringLiteral("-nolisten"),
                      QStringLiteral("tcp")});
    ::close(fds[1]);
    if (!m_process->waitForStarted(5000)) {
        ::close(fds[0]);
        return false;
    }
    QByteArray number;
    QDeadlineTimer deadline(10000);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    while (!deadline.hasExpired()) {
        char buf[32];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) {
            number.append(buf, n);
            if (number.contains('\n'))
                break;
        } else if (n == 0) {
            break;
        }
        QThread::msleep(10);
    }
    ::close(fds[0]);
    number = number.trimmed();
    if (number.isEmpty()) {
        stop();
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    return true;
}

bool XvfbServer::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

void XvfbServer::stop()
{
    if (!m_process)
        return;
    stopProcess(*m_process);
    m_process.reset();
}

void stopProcess(QProcess &process, int graceMs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(graceMs)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(content) == content.size();
}

QList<qint64> descendantsOf(qint64 pid)
{
    if (pid <= 1)
        return {};
    QMultiHash<qint64, qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 child = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(entry));
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const qsizetype close = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (close > 0 && fields.size() > 1)
            children.insert(fields.at(1).toLongLong(), child);
    }
    QList<qint64> result;
    QList<qint64> queue{pid};
    while (!queue.isEmpty()) {
        const QList<qint64> next = children.values(queue.takeFirst());
        result += next;
        queue += next;
    }
    return result;
}

bool processAlive(qint64 pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    return close > 0 && stat.size() > close + 2 && stat.at(close + 2) != 'Z';
}

} // namespace wendral::test
