#pragma once
// Which browsers Wendral watches, in terms a user knows: the Chromium-family
// browser kinds, a browser process that runs on this desktop without the
// debugging switch (so its popups are not stopped), and the short summary the
// tray menu shows ("Watching 2 browsers, 1 unwatched").

#include <QList>
#include <QMetaType>
#include <QString>

namespace wendral {

enum class BrowserKind
{
    Chromium,
    GoogleChrome,
    MicrosoftEdge,
    Brave,
    Vivaldi,
};

// The name a user knows the browser by ("Google Chrome").
QString browserKindName(BrowserKind kind);

// A browser main process of this desktop that no one can watch: it was started
// without the debugging switch.
struct UnwatchedBrowser
{
    qint64 pid = 0;
    // When the process started (clock ticks since boot), so that a process id
    // used again by a later process is a different browser.
    quint64 startTime = 0;
    BrowserKind kind = BrowserKind::Chromium;
    QString name;       // browserKindName(kind)
    QString profileDir; // the profile folder it uses (absolute)

    bool sameProcess(const UnwatchedBrowser &o) const { return pid == o.pid && startTime == o.startTime; }
    bool operator==(const UnwatchedBrowser &o) const = default;
};

// "Watching 1 browser", "Watching 2 browsers, 1 unwatched", "No browser watched,
// 1 unwatched", "No browser watched".
QString watchSummary(int watched, int unwatched);

} // namespace wendral

Q_DECLARE_METATYPE(wendral::UnwatchedBrowser)
