#include "core/productinfo.h"

#include "buildinfo.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace wendral::ProductInfo {

QString programFolder()
{
    QString dir = QCoreApplication::applicationDirPath();
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

QString executablePath()
{
    const QString file = QCoreApplication::applicationFilePath();
    const QString canonical = QFileInfo(file).canonicalFilePath();
    return canonical.isEmpty() ? file : canonical;
}

QString productName()
{
    return QStringLiteral(WENDRAL_PRODUCT_NAME);
}
QString companyName()
{
    return QStringLiteral(WENDRAL_COMPANY_NAME);
}
QString website()
{
    return QStringLiteral(WENDRAL_COMMENTS);
}
int versionMajor()
{
    return WENDRAL_VERSION_MAJOR;
}
int versionMinor()
{
    return WENDRAL_VERSION_MINOR;
}
QString versionText()
{
    return QStringLiteral(WENDRAL_VERSION_STRING);
}
QString releaseVersion()
{
    return QStringLiteral(WENDRAL_RELEASE_VERSION);
}
QString desktopId()
{
    return QStringLiteral(WENDRAL_DESKTOP_ID);
}

} // namespace wendral::ProductInfo
