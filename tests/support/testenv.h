#pragma once
// Test helpers: a private HOME with its own XDG folders and Wendral's folders
// pointed into it, and an Xvfb server on a display it picks itself.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <QList>

#include <memory>
#include <optional>
#include <utility>

namespace wendral::test {

// Creates a temporary HOME with XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME
// and XDG_RUNTIME_DIR inside it, sets those variables for this process (and so
// for the children it starts), and points Paths at them. The program folder is
// the build folder, where the program files are copied.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment &) = delete;
    TestEnvironment &operator=(const TestEnvironment &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString home() const { return m_dir.path(); }
    QString configHome() const;
    QString dataHome() const;
    QString runtimeDir() const;
    // Wendral's own folders inside the above.
    QString wendralConfigDir() const;
    QString wendralDataDir() const;
    // The build folder: the program and its program files.
    static QString buildDir();
    static QString programPath();

    // The settings file of a program started in this environment, written
    // and read from outside it: values under [Settings] before it starts, and
    // a value as the program last stored it (nullopt when absent), read from
    // a fresh copy each time because QSettings caches files by name.
    QString settingsFile() const;
    bool seedSettings(const QList<std::pair<QString, QString>> &values) const;
    std::optional<QString> storedSetting(const QString &key);

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    int m_settingsReads = 0;
};

// An Xvfb server started with -displayfd, so it never takes a fixed number.
class XvfbServer
{
public:
    XvfbServer() = default;
    ~XvfbServer();
    bool start(const QString &screen = QStringLiteral("1280x1024x24"));
    void stop();
    QString display() const { return m_display; } // ":N"
    bool isRunning() const;

private:
    std::unique_ptr<QProcess> m_process;
    QString m_display;
};

// Asks a child process to end, kills it when it does not within graceMs, and
// waits for it either way.
void stopProcess(QProcess &process, int graceMs = 5000);

// Reads a whole file; empty when it is missing.
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &content);

// Every process below pid, read from /proc. None for a pid that is no running
// process's (0 once a QProcess has ended): the processes "below" 0 or 1 would
// be all of them, and a cleanup that kills them would kill the machine's.
QList<qint64> descendantsOf(qint64 pid);
// Running and not a zombie.
bool processAlive(qint64 pid);

} // namespace wendral::test
