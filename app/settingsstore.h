#pragma once
// The per-user settings store: text values under section "Settings" of the
// program's settings file (INI), read with a default and written at once.

#include <QString>
#include <QtGlobal>

#include <functional>

namespace wendral::Settings {

// Keys of section "Settings".
inline const QString kStopPop = QStringLiteral("chkStopPop");       // Check1, default 1
inline const QString kAuto = QStringLiteral("chkAuto");             // Check2, default 1
inline const QString kOnTop = QStringLiteral("chkOnTop");           // Check3, default 0
inline const QString kRunAtStart = QStringLiteral("chkRunAtStart"); // Check4, default 0
inline const QString kSound = QStringLiteral("chkSound");           // Check5, default 1
inline const QString kLinks = QStringLiteral("chkLinks");           // Check6, default 0
inline const QString kStopped = QStringLiteral("intStopped");       // blockedCount, default 0
inline const QString kAllowed = QStringLiteral("strAllowed");       // copy of allowedList, never read
inline const QString kDisallowed = QStringLiteral("strDisallowed"); // copy of disallowedList, never read
inline const QString kState = QStringLiteral("state");              // "up" or "down", default "up"
inline const QString kShowHelp = QStringLiteral("showHelp");        // "1" or "0", default "1"

constexpr int kDefaultStopPop = 1;
constexpr int kDefaultAuto = 1;
constexpr int kDefaultOnTop = 0;
constexpr int kDefaultRunAtStart = 0;
constexpr int kDefaultSound = 1;
constexpr int kDefaultLinks = 0;
constexpr qint32 kDefaultStopped = 0;
inline const QString kDefaultState = QStringLiteral("up");
inline const QString kDefaultShowHelp = QStringLiteral("1");

// The stored text, or def when the key is absent (or the file unreadable).
QString read(const QString &key, const QString &def);
// Stores the text and flushes the file at once. A file that cannot be written
// is left as it is; nothing is reported.
void write(const QString &key, const QString &value);

// A check box value. The text is converted as a 16-bit integer (surrounding
// spaces and a sign allowed); the result is 0 or 1, and any other text,
// number or not (a box only ever holds 0 or 1), gives def.
int readToggle(const QString &key, int def);

// The blocked-popups count, a 32-bit integer ("2147483647" reads back exactly).
// Text that is not a whole decimal number gives def. A number is kept within
// the range of a count: a negative one reads as 0, one above 2147483647 (of
// any length) as 2147483647, the largest count, just as counting stops there.
qint32 readCount(const QString &key, qint32 def);

// Everything the main window's unload saves.
struct UnloadSnapshot
{
    int check1 = 0;
    int check2 = 0;
    int check3 = 0;
    int check4 = 0;
    int check6 = 0;
    qint32 blockedCount = 0;
    QString allowedList;
    QString disallowedList;
    QString state;
};

// The unload's nine writes, in order: chkRunAtStart, chkOnTop, chkAuto,
// chkStopPop, intStopped, strAllowed, strDisallowed, chkLinks, state.
void saveOnUnload(const UnloadSnapshot &snapshot);

// Called after every write with key and text (tests); empty to remove.
void setWriteObserver(std::function<void(const QString &key, const QString &value)> observer);

} // namespace wendral::Settings
