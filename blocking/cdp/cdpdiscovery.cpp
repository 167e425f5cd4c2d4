#include "blocking/cdp/cdpdiscovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace wendral::cdp {

namespace {

constexpr qint64 kMaxPortFileBytes = 4096;
constexpr qint64 kMaxCmdlineBytes = 256 * 1024;
const QString kPortFile = QStringLiteral("DevToolsActivePort");

QString configHome()
{
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        home = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(home);
}

bool isBrowserPath(const QString &path)
{
    static const QString prefix = QStringLiteral("/devtools/browser/");
    if (!path.startsWith(prefix) || path.size() == prefix.size() || path.size() > 200)
        return false;
    for (const QChar c : path.mid(prefix.size())) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'_')
            return false;
    }
    return true;
}

QByteArray readSmall(const QString &path, qint64 limit)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(limit);
}

} // namespace

CdpDiscovery::CdpDiscovery(QObject *parent) : QObject(parent), m_profileDirs(standardProfileDirs())
{
    qRegisterMetaType<wendral::cdp::CdpEndpoint>();
    m_scanTimer.setInterval(500);
    connect(&m_scanTimer, &QTimer::timeout, this, &CdpDiscovery::scan);
    // A change in a watched folder: look at the files again, but leave the
    // process list to the timer (browsers write into their folders often).
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { checkAll(false); });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this,
            [this](const QString &file) { checkDir(QFileInfo(file).absolutePath()); });
}

QStringList CdpDiscovery::standardProfileDirs()
{
    const QString base = configHome();
    QStringList dirs;
    for (const char *name :
         {"chromium", "google-chrome", "google-chrome-beta", "google-chrome-unstable", "microsoft-edge",
          "microsoft-edge-beta", "microsoft-edge-dev", "BraveSoftware/Brave-Browser", "vivaldi"})
        dirs << base + QLatin1Char('/') + QLatin1String(name);
    return dirs;
}

std::optional<CdpEndpoint> CdpDiscovery::readActivePort(const QString &dataDir)
{
    const QString path = dataDir + QLatin1Char('/') + kPortFile;
    QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxPortFileBytes)
        return std::nullopt;
    const QByteArray content = readSmall(path, kMaxPortFileBytes + 1);
    if (content.isEmpty() || content.size() > kMaxPortFileBytes)
        return std::nullopt;
    const QList<QByteArray> lines = content.split('\n');
    if (lines.size() < 2)
        return std::nullopt;
    bool ok = false;
    const uint port = lines.at(0).trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    const QString browserPath = QString::fromLatin1(lines.at(1).trimmed());
    if (!isBrowserPath(browserPath))
        return std::nullopt;
    CdpEndpoint ep;
    ep.dataDir = QDir::cleanPath(QFileInfo(dataDir).absoluteFilePath());
    ep.port = static_cast<quint16>(port);
    ep.browserPath = browserPath;
    ep.modified = info.lastModified();
    ep.content = content;
    return ep;
}

std::optional<QString> CdpDiscovery::dataDirFromCmdline(const QByteArray &cmdline, const QString &cwd)
{
    const QList<QByteArray> args = cmdline.split('\0');
    bool debugging = false;
    QString dataDir;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QByteArray &a = args.at(i);
        if (a.startsWith("--type="))
            return std::nullopt; // a renderer, GPU or utility child of the browser
        if (a.startsWith("--remote-debugging-port"))
            debugging = true;
        else if (a.startsWith("--user-data-dir="))
            dataDir = QFile::decodeName(a.mid(int(sizeof("--user-data-dir=")) - 1));
    }
    if (!debugging || dataDir.isEmpty())
        return std::nullopt;
    if (dataDir.startsWith(QLatin1String("~/")))
        dataDir = QDir::homePath() + dataDir.mid(1);
    if (QDir::isRelativePath(dataDir)) {
        if (cwd.isEmpty())
            return std::nullopt;
        dataDir = cwd + QLatin1Char('/') + dataDir;
    }
    return QDir::cleanPath(dataDir);
}

void CdpDiscovery::start()
{
    if (m_running)
        return;
    m_running = true;
    scan();
    m_scanTimer.start();
}

void CdpDiscovery::stop()
{
    m_running = false;
    m_scanTimer.stop();
    const QStringList watched = m_watcher.directories() + m_watcher.files();
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
}

void CdpDiscovery::forget(const QString &dataDir)
{
    m_seen.remove(dataDir);
}

void CdpDiscovery::watchDir(const QString &dir)
{
    if (!m_running)
        return;
    // Watch the nearest folder that exists, so that a profile folder created
    // later (a browser's first start) is noticed too.
    QString d = dir;
    while (!d.isEmpty() && !QFileInfo(d).isDir()) {
        const QString up = QFileInfo(d).absolutePath();
        if (up == d)
            return;
        d = up;
    }
    if (!d.isEmpty() && !m_watcher.directories().contains(d))
        m_watcher.addPath(d);
    const QString file = dir + QLatin1Char('/') + kPortFile;
    if (d == dir && QFileInfo::exists(file) && !m_watcher.files().contains(file))
        m_watcher.addPath(file);
}

void CdpDiscovery::scan()
{
    checkAll(true);
}

void CdpDiscovery::checkAll(bool processesToo)
{
    if (!m_running)
        return;
    if (processesToo && !m_procRoot.isEmpty())
        scanProcesses();
    QSet<QString> dirs(m_profileDirs.begin(), m_profileDirs.end());
    for (const QString &d : std::as_const(m_procDirs)) {
        if (!d.isEmpty())
            dirs.insert(d);
    }
    for (const QString &d : std::as_const(dirs)) {
        watchDir(d);
        checkDir(d);
    }
}

void CdpDiscovery::checkDir(const QString &dir)
{
    if (!m_running)
        return;
    const QString clean = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    const QString file = clean + QLatin1Char('/') + kPortFile;
    QFileInfo info(file);
    if (!info.isFile()) {
        m_seen.remove(clean);
        return;
    }
    // Cheap check first: the time and size say whether the file changed.
    struct stat st
    {
    };
    const QByteArray local = QFile::encodeName(file);
    if (::stat(local.constData(), &st) != 0)
        return;
    const QByteArray stamp = QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
                             QByteArray::number(qint64(st.st_mtim.tv_nsec)) + '/' +
                             QByteArray::number(qint64(st.st_size)) + '/' + QByteArray::number(quint64(st.st_ino));
    const auto it = m_seen.constFind(clean);
    if (it != m_seen.constEnd() && *it == stamp)
        return;
    m_seen.insert(clean, stamp);
    if (auto ep = readActivePort(clean))
        emit endpointFound(*ep);
}

void CdpDiscovery::scanProcesses()
{
    const QDir proc(m_procRoot);
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QSet<int> alive;
    const uint me = ::getuid();
    for (const QString &name : entries) {
        bool ok = false;
        const int pid = name.toInt(&ok);
        if (!ok || pid <= 0)
            continue;
        alive.insert(pid);
        if (m_procDirs.contains(pid))
            continue; // a process's command line is read once
        const QString base = m_procRoot + QLatin1Char('/') + name;
        QString found;
        if (QFileInfo(base).ownerId() == me) {
            const QByteArray cmdline = readSmall(base + QStringLiteral("/cmdline"), kMaxCmdlineBytes);
            if (cmdline.contains("--remote-debugging-port")) {
                const QString cwd = QFileInfo(base + QStringLiteral("/cwd")).symLinkTarget();
                found = dataDirFromCmdline(cmdline, cwd).value_or(QString());
            }
        }
        m_procDirs.insert(pid, found);
    }
    for (auto it = m_procDirs.begin(); it != m_procDirs.end();) {
        if (!alive.contains(it.key()))
            it = m_procDirs.erase(it);
        else
            ++it;
    }
}

} // namespace wendral::cdp
