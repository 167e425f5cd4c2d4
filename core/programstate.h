#pragma once
// The state of one run of the program that several windows and the popup
// decision share. The composition root owns the one instance and hands it to
// whatever needs it; everything runs on the user-interface thread.

#include <QString>
#include <QtGlobal>

namespace wendral {

struct ProgramState
{
    qint32 blockedCount = 0;  // requests blocked to date
    bool allowNext = false;   // one-shot pass for the next popup
    QString lastStatusText;   // latest status text of any browser
    bool alwaysOnTop = false; // the main window is in the topmost band
    // Set when the program was asked to end while the website window was
    // open: closing that window then ends the program.
    bool endOnWebsiteClose = false;
};

} // namespace wendral
