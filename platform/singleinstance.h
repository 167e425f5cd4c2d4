#pragma once
// One running copy of the program per user and desktop. The first start holds
// a lock file and listens on a local socket, both in the user's runtime folder
// and named after the display; a later start on the same desktop finds the
// lock taken, asks the first one through the socket to show its main window,
// and ends. A lock left by a copy that was killed does not count.
//
// Qt Core and Qt Network only.

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QTimer;

namespace wendral {

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Claim
    {
        First,       // this is the only copy: the lock is ours and the socket listens
        Running,     // another copy holds the lock: ask it to show, then end
        Unavailable, // no lock could be had (no private folder, file system error)
    };

    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // Tries to become the one copy for this user and desktop. Runs once; later
    // calls return the first answer.
    Claim claim();

    // For Claim::Running: asks the running copy to show its main window and
    // emits showAnswered(true) once it has acknowledged, or showAnswered(false)
    // when it did not within timeoutMs. Asynchronous: needs the event loop.
    void askRunningInstanceToShow(int timeoutMs = 2000);

    // The private folder the lock and socket live in: $XDG_RUNTIME_DIR when it
    // is a folder of this user's that no one else may enter, otherwise a folder
    // of this user's own in the temporary folder (created mode 0700). Empty
    // when neither can be had.
    static QString privateFolder();
    // The desktop this process belongs to, usable in a file name:
    // $WAYLAND_DISPLAY, else $DISPLAY without its screen number, else "none".
    static QString desktopKey();
    // Full paths of the lock file and the socket for the current desktop.
    static QString lockFilePath();
    static QString socketPath();

signals:
    // Another start asked for the main window (first copy only).
    void showRequested();
    // The answer to askRunningInstanceToShow().
    void showAnswered(bool acknowledged);

private:
    void acceptConnections();
    void tryConnect();
    void finishAsking(bool acknowledged);

    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    std::unique_ptr<QLocalSocket> m_client;
    QTimer *m_askDeadline = nullptr;
    QTimer *m_retry = nullptr;
    bool m_claimed = false;
    bool m_asking = false;
    Claim m_claim = Claim::Unavailable;
};

} // namespace wendral
