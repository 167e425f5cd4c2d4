#include "system/ontop.h"

#include "system/ontop_x11.h"

#include <QCoreApplication>
#include <QPointer>

namespace wendral {
namespace {

// Stands in where no window manager protocol is reachable (offscreen, Wayland):
// it only remembers the state it was asked for.
class MemoryStacker : public WindowStacker
{
public:
    void setAbove(QWidget *window, bool above) override
    {
        if (window)
            window->setProperty("wendralAbove", above);
    }
    bool isAbove(const QWidget *window) const override { return window && window->property("wendralAbove").toBool(); }
};

WindowStacker *g_stacker = nullptr;

WindowStacker &defaultStacker();

} // namespace

WindowStacker &windowStacker()
{
    return g_stacker ? *g_stacker : defaultStacker();
}

void setWindowStacker(WindowStacker *stacker)
{
    g_stacker = stacker;
}

void clsOnTop::MakeNormal(QWidget *window)
{
    if (window)
        windowStacker().setAbove(window->window(), false);
}

void clsOnTop::MakeTopMost(QWidget *window)
{
    if (window)
        windowStacker().setAbove(window->window(), true);
}

void SetFormOnTop(QWidget *form, bool onTop)
{
    if (form)
        windowStacker().setAbove(form->window(), onTop);
}

namespace {
// The X11 window manager's "above" state where the application runs on X11;
// the memory stand-in elsewhere. The X11 one lives with the application, since
// it uses the application's connection.
WindowStacker &defaultStacker()
{
    static MemoryStacker memory;
    static QPointer<X11WindowStacker> x11;
    if (!x11 && qApp)
        x11 = X11WindowStacker::forApplication(qApp);
    if (x11)
        return *x11;
    return memory;
}
} // namespace

} // namespace wendral
