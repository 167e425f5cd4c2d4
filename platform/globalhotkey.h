#pragma once
// A system-wide key combination (Super+Z) that the program holds while it
// runs, whatever window has the focus and also while its own window is hidden.

#include <QObject>

namespace wendral {

class GlobalHotkey : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Takes Super+Z for this program. False when the platform has no global
    // keys or another program holds the combination; nothing is held then.
    virtual bool registerKey() = 0;
    // Gives the combination back; harmless when it is not held.
    virtual void unregisterKey() = 0;
    virtual bool isRegistered() const = 0;

signals:
    // Emitted on the user-interface thread for every press while registered.
    void pressed();
};

// Stands in where the platform has no global keys (offscreen, Wayland): its
// registration always fails.
class UnavailableHotkey : public GlobalHotkey
{
    Q_OBJECT
public:
    using GlobalHotkey::GlobalHotkey;
    bool registerKey() override { return false; }
    void unregisterKey() override {}
    bool isRegistered() const override { return false; }
};

} // namespace wendral
