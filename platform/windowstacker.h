#pragma once
// Window stacking: puts a window into the desktop's topmost band or takes it
// out again, without moving or resizing it.

#include <QWidget>

namespace wendral {

class WindowStacker
{
public:
    virtual ~WindowStacker() = default;
    virtual void setAbove(QWidget *window, bool above) = 0;
    virtual bool isAbove(const QWidget *window) const = 0;

    // Stacks the top-level window of any widget; a null widget is ignored.
    void keepOnTop(QWidget *widget, bool above)
    {
        if (widget)
            setAbove(widget->window(), above);
    }
};

// Stands in where no window manager protocol is reachable (offscreen,
// Wayland): it only remembers the state it was asked for.
class RememberingStacker : public WindowStacker
{
public:
    void setAbove(QWidget *window, bool above) override
    {
        if (window)
            window->setProperty("wendralAbove", above);
    }
    bool isAbove(const QWidget *window) const override { return window && window->property("wendralAbove").toBool(); }
};

} // namespace wendral
