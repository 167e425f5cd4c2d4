#pragma once
// Files that are not what a program expects, made inside a test's own folders:
// FIFOs, device nodes of the test's own, links to them, files the test process
// may not read (even as root) and folders it may not write. Nothing here
// touches the system's own device nodes.

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace wendral::test {

bool makeFifo(const QString &path);
// A character device node with the numbers of the null device (reading gives
// nothing, writing swallows everything), made at the path: whatever a faulty
// program does to it, the system's own /dev/null is not touched. False where
// device nodes cannot be made (no CAP_MKNOD, a file system mounted nodev).
bool makeNullDeviceNode(const QString &path);
bool makeSymlink(const QString &target, const QString &link);

// The things a file's path can be made to lead to instead of a regular file,
// as QTest data rows of one column, "kind": a FIFO, a device node of the
// test's own, a link to either, and a link to nothing.
void addSpecialFileRows();
// Puts the special file of that kind at path, making the node (or FIFO) at
// scratch when path is to be a link to it. node is what must stay as it is
// (the node, the FIFO, or the missing target of a link to nothing).
enum class Placed
{
    Done,
    NoDeviceNodes, // device nodes cannot be made here: the case is skipped
    Failed,
};
Placed placeSpecialFile(const QString &kind, const QString &path, const QString &scratch, QString *node);

// What is at a path, without following a last link: its type ('f' regular
// file, 'l' link, 'p' FIFO, 'c' character device, 'd' folder, '-' nothing) and
// its inode, so a test can tell that the very same thing is still there.
struct PathKind
{
    char type = '-';
    quint64 inode = 0;
    bool operator==(const PathKind &o) const { return type == o.type && inode == o.inode; }
};
PathKind pathKind(const QString &path);

// Keeps a test from hanging on a FIFO: when the guard still lives after
// timeoutMs, it opens the FIFO both ways (so an open that blocks returns),
// writes one line, drains what was written to it and closes it (so a read
// that blocks ends), and remembers that it had to. An empty path guards nothing.
class FifoGuard
{
public:
    explicit FifoGuard(const QString &path, int timeoutMs = 3000);
    ~FifoGuard();
    FifoGuard(const FifoGuard &) = delete;
    FifoGuard &operator=(const FifoGuard &) = delete;
    bool fired() const { return m_fired; }
    static QByteArray line() { return QByteArrayLiteral("unblocked.example\r\n"); }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_cancelled = false;
    std::atomic<bool> m_fired{false};
    std::thread m_thread;
};

// While it lives, the calling thread's file access obeys the permission bits
// even as root (the capabilities that override them are left out of its
// effective set), so that a file of mode 200 cannot be read, as for a user.
class PermissionsObeyed
{
public:
    PermissionsObeyed();
    ~PermissionsObeyed();
    PermissionsObeyed(const PermissionsObeyed &) = delete;
    PermissionsObeyed &operator=(const PermissionsObeyed &) = delete;
    bool isActive() const { return m_active; }

private:
    bool m_active = false;
    bool m_restore = false;
    quint32 m_saved[2] = {0, 0};
};

// Makes a folder refuse new entries while it lives. Root ignores permission
// bits, so for root the folder is marked immutable instead (existing files stay
// writable, as in a folder without write permission).
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &path);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder &) = delete;
    ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;
    bool isReadOnly() const { return m_done; }

private:
    QByteArray m_path;
    bool m_done = false;
    bool m_chmod = false;
};

} // namespace wendral::test
