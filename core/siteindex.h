#pragma once
// A site list prepared for the popup decision, so that asking whether a site
// is listed costs about the same for ten entries as for a hundred thousand.
//
// What "listed" means (unchanged from the plain text search the decision has
// always made): the list is one text, every entry followed by CR LF, and a
// site name is listed when it occurs anywhere in that text, ignoring case,
// exactly as QString::contains(name, Qt::CaseInsensitive) finds it with the
// Qt 6.4 this program is built against. An empty site name is in no list. So
// "site" is listed by "www.site.example\r\n", and "example\r\nb" by
// "a.example\r\nb.example\r\n": a name may run across the end of an entry.
//
// How Qt ignores case decides which names match, so the index copies it to
// the letter:
// - Each UTF-16 unit is compared through its simple Unicode case folding
//   (QChar::toCaseFolded): "ẞ" finds "ß" and "Σ" finds "ς", but "ß" does not
//   find "ss", "ﬁ" does not find "fi", and Turkish "İ" and "ı" find only
//   themselves.
// - A low surrogate that follows a high surrogate is compared as the folded
//   whole character, so upper- and lower-case letters beyond the Basic
//   Multilingual Plane find each other.
// - A name of a single unit is compared unit by unit without that pairing, so
//   a lone low surrogate finds the second half of a pair.
// - Qt's search has two corner cases of its own, and the index gives the same
//   answers there by asking Qt itself: a name that starts with a low surrogate
//   in a list of at most 500 units, and, in a longer list, a name of more than
//   255 units whose 256th-from-last unit begins a surrogate pair (Qt can miss
//   such a name even where the list holds it letter for letter).
//
// The index is a suffix array over the case-folded list: every position of the
// list, sorted by the folded text that starts there. It costs 4 bytes per
// UTF-16 unit of the list besides the list itself (which it shares), plus a
// fixed 8 KiB (up to half as much again after a list shrank a little: the
// array is kept for the next change), and building it takes time linear in
// the length of the list.
// A lookup is a binary search over it: about log2(list length) + name length
// comparisons.

#include <QString>

#include <array>
#include <cstddef>
#include <vector>

namespace wendral {

class SiteIndex
{
public:
    explicit SiteIndex(const QString &listText = {});

    // Replaces the list. Call it whenever the list text changes.
    void rebuild(const QString &listText);

    // True when siteName is listed in the sense described above.
    bool contains(const QString &siteName) const;

    // The list text the index answers for.
    const QString &text() const { return m_text; }

    // Bytes the index holds besides the list text.
    std::size_t memoryBytes() const;

private:
    bool scanText(const QString &siteName) const;

    QString m_text;
    // Start positions of the list's suffixes, in the order of their folded text.
    std::vector<qint32> m_suffixes;
    // Which folded single units occur in the list, one bit per unit value.
    std::array<quint64, 1024> m_foldedUnits{};
    // True when the list was too long to index (or memory ran out building
    // it): lookups then search the text as Qt does.
    bool m_scanOnly = false;
};

} // namespace wendral
