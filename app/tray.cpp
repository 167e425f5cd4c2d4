#include "app/tray.h"

#include <QCursor>
#include <QHash>
#include <QMenu>
#include <QPointer>
#include <QWidget>

namespace wendral {
namespace {

struct TrayEntry
{
    QPointer<QSystemTrayIcon> icon;
    QString tip;
};

QHash<quint32, TrayEntry> &entries()
{
    static QHash<quint32, TrayEntry> all;
    return all;
}

std::function<QMenu *()> &menuProvider()
{
    static std::function<QMenu *()> provider;
    return provider;
}

} // namespace

TrayAction trayActionFor(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::Context:
        return TrayAction::OpenMenu;
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::MiddleClick:
    case QSystemTrayIcon::Unknown:
        break;
    }
    return TrayAction::None;
}

void setTrayMenuProvider(std::function<QMenu *()> provider)
{
    menuProvider() = std::move(provider);
}

void handleTrayActivation(QSystemTrayIcon::ActivationReason reason)
{
    if (trayActionFor(reason) != TrayAction::OpenMenu || !menuProvider())
        return;
    QMenu *menu = menuProvider()();
    // A second activation while the menu is up would only move it.
    if (!menu || menu->isVisible())
        return;
    menu->popup(QCursor::pos());
}

void AddTrayIcon(QWidget *form, quint32 id, const QIcon &icon, const QString &tip)
{
    TrayEntry &entry = entries()[id];
    entry.tip = tip;
    if (!entry.icon) {
        // No tooltip is ever set, so hovering shows none. No context menu is
        // set either: the activation handler opens the menu for both clicks.
        entry.icon = new QSystemTrayIcon(form);
        QObject::connect(entry.icon, &QSystemTrayIcon::activated, entry.icon, &handleTrayActivation);
    }
    entry.icon->setIcon(icon);
    // Shown also when no notification area exists yet: Qt docks a visible
    // icon by itself as soon as one appears.
    entry.icon->show();
}

void RemoveTrayIcon(quint32 id)
{
    const auto it = entries().constFind(id);
    if (it == entries().constEnd())
        return;
    QPointer<QSystemTrayIcon> icon = it->icon;
    entries().erase(it);
    if (icon) {
        icon->hide();
        delete icon;
    }
}

bool trayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QSystemTrayIcon *trayIcon(quint32 id)
{
    const auto it = entries().constFind(id);
    return it == entries().constEnd() ? nullptr : it->icon.data();
}

QString trayTip(quint32 id)
{
    const auto it = entries().constFind(id);
    return it == entries().constEnd() ? QString() : it->tip;
}

} // namespace wendral
