#include "core/siteindex.h"

#include <QChar>
#include <QVarLengthArray>
#include <QtAlgorithms>

#include <algorithm>
#include <array>
#include <limits>
#include <new>

namespace wendral {

namespace {

// Qt searches lists of at most this many UTF-16 units with a rolling hash and
// longer ones with a skip table; the two differ in a corner case (see the
// header), so the index needs to know which one Qt would use.
constexpr qsizetype kShortList = 500;
// Qt's skip table looks at no more than the last 255 units of a name.
constexpr qsizetype kSkipTableReach = 255;
// Folded values are code points, at most U+10FFFF.
constexpr qsizetype kFoldedValues = 0x110000;

char32_t foldedUnit(char16_t unit)
{
    // Host names are mostly ASCII; spare them the table lookup.
    if (unit < 0x80)
        return (unit >= u'A' && unit <= u'Z') ? char32_t(unit + (u'a' - u'A')) : char32_t(unit);
    return QChar::toCaseFolded(char32_t(unit));
}

// The folded value Qt compares for the unit at position i of text: a low
// surrogate right after a high surrogate stands for the whole character.
char32_t foldedAt(const char16_t *text, qsizetype i)
{
    const char16_t unit = text[i];
    if (QChar::isLowSurrogate(unit) && i > 0 && QChar::isHighSurrogate(text[i - 1]))
        return QChar::toCaseFolded(QChar::surrogateToUcs4(text[i - 1], unit));
    return foldedUnit(unit);
}

// Which suffixes sort before the suffix one position later, one bit each. The
// last suffix sorts after the empty one that follows it.
class SuffixTypes
{
public:
    template <typename Symbol> SuffixTypes(const Symbol *symbols, qint32 n) : m_n(n), m_bits(std::size_t(n) / 64 + 1, 0)
    {
        bool smaller = false;
        for (qint32 i = n - 2; i >= 0; --i) {
            smaller = symbols[i] < symbols[i + 1] || (symbols[i] == symbols[i + 1] && smaller);
            if (smaller)
                m_bits[std::size_t(i) / 64] |= quint64(1) << (i % 64);
        }
    }
    bool smaller(qint32 i) const { return (m_bits[std::size_t(i) / 64] >> (i % 64)) & 1; }
    // A valley ("LMS" position): sorts before the next suffix, after the previous.
    bool valley(qint32 i) const { return i > 0 && smaller(i) && !smaller(i - 1); }
    // Calls visit(i) for every valley i, left to right, 64 positions at a time.
    template <typename Visit> void forEachValley(Visit visit) const
    {
        quint64 previousTop = 1; // position 0 is never a valley
        for (std::size_t w = 0; w < m_bits.size(); ++w) {
            const quint64 bits = m_bits[w];
            quint64 valleys = bits & ~((bits << 1) | previousTop);
            previousTop = bits >> 63;
            while (valleys) {
                const qint32 i = qint32(w * 64) + qCountTrailingZeroBits(valleys);
                if (i >= m_n)
                    return;
                visit(i);
                valleys &= valleys - 1;
            }
        }
    }

private:
    qint32 m_n;
    std::vector<quint64> m_bits;
};

// Sorts the suffixes of symbols[0, n) (each symbol below alphabetSize) into
// suffixes, by induced sorting: the suffixes that start at valleys are put in
// order first (recursively, when the stretches between valleys tie), and they
// place all the others in two linear scans. A suffix that is a prefix of
// another sorts first. Besides the output, it needs a bit per symbol and two
// counters per letter of the alphabet; the smaller problem of the recursion
// lives in the output array.
template <typename Symbol> void sortSuffixes(const Symbol *symbols, qint32 n, qint32 alphabetSize, qint32 *suffixes)
{
    if (n == 0)
        return;
    if (n == 1) {
        suffixes[0] = 0;
        return;
    }
    const SuffixTypes types(symbols, n);

    // Suffixes are grouped by first symbol: bucketStart[c] to bucketStart[c + 1].
    std::vector<qint32> bucketStart(std::size_t(alphabetSize) + 1, 0);
    for (qint32 i = 0; i < n; ++i)
        ++bucketStart[symbols[i] + 1];
    for (qint32 c = 0; c < alphabetSize; ++c)
        bucketStart[c + 1] += bucketStart[c];
    std::vector<qint32> next(bucketStart.size() - 1);
    const auto toBucketEnds = [&] { std::copy(bucketStart.begin() + 1, bucketStart.end(), next.begin()); };

    // With the valleys at the ends of their buckets, places every other suffix.
    const auto induce = [&] {
        // Left to right: each placed suffix places the larger one before it.
        // The empty suffix, which sorts first, places the last one.
        std::copy(bucketStart.begin(), bucketStart.end() - 1, next.begin());
        suffixes[next[symbols[n - 1]]++] = n - 1;
        for (qint32 i = 0; i < n; ++i) {
            const qint32 before = suffixes[i] - 1;
            if (before >= 0 && !types.smaller(before))
                suffixes[next[symbols[before]]++] = before;
        }
        // Right to left: the same for the smaller ones, from the bucket ends.
        toBucketEnds();
        for (qint32 i = n - 1; i >= 0; --i) {
            const qint32 before = suffixes[i] - 1;
            if (before >= 0 && types.smaller(before))
                suffixes[--next[symbols[before]]] = before;
        }
    };

    // 1. Valleys in any order: sorts them by their stretch of text up to the next valley.
    std::fill(suffixes, suffixes + n, -1);
    toBucketEnds();
    types.forEachValley([&](qint32 i) { suffixes[--next[symbols[i]]] = i; });
    induce();

    // 2. The valleys in that order to the front; there are at most n / 2.
    qint32 valleys = 0;
    for (qint32 i = 0; i < n; ++i) {
        if (types.valley(suffixes[i]))
            suffixes[valleys++] = suffixes[i];
    }
    if (valleys == 0)
        return; // no valleys: the scans alone sorted everything

    // 3. Each valley gets the rank of its stretch, equal stretches one rank,
    // noted behind the valleys at position / 2 (valleys are never adjacent).
    const auto sameStretch = [&](qint32 a, qint32 b) {
        for (qint32 t = 0;; ++t) {
            // A stretch that runs to the end of the text is unlike any other.
            if (a + t == n || b + t == n)
                return false;
            if (symbols[a + t] != symbols[b + t] || types.smaller(a + t) != types.smaller(b + t))
                return false;
            if (t > 0 && types.valley(a + t))
                return true; // both stretches end here
        }
    };
    std::fill(suffixes + valleys, suffixes + n, -1);
    qint32 rank = 0;
    for (qint32 k = 0; k < valleys; ++k) {
        if (k > 0 && !sameStretch(suffixes[k - 1], suffixes[k]))
            ++rank;
        suffixes[valleys + suffixes[k] / 2] = rank;
    }
    const qint32 rankCount = rank + 1;
    // The ranks in text order, right behind the valleys.
    qint32 *const reduced = suffixes + valleys;
    qint32 filled = 0;
    for (qint32 i = valleys; i < n; ++i) {
        if (suffixes[i] >= 0)
            reduced[filled++] = suffixes[i];
    }

    // 4. The valleys in full order: ties in rank are broken by the ranks
    // that follow, which is sorting the suffixes of the rank sequence.
    if (rankCount < valleys) {
        sortSuffixes(reinterpret_cast<const quint32 *>(reduced), valleys, rankCount, suffixes);
    } else {
        for (qint32 j = 0; j < valleys; ++j)
            suffixes[reduced[j]] = j;
    }
    filled = 0;
    types.forEachValley([&](qint32 i) { reduced[filled++] = i; });
    for (qint32 k = 0; k < valleys; ++k)
        suffixes[k] = reduced[suffixes[k]];

    // 5. The sorted valleys to the ends of their buckets (never to the left of
    // where they are), and once more the two scans.
    std::fill(suffixes + valleys, suffixes + n, -1);
    toBucketEnds();
    for (qint32 k = valleys - 1; k >= 0; --k) {
        const qint32 valley = suffixes[k];
        suffixes[k] = -1;
        suffixes[--next[symbols[valley]]] = valley;
    }
    induce();
}

} // namespace

SiteIndex::SiteIndex(const QString &listText)
{
    rebuild(listText);
}

void SiteIndex::rebuild(const QString &listText)
{
    m_text = listText;
    const qsizetype n = m_text.size();
    // Lists change an entry at a time: keep the old array when it fits
    // without wasting much, which spares the memory system new pages.
    m_suffixes.clear();
    if (m_suffixes.capacity() > std::size_t(n) + std::size_t(n) / 2 + 4096)
        m_suffixes = std::vector<qint32>();
    m_foldedUnits.fill(0);
    m_scanOnly = false;
    const char16_t *text = reinterpret_cast<const char16_t *>(m_text.utf16());
    const auto noteUnit = [&](char32_t unitFolded) {
        m_foldedUnits[unitFolded / 64] |= quint64(1) << (unitFolded % 64);
    };
    // Without the index (a list too long for it, or no memory left to build
    // it) the list still answers, only slower.
    const auto scanOnly = [&] {
        m_suffixes = std::vector<qint32>();
        m_scanOnly = true;
        for (qsizetype i = 0; i < n; ++i)
            noteUnit(foldedUnit(text[i]));
    };
    if (n > std::numeric_limits<qint32>::max() - 1) {
        scanOnly();
        return;
    }

    try {
        // The folded values (held for a moment where the suffixes will go),
        // then renumbered densely in the same order, in 16 bits when they fit:
        // few buckets and little memory for the suffix sort.
        m_suffixes.resize(std::size_t(n));
        std::vector<quint64> present(kFoldedValues / 64, 0);
        for (qsizetype i = 0; i < n; ++i) {
            const char32_t unitFolded = foldedUnit(text[i]);
            noteUnit(unitFolded);
            char32_t folded = unitFolded;
            if (QChar::isLowSurrogate(text[i]) && i > 0 && QChar::isHighSurrogate(text[i - 1]))
                folded = QChar::toCaseFolded(QChar::surrogateToUcs4(text[i - 1], text[i]));
            m_suffixes[i] = qint32(folded);
            present[folded / 64] |= quint64(1) << (folded % 64);
        }
        std::vector<quint32> ranksBefore(present.size(), 0);
        quint32 alphabetSize = 0;
        for (std::size_t w = 0; w < present.size(); ++w) {
            ranksBefore[w] = alphabetSize;
            alphabetSize += quint32(qPopulationCount(present[w]));
        }
        const auto countedRank = [&](qint32 folded) {
            const quint64 below = (quint64(1) << (folded % 64)) - 1;
            return ranksBefore[folded / 64] + quint32(qPopulationCount(present[folded / 64] & below));
        };
        // Most folded values are ASCII: their ranks come from a table.
        std::array<quint32, 128> asciiRank{};
        for (qint32 c = 0; c < 128; ++c)
            asciiRank[c] = countedRank(c);
        const auto rankOf = [&](qint32 folded) { return folded < 128 ? asciiRank[folded] : countedRank(folded); };
        const auto sortWith = [&](auto symbolType) {
            using Symbol = decltype(symbolType);
            std::vector<Symbol> symbols(static_cast<std::size_t>(n));
            std::transform(m_suffixes.begin(), m_suffixes.end(), symbols.begin(),
                           [&](qint32 folded) { return Symbol(rankOf(folded)); });
            sortSuffixes(symbols.data(), qint32(n), qint32(alphabetSize), m_suffixes.data());
        };
        if (alphabetSize <= 0x10000)
            sortWith(quint16());
        else
            sortWith(quint32());
    } catch (const std::bad_alloc &) {
        scanOnly();
    }
}

bool SiteIndex::scanText(const QString &siteName) const
{
    return m_text.contains(siteName, Qt::CaseInsensitive);
}

bool SiteIndex::contains(const QString &siteName) const
{
    const qsizetype nameLength = siteName.size();
    const qsizetype textLength = m_text.size();
    if (nameLength == 0 || nameLength > textLength)
        return false;
    const char16_t *name = reinterpret_cast<const char16_t *>(siteName.utf16());
    if (nameLength == 1) {
        // Qt folds a one-unit name and every list unit on their own.
        const char32_t folded = foldedUnit(name[0]);
        return (m_foldedUnits[folded / 64] >> (folded % 64)) & 1;
    }
    if (m_scanOnly)
        return scanText(siteName);
    // Qt's rolling hash sees the surrogate before a match, its final check
    // does not; names starting with a low surrogate may match where the folded
    // texts differ. Short lists only, so scanning costs little.
    if (textLength <= kShortList && QChar::isLowSurrogate(name[0]))
        return scanText(siteName);
    // Qt's skip table folds the unit at the edge of its reach without the
    // surrogate before it and may then jump over a real match.
    if (textLength > kShortList && nameLength > kSkipTableReach &&
        QChar::isHighSurrogate(name[nameLength - kSkipTableReach - 1]) &&
        QChar::isLowSurrogate(name[nameLength - kSkipTableReach]))
        return scanText(siteName);

    QVarLengthArray<char32_t, 256> folded(nameLength);
    for (qsizetype i = 0; i < nameLength; ++i)
        folded[i] = foldedAt(name, i);

    // Binary search for the first suffix not before the folded name; the name
    // is listed when that suffix starts with it. Text already known to agree
    // with both neighbours of the search range is not compared again.
    const char16_t *text = reinterpret_cast<const char16_t *>(m_text.utf16());
    qint32 before = -1;                            // suffixes[before] sorts before the name
    qint32 notBefore = qint32(textLength);         // suffixes[notBefore] does not
    qsizetype agreeBefore = 0, agreeNotBefore = 0; // units each shares with the name
    while (notBefore - before > 1) {
        const qint32 middle = before + (notBefore - before) / 2;
        const qsizetype start = m_suffixes[middle];
        qsizetype agree = std::min(agreeBefore, agreeNotBefore);
        while (agree < nameLength && start + agree < textLength && foldedAt(text, start + agree) == folded[agree])
            ++agree;
        if (agree == nameLength)
            return true;
        if (start + agree == textLength || foldedAt(text, start + agree) < folded[agree]) {
            before = middle;
            agreeBefore = agree;
        } else {
            notBefore = middle;
            agreeNotBefore = agree;
        }
    }
    return false;
}

std::size_t SiteIndex::memoryBytes() const
{
    return m_suffixes.capacity() * sizeof(qint32) + sizeof(m_foldedUnits);
}

} // namespace wendral
