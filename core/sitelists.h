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
// Files that cannot be read or written never cost a list: a failed read leaves
// the list in memory as it is, a failed write leaves the file as it was
// (rewrites go through a temporary file that replaces the old one only when
// complete), and the edits of the list in memory still take effect.

#include "core/siteindex.h"

#include <QString>

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

// Whether a site name is in a list's text: it occurs anywhere in it, ignoring
// case. The empty name is in no list (a plain substring search would find it
// everywhere and let popups from address-less pages through).
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

    // Each returns whether its file step succeeded; the list box and the text
    // are updated either way (load: only when the file was read).
    // Appends the entry to the file, the list box and the text.
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
    // otherwise add, then rewrite the file from the list box.
    bool commandAdd(const QString &text);
    // "Delete": the first selected item is removed from the text, the list box
    // and the file. Returns false when nothing is selected (nothing changes).
    bool commandDelete();

private:
    QString m_file;
    SiteIndex m_index;
    SiteListBox *m_box = nullptr;
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
