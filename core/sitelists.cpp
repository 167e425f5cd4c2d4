#include "core/sitelists.h"

#include "core/filehelpers.h"
#include "core/paths.h"
#include "core/regularfile.h"
#include "core/textfile.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStringList>

namespace wendral {
namespace {
const QLatin1String kCrLf("\r\n");
const QByteArray kCrLfBytes("\r\n");

bool isEntryLine(const QByteArray &raw)
{
    return !raw.isEmpty() && raw != " ";
}

QString joinedEntries(const QStringList &entries)
{
    QString text;
    for (const QString &e : entries)
        text += e + kCrLf;
    return text;
}

QStringList textEntries(const QString &text)
{
    QStringList entries = text.split(kCrLf);
    if (entries.constLast().isEmpty())
        entries.removeLast(); // the text after the last CR LF
    return entries;
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

int indexOfItem(const SiteListBox &box, const QString &text)
{
    for (int i = 0; i < box.count(); ++i) {
        if (box.item(i) == text)
            return i;
    }
    return -1;
}

QString listName(const QString &file)
{
    return QFileInfo(file).fileName();
}

// Lines as TextFile::splitRawLines makes them, counted without making them:
// every line ends at a CR, and text after the last CR is one more line.
qsizetype lineCount(const QByteArray &content)
{
    const qsizetype ends = content.count('\r');
    const qsizetype lastEnd = content.lastIndexOf('\r');
    const bool tail = lastEnd + 1 < content.size() && !(lastEnd + 2 == content.size() && content.endsWith("\r\n"));
    return ends + (tail ? 1 : 0);
}

} // namespace

// What an edit found on disk: the bytes to edit, and whether the file is
// missing (then a write must put the whole list back, not append to nothing).
struct SiteList::DiskContent
{
    QByteArray bytes;
    bool missing = false;
};

bool isSiteListed(const QString &siteName, const QString &listText)
{
    if (siteName.isEmpty() || siteName.size() > kMaxSiteNameLength)
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
    if (siteName.size() > kMaxSiteNameLength)
        return false;
    return m_index.contains(siteName);
}

void SiteList::setProblemObserver(std::function<void(const QString &)> observer)
{
    m_observer = std::move(observer);
}

void SiteList::report(const QString &message)
{
    m_problem = message;
    if (m_observer)
        m_observer(message);
}

bool SiteList::withinBounds(const QByteArray &content)
{
    if (content.size() <= kMaxListFileBytes && lineCount(content) <= kMaxListLines)
        return true;
    report(QStringLiteral("The change is refused: %1 would grow beyond %2 MiB or %3 lines (%4)")
               .arg(listName(m_file))
               .arg(kMaxListFileBytes / (1024 * 1024))
               .arg(kMaxListLines)
               .arg(m_file));
    return false;
}

bool SiteList::readForEdit(DiskContent &disk)
{
    const RegularFile::ReadResult r = RegularFile::read(m_file, kMaxListFileBytes);
    if (r.status == RegularFile::Status::Missing) {
        // A file removed while the program runs is no change to take in: the
        // list it held is written back.
        disk.bytes = m_onDisk;
        disk.missing = true;
        return true;
    }
    if (r.status != RegularFile::Status::Ok) {
        report(QStringLiteral("The change is refused: ") + RegularFile::describe(r.status, r.error, m_file));
        return false;
    }
    if (lineCount(r.content) > kMaxListLines) {
        report(QStringLiteral("The change is refused: ") +
               RegularFile::describe(RegularFile::Status::TooLarge, 0, m_file));
        return false;
    }
    disk.bytes = r.content;
    takeIn(disk.bytes);
    return true;
}

void SiteList::takeIn(const QByteArray &current)
{
    if (m_known && current == m_onDisk)
        return;
    // Entry lines by their bytes: those only on disk now were added there,
    // those only in the old content were removed there.
    QHash<QByteArray, qsizetype> before;
    if (m_known) {
        for (const QByteArray &raw : TextFile::splitRawLines(m_onDisk)) {
            if (isEntryLine(raw))
                ++before[raw];
        }
    }
    QList<QByteArray> added;
    for (const QByteArray &raw : TextFile::splitRawLines(current)) {
        if (!isEntryLine(raw))
            continue;
        auto it = before.find(raw);
        if (it != before.end() && it.value() > 0)
            --it.value();
        else
            added.append(raw);
    }
    QStringList removed;
    if (m_known) {
        for (const QByteArray &raw : TextFile::splitRawLines(m_onDisk)) {
            auto it = before.find(raw);
            if (it != before.end() && it.value() > 0) {
                --it.value();
                removed.append(TextFile::decodeLine(raw));
            }
        }
    }
    m_onDisk = current;
    m_known = true;
    if (added.isEmpty() && removed.isEmpty())
        return;

    QStringList entries = textEntries(text());
    for (const QString &gone : std::as_const(removed)) {
        entries.removeOne(gone);
        if (m_box) {
            const int i = indexOfItem(*m_box, gone);
            if (i >= 0)
                m_box->removeItem(i);
        }
    }
    for (const QByteArray &raw : std::as_const(added)) {
        const QString entry = TextFile::decodeLine(raw);
        entries.append(entry);
        if (m_box)
            m_box->addItem(entry);
    }
    setText(joinedEntries(entries));
}

SiteList::Outcome SiteList::rewrite(const QByteArray &content)
{
    if (!withinBounds(content))
        return Outcome::Refused;
    const RegularFile::WriteResult w = RegularFile::replace(m_file, content);
    if (w.status != RegularFile::Status::Ok) {
        report(QStringLiteral("The change is not saved (it lasts until the program ends): ") +
               RegularFile::describe(w.status, w.error, m_file));
        return Outcome::NotWritten;
    }
    m_onDisk = content;
    m_known = true;
    return Outcome::Written;
}

SiteList::Outcome SiteList::addEntry(const QString &entry)
{
    if (entry.size() > kMaxSiteNameLength) {
        report(QStringLiteral("The change is refused: an entry of more than %1 characters names no site")
                   .arg(kMaxSiteNameLength));
        return Outcome::Refused;
    }
    DiskContent disk;
    if (!readForEdit(disk))
        return Outcome::Refused;
    QByteArray bytes = TextFile::encode(entry) + kCrLfBytes;
    // A file whose last line has no line end (edited by hand) gets one first,
    // so the new entry does not run into the last one.
    if (!disk.bytes.isEmpty() && !disk.bytes.endsWith('\r') && !disk.bytes.endsWith(kCrLfBytes))
        bytes.prepend(kCrLfBytes);
    const QByteArray after = disk.bytes + bytes;
    if (!withinBounds(after))
        return Outcome::Refused;

    Outcome outcome = Outcome::Written;
    if (disk.missing && !disk.bytes.isEmpty()) {
        outcome = rewrite(after);
    } else {
        const RegularFile::WriteResult w = RegularFile::append(m_file, bytes);
        if (w.status == RegularFile::Status::Ok) {
            m_onDisk = after;
            m_known = true;
        } else {
            report(QStringLiteral("The change is not saved (it lasts until the program ends): ") +
                   RegularFile::describe(w.status, w.error, m_file));
            outcome = Outcome::NotWritten;
        }
    }
    if (outcome == Outcome::Refused)
        return outcome;
    if (m_box)
        m_box->addItem(entry);
    setText(text() + entry + kCrLf);
    return outcome;
}

bool SiteList::add(const QString &entry)
{
    return addEntry(entry) == Outcome::Written;
}

void SiteList::removeFromText(const QString &text)
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
        QStringList entries = textEntries(m_index.text());
        entries.removeOne(text);
        setText(joinedEntries(entries));
    }
}

SiteList::Outcome SiteList::writeWithout(const QString &text, const DiskContent &disk)
{
    QByteArray kept;
    for (const QByteArray &raw : TextFile::splitRawLines(disk.bytes)) {
        if (!raw.isEmpty() && TextFile::decodeLine(raw).contains(text, Qt::CaseInsensitive))
            continue;
        kept += raw + kCrLfBytes;
    }
    return rewrite(kept + kCrLfBytes);
}

bool SiteList::remove(const QString &text)
{
    DiskContent disk;
    if (!readForEdit(disk))
        return false;
    removeFromText(text);
    return writeWithout(text, disk) == Outcome::Written;
}

bool SiteList::load()
{
    const RegularFile::ReadResult r = RegularFile::read(m_file, kMaxListFileBytes);
    if (r.status == RegularFile::Status::Missing)
        return false;
    const QString refused = QStringLiteral("The list in %1 is not used and cannot be changed: ").arg(listName(m_file));
    if (r.status != RegularFile::Status::Ok) {
        report(refused + RegularFile::describe(r.status, r.error, m_file));
        return false;
    }
    if (lineCount(r.content) > kMaxListLines) {
        report(refused + RegularFile::describe(RegularFile::Status::TooLarge, 0, m_file));
        return false;
    }
    QString result;
    for (const QByteArray &raw : TextFile::splitRawLines(r.content)) {
        if (!isEntryLine(raw))
            continue;
        const QString line = TextFile::decodeLine(raw);
        if (m_box)
            m_box->addItem(line);
        result += line + kCrLf;
    }
    setText(result);
    m_onDisk = r.content;
    m_known = true;
    return true;
}

SiteList::Outcome SiteList::writeFromBox(const DiskContent &disk)
{
    // Each item is written with the bytes its line had on disk (the first
    // unused line that reads as the item), so text that is not UTF-8 keeps
    // its bytes; lines of one space follow the entry they followed.
    const QList<QByteArray> lines = TextFile::splitRawLines(disk.bytes);
    // Texts that some line spells in bytes of its own; for those, every line
    // that reads as the text is a spelling, in file order.
    QSet<QString> spelledOwnWay;
    for (const QByteArray &raw : lines) {
        if (isEntryLine(raw) && TextFile::encode(TextFile::decodeLine(raw)) != raw)
            spelledOwnWay.insert(TextFile::decodeLine(raw));
    }
    const bool hasSpaceLines = lines.contains(QByteArray(" "));
    QHash<QString, QList<QByteArray>> spellings;
    QHash<QByteArray, QList<int>> spacesAfter; // per copy of an entry, in order
    int leadingSpaces = 0;
    const QByteArray *previous = nullptr;
    for (const QByteArray &raw : lines) {
        if (raw == " ") {
            if (previous)
                ++spacesAfter[*previous].last();
            else
                ++leadingSpaces;
            continue;
        }
        if (raw.isEmpty())
            continue;
        if (!spelledOwnWay.isEmpty()) {
            const QString decoded = TextFile::decodeLine(raw);
            if (spelledOwnWay.contains(decoded))
                spellings[decoded].append(raw);
        }
        if (hasSpaceLines) {
            spacesAfter[raw].append(0);
            previous = &raw;
        }
    }
    QByteArray out;
    const QByteArray spaceLine(" \r\n");
    out += spaceLine.repeated(leadingSpaces);
    for (const QString &item : boxItems(*m_box)) {
        QByteArray raw;
        auto spelled = spellings.find(item);
        if (spelled != spellings.end() && !spelled->isEmpty())
            raw = spelled->takeFirst();
        else
            raw = TextFile::encode(item);
        out += raw + kCrLfBytes;
        auto runs = spacesAfter.find(raw);
        if (runs != spacesAfter.end() && !runs->isEmpty())
            out += spaceLine.repeated(runs->takeFirst());
    }
    // Those that followed an entry no longer in the list stay at the end.
    for (const QList<int> &runs : std::as_const(spacesAfter)) {
        for (const int n : runs)
            out += spaceLine.repeated(n);
    }
    return rewrite(out + kCrLfBytes);
}

bool SiteList::save()
{
    // Without a list box there is nothing to write the file from; writing an
    // empty list would lose the file's entries.
    if (!m_box)
        return false;
    DiskContent disk;
    if (!readForEdit(disk))
        return false;
    return writeFromBox(disk) == Outcome::Written;
}

bool SiteList::ensureFile(const QString &firstLine)
{
    if (fileExists(m_file))
        return true;
    const RegularFile::WriteResult w = RegularFile::append(m_file, TextFile::encode(firstLine) + kCrLfBytes);
    if (w.status != RegularFile::Status::Ok) {
        report(QStringLiteral("%1 could not be created: ").arg(listName(m_file)) +
               RegularFile::describe(w.status, w.error, m_file));
        return false;
    }
    return true;
}

bool SiteList::commandAdd(const QString &text)
{
    if (text.isEmpty() || text == QLatin1String(" "))
        return false;
    if (addEntry(text) == Outcome::Refused)
        return false;
    save();
    return true;
}

bool SiteList::commandDelete()
{
    if (!m_box)
        return false;
    DiskContent disk;
    if (!readForEdit(disk))
        return false;
    const int i = firstSelected(*m_box);
    if (i < 0)
        return false;
    const QString text = m_box->item(i);
    removeFromText(text);
    if (writeWithout(text, disk) == Outcome::Written)
        disk.bytes = m_onDisk;
    m_box->removeItem(i);
    writeFromBox(disk);
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
