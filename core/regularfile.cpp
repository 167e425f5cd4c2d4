#include "core/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wendral::RegularFile {
namespace {

// Never blocks on a FIFO that slipped in after the check, never makes a
// terminal the controlling one, never leaks into started programs.
constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports whether the close succeeded (data reached the file).
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const char *data, qint64 size, int *error)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        if (n == 0) {
            *error = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Where a path leads: the regular file to write (the path itself, or the end
// of its links), whether it exists, and its status.
struct Target
{
    Status status = Status::Ok;
    int error = 0;
    QByteArray path;
    bool exists = false;
    struct stat info
    {
    };
};

Target resolveForWriting(const QString &path)
{
    Target t;
    t.path = QFile::encodeName(path);
    struct stat link
    {
    };
    if (::lstat(t.path.constData(), &link) != 0) {
        if (errno == ENOENT) {
            return t; // created where the path says
        }
        t.status = Status::Unwritable;
        t.error = errno;
        return t;
    }
    if (S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(t.path.constData(), resolved)) {
            t.status = errno == ENOENT ? Status::NotRegular : Status::Unwritable;
            t.error = errno;
            return t;
        }
        t.path = QByteArray(resolved);
        if (::lstat(t.path.constData(), &link) != 0) {
            t.status = Status::NotRegular;
            t.error = errno;
            return t;
        }
    }
    if (!S_ISREG(link.st_mode)) {
        t.status = Status::NotRegular;
        return t;
    }
    t.exists = true;
    t.info = link;
    return t;
}

bool makeFolderOf(const QByteArray &path)
{
    return QDir().mkpath(QFileInfo(QFile::decodeName(path)).absolutePath());
}

QByteArray temporaryNameBeside(const QByteArray &target)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash >= 0 ? target.left(slash + 1) : QByteArray();
    const QByteArray name = slash >= 0 ? target.mid(slash + 1) : target;
    return folder + '.' + name + ".new-" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
}

} // namespace

ReadResult read(const QString &path, qint64 maxBytes)
{
    ReadResult r;
    const QByteArray native = QFile::encodeName(path);
    struct stat before
    {
    };
    if (::stat(native.constData(), &before) != 0) {
        r.error = errno;
        struct stat link
        {
        };
        if (errno == ENOENT)
            r.status = ::lstat(native.constData(), &link) == 0 ? Status::NotRegular : Status::Missing;
        else
            r.status = Status::Unreadable;
        return r;
    }
    // Only a regular file is ever opened: opening a device can have effects
    // of its own, and a FIFO or a device can feed data without end.
    if (!S_ISREG(before.st_mode)) {
        r.status = Status::NotRegular;
        return r;
    }
    if (before.st_size > maxBytes) {
        r.status = Status::TooLarge;
        return r;
    }
    Descriptor fd(::open(native.constData(), O_RDONLY | kOpenFlags));
    if (!fd.valid()) {
        r.error = errno;
        r.status = Status::Unreadable;
        return r;
    }
    struct stat opened
    {
    };
    if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || !sameFile(before, opened)) {
        r.status = Status::NotRegular;
        return r;
    }
    QByteArray content;
    content.reserve(static_cast<qsizetype>(opened.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            r.error = errno;
            r.status = Status::Unreadable;
            return r;
        }
        if (n == 0)
            break;
        // A file that grows while it is read is bounded all the same.
        if (content.size() + n > maxBytes) {
            r.status = Status::TooLarge;
            return r;
        }
        content.append(buffer, n);
    }
    r.status = Status::Ok;
    r.content = std::move(content);
    return r;
}

WriteResult replace(const QString &path, const QByteArray &content)
{
    WriteResult w;
    const Target target = resolveForWriting(path);
    if (target.status != Status::Ok) {
        w.status = target.status;
        w.error = target.error;
        return w;
    }
    if (!target.exists && !makeFolderOf(target.path)) {
        w.status = Status::Unwritable;
        w.error = EACCES;
        return w;
    }
    QByteArray temporary;
    int fdNumber = -1;
    for (int attempt = 0; attempt < 16 && fdNumber < 0; ++attempt) {
        temporary = temporaryNameBeside(target.path);
        fdNumber = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0666);
        if (fdNumber < 0 && errno != EEXIST)
            break;
    }
    if (fdNumber < 0) {
        w.status = Status::Unwritable;
        w.error = errno;
        return w;
    }
    Descriptor fd(fdNumber);
    const auto fail = [&](int error) {
        fd.close();
        ::unlink(temporary.constData());
        w.status = Status::Unwritable;
        w.error = error;
        return w;
    };
    int error = 0;
    if (!writeAll(fd.get(), content.constData(), content.size(), &error))
        return fail(error);
    if (target.exists && ::fchmod(fd.get(), target.info.st_mode & 07777) != 0)
        return fail(errno);
    if (::fsync(fd.get()) != 0)
        return fail(errno);
    if (!fd.close())
        return fail(errno);
    // The place must still hold what was checked: the same regular file, or
    // still nothing. Whatever came in between is left alone.
    struct stat now
    {
    };
    const bool present = ::lstat(target.path.constData(), &now) == 0;
    if (present != target.exists || (present && (!S_ISREG(now.st_mode) || !sameFile(now, target.info)))) {
        ::unlink(temporary.constData());
        w.status = Status::NotRegular;
        return w;
    }
    if (::rename(temporary.constData(), target.path.constData()) != 0) {
        error = errno;
        ::unlink(temporary.constData());
        w.status = Status::Unwritable;
        w.error = error;
        return w;
    }
    return w;
}

WriteResult append(const QString &path, const QByteArray &bytes)
{
    WriteResult w;
    const QByteArray native = QFile::encodeName(path);
    struct stat before
    {
    };
    int fdNumber = -1;
    if (::stat(native.constData(), &before) != 0) {
        const int statError = errno;
        struct stat link
        {
        };
        if (statError != ENOENT || ::lstat(native.constData(), &link) == 0) {
            w.status = statError == ENOENT ? Status::NotRegular : Status::Unwritable;
            w.error = statError;
            return w;
        }
        if (!makeFolderOf(native)) {
            w.status = Status::Unwritable;
            w.error = EACCES;
            return w;
        }
        // Created here and now: nothing else may have appeared in its place.
        fdNumber = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | kOpenFlags, 0666);
    } else {
        if (!S_ISREG(before.st_mode)) {
            w.status = Status::NotRegular;
            return w;
        }
        fdNumber = ::open(native.constData(), O_WRONLY | O_APPEND | kOpenFlags);
    }
    if (fdNumber < 0) {
        w.status = errno == ENXIO ? Status::NotRegular : Status::Unwritable;
        w.error = errno;
        return w;
    }
    Descriptor fd(fdNumber);
    struct stat opened
    {
    };
    if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        w.status = Status::NotRegular;
        return w;
    }
    int error = 0;
    if (!writeAll(fd.get(), bytes.constData(), bytes.size(), &error)) {
        // No half line stays behind.
        [[maybe_unused]] const int cut = ::ftruncate(fd.get(), opened.st_size);
        w.status = Status::Unwritable;
        w.error = error;
        return w;
    }
    if (!fd.close()) {
        w.status = Status::Unwritable;
        w.error = errno;
    }
    return w;
}

QString describe(Status status, int error, const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const QString where = QStringLiteral(" (%1)").arg(QDir::toNativeSeparators(path));
    const QString reason = error ? QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)) : QString();
    switch (status) {
    case Status::Ok:
        return {};
    case Status::Missing:
        return name + QStringLiteral(" does not exist") + where;
    case Status::NotRegular:
        return name + QStringLiteral(" is not a regular file, so it is neither read nor written") + where;
    case Status::TooLarge:
        return name + QStringLiteral(" is too large to read") + where;
    case Status::Unreadable:
        return name + QStringLiteral(" cannot be read") + reason + where;
    case Status::Unwritable:
        return name + QStringLiteral(" cannot be written") + reason + where;
    }
    return {};
}

} // namespace wendral::RegularFile
