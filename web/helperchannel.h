#pragma once
// The web helper's ends of the pipes to the program: lines are read from one
// file descriptor and written to another, both without blocking, so that a
// program that stops reading cannot stall the helper. The end of the input
// (the program closed it, or died) is reported once.

#include "core/webprotocol.h"

#include <QByteArray>
#include <QObject>

#include <utility>

class QSocketNotifier;

namespace wendral {

class HelperChannel : public QObject
{
    Q_OBJECT
public:
    // Takes over both descriptors (made non-blocking, closed at the end).
    HelperChannel(int inputFd, int outputFd, QObject *parent = nullptr);
    ~HelperChannel() override;

    // Queues bytes for the output; what the program does not take is kept up
    // to a limit, beyond which new lines are dropped.
    void write(const QByteArray &bytes);
    qsizetype pendingOutput() const { return m_out.size(); }

    // Where the helper's own standard input and output go: the descriptors
    // the channel should use are moved out of the way (close-on-exec, so the
    // engine's processes never hold them) and 0 and 1 are pointed at
    // /dev/null and standard error, so that anything a library prints can
    // never mix with the channel. Returns {input, output}; {-1, -1} on failure.
    static std::pair<int, int> takeStandardStreams();

signals:
    void lineReceived(const QByteArray &line);
    void inputEnded();

private:
    void onReadable();
    void flush();

    int m_inFd;
    int m_outFd;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    LineSplitter m_splitter;
    QByteArray m_out;
    bool m_ended = false;
};

} // namespace wendral
