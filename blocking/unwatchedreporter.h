#pragma once
// Tells the user about each browser that runs on this desktop without being
// watched: once per browser process (never again while that process runs, and
// a second such browser is a new one), and never while popup blocking is off.
// A browser found while blocking is off is told about when blocking comes on,
// if it still runs. What to tell goes out as a title and a text; the program
// hands them to the desktop's notifications.

#include "blocking/browserwatch.h"

#include <QList>
#include <QObject>

#include <functional>

namespace wendral {

class BrowserWindows;

class UnwatchedBrowserReporter : public QObject
{
    Q_OBJECT
public:
    // Follows the browsers' changes; neither is owned. blockingEnabled says
    // whether popup blocking is on right now.
    UnwatchedBrowserReporter(BrowserWindows *browsers, std::function<bool()> blockingEnabled,
                             QObject *parent = nullptr);

    // The message for one browser.
    static QString title(const UnwatchedBrowser &browser);
    static QString text(const UnwatchedBrowser &browser);

    // Looks at the unwatched browsers now (the browsers' change signal and a
    // change of the blocking option call it).
    void reconsider();

    // Processes told about that still run.
    int toldCount() const { return static_cast<int>(m_told.size()); }

signals:
    void report(const QString &title, const QString &text);

private:
    BrowserWindows *m_browsers;
    std::function<bool()> m_blockingEnabled;
    QList<UnwatchedBrowser> m_told;
};

} // namespace wendral
