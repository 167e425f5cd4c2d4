#include "support/chromiumharness.h"
#include "support/testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QWebSocket>

#include <csignal>
#include <unistd.h>

namespace wendral::test {

bool waitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() >= timeoutMs)
            return pred();
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// ---------------------------------------------------------------- HttpCounter

HttpCounter::HttpCounter()
{
    m_clock.start();
    connect(&m_server, &QTcpServer::newConnection, this, &HttpCounter::onConnection);
}

bool HttpCounter::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString HttpCounter::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void HttpCounter::setPage(const QString &path, const QByteArray &html)
{
    m_pages.insert(path, html);
}

void HttpCounter::reset()
{
    m_counts.clear();
    m_first.clear();
}

void HttpCounter::onConnection()
{
    while (QTcpSocket *sock = m_server.nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(sock, &QTcpSocket::disconnected, sock, &QObject::deleteLater);
        connect(sock, &QTcpSocket::readyRead, sock, [this, sock, buffer] {
            buffer->append(sock->readAll());
            if (!buffer->contains("\r\n\r\n")) {
                if (buffer->size() > 65536)
                    sock->abort();
                return;
            }
            const QByteArray line = buffer->left(buffer->indexOf("\r\n"));
            buffer->clear();
            const QList<QByteArray> parts = line.split(' ');
            QString path = parts.size() >= 2 ? QString::fromLatin1(parts.at(1)) : QStringLiteral("/");
            const qsizetype q = path.indexOf(u'?');
            if (q >= 0)
                path.truncate(q);
            m_counts[path] += 1;
            if (!m_first.contains(path))
                m_first.insert(path, m_clock.nsecsElapsed());
            QByteArray body;
            QByteArray type = "text/html; charset=utf-8";
            if (path == QLatin1String("/favicon.ico")) {
                type = "image/x-icon";
            } else {
                body = m_pages.value(path, QByteArray("<!doctype html><title>ok</title><p>page ") +
                                               path.toHtmlEscaped().toUtf8() + "</p>");
            }
            QByteArray response = "HTTP/1.1 200 OK\r\nContent-Type: " + type +
                                  "\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\n\r\n" + body;
            sock->write(response);
            sock->disconnectFromHost();
        });
    }
}

// ------------------------------------------------------------ ChromiumProcess

ChromiumProcess::~ChromiumProcess()
{
    stop();
}

QString ChromiumProcess::executable()
{
    return QStringLiteral("/usr/bin/chromium");
}

bool ChromiumProcess::available()
{
    return QFileInfo(executable()).isExecutable();
}

bool ChromiumProcess::start(const QString &userDataDir, const QStringList &extraArgs, int timeoutMs)
{
    stop();
    m_dir = userDataDir;
    QDir().mkpath(userDataDir);
    const QString portFile = userDataDir + QStringLiteral("/DevToolsActivePort");
    QFile::remove(portFile);
    QStringList args{QStringLiteral("--headless=new"),
                     QStringLiteral("--disable-gpu"),
                     QStringLiteral("--no-first-run"),
                     QStringLiteral("--disable-background-networking"),
                     QStringLiteral("--disable-component-update"),
                     QStringLiteral("--disable-sync"),
                     QStringLiteral("--disable-popup-blocking"),
                     QStringLiteral("--remote-debugging-port=0"),
                     QStringLiteral("--user-data-dir=") + userDataDir};
    if (::geteuid() == 0)
        args.prepend(QStringLiteral("--no-sandbox"));
    args += extraArgs;
    args << QStringLiteral("about:blank");
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->start(executable(), args);
    if (!m_process->waitForStarted(5000))
        return false;
    const bool ok = waitUntil(
        [&] {
            QFile f(portFile);
            if (!f.open(QIODevice::ReadOnly))
                return false;
            const QList<QByteArray> lines = f.readAll().split('\n');
            if (lines.size() < 2 || lines.at(1).trimmed().isEmpty())
                return false;
            m_port = static_cast<quint16>(lines.at(0).trimmed().toUInt());
            m_browserPath = QString::fromLatin1(lines.at(1).trimmed());
            return m_port != 0;
        },
        timeoutMs);
    return ok;
}

qint64 ChromiumProcess::pid() const
{
    return m_process ? m_process->processId() : 0;
}

QString ChromiumProcess::browserWsUrl() const
{
    return QStringLiteral("ws://127.0.0.1:%1%2").arg(m_port).arg(m_browserPath);
}

bool ChromiumProcess::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

void ChromiumProcess::kill()
{
    if (!isRunning())
        return;
    ::kill(static_cast<pid_t>(m_process->processId()), SIGKILL);
    m_process->waitForFinished(5000);
}

namespace {
// True while some process still runs with this profile folder (the browser's
// helpers outlive it by a moment and keep writing into the folder).
bool profileInUse(const QString &dir)
{
    const QByteArray needle = "--user-data-dir=" + QFile::encodeName(dir);
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        if (!pid.front().isDigit())
            continue;
        QFile f(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        if (f.open(QIODevice::ReadOnly) && f.readAll().split('\0').contains(needle))
            return true;
    }
    return false;
}
} // namespace

void ChromiumProcess::stop()
{
    if (!m_process)
        return;
    stopProcess(*m_process);
    m_process.reset();
    waitUntil([this] { return !profileInUse(m_dir); }, 5000);
}

// --------------------------------------------------------------- CdpTestClient

CdpTestClient::CdpTestClient()
{
    m_clock.start();
}

CdpTestClient::~CdpTestClient()
{
    close();
}

bool CdpTestClient::open(const QString &wsUrl, int timeoutMs)
{
    close();
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(256 * 1024 * 1024);
    connect(m_socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) {
        const QJsonObject msg = QJsonDocument::fromJson(text.toUtf8()).object();
        if (msg.contains(QStringLiteral("id"))) {
            m_replies[msg.value(QStringLiteral("id")).toInt()] = msg;
            return;
        }
        m_events.append(Event{msg.value(QStringLiteral("method")).toString(),
                              msg.value(QStringLiteral("params")).toObject(),
                              msg.value(QStringLiteral("sessionId")).toString(), double(m_clock.nsecsElapsed()) / 1e6});
    });
    m_socket->open(QUrl(wsUrl));
    return waitUntil([this] { return m_socket->state() == QAbstractSocket::ConnectedState; }, timeoutMs);
}

void CdpTestClient::close()
{
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

bool CdpTestClient::isOpen() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

int CdpTestClient::post(const QString &method, const QJsonObject &params, const QString &sessionId)
{
    if (!isOpen())
        return 0;
    const int id = m_nextId++;
    QJsonObject msg{{QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}};
    if (!sessionId.isEmpty())
        msg.insert(QStringLiteral("sessionId"), sessionId);
    m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(msg).toJson(QJsonDocument::Compact)));
    return id;
}

bool CdpTestClient::flush()
{
    return isOpen() && m_socket->flush();
}

QJsonObject CdpTestClient::call(const QString &method, const QJsonObject &params, const QString &sessionId,
                                int timeoutMs)
{
    const int id = post(method, params, sessionId);
    if (!id)
        return {{QStringLiteral("error"), QStringLiteral("closed")}};
    if (!waitUntil([&] { return m_replies.count(id) != 0; }, timeoutMs))
        return {{QStringLiteral("error"), QStringLiteral("timeout")}};
    const QJsonObject msg = m_replies[id];
    m_replies.erase(id);
    if (msg.contains(QStringLiteral("error")))
        return {{QStringLiteral("error"), msg.value(QStringLiteral("error"))}};
    return msg.value(QStringLiteral("result")).toObject();
}

std::optional<CdpTestClient::Event>
CdpTestClient::waitEvent(const QString &method, const std::function<bool(const Event &)> &pred, int timeoutMs)
{
    std::optional<Event> found;
    waitUntil(
        [&] {
            for (const Event &e : std::as_const(m_events)) {
                if (e.method == method && (!pred || pred(e))) {
                    found = e;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

QString CdpTestClient::createTab(const QString &url)
{
    return call(QStringLiteral("Target.createTarget"), {{QStringLiteral("url"), url}})
        .value(QStringLiteral("targetId"))
        .toString();
}

QString CdpTestClient::attach(const QString &targetId)
{
    return call(QStringLiteral("Target.attachToTarget"),
                {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}})
        .value(QStringLiteral("sessionId"))
        .toString();
}

QJsonValue CdpTestClient::evaluate(const QString &sessionId, const QString &expression, int timeoutMs)
{
    const QJsonObject r = call(QStringLiteral("Runtime.evaluate"),
                               {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}},
                               sessionId, timeoutMs);
    if (r.contains(QStringLiteral("error")))
        return QJsonValue(QJsonValue::Undefined);
    return r.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
}

QList<QJsonObject> CdpTestClient::pageTargets()
{
    QList<QJsonObject> out;
    const QJsonArray infos = call(QStringLiteral("Target.getTargets")).value(QStringLiteral("targetInfos")).toArray();
    for (const QJsonValue &v : infos) {
        if (v.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
            out << v.toObject();
    }
    return out;
}

bool CdpTestClient::targetExists(const QString &targetId)
{
    const auto pages = pageTargets();
    return std::any_of(pages.begin(), pages.end(), [&](const QJsonObject &o) {
        return o.value(QStringLiteral("targetId")).toString() == targetId;
    });
}

} // namespace wendral::test
