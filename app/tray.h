#pragma once
// Module2: the program's icon in the notification area. The icon shows no
// tooltip; a left click or a context click on it opens the tray menu at the
// mouse position, and nothing else does. The menu itself belongs to the main
// window, which hands it over through setTrayMenuProvider.

#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>

class QMenu;
class QWidget;

namespace wendral {

enum class TrayAction
{
    None,
    OpenMenu,
};

// What a tray icon activation does: a click (Trigger) and a context click open
// the menu; double and middle clicks do nothing.
TrayAction trayActionFor(QSystemTrayIcon::ActivationReason reason);

// The menu to open from the icon; a provider returning null opens nothing.
void setTrayMenuProvider(std::function<QMenu *()> provider);

// Puts the form's icon into the notification area under identifier. The tip is
// recorded but never shown. Where no notification area exists yet the icon is
// created all the same and appears once one does. Adding an identifier again
// replaces the icon it shows.
void AddTrayIcon(QWidget *form, quint32 id, const QIcon &icon, const QString &tip);
// Takes the icon with that identifier away; an unknown identifier does nothing.
void RemoveTrayIcon(quint32 id);

// Whether a notification area exists right now: only then can a hidden main
// window be brought back through the icon.
bool trayAvailable();

// The icon added under id (null when there is none) and its recorded tip.
QSystemTrayIcon *trayIcon(quint32 id);
QString trayTip(quint32 id);

// Runs what an activation of the icon asks for: opens the provider's menu at
// the mouse position, unless it is already open.
void handleTrayActivation(QSystemTrayIcon::ActivationReason reason);

} // namespace wendral
