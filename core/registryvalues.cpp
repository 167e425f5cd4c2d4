#include "core/registryvalues.h"

#include "core/registry.h"
#include "core/textfile.h"

namespace wendral::RegistryValues {

namespace {
QString valueNameFor(const QString &valueName)
{
    return valueName == QLatin1String("*") ? QString() : valueName;
}
} // namespace

QString trimKeySlashes(const QString &path)
{
    QString trimmed = path;
    if (trimmed.startsWith(QLatin1Char('\\')))
        trimmed.remove(0, 1);
    if (trimmed.endsWith(QLatin1Char('\\')))
        trimmed.chop(1);
    return trimmed;
}

QString readValue(quint32 root, const QString &keyPath, const QString &valueName, const QString &def)
{
    QString result = def;
    const QString path = trimKeySlashes(keyPath);
    HKEY key = 0;
    qint32 rc = regOpenKeyEx(root, path, 0, KEY_ALL_ACCESS, &key);
    if (rc == ERROR_ACCESS_DENIED)
        rc = regOpenKeyEx(root, path, 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) {
        const QString name = valueNameFor(valueName);
        quint32 size = 0;
        rc = regQueryValueEx(key, name, nullptr, nullptr, nullptr, &size);
        if (rc == ERROR_SUCCESS && size > 0) {
            QByteArray buffer(size, ' ');
            quint32 length = static_cast<quint32>(buffer.size());
            if (regQueryValueEx(key, name, nullptr, nullptr, buffer.data(), &length) == ERROR_SUCCESS) {
                // Drop the terminating NUL. A value stored without one keeps its
                // last character instead of losing it.
                QByteArray text = buffer.left(size);
                if (text.endsWith('\0'))
                    text.chop(1);
                result = TextFile::decodeLine(text);
            }
        }
    }
    if (key)
        regCloseKey(key);
    return result;
}

bool writeValue(quint32 root, const QString &keyPath, const QString &valueName, const QString &data)
{
    HKEY key = 0;
    quint32 disposition = 0;
    const qint32 created =
        regCreateKeyEx(root, trimKeySlashes(keyPath), 0, QString(), 0, KEY_ALL_ACCESS, &key, &disposition);
    qint32 written = created;
    if (created == ERROR_SUCCESS) {
        written = regSetValueEx(key, valueNameFor(valueName), 0, REG_SZ, data.toUtf8().append('\0'));
        regCloseKey(key);
    }
    return created == ERROR_SUCCESS && written == ERROR_SUCCESS;
}

bool deleteEntry(quint32 root, const QString &keyPath, const QString &valueName)
{
    HKEY key = 0;
    qint32 rc;
    if (!valueName.isEmpty()) {
        rc = regOpenKeyEx(root, trimKeySlashes(keyPath), 0, KEY_ALL_ACCESS, &key);
        if (rc == ERROR_SUCCESS)
            rc = regDeleteValue(key, valueNameFor(valueName));
    } else {
        rc = regOpenKeyEx(root, QString(), 0, KEY_ALL_ACCESS, &key);
        if (rc == ERROR_SUCCESS)
            rc = regDeleteKey(key, keyPath);
    }
    // The result is that of the deletion (or of the open that failed), not of
    // closing the key, so a failed deletion is never reported as success.
    if (key)
        regCloseKey(key);
    return rc == ERROR_SUCCESS;
}

} // namespace wendral::RegistryValues
