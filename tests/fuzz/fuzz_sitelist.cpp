// libFuzzer entry for the site-list files: any bytes as a list file load into
// the entries the file format defines; every lookup the list's index answers
// agrees with the plain text search the decision is defined by
// (isSiteListed); and a rewrite from the list box writes every entry line back
// with its own bytes and keeps the lines of one space, so the next start reads
// the same list.

#include "core/sitelists.h"
#include "core/textfile.h"
#include "fuzzsupport.h"
#include "support/stringlistbox.h"

#include <cstddef>
#include <cstdint>

using namespace wendral;

namespace {
QList<QByteArray> entryLines(const QByteArray &content, int *spaceLines = nullptr)
{
    QList<QByteArray> entries;
    for (const QByteArray &raw : TextFile::splitRawLines(content)) {
        if (raw == " " && spaceLines)
            ++*spaceLines;
        if (!raw.isEmpty() && raw != " ")
            entries.append(raw);
    }
    return entries;
}

void lookUp(const SiteList &list, const QString &name)
{
    const bool indexed = list.contains(name);
    const bool searched = isSiteListed(name, list.text());
    fuzz::check(indexed == searched, "SiteList::contains agrees with isSiteListed",
                QStringLiteral("name %1 (%2 units): index %3, search %4")
                    .arg(name.left(80))
                    .arg(name.size())
                    .arg(indexed)
                    .arg(searched));
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::initialize("fuzz_sitelist");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString path = fuzz::scratchFolder() + QStringLiteral("/allowed.txt");
    fuzz::writeFile(path, content);

    test::StringListBox box;
    SiteList list(path);
    list.setListBox(&box);
    fuzz::check(list.load(), "a small regular list file loads", list.problem());

    QStringList expected;
    QString text;
    const QList<QByteArray> rawEntries = entryLines(content);
    for (const QByteArray &raw : rawEntries) {
        expected.append(TextFile::decodeLine(raw));
        text += expected.constLast() + QStringLiteral("\r\n");
    }
    fuzz::check(box.items() == expected, "the list box holds the entry lines");
    fuzz::check(list.text() == text, "the text is the entries, each with CR LF");

    // Every entry, pieces of the text chosen by the input (running across
    // entries too), in other capitals, and odd names.
    for (const QString &entry : std::as_const(expected)) {
        lookUp(list, entry);
        if (!entry.isEmpty() && entry.size() <= kMaxSiteNameLength)
            fuzz::check(list.contains(entry), "every entry is listed", entry.left(80));
    }
    const qsizetype length = text.size();
    for (size_t i = 0; length > 0 && i < size && i < 48; ++i) {
        const qsizetype start = qsizetype((data[i] * 131u + i * 7919u) % size_t(length));
        const qsizetype count = 1 + qsizetype(data[(i + 1) % size] % 24);
        const QString piece = text.mid(start, count);
        lookUp(list, piece);
        lookUp(list, piece.toUpper());
        lookUp(list, piece.toLower());
        lookUp(list, piece + QChar(0xDC00));
    }
    lookUp(list, QString());
    lookUp(list, QString(QChar(0xD800)));
    lookUp(list, QString::fromUtf8(content.left(64)));

    // A rewrite from the list box ("Add", "Allow Always") loses no byte.
    if (size > 8192)
        return 0;
    fuzz::check(list.save(), "the list file is rewritten", list.problem());
    const QByteArray written = fuzz::readFile(path);
    int spacesBefore = 0;
    int spacesAfter = 0;
    entryLines(content, &spacesBefore);
    const QList<QByteArray> rewritten = entryLines(written, &spacesAfter);
    fuzz::check(rewritten == rawEntries, "entry lines are written back with their bytes, in order");
    fuzz::check(spacesAfter == spacesBefore, "lines of one space are kept");
    fuzz::check(written.endsWith("\r\n"), "a rewrite ends with a line end");

    test::StringListBox again;
    SiteList next(path);
    next.setListBox(&again);
    fuzz::check(next.load() && again.items() == expected, "the next start reads the same list");
    return 0;
}
