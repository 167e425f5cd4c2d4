#pragma once
// The allowed and disallowed site lists in their three forms: the strings the
// popup decision searches (shared().allowedList / disallowedList), the main
// window's two list boxes and the two files in the user's data folder.
//
// File format: one entry per line, every line ending with CR LF; a lone CR also
// ends a line, a lone LF does not. Empty lines and lines of exactly one space
// are skipped when loading. A rewrite writes every entry with CR LF and then
// one more CR LF; an append writes the entry with CR LF at the end.
//
// Files that cannot be read or written never cost a list: a failed read leaves
// the lists in memory as they are, a failed write leaves the file as it was
// (rewrites go through a temporary file that replaces the old one only when
// complete), and the edits of the lists in memory still take effect.

#include <QString>
#include <QStringList>

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

// A list box held as a plain string list, with single selection.
class StringListBox : public SiteListBox
{
public:
    int count() const override { return static_cast<int>(m_items.size()); }
    QString item(int i) const override { return m_items.value(i); }
    void addItem(const QString &text) override { m_items.append(text); }
    void removeItem(int i) override;
    bool isSelected(int i) const override { return i >= 0 && i == m_selected; }

    void setSelected(int i) { m_selected = i; }
    int selected() const { return m_selected; }
    const QStringList &items() const { return m_items; }
    void clear();

private:
    QStringList m_items;
    int m_selected = -1;
};

namespace Module1 {

// The main window's list boxes (List1 allowed, List2 disallowed); not owned.
// Without a list box the operations keep the string and the file only.
void setListBoxes(SiteListBox *list1, SiteListBox *list2);

QString allowedFile();    // Paths::dataFile("allowed.txt")
QString disallowedFile(); // Paths::dataFile("disallowed.txt")

// Each returns whether its file step succeeded; the list box and the string
// are updated either way (load: only when the file was read).
// Appends the entry to the file, the list box and the string.
bool addAllowed(const QString &entry);
bool addDisallowed(const QString &entry);
// Rewrites the file without every line that contains the text (ignoring case;
// empty lines stay). The string becomes the list box's items, each with CR LF,
// leaving out the item being deleted: the first selected item when it holds
// the text, otherwise the first item that does. The list box is not touched.
bool removeAllowed(const QString &text);
bool removeDisallowed(const QString &text);
// Adds the file's entries to the list box and makes them the string.
bool loadAllowed();
bool loadDisallowed();
// Rewrites the file from the list box's items; the string is not touched.
bool saveAllowed();
bool saveDisallowed();

// Start-up: creates a missing allowed file holding defaultAllowedHost and a
// missing disallowed file holding one empty line (creating the data folder
// when needed). Returns false when a file that was missing could not be made.
bool ensureListFiles(const QString &defaultAllowedHost);

// The main window's editing sequences.
// "Add": refuses an empty text and a single space (returns false); otherwise
// add, then rewrite the file from the list box.
bool commandAddAllowed(const QString &text);
bool commandAddDisallowed(const QString &text);
// "Delete": the first selected item is removed from the string, the list box
// and the file. Returns false when nothing is selected (nothing changes).
bool commandDeleteAllowed();
bool commandDeleteDisallowed();

} // namespace Module1
} // namespace wendral
