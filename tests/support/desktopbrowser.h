#pragma once
// A Chromium with windows on an X display of the test's, started the way a
// user starts it (no headless mode; with or without the debugging switch), and
// what a test asks about running browser processes: their helpers, the
// process that holds a profile, the TCP connections of a process.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace wendral::test {

class DesktopChromium
{
public:
    struct Options
    {
        QString display;    // ":N"
        QString profileDir; // empty: the default profile of the environment's HOME
        bool debugging = false;
        QStringList extraArgs;
        QString url = QStringLiteral("about:blank");
    };

    DesktopChromium() = default;
    ~DesktopChromium();
    DesktopChromium(const DesktopChromium &) = delete;
    DesktopChromium &operator=(const DesktopChromium &) = delete;

    // Starts it; with debugging, waits until its DevToolsActivePort names a
    // port. since() runs from the moment the process was started.
    bool start(const Options &options, int timeoutMs = 30000);
    // Ends it (and waits until no process of it uses the profile any more).
    void stop();
    qint64 pid() const;
    quint16 port() const { return m_port; }
    QString browserWsUrl() const;
    const QElapsedTimer &since() const { return m_since; }
    QString profileDir() const { return m_options.profileDir; }

private:
    Options m_options;
    std::unique_ptr<QProcess> m_process;
    QElapsedTimer m_since;
    quint16 m_port = 0;
    QString m_browserPath;
};

// The flags every test browser gets (and --no-sandbox as root).
QStringList quietBrowserFlags();
// The processes whose command line names the profile folder, the browser's
// helpers (--type=...) among them or not.
QList<qint64> processesUsingProfile(const QString &profileDir, bool helpers);
// The process that holds a profile (its SingletonLock), 0 when none.
qint64 profileHolder(const QString &profileDir);
// Whether the process has an established TCP connection to 127.0.0.1:port.
bool connectedToPort(qint64 pid, quint16 port);
// Asks a process (not a child of ours) to end, kills it after graceMs, and
// waits until it is gone.
void endProcess(qint64 pid, int graceMs = 5000);
// Waits until no process uses the profile folder any more.
bool waitProfileFree(const QString &profileDir, int timeoutMs = 10000);

} // namespace wendral::test
