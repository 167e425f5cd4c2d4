#pragma once
// The auxiliary windows of which at most one each is loaded at a time (help,
// About, website). Opening one loads it when none is loaded, shows it modeless
// and brings it forward; closing it unloads it.

#include "ui/formtools.h"

#include <QPointer>
#include <QWidget>

namespace wendral {

class AboutWindow;
class HelpWindow;
class WebsiteWindow;
struct UiContext;

struct OpenWindows
{
    QPointer<HelpWindow> help;
    QPointer<AboutWindow> about;
    QPointer<WebsiteWindow> website;
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
