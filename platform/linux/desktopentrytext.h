#pragma once
// The string escapes of desktop entry values (the format's string type), shared
// by the launcher entries and the autostart entry.

#include <QString>

namespace wendral::desktopentry {

// Backslash, newline, tab and carriage return as escapes.
QString escapeCharacters(const QString &text);
// A whole value: as above, and a leading space as \s so that readers that trim
// values keep it.
QString escapeValue(const QString &value);
// The escapes undone the way GLib does: an unknown escape is kept as it stands.
QString unescapeValue(const QString &value);

} // namespace wendral::desktopentry
