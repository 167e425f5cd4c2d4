#include "support/specialfiles.h"

#include <QFile>
#include <QTest>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace wendral::test {

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool makeNullDeviceNode(const QString &path)
{
    return ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

bool makeSymlink(const QString &target, const QString &link)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

void addSpecialFileRows()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("fifo") << QStringLiteral("fifo");
    QTest::newRow("link to a fifo") << QStringLiteral("link to fifo");
    QTest::newRow("device node") << QStringLiteral("device");
    QTest::newRow("link to a device node") << QStringLiteral("link to device");
    QTest::newRow("link to nothing") << QStringLiteral("dangling link");
}

Placed placeSpecialFile(const QString &kind, const QString &path, const QString &scratch, QString *node)
{
    if (kind.contains(QLatin1String("fifo")) && !makeFifo(scratch))
        return Placed::Failed;
    if (kind.contains(QLatin1String("device")) && !makeNullDeviceNode(scratch))
        return Placed::NoDeviceNodes;
    const bool link = kind.contains(QLatin1String("link"));
    if (link ? !makeSymlink(scratch, path) : !QFile::rename(scratch, path))
        return Placed::Failed;
    *node = link ? scratch : path;
    return Placed::Done;
}

PathKind pathKind(const QString &path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    PathKind kind;
    kind.inode = st.st_ino;
    if (S_ISREG(st.st_mode))
        kind.type = 'f';
    else if (S_ISLNK(st.st_mode))
        kind.type = 'l';
    else if (S_ISFIFO(st.st_mode))
        kind.type = 'p';
    else if (S_ISCHR(st.st_mode))
        kind.type = 'c';
    else if (S_ISDIR(st.st_mode))
        kind.type = 'd';
    else
        kind.type = '?';
    return kind;
}

FifoGuard::FifoGuard(const QString &path, int timeoutMs)
{
    // A writer left blocked by a faulty program gets EPIPE, not a signal that
    // would end the test run.
    std::signal(SIGPIPE, SIG_IGN);
    if (path.isEmpty())
        return;
    const QByteArray native = QFile::encodeName(path);
    m_thread = std::thread([this, native, timeoutMs] {
        std::unique_lock lock(m_mutex);
        if (m_done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_cancelled; }))
            return;
        m_fired = true;
        lock.unlock();
        const int fd = ::open(native.constData(), O_RDWR | O_NONBLOCK);
        if (fd < 0)
            return;
        const QByteArray text = line();
        [[maybe_unused]] const ssize_t written = ::write(fd, text.constData(), size_t(text.size()));
        char sink[4096];
        for (int i = 0; i < 50; ++i) {
            while (::read(fd, sink, sizeof sink) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(fd);
    });
}

FifoGuard::~FifoGuard()
{
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
    }
    m_done.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

namespace {
constexpr quint32 kOverrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);

bool capabilities(__user_cap_data_struct (&data)[2], bool set)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}
} // namespace

PermissionsObeyed::PermissionsObeyed()
{
    if (::geteuid() != 0) {
        m_active = true; // a user obeys them anyway
        return;
    }
    __user_cap_data_struct data[2]{};
    if (!capabilities(data, false))
        return;
    m_saved[0] = data[0].effective;
    m_saved[1] = data[1].effective;
    data[0].effective &= ~kOverrides;
    m_active = capabilities(data, true);
    m_restore = m_active;
}

PermissionsObeyed::~PermissionsObeyed()
{
    if (!m_restore)
        return;
    __user_cap_data_struct data[2]{};
    if (!capabilities(data, false))
        return;
    data[0].effective = m_saved[0];
    data[1].effective = m_saved[1];
    capabilities(data, true);
}

ReadOnlyFolder::ReadOnlyFolder(const QString &path) : m_path(QFile::encodeName(path))
{
    if (::geteuid() != 0) {
        m_done = ::chmod(m_path.constData(), 0555) == 0;
        m_chmod = true;
        return;
    }
    const int fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_IMMUTABLE_FL;
        m_done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0)
        ::close(fd);
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (!m_done)
        return;
    if (m_chmod) {
        ::chmod(m_path.constData(), 0755);
        return;
    }
    const int fd = ::open(m_path.constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0)
        ::close(fd);
}

} // namespace wendral::test
