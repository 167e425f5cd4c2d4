#include "core/sitelists.h"

#include "core/filehelpers.h"
#include "core/paths.h"
#include "core/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace wendral {
namespace {
const QLatin1String kCrLf("\r\n");

bool makeFolderFor(const QString &file)
{
    return QDir().mkpath(QFileInfo(file).absolutePath());
}

bool readWhole(const QString &path, QByteArray &content)
{
    if (QFileInfo(path).isDir())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    content = file.readAll();
    return file.error() == QFileDevice::NoError;
}

// Replaces the file only once the new content is complete on disk.
bool rewrite(const QString &path, const QByteArray &content)
{
    if (QFileInfo(path).isDir() || !makeFolderFor(path))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // commit() alone misses a flush that writes only part of the data (a full
    // disk), so the flush is checked first.
    if (file.write(content) != content.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Appends one line. A file whose last line has no line end (edited by hand)
// gets one first, so the new entry does not run into the last one.
bool appendLine(const QString &path, const QString &line)
{
    if (QFileInfo(path).isDir() || !makeFolderFor(path))
        return false;
    QByteArray bytes = TextFile::encode(line) + "\r\n";
    QFile file(path);
    if (file.open(QIODevice::ReadWrite)) {
        const qint64 size = file.size();
        if (size > 0) {
            QByteArray tail;
            if (file.seek(qMax<qint64>(0, size - 2)))
                tail = file.read(2);
            if (!tail.endsWith('\r') && !tail.endsWith("\r\n"))
                bytes.prepend("\r\n");
        }
        if (!file.seek(size))
            return false;
    } else if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return false;
    }
    return file.write(bytes) == bytes.size() && file.flush();
}

QString joinedEntries(const QStringList &entries)
{
    QString text;
    for (const QString &e : entries)
        text += e + kCrLf;
    return text;
}

QStringList boxItems(const SiteListBox &box)
{
    QStringList items;
    items.reserve(box.count());
    for (int i = 0; i < box.count(); ++i)
        items.append(box.item(i));
    return items;
}

int firstSelected(const SiteListBox &box)
{
    for (int i = 0; i < box.count(); ++i) {
        if (box.isSelected(i))
            return i;
    }
    return -1;
}

} // namespace

bool isSiteListed(const QString &siteName, const QString &listText)
{
    if (siteName.isEmpty())
        return false;
    return listText.contains(siteName, Qt::CaseInsensitive);
}

SiteList::SiteList(const QString &filePath) : m_file(filePath) {}

void SiteList::setText(const QString &text)
{
    m_index.rebuild(text);
}

bool SiteList::contains(const QString &siteName) const
{
    return m_index.contains(siteName);
}

bool SiteList::add(const QString &entry)
{
    const bool written = appendLine(m_file, entry);
    if (m_box)
        m_box->addItem(entry);
    setText(text() + entry + kCrLf);
    return written;
}

bool SiteList::remove(const QString &text)
{
    // The text follows the list box, so memory, list box and file agree once
    // the item has left the box (the caller removes it next).
    if (m_box) {
        QStringList items = boxItems(*m_box);
        int skip = firstSelected(*m_box);
        if (skip < 0 || items.at(skip) != text)
            skip = static_cast<int>(items.indexOf(text));
        if (skip >= 0)
            items.removeAt(skip);
        setText(joinedEntries(items));
    } else {
        QStringList entries = m_index.text().split(kCrLf);
        if (entries.constLast().isEmpty())
            entries.removeLast(); // the text after the last CR LF
        entries.removeOne(text);
        setText(joinedEntries(entries));
    }

    QByteArray content;
    if (!readWhole(m_file, content))
        return false; // never replace a file that could not be read
    QString kept;
    for (const QString &line : TextFile::splitLines(content)) {
        if (!line.isEmpty() && line.contains(text, Qt::CaseInsensitive))
            continue;
        kept += line + kCrLf;
    }
    return rewrite(m_file, TextFile::encode(kept + kCrLf));
}

bool SiteList::load()
{
    QByteArray content;
    if (!readWhole(m_file, content))
        return false;
    QString result;
    for (const QString &line : TextFile::splitLines(content)) {
        if (line.isEmpty() || line == QLatin1String(" "))
            continue;
        if (m_box)
            m_box->addItem(line);
        result += line + kCrLf;
    }
    setText(result);
    return true;
}

bool SiteList::save()
{
    // Without a list box there is nothing to write the file from; writing an
    // empty list would lose the file's entries.
    if (!m_box)
        return false;
    return rewrite(m_file, TextFile::encode(joinedEntries(boxItems(*m_box)) + kCrLf));
}

bool SiteList::ensureFile(const QString &firstLine)
{
    if (fileExists(m_file))
        return true;
    return appendLine(m_file, firstLine);
}

bool SiteList::commandAdd(const QString &text)
{
    if (text.isEmpty() || text == QLatin1String(" "))
        return false;
    add(text);
    save();
    return true;
}

bool SiteList::commandDelete()
{
    if (!m_box)
        return false;
    const int i = firstSelected(*m_box);
    if (i < 0)
        return false;
    remove(m_box->item(i));
    m_box->removeItem(i);
    save();
    return true;
}

SiteLists::SiteLists()
    : SiteLists(Paths::dataFile(QStringLiteral("allowed.txt")), Paths::dataFile(QStringLiteral("disallowed.txt")))
{}

SiteLists::SiteLists(const QString &allowedFile, const QString &disallowedFile)
    : m_allowed(allowedFile), m_disallowed(disallowedFile)
{}

bool SiteLists::ensureFiles(const QString &defaultAllowedHost)
{
    const bool allowedOk = m_allowed.ensureFile(defaultAllowedHost);
    const bool disallowedOk = m_disallowed.ensureFile(QString());
    return allowedOk && disallowedOk;
}

} // namespace wendral
