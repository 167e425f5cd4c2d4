#pragma once
// A short message to the user from the desktop: a notification bubble where
// the desktop has a notification service, else the tray icon's own message.

#include <QObject>
#include <QString>

namespace wendral {

class TrayIcon;

class Notifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Shows the message. False when it cannot be shown at all; a message that
    // was sent and then refused on the way raises undelivered() instead.
    virtual bool notify(const QString &title, const QString &body) = 0;

signals:
    void undelivered(const QString &title, const QString &body);
};

// The desktop's notification service first; where it is missing or refuses a
// message, the tray icon's message bubble.
class FallbackNotifier : public Notifier
{
    Q_OBJECT
public:
    // Neither is owned.
    FallbackNotifier(Notifier &primary, TrayIcon &tray, QObject *parent = nullptr);
    bool notify(const QString &title, const QString &body) override;
    // Messages that went to the tray icon.
    int trayMessages() const { return m_trayMessages; }

private:
    bool showOnTray(const QString &title, const QString &body);

    Notifier &m_primary;
    TrayIcon &m_tray;
    int m_trayMessages = 0;
};

} // namespace wendral
