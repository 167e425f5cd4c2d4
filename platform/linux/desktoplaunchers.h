#pragma once
// Watching browsers that the user starts from the desktop: the application menu, the dock
// and the default-browser handler all start a browser through its desktop entry, which
// passes no debugging switch, so Wendral cannot watch it. Turned on, this writes for every
// installed Chromium-family browser a per-user entry with the browser's own id
// ($XDG_DATA_HOME/applications/<id>.desktop, which takes precedence over the system's) that
// starts the browser through Wendral's launcher. Turned off, exactly those entries go.
//
// A written entry is the browser's own entry with every key, action, MIME type, translation
// and comment kept; only its Exec lines (the main one and each action's) change, to
//
//   /bin/sh -c "<fixed script>" sh <launcher> --browser <the original command...>
//
// The fixed script runs "<launcher> --browser <original command>" when the launcher is an
// executable file (found on PATH or at its path) and otherwise the original command itself,
// so an entry still starts the browser after Wendral is removed. Field codes (%U, %f, ...)
// of the original stay bare arguments and are expanded by the desktop as before.
//
// Entries written here carry X-Wendral-Watched=true, the original's path and hash, and a
// hash of the entry itself: a per-user entry without them, or one changed since it was
// written, belongs to the user and is never overwritten or removed.

#include <QList>
#include <QString>
#include <QStringList>

namespace wendral {

class DesktopLaunchers
{
public:
    // applicationsDir: where the per-user entries go ($XDG_DATA_HOME/applications).
    // systemDataDirs: $XDG_DATA_DIRS, highest precedence first; their applications/ folders
    // hold the browsers' own entries.
    // launcher: the launcher program, a path or a name looked up on PATH when an entry starts.
    DesktopLaunchers(QString applicationsDir, QStringList systemDataDirs, QString launcher);

    // The folders of this session: $XDG_DATA_HOME (default ~/.local/share) and $XDG_DATA_DIRS
    // (default /usr/local/share:/usr/share), read when called.
    static DesktopLaunchers forCurrentUser(const QString &launcher);

    // The program run on the applications folder after entries change, so that the MIME
    // handler cache there is current; "update-desktop-database" from PATH unless set. An
    // empty program runs nothing. It runs detached and its failure is ignored.
    void setCacheUpdater(const QString &program);

    QString applicationsDir() const { return m_applicationsDir; }
    QStringList systemDataDirs() const { return m_systemDataDirs; }

    struct Browser
    {
        QString id;         // desktop file id, e.g. "chromium.desktop"
        QString sourceFile; // the browser's own entry
        QString program;    // what its Exec line starts, e.g. "/usr/bin/chromium"
    };
    // The installed Chromium-family browsers whose entries can be rewritten, by id, with the
    // precedence of the data folders applied.
    QList<Browser> installedBrowsers() const;

    struct Skipped
    {
        QString id;
        QString reason;
    };
    struct Report
    {
        QStringList written; // ids whose per-user entry is now in place (new, refreshed or unchanged)
        QStringList removed; // ids of Wendral's entries taken away
        QList<Skipped> skipped;
        QStringList failed; // files that could not be written or removed
        bool ok() const { return failed.isEmpty(); }
    };

    // Writes or refreshes the per-user entries and removes Wendral's entries of browsers that
    // are no longer installed. Files whose content would not change are not touched.
    Report turnOn();
    // Removes Wendral's entries, and nothing else.
    Report turnOff();
    // One line for the status bar on what turning on (or off) did: which
    // browsers are watched now, what was skipped and why, what failed.
    static QString describe(const Report &report, bool turnedOn);
    // True while any of Wendral's entries is in the applications folder.
    bool isOn() const;
    // The paths of Wendral's entries in the applications folder.
    QStringList ownEntries() const;

    // The per-user entry for a browser's own entry, or an empty array when it is not a
    // browser this can rewrite (with the reason in *reason when given).
    static QByteArray watchedEntry(const QByteArray &original, const QString &sourceFile, const QString &launcher,
                                   QString *reason = nullptr);
    // Largest entry file read; bigger ones are not desktop entries of any browser.
    static constexpr qint64 maxEntrySize = 1024 * 1024;

private:
    struct Found;
    struct UserEntry;
    struct Scan;
    Scan scanSystem() const;
    QList<UserEntry> userEntries() const;
    void updateCache() const;

    QString m_applicationsDir;
    QStringList m_systemDataDirs;
    QString m_launcher;
    QString m_cacheUpdater;
    bool m_cacheUpdaterSet = false;
};

} // namespace wendral
