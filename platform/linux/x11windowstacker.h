#pragma once
// Window stacking through the X11 window manager: a window in the topmost band
// carries _NET_WM_STATE_ABOVE. A window the manager already handles is changed
// by asking the manager (a _NET_WM_STATE client message to the root window); a
// window that is not on screen gets the property itself, which the manager
// reads when it maps the window. Neither way moves or resizes the window.

#include "platform/windowstacker.h"

#include <xcb/xcb.h>

#include <QList>
#include <QObject>

namespace wendral {

class X11WindowStacker : public QObject, public WindowStacker
{
    Q_OBJECT
public:
    explicit X11WindowStacker(xcb_connection_t *connection, QObject *parent = nullptr);
    // A stacker on the application's own X connection, or null when the
    // application has none (offscreen, Wayland).
    static X11WindowStacker *forApplication(QObject *parent = nullptr);

    void setAbove(QWidget *window, bool above) override;
    // What the window carries now, as the window manager last wrote it.
    bool isAbove(const QWidget *window) const override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply(xcb_window_t window, bool above);
    QList<xcb_atom_t> readState(xcb_window_t window) const;
    void writeState(xcb_window_t window, const QList<xcb_atom_t> &atoms);
    // ICCCM WM_STATE of the window: 0 withdrawn, 1 normal, 3 iconic; -1 when
    // the manager has not set it (never managed, or withdrawn again).
    int wmState(xcb_window_t window) const;

    xcb_connection_t *m_connection;
    xcb_atom_t m_netWmState;
    xcb_atom_t m_netWmStateAbove;
    xcb_atom_t m_wmState;
};

} // namespace wendral
