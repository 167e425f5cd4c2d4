#pragma once
// Generic key and value operations on the registry plus the shell entries built
// on them: the entry in the list of installed programs and the value that
// starts the program at logon. Every status of the store is ignored; callers
// cannot tell success from failure.
//
// On this desktop the logon-start value alone starts nothing, so addToRun also
// sets up the platform's autostart for the same name and removeFromRun takes it
// away again.

#include "core/registry.h" // root keys and value types

#include "platform/linux/xdgautostart.h"

#include <QString>
#include <QtGlobal>

namespace wendral {

class ShellEntries
{
public:
    // autostart: not owned; the freedesktop autostart folder when null.
    explicit ShellEntries(AutostartService *autostart = nullptr) : m_autostart(autostart) {}

    // Key of the installed-programs list (with its trailing backslash) and of
    // the logon-start values, both under HKEY_LOCAL_MACHINE.
    static QString uninstallRoot()
    {
        return QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
    }
    static QString runKey() { return QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run"); }

    void addToList(const QString &name, const QString &uninstallCommand);
    void removeFromList(const QString &name);
    // `fileToRun` is the program's real executable path (ProductInfo::executablePath()).
    void addToRun(const QString &valueName, const QString &fileToRun);
    void removeFromRun(const QString &valueName);
    void saveKey(quint32 root, const QString &keyPath);
    // The text of a REG_SZ value up to its first NUL; empty for a missing value
    // or one of another type.
    QString getString(quint32 root, const QString &keyPath, const QString &valueName);
    void saveString(quint32 root, const QString &keyPath, const QString &valueName, const QString &data);
    void deleteValue(quint32 root, const QString &keyPath, const QString &valueName);
    // Deletes through the root directly; a key that has subkeys stays.
    void deleteKey(quint32 root, const QString &keyPath);

private:
    AutostartService &autostart() { return m_autostart ? *m_autostart : m_xdgAutostart; }
    AutostartService *m_autostart;
    XdgAutostartService m_xdgAutostart;
};

} // namespace wendral
