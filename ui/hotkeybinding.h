#pragma once
// Binds the global hotkey to a window for as long as this object lives: the
// key is registered at once (a key another program holds fails quietly) and
// every press is posted to the target as a HotkeyEvent, so the toggle runs
// later as an ordinary event of the user-interface thread, whatever the window
// is doing at the moment of the press. A hotkey has one binding at a time:
// the key is given back when its binding goes.

#include <QEvent>
#include <QMetaObject>
#include <QPointer>

namespace wendral {

class GlobalHotkey;

class HotkeyEvent : public QEvent
{
public:
    HotkeyEvent() : QEvent(eventType()) {}
    static QEvent::Type eventType();
};

class HotkeyBinding
{
public:
    HotkeyBinding(GlobalHotkey &hotkey, QObject *target);
    // Gives the key back.
    ~HotkeyBinding();
    HotkeyBinding(const HotkeyBinding &) = delete;
    HotkeyBinding &operator=(const HotkeyBinding &) = delete;

    bool isRegistered() const;

private:
    QPointer<GlobalHotkey> m_hotkey;
    QPointer<QObject> m_target;
    QMetaObject::Connection m_pressed;
};

} // namespace wendral
