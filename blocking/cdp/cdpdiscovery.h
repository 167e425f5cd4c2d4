#pragma once
// Finds the browsers that expose the DevTools protocol: the DevToolsActivePort
// file that a Chromium-family browser started with --remote-debugging-port
// writes into its user-data folder. Looked for in the standard per-user profile
// folders and in the user-data folders of running browsers started with that
// switch. File-system notifications give changes at once; a light periodic scan
// catches what notifications miss.
//
// The periodic scan of the process table also finds the browsers of this
// desktop that run WITHOUT the switch (they cannot be watched; the user is told
// about them). Only this user's browser main processes count (helpers, with
// --type=, never do), and only those of this desktop: on our display, or using
// one of the standard profile folders. A browser of another desktop is left
// alone: never watched, never reported.

#include "blocking/browserwatch.h"
#include "blocking/cdp/browserprocesses.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

namespace wendral::cdp {

// One browser's DevTools endpoint as its DevToolsActivePort file names it.
struct CdpEndpoint
{
    QString dataDir;     // the user-data folder, absolute and clean
    quint16 port = 0;    // on the loopback interface
    QString browserPath; // "/devtools/browser/<id>"
    // Identity of the file version this came from, so that a file written
    // again (even with the same text) can be told apart.
    QDateTime modified;
    QByteArray content;

    bool sameAddress(const CdpEndpoint &o) const { return port == o.port && browserPath == o.browserPath; }
};

class CdpDiscovery : public QObject
{
    Q_OBJECT
public:
    explicit CdpDiscovery(QObject *parent = nullptr);

    // The standard profile folders of the Chromium family under
    // $XDG_CONFIG_HOME (default ~/.config).
    static QStringList standardProfileDirs();
    // Reads and checks DIR/DevToolsActivePort. No value when the file is
    // missing, too large, or does not hold a port and a browser path.
    static std::optional<CdpEndpoint> readActivePort(const QString &dataDir);
    // The user-data folder named by the command line of a browser process
    // started with --remote-debugging-port. Child processes (--type=...) and
    // command lines without --user-data-dir give no value. cmdline is the
    // NUL-separated form of /proc/PID/cmdline; a relative folder is taken
    // from cwd.
    static std::optional<QString> dataDirFromCmdline(const QByteArray &cmdline, const QString &cwd);

    // Of a command line, the profile folder it names (--user-data-dir, made
    // absolute from cwd and ~), or none. In a rewritten command line the value
    // may run on into later words: the longest part of it, cut at a space,
    // that is an existing folder is taken, else the whole.
    static std::optional<QString> userDataDir(const BrowserCommandLine &commandLine, const QString &cwd);

    // The standard profile folders: their DevToolsActivePort is always looked
    // at, and a browser using one counts as this desktop's wherever it shows.
    void setProfileDirs(const QStringList &dirs) { m_profileDirs = dirs; }
    // Where process command lines are read from ("" switches the scan off).
    void setProcRoot(const QString &root) { m_procRoot = root; }
    void setScanInterval(int ms) { m_scanTimer.setInterval(ms); }
    // This desktop (default: this process's DISPLAY, WAYLAND_DISPLAY and
    // XDG_RUNTIME_DIR), the user whose browsers count (default: ours), and
    // the config folder under which browsers without --user-data-dir keep
    // their profiles (default: $XDG_CONFIG_HOME).
    void setDesktop(const DesktopIdentity &desktop) { m_desktop = desktop; }
    void setUserId(uint uid) { m_uid = uid; }
    void setConfigHome(const QString &dir) { m_configHome = dir; }
    // Where the peers of unix sockets come from (default: the kernel).
    using SocketPeerReader = std::function<QHash<quint64, QString>()>;
    void setSocketPeerReader(SocketPeerReader reader) { m_socketPeers = std::move(reader); }
    // How long a browser whose desktop cannot be told yet is looked at again
    // before it is left alone.
    void setUndecidedLimit(int ms) { m_undecidedLimitMs = ms; }

    // The browser main processes of this desktop running without the
    // debugging switch, in the order they were found.
    QList<UnwatchedBrowser> unwatchedBrowsers() const { return m_unwatched; }

    // Bounds on what one scan reads from the process table.
    static constexpr int kMaxProcessesPerScan = 32768;
    static constexpr int kMaxExaminedPerScan = 256;
    static constexpr qint64 kMaxCmdlineBytes = 256 * 1024;
    static constexpr qint64 kMaxEnvironBytes = 256 * 1024;
    static constexpr qint64 kMaxStatusBytes = 16 * 1024;
    static constexpr int kMaxOpenFilesLooked = 4096;
    static constexpr int kMaxSockets = 200000;

    void start();
    void stop();
    // Forgets what was seen for a folder, so the next scan reports it again.
    void forget(const QString &dataDir);
    // Runs one scan now.
    void scan();

signals:
    // A DevToolsActivePort file appeared or was written again.
    void endpointFound(const wendral::cdp::CdpEndpoint &endpoint);
    // The list of unwatched browsers changed.
    void unwatchedChanged();

private:
    // What one process is, as far as the scan is concerned.
    struct ProcessRecord
    {
        enum class State
        {
            Ignored,   // not a browser main process of this user, or another desktop's
            Undecided, // looked at again at the next scan
            Watchable, // this desktop's, with the debugging switch: dataDir is watched
            Unwatched, // this desktop's, without the switch
        };
        QByteArray program; // the /proc/PID/exe link when decided: an exec changes it
        // For a browser's program, when the process started: a number the
        // kernel hands on to a new process of the same program (a helper
        // gone, a browser started) tells them apart only by it.
        quint64 startTime = 0;
        State state = State::Undecided;
        QString dataDir;
        UnwatchedBrowser browser;
        QElapsedTimer since; // first seen undecided
    };
    void checkAll(bool processesToo);
    void scanProcesses();
    void examine(int pid, const QByteArray &program, ProcessRecord &record);
    Placement placementOf(const QString &base, bool *socketsRead);
    void rebuildUnwatched();
    void checkDir(const QString &dir);
    void watchDir(const QString &dir);

    QStringList m_profileDirs;
    QString m_procRoot = QStringLiteral("/proc");
    QFileSystemWatcher m_watcher;
    QTimer m_scanTimer;
    // Per folder, the version of its file last reported (or seen and refused).
    QHash<QString, QByteArray> m_seen;
    // Every process seen, while it runs.
    QHash<int, ProcessRecord> m_processes;
    QList<UnwatchedBrowser> m_unwatched;
    DesktopIdentity m_desktop = DesktopIdentity::current();
    uint m_uid;
    QString m_configHome;
    SocketPeerReader m_socketPeers;
    // Per scan: the socket table, read once when some browser needs it.
    std::optional<QHash<quint64, QString>> m_peersThisScan;
    int m_undecidedLimitMs = 10000;
    bool m_running = false;
};

} // namespace wendral::cdp

Q_DECLARE_METATYPE(wendral::cdp::CdpEndpoint)
