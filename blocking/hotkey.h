#pragma once
// The system-wide Super+Z key that grants (or withdraws) the one-shot pass for
// the next popup. modHook registers it for the main window and turns each press
// into an event posted to a target object, so the toggle runs later, as an
// ordinary event of the user-interface thread, whatever the window is doing.

#include <QAbstractNativeEventFilter>
#include <QEvent>
#include <QList>
#include <QObject>

#include <xcb/xcb.h>

class QWidget;

namespace wendral {

// A global key combination the program can hold while it runs.
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

// Super+Z as passive key grabs on the X root window, one for each state of the
// lock modifiers (Caps Lock, Num Lock), so the key works whatever locks are on.
class X11GlobalHotkey : public GlobalHotkey, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    explicit X11GlobalHotkey(xcb_connection_t *connection, QObject *parent = nullptr);
    ~X11GlobalHotkey() override;
    // A hotkey on the application's X connection, or null without one.
    static X11GlobalHotkey *forApplication(QObject *parent = nullptr);

    bool registerKey() override;
    void unregisterKey() override;
    bool isRegistered() const override { return !m_grabs.isEmpty(); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    struct Grab
    {
        xcb_keycode_t keycode;
        uint16_t modifiers;
    };
    uint16_t numLockMask() const;

    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
    QList<Grab> m_grabs;
    QList<xcb_keycode_t> m_keycodes;
    bool m_filtering = false;
};

// The event posted to the hotkey target for each press.
class HotkeyEvent : public QEvent
{
public:
    HotkeyEvent() : QEvent(eventType()) {}
    static QEvent::Type eventType();
};

// The program's hotkey: the X11 one where the application runs on X11, else
// one whose registration always fails. Tests install their own with
// setGlobalHotkey (not owned; nullptr restores the default).
GlobalHotkey &globalHotkey();
void setGlobalHotkey(GlobalHotkey *hotkey);

// modHook
// Registers Super+Z for the main window; each press posts a HotkeyEvent to
// hotkeyTarget. A key another program holds fails quietly. Released again by
// UnhookWindow, or when mainWindow is destroyed first.
void HookWindow(QWidget *mainWindow, QObject *hotkeyTarget);
void UnhookWindow();
// Whether the hook currently holds the key.
bool hotkeyRegistered();

} // namespace wendral
