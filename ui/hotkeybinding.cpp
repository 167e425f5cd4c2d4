#include "ui/hotkeybinding.h"

#include "platform/globalhotkey.h"

#include <QCoreApplication>

namespace wendral {

QEvent::Type HotkeyEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

HotkeyBinding::HotkeyBinding(GlobalHotkey &hotkey, QObject *target) : m_hotkey(&hotkey), m_target(target)
{
    // Posted, not sent: the toggle runs once the current event is done.
    m_pressed = QObject::connect(&hotkey, &GlobalHotkey::pressed, [this] {
        if (m_target)
            QCoreApplication::postEvent(m_target, new HotkeyEvent);
    });
    hotkey.registerKey();
}

HotkeyBinding::~HotkeyBinding()
{
    QObject::disconnect(m_pressed);
    if (m_hotkey)
        m_hotkey->unregisterKey();
}

bool HotkeyBinding::isRegistered() const
{
    return m_hotkey && m_hotkey->isRegistered();
}

} // namespace wendral
