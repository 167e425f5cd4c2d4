#include "core/paths.h"

#include "core/productinfo.h"

#include <QDir>
#include <QStandardPaths>

namespace wendral::Paths {
namespace {
// Test seam: folders a test points at temporary ones. Empty means the
// default; nothing but tests sets them.
QString g_programDir;
QString g_dataDir;
QString g_configDir;

QString joined(const QString &dir, QString name)
{
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    return dir + QLatin1Char('/') + name;
}
} // namespace

QString programDir()
{
    return g_programDir.isEmpty() ? ProductInfo::programFolder() : g_programDir;
}

QString dataDir()
{
    if (!g_dataDir.isEmpty())
        return g_dataDir;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') +
           ProductInfo::productName();
}

QString configDir()
{
    if (!g_configDir.isEmpty())
        return g_configDir;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           ProductInfo::productName();
}

QString settingsFile()
{
    // The same file QSettings("Wendral", "Wendral") uses on Linux.
    return configDir() + QLatin1Char('/') + ProductInfo::productName() + QStringLiteral(".conf");
}

QString programFile(const QString &name)
{
    return joined(programDir(), name);
}
QString dataFile(const QString &name)
{
    return joined(dataDir(), name);
}

void setProgramDir(const QString &dir)
{
    g_programDir = QDir::cleanPath(dir);
}
void setDataDir(const QString &dir)
{
    g_dataDir = QDir::cleanPath(dir);
}
void setConfigDir(const QString &dir)
{
    g_configDir = QDir::cleanPath(dir);
}

void resetOverrides()
{
    g_programDir.clear();
    g_dataDir.clear();
    g_configDir.clear();
}

} // namespace wendral::Paths
