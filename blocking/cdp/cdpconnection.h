#pragma once
// One DevTools-protocol connection to one browser, on the UI thread's event
// loop: numbered commands with replies, events, time-outs, and hard limits on
// what a misbehaving peer can make us hold. It runs on a channel (a WebSocket
// in the program; see cdpchannel.h).

#include "blocking/cdp/cdpchannel.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <map>

namespace wendral::cdp {

struct CdpLimits
{
    // Largest message accepted from a browser. A page can make the browser send
    // big messages (console output, long addresses); beyond this the peer is
    // treated as broken and dropped. The WebSocket counts the bytes of a
    // message; a channel without that check has its text held to the same
    // number of UTF-16 units here (never stricter: no text has fewer UTF-8
    // bytes than UTF-16 units).
    quint64 maxMessageBytes = 32 * 1024 * 1024;
    // Commands waiting for an answer at once; more means the peer stopped
    // answering, and the connection is dropped.
    int maxPending = 4096;
    // Time for the socket and the WebSocket handshake.
    int connectTimeoutMs = 3000;
    // Default time to wait for an answer before giving up on it.
    int commandTimeoutMs = 15000;
};

enum class ReplyStatus
{
    Ok,
    Error,
    TimedOut
};

class CdpConnection : public QObject
{
    Q_OBJECT
public:
    // Called once per command: with the result on success, with the error
    // object on a protocol error, with nothing on a time-out. Not called when
    // the connection fails or the session is dropped.
    using Reply = std::function<void(ReplyStatus status, const QJsonObject &resultOrError)>;

    // On a WebSocket to url.
    CdpConnection(const QUrl &url, const CdpLimits &limits, QObject *parent = nullptr);
    // On a channel of the caller's; the connection takes it over.
    CdpConnection(CdpChannel *channel, const CdpLimits &limits, QObject *parent = nullptr);
    ~CdpConnection() override;

    void open();
    bool isOpen() const { return m_open && !m_failed; }
    bool hasFailed() const { return m_failed; }
    QString description() const { return m_channel ? m_channel->description() : QString(); }

    // Sends a command, to the browser itself or to one attached session.
    // Returns its id, or 0 when it was not sent (not open, or too many
    // commands already wait). A time-out of 0 waits for ever (until the
    // session is dropped); a negative one takes the default.
    int send(const QString &method, const QJsonObject &params = {}, const QString &sessionId = {}, Reply reply = {},
             int timeoutMs = -1);
    int pendingCount() const { return static_cast<int>(m_pending.size()); }
    bool isPending(int id) const { return m_pending.count(id) != 0; }
    // Forgets every answer still awaited from a session that has gone.
    void dropSession(const QString &sessionId);

    // Pushes what is buffered to the operating system now, without waiting.
    void flush();
    // Ends the connection without emitting failed().
    void close();

signals:
    void opened();
    void eventReceived(const QString &method, const QJsonObject &params, const QString &sessionId);
    // Emitted once when the connection cannot be made or is lost; the object
    // sends nothing afterwards.
    void failed(const QString &reason);

private:
    struct Pending
    {
        QString sessionId;
        Reply reply;
        qint64 deadline = 0; // ms on m_clock; 0 = none
    };

    void onText(const QString &text);
    void onChannelClosed(const QString &reason);
    void fail(const QString &reason);
    void checkDeadlines();
    void armDeadlineTimer();

    CdpLimits m_limits;
    CdpChannel *m_channel = nullptr; // a child
    bool m_started = false;
    bool m_open = false;
    bool m_failed = false;
    bool m_closing = false;
    int m_nextId = 1;
    std::map<int, Pending> m_pending;
    QElapsedTimer m_clock;
    QTimer m_connectTimer;
    QTimer m_deadlineTimer;
};

} // namespace wendral::cdp
