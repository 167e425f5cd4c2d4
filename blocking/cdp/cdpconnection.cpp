#include "blocking/cdp/cdpconnection.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace wendral::cdp {

CdpConnection::CdpConnection(const QUrl &url, const CdpLimits &limits, QObject *parent)
    : CdpConnection(new WebSocketChannel(url, limits.maxMessageBytes), limits, parent)
{}

CdpConnection::CdpConnection(CdpChannel *channel, const CdpLimits &limits, QObject *parent)
    : QObject(parent), m_limits(limits), m_channel(channel)
{
    m_channel->setParent(this);
    m_clock.start();
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] { fail(QStringLiteral("connect timed out")); });
    m_deadlineTimer.setSingleShot(true);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &CdpConnection::checkDeadlines);
    connect(m_channel, &CdpChannel::opened, this, [this] {
        m_connectTimer.stop();
        if (m_failed || m_closing)
            return;
        m_open = true;
        emit opened();
    });
    connect(m_channel, &CdpChannel::textReceived, this, &CdpConnection::onText);
    connect(m_channel, &CdpChannel::closed, this, &CdpConnection::onChannelClosed);
}

CdpConnection::~CdpConnection()
{
    if (m_channel)
        m_channel->disconnect(this);
}

void CdpConnection::open()
{
    if (m_started || m_failed || m_closing)
        return;
    m_started = true;
    m_connectTimer.start(m_limits.connectTimeoutMs);
    m_channel->open();
}

int CdpConnection::send(const QString &method, const QJsonObject &params, const QString &sessionId, Reply reply,
                        int timeoutMs)
{
    if (!isOpen() || m_closing)
        return 0;
    if (static_cast<int>(m_pending.size()) >= m_limits.maxPending) {
        // A peer that leaves this many commands unanswered is not working.
        fail(QStringLiteral("too many commands without an answer"));
        return 0;
    }
    const int id = m_nextId++;
    if (m_nextId <= 0 || m_nextId > 0x3fffffff)
        m_nextId = 1;
    QJsonObject msg{{QStringLiteral("id"), id}, {QStringLiteral("method"), method}};
    if (!params.isEmpty())
        msg.insert(QStringLiteral("params"), params);
    if (!sessionId.isEmpty())
        msg.insert(QStringLiteral("sessionId"), sessionId);
    if (timeoutMs < 0)
        timeoutMs = m_limits.commandTimeoutMs;
    Pending p;
    p.sessionId = sessionId;
    p.reply = std::move(reply);
    p.deadline = timeoutMs > 0 ? m_clock.elapsed() + timeoutMs : 0;
    m_pending.emplace(id, std::move(p));
    m_channel->sendText(QString::fromUtf8(QJsonDocument(msg).toJson(QJsonDocument::Compact)));
    armDeadlineTimer();
    return id;
}

void CdpConnection::dropSession(const QString &sessionId)
{
    if (sessionId.isEmpty())
        return;
    std::erase_if(m_pending, [&](const auto &entry) { return entry.second.sessionId == sessionId; });
}

void CdpConnection::flush()
{
    if (isOpen() && !m_closing)
        m_channel->flush();
}

void CdpConnection::close()
{
    if (m_closing)
        return;
    m_closing = true;
    m_connectTimer.stop();
    m_deadlineTimer.stop();
    m_pending.clear();
    m_channel->disconnect(this);
    m_channel->close();
    m_open = false;
}

void CdpConnection::onText(const QString &text)
{
    if (m_failed || m_closing)
        return;
    if (quint64(text.size()) > m_limits.maxMessageBytes) {
        fail(QString::fromLatin1(kChannelMessageTooLarge));
        return;
    }
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return; // unreadable: nothing in it can be acted on, and nothing else depends on it
    const QJsonObject msg = doc.object();
    const QJsonValue idValue = msg.value(QStringLiteral("id"));
    if (idValue.isDouble()) {
        const double raw = idValue.toDouble();
        if (raw < 1 || raw > 0x3fffffff)
            return;
        const auto it = m_pending.find(static_cast<int>(raw));
        if (it == m_pending.end())
            return; // an answer nobody waits for (timed out, dropped, or made up)
        Reply reply = std::move(it->second.reply);
        m_pending.erase(it);
        if (!reply)
            return;
        if (msg.value(QStringLiteral("error")).isObject())
            reply(ReplyStatus::Error, msg.value(QStringLiteral("error")).toObject());
        else
            reply(ReplyStatus::Ok, msg.value(QStringLiteral("result")).toObject());
        return;
    }
    const QJsonValue method = msg.value(QStringLiteral("method"));
    if (!method.isString())
        return;
    emit eventReceived(method.toString(), msg.value(QStringLiteral("params")).toObject(),
                       msg.value(QStringLiteral("sessionId")).toString());
}

void CdpConnection::onChannelClosed(const QString &reason)
{
    if (m_closing)
        return;
    fail(reason);
}

void CdpConnection::fail(const QString &reason)
{
    if (m_failed || m_closing)
        return;
    m_failed = true;
    m_open = false;
    m_connectTimer.stop();
    m_deadlineTimer.stop();
    m_pending.clear();
    m_channel->disconnect(this);
    m_channel->close();
    emit failed(reason);
}

void CdpConnection::armDeadlineTimer()
{
    qint64 next = 0;
    for (const auto &[id, p] : m_pending) {
        if (p.deadline && (!next || p.deadline < next))
            next = p.deadline;
    }
    if (!next) {
        m_deadlineTimer.stop();
        return;
    }
    const qint64 wait = std::max<qint64>(0, next - m_clock.elapsed());
    if (!m_deadlineTimer.isActive() || m_deadlineTimer.remainingTime() > wait)
        m_deadlineTimer.start(static_cast<int>(std::min<qint64>(wait, 1 << 30)));
}

void CdpConnection::checkDeadlines()
{
    const qint64 now = m_clock.elapsed();
    std::vector<Reply> expired;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->second.deadline && it->second.deadline <= now) {
            if (it->second.reply)
                expired.push_back(std::move(it->second.reply));
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    armDeadlineTimer();
    // A handler may close or fail the connection; the expired replies are ours.
    for (auto &reply : expired) {
        if (m_failed || m_closing)
            break;
        reply(ReplyStatus::TimedOut, {});
    }
}

} // namespace wendral::cdp
