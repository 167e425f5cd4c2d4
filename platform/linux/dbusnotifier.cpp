#include "platform/linux/dbusnotifier.h"

#include "core/productinfo.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace wendral {

DBusNotifier::DBusNotifier(QObject *parent) : DBusNotifier(QDBusConnection::sessionBus(), parent) {}

DBusNotifier::DBusNotifier(const QDBusConnection &connection, QObject *parent)
    : Notifier(parent), m_connection(connection)
{}

bool DBusNotifier::notify(const QString &title, const QString &body)
{
    if (!m_connection.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    call << ProductInfo::productName() << uint(0) << QString() << title << body << QStringList() << QVariantMap()
         << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call, m_timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, title, body](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError())
            emit undelivered(title, body);
    });
    return true;
}

} // namespace wendral
