#pragma once
// Super+Z bound to a test object the way the main window binds it: a target
// that counts the presses posted to it, and a hook that binds the key, binds
// it anew and lets it go on demand (as a window's load, a second load and its
// unload would).

#include "platform/globalhotkey.h"
#include "ui/hotkeybinding.h"

#include <QEvent>
#include <QObject>
#include <QPointer>

#include <memory>

namespace wendral::test {

// Counts the hotkey presses that reach it.
class HotkeyTarget : public QObject
{
public:
    using QObject::QObject;
    int presses = 0;

protected:
    bool event(QEvent *e) override
    {
        if (e->type() == HotkeyEvent::eventType()) {
            ++presses;
            return true;
        }
        return QObject::event(e);
    }
};

// Holds at most one binding of the hotkey at a time.
class HotkeyHook
{
public:
    explicit HotkeyHook(GlobalHotkey &hotkey) : m_hotkey(&hotkey) {}

    // Binds the key to target. A binding made before is let go first, so the
    // key is held once and presses reach only the newest target. Does nothing
    // once the hotkey itself is gone.
    void hook(QObject *target)
    {
        unhook();
        if (m_hotkey)
            m_binding = std::make_unique<HotkeyBinding>(*m_hotkey, target);
    }
    // Lets the key go; harmless when nothing is bound.
    void unhook() { m_binding.reset(); }

    bool isHooked() const { return m_binding != nullptr; }
    // Whether the key is held through this hook now.
    bool isRegistered() const { return m_binding && m_binding->isRegistered(); }

private:
    QPointer<GlobalHotkey> m_hotkey;
    std::unique_ptr<HotkeyBinding> m_binding;
};

} // namespace wendral::test
