#include "platform/linux/desktopplatform.h"

#include "platform/linux/alsasoundplayer.h"
#include "platform/linux/dbusnotifier.h"
#include "platform/linux/x11globalhotkey.h"
#include "platform/linux/x11windowstacker.h"
#include "platform/linux/xdgautostart.h"
#include "platform/notifier.h"
#include "platform/trayicon.h"

namespace wendral {

DesktopPlatform::DesktopPlatform(QObject *parent) : QObject(parent)
{
    if (X11GlobalHotkey *x11 = X11GlobalHotkey::forApplication(this))
        m_services.hotkey = x11;
    else
        m_services.hotkey = new UnavailableHotkey(this);

    // The X11 stacker is a QObject of its own that watches the windows it
    // stacks; it is kept by this object, not by the Qt parent.
    if (X11WindowStacker *x11 = X11WindowStacker::forApplication())
        m_stacker.reset(x11);
    else
        m_stacker = std::make_unique<RememberingStacker>();
    m_services.stacker = m_stacker.get();

    m_sound = std::make_unique<AlsaSoundPlayer>();
    m_services.sound = m_sound.get();
    m_services.tray = new SystemTrayIcon(this);
    m_autostart = std::make_unique<XdgAutostartService>();
    m_services.autostart = m_autostart.get();
    m_busNotifier = new DBusNotifier(this);
    m_services.notifier = new FallbackNotifier(*m_busNotifier, *m_services.tray, this);
}

DesktopPlatform::~DesktopPlatform() = default;

} // namespace wendral
