#pragma once
// Generic key and value operations on the registry plus the shell entries built
// on them: the entry in the list of installed programs and the value that
// starts the program at logon. Every status of the store is ignored; callers
// cannot tell success from failure.
//
// On this desktop the logon-start value alone starts nothing, so AddToRun also
// writes a freedesktop autostart entry for the same name and RemoveFromRun
// removes it.

#include "system/registry.h" // root keys and value types

#include <QString>
#include <QtGlobal>

namespace wendral {

class AddRemove
{
public:
    // Key of the installed-programs list (with its trailing backslash) and of
    // the logon-start values, both under HKEY_LOCAL_MACHINE.
    static QString uninstallRoot()
    {
        return QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    }
    static QString runKey() { return QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"); }

    void AddToList(const QString &name, const QString &uninstallCommand);
    void RemoveFromList(const QString &name);
    // `fileToRun` is the program's real executable path (App::exeFullPath()).
    void AddToRun(const QString &valueName, const QString &fileToRun);
    void RemoveFromRun(const QString &valueName);
    void SaveKey(quint32 root, const QString &keyPath);
    // The text of a REG_SZ value up to its first NUL; empty for a missing value
    // or one of another type.
    QString GetString(quint32 root, const QString &keyPath, const QString &valueName);
    void SaveString(quint32 root, const QString &keyPath, const QString &valueName, const QString &data);
    void DeleteValue(quint32 root, const QString &keyPath, const QString &valueName);
    // Deletes through the root directly; a key that has subkeys stays.
    void DeleteKey(quint32 root, const QString &keyPath);
};

} // namespace wendral
