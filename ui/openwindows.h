#pragma once
// The auxiliary windows of which at most one each is loaded at a time (help,
// About). Opening one loads it when none is loaded, shows it modeless and
// brings it forward; closing it unloads it. (The website window, of which
// there is one at a time too, lives in the web helper.)

#include "forms/formtools.h"

#include <QPointer>
#include <QWidget>

namespace wendral {

class AboutWindow;
class HelpWindow;
struct UiContext;

struct OpenWindows
{
    QPointer<HelpWindow> help;
    QPointer<AboutWindow> about;
};

// Loads the window into the slot when it is empty (created from the context,
// unloaded when closed, centred), then shows it and brings it forward.
template <typename Window> Window *openSingleWindow(QPointer<Window> &slot, UiContext &context)
{
    if (!slot) {
        slot = new Window(context);
        slot->setAttribute(Qt::WA_DeleteOnClose);
        centerOnScreen(slot);
    }
    Window *w = slot;
    if (w->windowState() & Qt::WindowMinimized)
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

} // namespace wendral
