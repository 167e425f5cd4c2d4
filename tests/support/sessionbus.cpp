#include "support/sessionbus.h"

#include "support/testenv.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QThread>

namespace wendral::test {

PrivateSessionBus::~PrivateSessionBus()
{
    stop();
}

bool PrivateSessionBus::start(const QString &folder)
{
    stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                      QStringLiteral("--print-address=1"), QStringLiteral("--address=unix:dir=") + folder});
    if (!m_process->waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() && m_process->state() == QProcess::Running) {
        m_process->waitForReadyRead(100);
        out += m_process->readAllStandardOutput();
    }
    m_address = QString::fromUtf8(out.left(out.indexOf('\n'))).trimmed();
    return !m_address.isEmpty();
}

void PrivateSessionBus::stop()
{
    if (!m_process)
        return;
    stopProcess(*m_process);
    m_process.reset();
    m_address.clear();
}

FakeNotificationService::FakeNotificationService()
{
    m_clock.start();
}

FakeNotificationService::~FakeNotificationService()
{
    stop();
}

bool FakeNotificationService::start(const QString &busAddress)
{
    static int serial = 0;
    m_connectionName = QStringLiteral("fake-notifications-%1").arg(++serial);
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
    if (!bus.isConnected())
        return false;
    return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                              QDBusConnection::ExportAllSlots) &&
           bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

void FakeNotificationService::stop()
{
    if (m_connectionName.isEmpty())
        return;
    {
        QDBusConnection bus(m_connectionName);
        bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_connectionName.clear();
}

int FakeNotificationService::countFor(const QString &summaryPart) const
{
    return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                          [&](const Message &m) { return m.summary.contains(summaryPart); }));
}

uint FakeNotificationService::Notify(const QString &appName, uint, const QString &, const QString &summary,
                                     const QString &body, const QStringList &, const QVariantMap &, int)
{
    messages.append({appName, summary, body, m_clock.elapsed()});
    return m_nextId++;
}

QStringList FakeNotificationService::GetCapabilities()
{
    return {QStringLiteral("body")};
}

} // namespace wendral::test
