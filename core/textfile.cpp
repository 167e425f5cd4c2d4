#include "core/textfile.h"

#include <QStringDecoder>

namespace wendral::TextFile {

QList<QByteArray> splitRawLines(const QByteArray &content)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = content.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (content.at(i) != '\r')
            continue;
        lines.append(content.mid(start, i - start));
        if (i + 1 < n && content.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(content.mid(start));
    return lines;
}

QStringList splitLines(const QByteArray &content)
{
    QStringList lines;
    for (const QByteArray &raw : splitRawLines(content))
        lines.append(decodeLine(raw));
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

} // namespace wendral::TextFile
