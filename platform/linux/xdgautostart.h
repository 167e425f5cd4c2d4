#pragma once
// Starting the program when the user logs in on a freedesktop desktop: an
// autostart entry $XDG_CONFIG_HOME/autostart/<name>.desktop whose Exec line
// runs the program. The entry is written atomically and removed again on demand.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace wendral::XdgAutostart {

// The folder autostart entries of this user live in.
QString folder();
// The entry file for a name; empty when the name cannot name a file.
QString entryFile(const QString &name);

// One Exec argument, quoted when it holds a reserved character, with the
// string escapes of the file format applied on top, ready to go into the line.
QString execArgument(const QString &argument);
// A value of type string (Name=, Icon=) with the format's escapes.
QString escapeValue(const QString &value);
// The whole entry.
QByteArray entryContent(const QString &name, const QString &program, const QStringList &arguments = {});

// Writes (or replaces) the entry; false when it could not be written.
bool writeEntry(const QString &name, const QString &program, const QStringList &arguments = {});
// Removes the entry; true when none is left.
bool removeEntry(const QString &name);

} // namespace wendral::XdgAutostart

#include "platform/autostart.h"

namespace wendral {

// Run at logon through the user's autostart folder.
class XdgAutostartService : public AutostartService
{
public:
    bool enable(const QString &name, const QString &program) override
    {
        // At logon the program goes straight into the tray.
        return XdgAutostart::writeEntry(name, program, {QStringLiteral("--minimized")});
    }
    bool disable(const QString &name) override { return XdgAutostart::removeEntry(name); }
};

} // namespace wendral
