#include "blocking/cdp/cdpchannel.h"

#include <QWebSocket>

namespace wendral::cdp {

WebSocketChannel::WebSocketChannel(const QUrl &url, quint64 maxMessageBytes, QObject *parent)
    : CdpChannel(parent), m_url(url), m_maxMessageBytes(maxMessageBytes)
{}

WebSocketChannel::~WebSocketChannel()
{
    if (!m_socket)
        return;
    // The socket may be the sender of the signal that led here: let it go
    // only when control is back in the event loop.
    m_socket->disconnect(this);
    m_socket->setParent(nullptr);
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void WebSocketChannel::open()
{
    if (m_socket || m_closed)
        return;
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(m_maxMessageBytes);
    m_socket->setMaxAllowedIncomingFrameSize(m_maxMessageBytes);
    connect(m_socket, &QWebSocket::connected, this, [this] {
        m_open = true;
        emit opened();
    });
    connect(m_socket, &QWebSocket::disconnected, this, &WebSocketChannel::onDisconnected);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &CdpChannel::textReceived);
    // Binary messages are not part of the protocol; they are ignored.
    m_socket->open(m_url);
}

void WebSocketChannel::sendText(const QString &text)
{
    if (m_socket && m_open && !m_closed)
        m_socket->sendTextMessage(text);
}

void WebSocketChannel::flush()
{
    if (m_socket && m_open && !m_closed)
        m_socket->flush();
}

void WebSocketChannel::close()
{
    if (m_closed)
        return;
    m_closed = true;
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->flush();
        m_socket->close();
    } else {
        m_socket->abort();
    }
}

void WebSocketChannel::onDisconnected()
{
    if (m_closed)
        return;
    QString reason = QString::fromLatin1(kChannelClosed);
    if (m_socket && m_socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        reason = QString::fromLatin1(kChannelMessageTooLarge);
    else if (m_socket && !m_open)
        reason = QStringLiteral("cannot connect: ") + m_socket->errorString();
    m_closed = true;
    m_socket->disconnect(this);
    m_socket->abort();
    emit closed(reason);
}

} // namespace wendral::cdp
