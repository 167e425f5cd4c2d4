#pragma once
// The allowed and disallowed site lists in their three forms: the text the
// popup decision searches, the main window's list box and the file in the
// user's data folder.
//
// File format: one entry per line, every line ending with CR LF; a lone CR also
// ends a line, a lone LF does not. Empty lines and lines of exactly one space
// are skipped when loading. A rewrite writes every entry with CR LF and then
// one more CR LF; an append writes the entry with CR LF at the end.
//
// The file is the list's lasting home, and no edit ever costs it an entry:
// - Before an edit writes the file, the changes made to it on disk since the
//   list last read or wrote it (lines added or removed by hand while the
//   program runs) are taken into the list, its text and its list box.
// - A rewrite writes every line back with the bytes it was read with (text that
//   is not UTF-8 stays as it was), and keeps the lines of one space where they
//   were (after the entry they followed).
// - A file that is no regular file (a folder, device or FIFO, directly or
//   behind a link), that cannot be read or that is larger than the bounds below
//   is never read, written or replaced: loading it fails, and every edit of that
//   list is refused (nothing changes) with a message, until the file is fixed.
// - A file that can be read but not written (a read-only folder, a full disk)
//   keeps its old content whole (rewrites go through a new file that replaces
//   the old one only when complete); the edit still takes effect in memory, and
//   a message says it is not saved.
// Messages go to the problem observer and stay readable through problem().

#include "core/siteindex.h"

#include <QString>

#include <functional>

namespace wendral {

// What the list operations need of a list box.
class SiteListBox
{
public:
    virtual ~SiteListBox() = default;
    virtual int count() const = 0;
    virtual QString item(int i) const = 0;
    virtual void addItem(const QString &text) = 0;
    virtual void removeItem(int i) = 0;
    virtual bool isSelected(int i) const = 0;
};

// Bounds of a list. A host name has at most 253 characters; a longer site name
// is no site any list can name, and searching for it would only cost time.
constexpr qsizetype kMaxSiteNameLength = 2048;
// Larger files are refused (left as they are on disk): about half a million
// ordinary entries fit.
constexpr qint64 kMaxListFileBytes = 64 * 1024 * 1024;
constexpr qsizetype kMaxListLines = 1024 * 1024;

// Whether a site name is in a list's text: it occurs anywhere in it, ignoring
// case. The empty name is in no list (a plain substring search would find it
// everywhere and let popups from address-less pages through), nor is a name
// longer than kMaxSiteNameLength.
bool isSiteListed(const QString &siteName, const QString &listText);

class SiteList
{
public:
    explicit SiteList(const QString &filePath);

    QString filePath() const { return m_file; }
    // Every entry followed by CR LF.
    const QString &text() const { return m_index.text(); }
    void setText(const QString &text);
    // Whether the site name is in the list (see isSiteListed), answered from
    // an index rebuilt whenever the list changes, so a lookup does not grow
    // with the list.
    bool contains(const QString &siteName) const;

    // The list box that shows this list (not owned); without one the
    // operations keep the text and the file only.
    void setListBox(SiteListBox *box) { m_box = box; }
    SiteListBox *listBox() const { return m_box; }

    // Each returns whether its file step succeeded. The list box and the text
    // are updated when the file was written or only could not be written; an
    // edit that is refused (see above) and a failed load change nothing.
    // Appends the entry to the file, the list box and the text. An entry longer
    // than kMaxSiteNameLength is refused.
    bool add(const QString &entry);
    // Rewrites the file without every line that contains the text (ignoring
    // case; empty lines stay). The text becomes the list box's items, each with
    // CR LF, leaving out the item being deleted: the first selected item when
    // it holds the text, otherwise the first item that does. The list box is
    // not touched.
    bool remove(const QString &text);
    // Adds the file's entries to the list box and makes them the text.
    bool load();
    // Rewrites the file from the list box's items; the text is not touched.
    bool save();
    // Creates a missing file holding one line (creating the folder when
    // needed). True when the file exists afterwards.
    bool ensureFile(const QString &firstLine);

    // The main window's editing sequences.
    // "Add": refuses an empty text and a single space (returns false);
    // otherwise add, then rewrite the file from the list box. False also when
    // the edit was refused.
    bool commandAdd(const QString &text);
    // "Delete": the first selected item is removed from the text, the list box
    // and the file. Returns false when nothing is selected or the edit was
    // refused (nothing changes).
    bool commandDelete();

    // The last problem with the file, as one sentence for the user; empty
    // while none has happened.
    QString problem() const { return m_problem; }
    // Called with each problem as it happens (the main window shows it).
    void setProblemObserver(std::function<void(const QString &message)> observer);

private:
    enum class Outcome
    {
        Written,
        NotWritten, // the list changed in memory only
        Refused,    // nothing changed
    };
    struct DiskContent;

    bool readForEdit(DiskContent &disk);
    void takeIn(const QByteArray &current);
    Outcome addEntry(const QString &entry);
    void removeFromText(const QString &text);
    Outcome rewrite(const QByteArray &content);
    Outcome writeWithout(const QString &text, const DiskContent &disk);
    Outcome writeFromBox(const DiskContent &disk);
    bool withinBounds(const QByteArray &content);
    void report(const QString &message);

    QString m_file;
    SiteIndex m_index;
    SiteListBox *m_box = nullptr;
    // The file's bytes as the list last read or wrote them; the base against
    // which changes made on disk are found.
    QByteArray m_onDisk;
    bool m_known = false;
    QString m_problem;
    std::function<void(const QString &)> m_observer;
};

// The two lists of the program, "allowed.txt" and "disallowed.txt" in the
// user's data folder.
class SiteLists
{
public:
    SiteLists();
    SiteLists(const QString &allowedFile, const QString &disallowedFile);

    SiteList &allowed() { return m_allowed; }
    SiteList &disallowed() { return m_disallowed; }
    const SiteList &allowed() const { return m_allowed; }
    const SiteList &disallowed() const { return m_disallowed; }

    // Start-up: creates a missing allowed file holding defaultAllowedHost and a
    // missing disallowed file holding one empty line. Returns false when a file
    // that was missing could not be made.
    bool ensureFiles(const QString &defaultAllowedHost);

private:
    SiteList m_allowed;
    SiteList m_disallowed;
};

} // namespace wendral
