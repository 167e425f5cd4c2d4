#pragma once
// Notifications through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus). The call is
// asynchronous: the program never waits for the service; a service that is
// missing or answers with an error raises undelivered().

#include "platform/notifier.h"

#include <QDBusConnection>

namespace wendral {

class DBusNotifier : public Notifier
{
    Q_OBJECT
public:
    // The session bus unless another connection is given.
    explicit DBusNotifier(QObject *parent = nullptr);
    DBusNotifier(const QDBusConnection &connection, QObject *parent = nullptr);

    // False when there is no bus at all.
    bool notify(const QString &title, const QString &body) override;

    // How long the service may take to answer before the message counts as
    // undelivered (a service being started by the bus takes a moment).
    void setTimeout(int ms) { m_timeoutMs = ms; }

private:
    QDBusConnection m_connection;
    int m_timeoutMs = 10000;
};

} // namespace wendral
