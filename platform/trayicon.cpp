#include "platform/trayicon.h"

namespace wendral {

bool trayClickOpensMenu(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::Context:
        return true;
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
    return false;
}

SystemTrayIcon::~SystemTrayIcon()
{
    hide();
}

void SystemTrayIcon::show(const QIcon &icon)
{
    if (!m_icon) {
        // No tooltip is ever set, so hovering shows none. No context menu is
        // set either: the activation handler asks for the menu on both clicks.
        m_icon = new QSystemTrayIcon(this);
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (trayClickOpensMenu(reason))
                emit menuRequested();
        });
    }
    m_icon->setIcon(icon);
    // Shown also when no notification area exists yet: Qt docks a visible
    // icon by itself as soon as one appears.
    m_icon->show();
}

void SystemTrayIcon::hide()
{
    if (!m_icon)
        return;
    m_icon->hide();
    delete m_icon;
    m_icon = nullptr;
}

bool SystemTrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayIcon::showMessage(const QString &title, const QString &text)
{
    if (m_icon)
        m_icon->showMessage(title, text, QSystemTrayIcon::Information);
}

} // namespace wendral
