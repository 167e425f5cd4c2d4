#pragma once
// What the process table tells about a running browser: its command line (as
// the kernel gives it, NUL-separated, or rewritten by Chromium into one
// space-joined string), which browser it is, where its profile folder is, and
// whether it runs on this desktop.
//
// "This desktop" is this user's display: a browser whose DISPLAY or
// WAYLAND_DISPLAY (from /proc/PID/environ) is ours, or, where we have no
// display, whose XDG_RUNTIME_DIR is ours. Chromium blanks its environment
// block when it rewrites its command line, so where the environment cannot be
// read the display servers the browser is connected to are looked at instead:
// the peers of its unix sockets (an X server listens on /tmp/.X11-unix/X<n>, a
// Wayland compositor on $XDG_RUNTIME_DIR/wayland-<n>).

#include "blocking/browserwatch.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace wendral::cdp {

struct BrowserCommandLine
{
    QString program;       // argv[0]
    QStringList arguments; // the rest
    // One space-joined string: arguments were split where a switch begins
    // (" --"), so a switch's value may carry words that followed it.
    bool rewritten = false;

    static BrowserCommandLine parse(const QByteArray &raw);
    // --name or --name=value is there (name without the dashes).
    bool has(QLatin1String name) const;
    // The value of the last --name=value; no value when there is none.
    std::optional<QString> value(QLatin1String name) const;
    // A child process of a browser (renderer, GPU, utility, zygote...).
    bool isHelper() const { return has(QLatin1String("type")); }
};

// The browser a program file is, from its name (and folder, for "chrome").
std::optional<BrowserKind> browserKindOfProgram(const QString &path);
// The folder, relative to the config folder, where that browser keeps its
// profile when no --user-data-dir is given ("chromium",
// "BraveSoftware/Brave-Browser", "google-chrome-beta", ...).
QString defaultProfileFolder(BrowserKind kind, const QString &programPath);

// NAME=VALUE entries of a NUL-separated environment block; empty when it was
// blanked (all NULs) or unreadable.
QHash<QByteArray, QByteArray> parseEnvironment(const QByteArray &raw);

// The display and runtime folder of a desktop session.
struct DesktopIdentity
{
    QString display;        // $DISPLAY
    QString waylandDisplay; // $WAYLAND_DISPLAY
    QString runtimeDir;     // $XDG_RUNTIME_DIR

    static DesktopIdentity current();
    static DesktopIdentity fromEnvironment(const QHash<QByteArray, QByteArray> &environment);
    bool hasDisplay() const { return !display.isEmpty() || !waylandDisplay.isEmpty(); }
    // The X display as "host:N" ("" host for a local one); none when DISPLAY
    // is empty or not a display name.
    std::optional<QString> x11Display() const;
    // The Wayland socket's path; empty without WAYLAND_DISPLAY.
    QString waylandSocket() const;
};

// The X display name normalised to "host:N" (":N" for a local display, also
// given as unix:N or as the socket's path); none for anything else.
std::optional<QString> normalisedX11Display(const QString &display);

enum class Placement
{
    ThisDesktop,
    OtherDesktop,
    Unknown,
};

// From the browser's environment (which must have been readable).
Placement placementByEnvironment(const DesktopIdentity &theirs, const DesktopIdentity &ours);
// From the names of the sockets the browser's sockets are connected to
// ("@name" for an abstract one). Unknown when none is a display server's.
Placement placementBySocketPeers(const QStringList &peerNames, const DesktopIdentity &ours);

// The inodes of the sockets among a process's open files (/proc/PID/fd), at
// most maxFiles files looked at.
QList<quint64> socketInodes(const QString &procPidDir, int maxFiles);

// For every connected unix socket of this network namespace whose peer has a
// name: its inode and that name ("@..." for an abstract name). Read from the
// kernel's socket diagnostics (the way ss does); at most maxSockets sockets;
// empty when the kernel does not answer.
QHash<quint64, QString> readUnixSocketPeers(int maxSockets);

} // namespace wendral::cdp
