#pragma once
// Program-wide state shared by the windows and the popup decision. It lives for
// the whole run and is only touched from the UI thread.

#include <QString>
#include <QtGlobal>

namespace wendral {

struct SharedState
{
    qint32 blockedCount = 0;  // requests blocked to date
    QString allowedList;      // entries, each followed by CR LF
    QString disallowedList;   // same form
    bool allowNext = false;   // one-shot pass for the next popup
    QString lastStatusText;   // latest status text of any browser
    bool alwaysOnTop = false; // the main window is in the topmost band
    bool endOnWebsiteClose = false;
    QString promptDomain; // site name the setup-mode prompt shows
    bool promptAnswered = false;
    bool promptAllow = false;
};

SharedState &shared();
// Back to the state of a fresh process (tests).
void resetShared();

} // namespace wendral
