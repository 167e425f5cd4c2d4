#pragma once
// Finds the browsers that expose the DevTools protocol: the DevToolsActivePort
// file that a Chromium-family browser started with --remote-debugging-port
// writes into its user-data folder. Looked for in the standard per-user profile
// folders and in the user-data folders of running browsers started with that
// switch. File-system notifications give changes at once; a light periodic scan
// catches what notifications miss.

#include <QByteArray>
#include <QDateTime>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

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

    void setProfileDirs(const QStringList &dirs) { m_profileDirs = dirs; }
    // Where process command lines are read from ("" switches the scan off).
    void setProcRoot(const QString &root) { m_procRoot = root; }
    void setScanInterval(int ms) { m_scanTimer.setInterval(ms); }

    void start();
    void stop();
    // Forgets what was seen for a folder, so the next scan reports it again.
    void forget(const QString &dataDir);
    // Runs one scan now.
    void scan();

signals:
    // A DevToolsActivePort file appeared or was written again.
    void endpointFound(const wendral::cdp::CdpEndpoint &endpoint);

private:
    void checkAll(bool processesToo);
    void scanProcesses();
    void checkDir(const QString &dir);
    void watchDir(const QString &dir);

    QStringList m_profileDirs;
    QString m_procRoot = QStringLiteral("/proc");
    QFileSystemWatcher m_watcher;
    QTimer m_scanTimer;
    // Per folder, the version of its file last reported (or seen and refused).
    QHash<QString, QByteArray> m_seen;
    // Folders found through running processes (kept while the process runs).
    QHash<int, QString> m_procDirs; // pid -> folder ("" for processes that are not of interest)
    bool m_running = false;
};

} // namespace wendral::cdp

Q_DECLARE_METATYPE(wendral::cdp::CdpEndpoint)
