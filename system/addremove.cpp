#include "system/addremove.h"

#include "app/runtime.h"
#include "system/autostart.h"
#include "system/registry.h"

namespace wendral {

void AddRemove::AddToList(const QString &name, const QString &uninstallCommand)
{
    SaveString(HKEY_LOCAL_MACHINE, uninstallRoot() + name, QStringLiteral("DisplayName"), name);
    SaveString(HKEY_LOCAL_MACHINE, uninstallRoot() + name, QStringLiteral("UninstallString"), uninstallCommand);
}

void AddRemove::RemoveFromList(const QString &name)
{
    DeleteKey(HKEY_LOCAL_MACHINE, uninstallRoot() + name);
}

void AddRemove::AddToRun(const QString &valueName, const QString &fileToRun)
{
    SaveString(HKEY_LOCAL_MACHINE, runKey(), valueName, fileToRun);
    Autostart::writeEntry(valueName, fileToRun);
}

void AddRemove::RemoveFromRun(const QString &valueName)
{
    DeleteValue(HKEY_LOCAL_MACHINE, runKey(), valueName);
    Autostart::removeEntry(valueName);
}

void AddRemove::SaveKey(quint32 root, const QString &keyPath)
{
    HKEY key = 0;
    regCreateKey(root, keyPath, &key);
    regCloseKey(key);
}

QString AddRemove::GetString(quint32 root, const QString &keyPath, const QString &valueName)
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

void AddRemove::SaveString(quint32 root, const QString &keyPath, const QString &valueName, const QString &data)
{
    HKEY key = 0;
    regCreateKey(root, keyPath, &key);
    regSetValueEx(key, valueName, 0, REG_SZ, data.toUtf8().append('\0'));
    regCloseKey(key);
}

void AddRemove::DeleteValue(quint32 root, const QString &keyPath, const QString &valueName)
{
    HKEY key = 0;
    regOpenKey(root, keyPath, &key);
    regDeleteValue(key, valueName);
    regCloseKey(key);
}

void AddRemove::DeleteKey(quint32 root, const QString &keyPath)
{
    regDeleteKey(root, keyPath);
}

} // namespace wendral
