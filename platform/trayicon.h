#pragma once
// The program's icon in the notification area. The icon shows no tooltip; a
// left click or a context click on it asks for the tray menu, and nothing else
// does. The menu belongs to the main window, which opens it on menuRequested.

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

namespace wendral {

// What a click on the icon does: a click (Trigger) and a context click open
// the menu; double and middle clicks do nothing.
bool trayClickOpensMenu(QSystemTrayIcon::ActivationReason reason);

class TrayIcon : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Puts the icon into the notification area. Where none exists yet the icon
    // appears once one does. Showing it again replaces the picture.
    virtual void show(const QIcon &icon) = 0;
    // Takes the icon away; harmless when it is not shown.
    virtual void hide() = 0;
    virtual bool isShown() const = 0;
    // Whether a notification area exists right now: only then can a hidden
    // main window be brought back through the icon.
    virtual bool isAvailable() const = 0;
    // A short message from the icon (where the desktop has no notification
    // service of its own).
    virtual void showMessage(const QString &title, const QString &text) = 0;

signals:
    void menuRequested();
};

// The notification-area icon of Qt's own system tray support (the
// freedesktop StatusNotifierItem or XEmbed tray, whichever the desktop has).
class SystemTrayIcon : public TrayIcon
{
    Q_OBJECT
public:
    using TrayIcon::TrayIcon;
    ~SystemTrayIcon() override;
    void show(const QIcon &icon) override;
    void hide() override;
    bool isShown() const override { return m_icon != nullptr; }
    bool isAvailable() const override;
    void showMessage(const QString &title, const QString &text) override;
    // The underlying icon while shown (tests click it).
    QSystemTrayIcon *systemIcon() const { return m_icon; }

private:
    QSystemTrayIcon *m_icon = nullptr;
};

} // namespace wendral
