#include "platform/shellentries.h"

#include "core/registry.h"
#include "core/textfile.h"

namespace wendral {

void ShellEntries::addToList(const QString &name, const QString &uninstallCommand)
{
    saveString(HKEY_LOCAL_MACHINE, uninstallRoot() + name, QStringLiteral("DisplayName"), name);
    saveString(HKEY_LOCAL_MACHINE, uninstallRoot() + name, QStringLiteral("UninstallString"), uninstallCommand);
}

void ShellEntries::removeFromList(const QString &name)
{
    deleteKey(HKEY_LOCAL_MACHINE, uninstallRoot() + name);
}

void ShellEntries::addToRun(const QString &valueName, const QString &fileToRun)
{
    saveString(HKEY_LOCAL_MACHINE, runKey(), valueName, fileToRun);
    autostart().enable(valueName, fileToRun);
}

void ShellEntries::removeFromRun(const QString &valueName)
{
    deleteValue(HKEY_LOCAL_MACHINE, runKey(), valueName);
    autostart().disable(valueName);
}

void ShellEntries::saveKey(quint32 root, const QString &keyPath)
{
    HKEY key = 0;
    regCreateKey(root, keyPath, &key);
    regCloseKey(key);
}

QString ShellEntries::getString(quint32 root, const QString &keyPath, const QString &valueName)
{
    QString result;
    HKEY key = 0;
    quint32 type = 0;
    quint32 size = 0;
    regOpenKey(root, keyPath, &key);
    regQueryValueEx(key, valueName, nullptr, &type, nullptr, &size);
    // A missing value leaves the type at 0, so it lands here too.
    if (type == REG_SZ) {
        QByteArray buffer(size, ' ');
        type = 0;
        quint32 length = size;
        if (regQueryValueEx(key, valueName, nullptr, &type, buffer.data(), &length) == ERROR_SUCCESS) {
            const qsizetype nul = buffer.indexOf('\0');
            result = TextFile::decodeLine(nul >= 0 ? buffer.left(nul) : buffer);
        }
    }
    regCloseKey(key);
    return result;
}

void ShellEntries::saveString(quint32 root, const QString &keyPath, const QString &valueName, const QString &data)
{
    HKEY key = 0;
    regCreateKey(root, keyPath, &key);
    regSetValueEx(key, valueName, 0, REG_SZ, data.toUtf8().append('\0'));
    regCloseKey(key);
}

void ShellEntries::deleteValue(quint32 root, const QString &keyPath, const QString &valueName)
{
    HKEY key = 0;
    regOpenKey(root, keyPath, &key);
    regDeleteValue(key, valueName);
    regCloseKey(key);
}

void ShellEntries::deleteKey(quint32 root, const QString &keyPath)
{
    regDeleteKey(root, keyPath);
}

} // namespace wendral
