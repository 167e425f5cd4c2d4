#include "blocking/cdp/cdpdiscovery.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace wendral::cdp {

Q_DECLARE_LOGGING_CATEGORY(lcCdp)

namespace {

constexpr qint64 kMaxPortFileBytes = 4096;
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
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return f.read(limit);
}

QByteArray readLink(const QString &path)
{
    char target[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return n > 0 && n < ssize_t(sizeof target) ? QByteArray(target, n) : QByteArray();
}

// The number after "Name:" in /proc/PID/status (the first one: the real id).
std::optional<qint64> statusField(const QByteArray &status, const char *name)
{
    const QByteArray key = QByteArray("\n") + name + ':';
    const qsizetype at = (QByteArray("\n") + status).indexOf(key);
    if (at < 0)
        return std::nullopt;
    const qsizetype start = at + key.size() - 1;
    QByteArray rest = status.mid(start);
    rest = rest.left(rest.indexOf('\n')).simplified();
    bool ok = false;
    const qint64 value = rest.split(' ').value(0).toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// Field 22 of /proc/PID/stat: when the process started, in clock ticks.
quint64 startTimeOf(const QByteArray &stat)
{
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields.at(19).toULongLong() : 0;
}

// A running browser links <profile>/SingletonLock to "<host>-<pid>".
bool holdsProfileLock(const QString &profileDir, int pid)
{
    const QByteArray lock = readLink(profileDir + QStringLiteral("/SingletonLock"));
    const qsizetype dash = lock.lastIndexOf('-');
    return dash >= 0 && lock.mid(dash + 1) == QByteArray::number(pid);
}

} // namespace

CdpDiscovery::CdpDiscovery(QObject *parent)
    : QObject(parent), m_profileDirs(standardProfileDirs()), m_uid(::getuid()), m_configHome(configHome()),
      m_socketPeers([] { return readUnixSocketPeers(kMaxSockets); })
{
    qRegisterMetaType<wendral::cdp::CdpEndpoint>();
    qRegisterMetaType<wendral::UnwatchedBrowser>();
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
    const BrowserCommandLine commandLine = BrowserCommandLine::parse(cmdline);
    if (commandLine.isHelper() || !commandLine.has(QLatin1String("remote-debugging-port")))
        return std::nullopt;
    return userDataDir(commandLine, cwd);
}

std::optional<QString> CdpDiscovery::userDataDir(const BrowserCommandLine &commandLine, const QString &cwd)
{
    const std::optional<QString> given = commandLine.value(QLatin1String("user-data-dir"));
    if (!given || given->trimmed().isEmpty())
        return std::nullopt;
    auto absolute = [&](QString dir) -> std::optional<QString> {
        if (dir.startsWith(QLatin1String("~/")))
            dir = QDir::homePath() + dir.mid(1);
        if (QDir::isRelativePath(dir)) {
            if (cwd.isEmpty())
                return std::nullopt;
            dir = cwd + QLatin1Char('/') + dir;
        }
        return QDir::cleanPath(dir);
    };
    if (commandLine.rewritten) {
        // "--user-data-dir=/home/u/My Profile about:blank": the folder is the
        // longest beginning, cut at a space, that exists.
        QString candidate = *given;
        for (;;) {
            const auto dir = absolute(candidate);
            if (dir && QFileInfo(*dir).isDir())
                return dir;
            const qsizetype space = candidate.lastIndexOf(u' ');
            if (space <= 0)
                break;
            candidate.truncate(space);
        }
    }
    return absolute(*given);
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
    for (const ProcessRecord &r : std::as_const(m_processes)) {
        if (r.state == ProcessRecord::State::Watchable && !r.dataDir.isEmpty())
            dirs.insert(r.dataDir);
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
    m_peersThisScan.reset();
    QSet<int> alive;
    bool complete = true;
    int listed = 0;
    int examined = 0;
    QDirIterator entries(m_procRoot, QDir::Dirs | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        bool ok = false;
        const int pid = entries.fileName().toInt(&ok);
        if (!ok || pid <= 0)
            continue;
        if (++listed > kMaxProcessesPerScan) {
            complete = false; // the rest waits; nothing is forgotten meanwhile
            break;
        }
        alive.insert(pid);
        const QByteArray program = readLink(entries.filePath() + QStringLiteral("/exe"));
        auto record = m_processes.find(pid);
        if (record != m_processes.end()) {
            if (record->program != program)
                *record = ProcessRecord{}; // it started another program
            else if (record->startTime != 0 &&
                     startTimeOf(readSmall(entries.filePath() + QStringLiteral("/stat"), 4096)) != record->startTime)
                *record = ProcessRecord{}; // another process of the same program
            else if (record->state != ProcessRecord::State::Undecided)
                continue;
        }
        if (examined >= kMaxExaminedPerScan)
            continue; // looked at by a later scan
        ++examined;
        if (record == m_processes.end())
            record = m_processes.insert(pid, ProcessRecord{});
        examine(pid, program, *record);
    }
    if (complete) {
        for (auto it = m_processes.begin(); it != m_processes.end();) {
            if (!alive.contains(it.key()))
                it = m_processes.erase(it);
            else
                ++it;
        }
    }
    rebuildUnwatched();
}

void CdpDiscovery::examine(int pid, const QByteArray &program, ProcessRecord &record)
{
    using State = ProcessRecord::State;
    const QString base = m_procRoot + QLatin1Char('/') + QString::number(pid);
    record.program = program;
    auto decide = [&record](State state) { record.state = state; };
    // Looked at again by the next scans, for a while.
    auto undecided = [this, &record](bool timeLimited) {
        if (!record.since.isValid())
            record.since.start();
        record.state = timeLimited && record.since.elapsed() >= m_undecidedLimitMs ? State::Ignored : State::Undecided;
    };

    // Most processes are no browser at all: their program says so.
    const QString programPath = QFile::decodeName(program);
    std::optional<BrowserKind> kind;
    if (!program.isEmpty()) {
        kind = browserKindOfProgram(programPath);
        if (!kind)
            return decide(State::Ignored);
        record.startTime = startTimeOf(readSmall(base + QStringLiteral("/stat"), 4096));
    }

    const QByteArray status = readSmall(base + QStringLiteral("/status"), kMaxStatusBytes);
    const qint64 uid = statusField(status, "Uid").value_or(qint64(QFileInfo(base).ownerId()));
    if (uid != qint64(m_uid))
        return decide(State::Ignored);

    const BrowserCommandLine commandLine =
        BrowserCommandLine::parse(readSmall(base + QStringLiteral("/cmdline"), kMaxCmdlineBytes));
    if (commandLine.program.isEmpty()) {
        // No program and no command line: a kernel thread, or a process that
        // is ending; a program without one yet: a process being born.
        if (program.isEmpty())
            return decide(State::Ignored);
        return undecided(true);
    }
    if (!kind)
        kind = browserKindOfProgram(commandLine.program);
    if (!kind || commandLine.isHelper())
        return decide(State::Ignored);
    const bool debugging = commandLine.has(QLatin1String("remote-debugging-port"));
    // Driven by another program through a pipe: not the user's browser.
    if (!debugging && commandLine.has(QLatin1String("remote-debugging-pipe")))
        return decide(State::Ignored);

    // A child the browser has forked and that has not yet taken a command line
    // of its own (or a browser that restarts itself and waits for the old one
    // to go): the same program as its parent.
    const qint64 parent = statusField(status, "PPid").value_or(0);
    if (parent > 1 && !program.isEmpty() &&
        readLink(m_procRoot + QLatin1Char('/') + QString::number(parent) + QStringLiteral("/exe")) == program)
        return undecided(false);

    const QByteArray environRaw = readSmall(base + QStringLiteral("/environ"), kMaxEnvironBytes);
    const QHash<QByteArray, QByteArray> environment = parseEnvironment(environRaw);
    QString dataDir =
        userDataDir(commandLine, QFileInfo(base + QStringLiteral("/cwd")).symLinkTarget()).value_or(QString());
    // Whether dataDir is known to be the folder this browser uses.
    bool folderKnown = true;
    if (dataDir.isEmpty()) {
        // The browser's default profile, under its own config folder where its
        // environment tells it, else (a blanked environment) presumably under
        // ours: then only the profile's lock, which names the browser's
        // process, says it really is that folder.
        QString config = QFile::decodeName(environment.value("XDG_CONFIG_HOME"));
        if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
            const QString home = QFile::decodeName(environment.value("HOME"));
            config = environment.isEmpty() || home.isEmpty() ? m_configHome : home + QStringLiteral("/.config");
        }
        dataDir = QDir::cleanPath(config + QLatin1Char('/') +
                                  defaultProfileFolder(*kind, program.isEmpty() ? commandLine.program : programPath));
        folderKnown = !environment.isEmpty() || holdsProfileLock(dataDir, pid);
    }

    // This desktop's? A standard profile folder says so at once; else the
    // display it shows on.
    Placement placement = Placement::ThisDesktop;
    if (!folderKnown || !m_profileDirs.contains(dataDir)) {
        if (!environment.isEmpty()) {
            placement = placementByEnvironment(DesktopIdentity::fromEnvironment(environment), m_desktop);
        } else {
            const QList<quint64> sockets = socketInodes(base, kMaxOpenFilesLooked);
            QStringList peers;
            if (!sockets.isEmpty()) {
                if (!m_peersThisScan)
                    m_peersThisScan = m_socketPeers ? m_socketPeers() : QHash<quint64, QString>();
                for (const quint64 inode : sockets) {
                    const QString peer = m_peersThisScan->value(inode);
                    if (!peer.isEmpty())
                        peers << peer;
                }
            }
            placement = placementBySocketPeers(peers, m_desktop);
            // A browser without a display connection (headless, or not yet
            // connected) and with its environment blanked: the environment it
            // was started with is still its parent's, when the parent is ours.
            // Only a match counts: a browser that has not connected yet may
            // still show on our display whoever started it.
            if (placement == Placement::Unknown && parent > 1) {
                const QString parentBase = m_procRoot + QLatin1Char('/') + QString::number(parent);
                const QByteArray parentStatus = readSmall(parentBase + QStringLiteral("/status"), kMaxStatusBytes);
                const auto parentEnvironment =
                    parseEnvironment(readSmall(parentBase + QStringLiteral("/environ"), kMaxEnvironBytes));
                if (statusField(parentStatus, "Uid") == qint64(m_uid) && !parentEnvironment.isEmpty() &&
                    placementByEnvironment(DesktopIdentity::fromEnvironment(parentEnvironment), m_desktop) ==
                        Placement::ThisDesktop)
                    placement = Placement::ThisDesktop;
            }
        }
    }
    if (placement == Placement::OtherDesktop) {
        qCDebug(lcCdp) << "browser process" << pid << "of another desktop:" << dataDir;
        return decide(State::Ignored);
    }
    if (placement == Placement::Unknown)
        return undecided(true); // its display connection may come a moment later

    if (debugging) {
        qCDebug(lcCdp) << "browser process" << pid << "with a debugging port:" << dataDir;
        record.dataDir = dataDir;
        return decide(State::Watchable);
    }
    // A browser without windows shows no popups.
    if (commandLine.has(QLatin1String("headless")))
        return decide(State::Ignored);
    // A second start on a profile that a running browser holds hands its
    // arguments over and ends: not a browser of its own.
    for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it) {
        if (it.key() != pid && it->dataDir == dataDir &&
            (it->state == State::Unwatched || it->state == State::Watchable))
            return undecided(true);
    }
    record.dataDir = dataDir;
    record.browser.pid = pid;
    record.browser.startTime =
        record.startTime ? record.startTime : startTimeOf(readSmall(base + QStringLiteral("/stat"), 4096));
    record.browser.kind = *kind;
    record.browser.name = browserKindName(*kind);
    record.browser.profileDir = dataDir;
    decide(State::Unwatched);
}

void CdpDiscovery::rebuildUnwatched()
{
    QList<UnwatchedBrowser> now;
    // Those already listed keep their place; new ones follow.
    for (const UnwatchedBrowser &b : std::as_const(m_unwatched)) {
        const auto it = m_processes.constFind(int(b.pid));
        if (it != m_processes.cend() && it->state == ProcessRecord::State::Unwatched && it->browser.sameProcess(b))
            now << b;
    }
    for (const ProcessRecord &r : std::as_const(m_processes)) {
        if (r.state != ProcessRecord::State::Unwatched)
            continue;
        if (std::none_of(now.begin(), now.end(), [&](const UnwatchedBrowser &b) { return b.sameProcess(r.browser); }))
            now << r.browser;
    }
    if (now == m_unwatched)
        return;
    m_unwatched = now;
    emit unwatchedChanged();
}

} // namespace wendral::cdp
