#include "platform/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QTimer>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace wendral {

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kAcknowledgement[] = "ok\n";
// A request is one short line; anything longer is not one of ours.
constexpr qint64 kMaxRequest = 64;
// How long the first copy waits for a connected start to say what it wants.
constexpr int kRequestTimeoutMs = 2000;
constexpr int kConnectRetryMs = 100;

// A folder only this user may enter: owned by us, no access for group and
// others. followLinks: whether the path itself may be a symbolic link (the
// runtime folder the session names may be; a folder in the shared temporary
// folder may not, or someone else could point it elsewhere).
bool isPrivateFolder(const QString &path, bool followLinks)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info = {};
    const int result = followLinks ? ::stat(native.constData(), &info) : ::lstat(native.constData(), &info);
    return result == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// Letters, digits, '.', '-' and '_' only, and not too long for a socket path.
QString fileNamePart(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                           c == u'.' || c == u'-' || c == u'_';
        out += plain ? c : QChar(u'_');
    }
    return out.left(48);
}

} // namespace

SingleInstance::SingleInstance(QObject *parent) : QObject(parent) {}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close(); // removes the socket file
    // m_lock removes the lock file when it goes.
}

QString SingleInstance::privateFolder()
{
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    if (runtime.startsWith(u'/') && isPrivateFolder(runtime, true))
        return QDir::cleanPath(runtime);
    const QString fallback = QDir::tempPath() + QStringLiteral("/wendral-") + QString::number(::geteuid());
    if (::mkdir(QFile::encodeName(fallback).constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return isPrivateFolder(fallback, false) ? fallback : QString();
}

QString SingleInstance::desktopKey()
{
    const QString wayland = QFile::decodeName(qgetenv("WAYLAND_DISPLAY"));
    if (!wayland.isEmpty())
        return fileNamePart(wayland.startsWith(QLatin1String("wayland")) ? wayland
                                                                         : QStringLiteral("wayland-") + wayland);
    const QString x11 = QFile::decodeName(qgetenv("DISPLAY"));
    if (!x11.isEmpty()) {
        // ":0", ":0.0" and ":0.1" are one desktop: the screen number goes.
        static const QRegularExpression display(QStringLiteral("^(.*):(\\d+)(\\.\\d+)?$"));
        const QRegularExpressionMatch m = display.match(x11);
        if (m.hasMatch()) {
            const QString host = m.captured(1);
            return fileNamePart(QStringLiteral("x11-") + (host.isEmpty() ? QString() : host + u'-') + m.captured(2));
        }
        return fileNamePart(QStringLiteral("x11-") + x11);
    }
    return QStringLiteral("none");
}

QString SingleInstance::lockFilePath()
{
    const QString folder = privateFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/wendral-") + desktopKey() + QStringLiteral(".lock");
}

QString SingleInstance::socketPath()
{
    const QString folder = privateFolder();
    return folder.isEmpty() ? QString()
                            : folder + QStringLiteral("/wendral-") + desktopKey() + QStringLiteral(".socket");
}

SingleInstance::Claim SingleInstance::claim()
{
    if (m_claimed)
        return m_claim;
    m_claimed = true;

    const QString lockPath = lockFilePath();
    if (lockPath.isEmpty()) {
        m_claim = Claim::Unavailable;
        return m_claim;
    }
    m_lock = std::make_unique<QLockFile>(lockPath);
    // A copy that runs for days keeps its lock: only a lock whose process is
    // gone is stale, never one that is merely old.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        m_claim = m_lock->error() == QLockFile::LockFailedError ? Claim::Running : Claim::Unavailable;
        m_lock.reset();
        return m_claim;
    }

    m_claim = Claim::First;
    const QString socket = socketPath();
    // A socket file left by a copy that was killed would stop listen().
    QLocalServer::removeServer(socket);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socket)) {
        // Still the only copy; later starts will not reach it and say so.
        qWarning("Wendral: cannot listen on %s: %s", qPrintable(socket), qPrintable(m_server->errorString()));
        m_server.reset();
        return m_claim;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return m_claim;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *connection = m_server->nextPendingConnection()) {
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        // A client that connects and says nothing is dropped.
        QTimer::singleShot(kRequestTimeoutMs, connection, [connection] { connection->abort(); });
        connect(connection, &QLocalSocket::readyRead, this, [this, connection] {
            if (!connection->canReadLine()) {
                if (connection->bytesAvailable() > kMaxRequest)
                    connection->abort();
                return;
            }
            const QByteArray request = connection->readLine(kMaxRequest + 1);
            if (request != kShowRequest) {
                connection->abort();
                return;
            }
            connection->write(kAcknowledgement);
            connection->flush();
            connection->disconnectFromServer();
            emit showRequested();
        });
    }
}

void SingleInstance::askRunningInstanceToShow(int timeoutMs)
{
    if (m_client)
        return; // already asking
    m_asking = true;
    m_client = std::make_unique<QLocalSocket>();
    m_askDeadline = new QTimer(this);
    m_askDeadline->setSingleShot(true);
    connect(m_askDeadline, &QTimer::timeout, this, [this] { finishAsking(false); });
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    m_retry->setInterval(kConnectRetryMs);
    connect(m_retry, &QTimer::timeout, this, &SingleInstance::tryConnect);

    connect(m_client.get(), &QLocalSocket::connected, this, [this] { m_client->write(kShowRequest); });
    connect(m_client.get(), &QLocalSocket::readyRead, this, [this] {
        if (m_client->canReadLine())
            finishAsking(m_client->readLine(kMaxRequest + 1) == kAcknowledgement);
        else if (m_client->bytesAvailable() > kMaxRequest)
            finishAsking(false);
    });
    // The first copy may hold the lock a moment before it listens: try again
    // until the deadline.
    connect(m_client.get(), &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError) {
        if (m_asking && !m_retry->isActive())
            m_retry->start();
    });
    m_askDeadline->start(timeoutMs);
    tryConnect();
}

void SingleInstance::tryConnect()
{
    if (!m_asking)
        return;
    const QString socket = socketPath();
    if (socket.isEmpty()) {
        finishAsking(false);
        return;
    }
    m_client->abort();
    m_client->connectToServer(socket);
}

void SingleInstance::finishAsking(bool acknowledged)
{
    if (!m_asking)
        return; // answered already
    m_asking = false;
    m_askDeadline->stop();
    m_retry->stop();
    m_client->abort();
    emit showAnswered(acknowledged);
}

} // namespace wendral
