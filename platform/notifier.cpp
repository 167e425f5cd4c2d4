#include "platform/notifier.h"

#include "platform/trayicon.h"

namespace wendral {

FallbackNotifier::FallbackNotifier(Notifier &primary, TrayIcon &tray, QObject *parent)
    : Notifier(parent), m_primary(primary), m_tray(tray)
{
    connect(&m_primary, &Notifier::undelivered, this, [this](const QString &title, const QString &body) {
        if (!showOnTray(title, body))
            emit undelivered(title, body);
    });
}

bool FallbackNotifier::notify(const QString &title, const QString &body)
{
    return m_primary.notify(title, body) || showOnTray(title, body);
}

bool FallbackNotifier::showOnTray(const QString &title, const QString &body)
{
    // The bubble comes from the icon: without one shown there is nowhere to say it.
    if (!m_tray.isShown())
        return false;
    m_tray.showMessage(title, body);
    ++m_trayMessages;
    return true;
}

} // namespace wendral
