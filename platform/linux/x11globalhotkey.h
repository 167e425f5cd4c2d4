#pragma once
// Super+Z as passive key grabs on the X root window, one for each state of the
// lock modifiers (Caps Lock, Num Lock), so the key works whatever locks are on.

#include "platform/globalhotkey.h"

#include <QAbstractNativeEventFilter>
#include <QList>

#include <xcb/xcb.h>

namespace wendral {

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

} // namespace wendral
