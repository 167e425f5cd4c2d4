#pragma once
// Window stacking: put a window into the desktop's topmost band or take it out
// again, without moving or resizing it. The real work is done by a
// WindowStacker (the X11 window manager's "above" state on this platform);
// tests install a recording one.

#include <QPointer>
#include <QWidget>

namespace wendral {

class WindowStacker
{
public:
    virtual ~WindowStacker() = default;
    virtual void setAbove(QWidget *window, bool above) = 0;
    virtual bool isAbove(const QWidget *window) const = 0;
};

// The program-wide stacker; never null (a stacker that does nothing stands in
// where the platform offers no way to stack windows).
WindowStacker &windowStacker();
// Installs a stacker (not owned); nullptr restores the platform's default.
void setWindowStacker(WindowStacker *stacker);

// clsOnTop: names the window by its widget (its top-level window is stacked).
class clsOnTop
{
public:
    void MakeNormal(QWidget *window);
    void MakeTopMost(QWidget *window);
};

// modOnTop
void SetFormOnTop(QWidget *form, bool onTop);

} // namespace wendral
