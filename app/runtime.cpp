#include "app/runtime.h"

#include "buildinfo.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringDecoder>
#include <cmath>

namespace wendral {

int twipsToPixels(int twips)
{
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

int pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

void processPendingMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace App {
QString path()
{
    QString dir = QCoreApplication::applicationDirPath();
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

QString exeName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString exeFullPath()
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
QString comments()
{
    return QStringLiteral(WENDRAL_COMMENTS);
}
int major()
{
    return WENDRAL_VERSION_MAJOR;
}
int minor()
{
    return WENDRAL_VERSION_MINOR;
}
} // namespace App

namespace TextFile {
QStringList splitLines(const QByteArray &content)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = content.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (content.at(i) != '\r')
            continue;
        lines.append(decodeLine(content.mid(start, i - start)));
        if (i + 1 < n && content.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(decodeLine(content.mid(start)));
    return lines;
}

QString decodeLine(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray encode(const QString &text)
{
    return text.toUtf8();
}
} // namespace TextFile

} // namespace wendral
