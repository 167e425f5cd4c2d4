#pragma once
// The real services of this desktop: X11 key grabs and window stacking where
// the program runs on X11 (stand-ins that do nothing harmful elsewhere), ALSA
// sound, the notification-area icon, the freedesktop autostart folder and
// desktop notifications (the tray icon's message where no service answers).
// Created after the application object; lives as long as the program.

#include "platform/platformservices.h"

#include <QObject>

#include <memory>

namespace wendral {

class AlsaSoundPlayer;
class DBusNotifier;
class XdgAutostartService;

class DesktopPlatform : public QObject
{
    Q_OBJECT
public:
    explicit DesktopPlatform(QObject *parent = nullptr);
    ~DesktopPlatform() override;

    PlatformServices &services() { return m_services; }

private:
    std::unique_ptr<WindowStacker> m_stacker;
    std::unique_ptr<AlsaSoundPlayer> m_sound;
    std::unique_ptr<XdgAutostartService> m_autostart;
    DBusNotifier *m_busNotifier = nullptr;
    PlatformServices m_services;
};

} // namespace wendral
