#include "sitelists/sitelists.h"

#include "app/paths.h"
#include "app/runtime.h"
#include "app/sharedstate.h"
#include "system/filehelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace wendral {

void StringListBox::removeItem(int i)
{
    if (i < 0 || i >= count())
        return;
    m_items.removeAt(i);
    if (m_selected == i)
        m_selected = -1;
    else if (m_selected > i)
        --m_selected;
}

void StringListBox::clear()
{
    m_items.clear();
    m_selected = -1;
}

namespace Module1 {
namespace {
const QLatin1String kCrLf("\r\n");

SiteListBox *g_list1 = nullptr;
SiteListBox *g_list2 = nullptr;

struct List
{
    QString &string;
    SiteListBox *box;
    QString file;
};

List allowed()
{
    return {shared().allowedList, g_list1, allowedFile()};
}
List disallowed()
{
    return {shared().disallowedList, g_list2, disallowedFile()};
}

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

bool add(const List &list, const QString &entry)
{
    const bool written = appendLine(list.file, entry);
    if (list.box)
        list.box->addItem(entry);
    list.string += entry + kCrLf;
    return written;
}

bool remove(const List &list, const QString &text)
{
    // The string follows the list box, so memory, list box and file agree once
    // the item has left the box (the caller removes it next).
    if (list.box) {
        QStringList items = boxItems(*list.box);
        int skip = firstSelected(*list.box);
        if (skip < 0 || items.at(skip) != text)
            skip = static_cast<int>(items.indexOf(text));
        if (skip >= 0)
            items.removeAt(skip);
        list.string = joinedEntries(items);
    } else {
        QStringList entries = list.string.split(kCrLf);
        if (entries.constLast().isEmpty())
            entries.removeLast(); // the text after the last CR LF
        entries.removeOne(text);
        list.string = joinedEntries(entries);
    }

    QByteArray content;
    if (!readWhole(list.file, content))
        return false; // never replace a file that could not be read
    QString kept;
    for (const QString &line : TextFile::splitLines(content)) {
        if (!line.isEmpty() && line.contains(text, Qt::CaseInsensitive))
            continue;
        kept += line + kCrLf;
    }
    return rewrite(list.file, TextFile::encode(kept + kCrLf));
}

bool load(const List &list)
{
    QByteArray content;
    if (!readWhole(list.file, content))
        return false;
    QString result;
    for (const QString &line : TextFile::splitLines(content)) {
        if (line.isEmpty() || line == QLatin1String(" "))
            continue;
        if (list.box)
            list.box->addItem(line);
        result += line + kCrLf;
    }
    list.string = result;
    return true;
}

bool save(const List &list)
{
    // Without a list box there is nothing to write the file from; writing an
    // empty list would lose the file's entries.
    if (!list.box)
        return false;
    return rewrite(list.file, TextFile::encode(joinedEntries(boxItems(*list.box)) + kCrLf));
}

bool commandAdd(const List &list, const QString &text)
{
    if (text.isEmpty() || text == QLatin1String(" "))
        return false;
    add(list, text);
    save(list);
    return true;
}

bool commandDelete(const List &list)
{
    if (!list.box)
        return false;
    const int i = firstSelected(*list.box);
    if (i < 0)
        return false;
    remove(list, list.box->item(i));
    list.box->removeItem(i);
    save(list);
    return true;
}
} // namespace

void setListBoxes(SiteListBox *list1, SiteListBox *list2)
{
    g_list1 = list1;
    g_list2 = list2;
}

QString allowedFile()
{
    return Paths::dataFile(QStringLiteral("allowed.txt"));
}
QString disallowedFile()
{
    return Paths::dataFile(QStringLiteral("disallowed.txt"));
}

bool addAllowed(const QString &entry)
{
    return add(allowed(), entry);
}
bool addDisallowed(const QString &entry)
{
    return add(disallowed(), entry);
}
bool removeAllowed(const QString &text)
{
    return remove(allowed(), text);
}
bool removeDisallowed(const QString &text)
{
    return remove(disallowed(), text);
}
bool loadAllowed()
{
    return load(allowed());
}
bool loadDisallowed()
{
    return load(disallowed());
}
bool saveAllowed()
{
    return save(allowed());
}
bool saveDisallowed()
{
    return save(disallowed());
}

bool ensureListFiles(const QString &defaultAllowedHost)
{
    bool ok = true;
    if (!fileExists(allowedFile()))
        ok = appendLine(allowedFile(), defaultAllowedHost) && ok;
    if (!fileExists(disallowedFile()))
        ok = appendLine(disallowedFile(), QString()) && ok;
    return ok;
}

bool commandAddAllowed(const QString &text)
{
    return commandAdd(allowed(), text);
}
bool commandAddDisallowed(const QString &text)
{
    return commandAdd(disallowed(), text);
}
bool commandDeleteAllowed()
{
    return commandDelete(allowed());
}
bool commandDeleteDisallowed()
{
    return commandDelete(disallowed());
}

} // namespace Module1
} // namespace wendral
