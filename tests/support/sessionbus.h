#pragma once
// A private D-Bus session bus for a test (dbus-daemon --session, listening in
// a folder of the test's), and a stand-in for the desktop's notification
// service on it that records every notification it is sent.

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace wendral::test {

class PrivateSessionBus
{
public:
    PrivateSessionBus() = default;
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    // Starts the bus with its socket in folder; false when dbus-daemon is
    // missing or does not come up.
    bool start(const QString &folder);
    void stop();
    QString address() const { return m_address; }

private:
    std::unique_ptr<QProcess> m_process;
    QString m_address;
};

class FakeNotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Message
    {
        QString appName;
        QString summary;
        QString body;
        qint64 atMs = 0; // on clock()
    };

    FakeNotificationService();
    ~FakeNotificationService() override;
    // Connects to the bus and takes the service's name.
    bool start(const QString &busAddress);
    void stop();

    QList<Message> messages;
    const QElapsedTimer &clock() const { return m_clock; }
    int countFor(const QString &summaryPart) const;

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);
    QStringList GetCapabilities();

private:
    QString m_connectionName;
    QElapsedTimer m_clock;
    uint m_nextId = 1;
};

} // namespace wendral::test
