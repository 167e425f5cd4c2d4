#include "core/filehelpers.h"

#include <QDir>
#include <QFileInfo>

namespace wendral {
namespace {
bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// Case-blind match of * (any run of characters) and ? (one character); every
// other character stands for itself (no character classes).
bool wildcardMatch(const QString &pattern, const QString &name)
{
    qsizetype p = 0, n = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern.at(p) == QLatin1Char('?') || pattern.at(p).toUpper() == name.at(n).toUpper())) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

bool isNormalFile(const QFileInfo &info)
{
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'));
}
} // namespace

QString fileNameOf(const QString &path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (isSeparator(path.at(i)))
            return path.mid(i + 1);
    }
    return path;
}

bool fileExists(const QString &path)
{
    const QString name = fileNameOf(path);
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        return false;
    QString folder = path.left(path.size() - name.size());
    folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (folder.isEmpty())
        folder = QStringLiteral(".");
    const QDir dir(folder);

    const bool wildcard = name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
    if (!wildcard && isNormalFile(QFileInfo(dir, name)))
        return true; // the exact name is there; no need to list the folder

    // QDir::Files leaves out folders, hidden entries and special files; broken
    // links are special files too.
    const QFileInfoList entries = dir.entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &entry : entries) {
        const QString found = entry.fileName();
        if (!isNormalFile(entry) || !wildcardMatch(name, found))
            continue;
        return QString::compare(found, name, Qt::CaseInsensitive) == 0;
    }
    return false;
}

} // namespace wendral
