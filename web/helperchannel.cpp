#include "web/helperchannel.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace wendral {
namespace {

constexpr qsizetype kMaxPendingOutput = 1024 * 1024;

void makeNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

} // namespace

HelperChannel::HelperChannel(int inputFd, int outputFd, QObject *parent)
    : QObject(parent), m_inFd(inputFd), m_outFd(outputFd)
{
    if (m_inFd >= 0) {
        makeNonBlocking(m_inFd);
        m_readNotifier = new QSocketNotifier(m_inFd, QSocketNotifier::Read, this);
        connect(m_readNotifier, &QSocketNotifier::activated, this, &HelperChannel::onReadable);
    }
    if (m_outFd >= 0) {
        makeNonBlocking(m_outFd);
        m_writeNotifier = new QSocketNotifier(m_outFd, QSocketNotifier::Write, this);
        m_writeNotifier->setEnabled(false);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, &HelperChannel::flush);
    }
}

HelperChannel::~HelperChannel()
{
    delete m_readNotifier;
    delete m_writeNotifier;
    if (m_inFd >= 0)
        ::close(m_inFd);
    if (m_outFd >= 0)
        ::close(m_outFd);
}

std::pair<int, int> HelperChannel::takeStandardStreams()
{
    const int input = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    const int output = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (input < 0 || output < 0) {
        if (input >= 0)
            ::close(input);
        if (output >= 0)
            ::close(output);
        return {-1, -1};
    }
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::close(null);
    }
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    return {input, output};
}

void HelperChannel::onReadable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_inFd, buffer, sizeof buffer);
        if (n > 0) {
            const QList<QByteArray> lines = m_splitter.feed(QByteArray(buffer, static_cast<qsizetype>(n)));
            for (const QByteArray &line : lines)
                emit lineReceived(line);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // End of input (0) or an error that will not go away.
        m_readNotifier->setEnabled(false);
        if (!m_ended) {
            m_ended = true;
            emit inputEnded();
        }
        return;
    }
}

void HelperChannel::write(const QByteArray &bytes)
{
    if (m_outFd < 0)
        return;
    if (m_out.size() + bytes.size() > kMaxPendingOutput)
        return; // the program has not read for a long time; it will restart us
    m_out += bytes;
    flush();
}

void HelperChannel::flush()
{
    while (!m_out.isEmpty()) {
        const ssize_t n = ::write(m_outFd, m_out.constData(), static_cast<size_t>(m_out.size()));
        if (n > 0) {
            m_out.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        // The program is gone (EPIPE): nothing more can be told.
        m_out.clear();
        break;
    }
    m_writeNotifier->setEnabled(false);
}

} // namespace wendral
