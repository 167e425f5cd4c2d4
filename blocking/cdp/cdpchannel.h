#pragma once
// What a DevTools connection runs on: text messages both ways between this
// program and one browser. The program's channel is a WebSocket to the
// browser's loopback port; a test or the fuzz target puts a channel of its own
// in its place, so the engine runs without a socket.

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QWebSocket;

namespace wendral::cdp {

class CdpChannel : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts connecting: opened() follows, or closed() when it cannot be made.
    virtual void open() = 0;
    virtual void sendText(const QString &text) = 0;
    // Hands what is buffered to the operating system now, without waiting.
    virtual void flush() {}
    // Ends the channel quietly: nothing is emitted afterwards.
    virtual void close() = 0;
    // Where it leads, for log messages.
    virtual QString description() const = 0;

signals:
    void opened();
    void textReceived(const QString &text);
    // Emitted at most once, when the channel cannot be made or is lost. The
    // reason is one of the texts below, or "cannot connect: ..." for a
    // channel that never opened.
    void closed(const QString &reason);
};

// Reasons a channel gives when it closes.
inline constexpr char kChannelClosed[] = "connection closed";
inline constexpr char kChannelMessageTooLarge[] = "message too large";

// A WebSocket to a browser's DevTools endpoint. A message larger than
// maxMessageBytes closes it (with kChannelMessageTooLarge).
class WebSocketChannel : public CdpChannel
{
    Q_OBJECT
public:
    WebSocketChannel(const QUrl &url, quint64 maxMessageBytes, QObject *parent = nullptr);
    ~WebSocketChannel() override;

    void open() override;
    void sendText(const QString &text) override;
    void flush() override;
    void close() override;
    QString description() const override { return m_url.toString(); }

private:
    void onDisconnected();

    QUrl m_url;
    quint64 m_maxMessageBytes;
    QWebSocket *m_socket = nullptr;
    bool m_open = false;
    bool m_closed = false;
};

// Makes the channel for one endpoint address ("ws://127.0.0.1:PORT/devtools/
// browser/ID"). The engine takes ownership of what it returns.
using CdpChannelFactory = std::function<CdpChannel *(const QUrl &url, quint64 maxMessageBytes)>;

} // namespace wendral::cdp
