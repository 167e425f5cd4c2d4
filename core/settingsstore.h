#pragma once
// The per-user settings store: text values under section "Settings" of the
// program's settings file (INI), read with a default and written at once.

#include <QString>
#include <QtGlobal>

#include <functional>

namespace wendral {

namespace Settings {
// Keys of section "Settings", as stored files know them.
inline const QString kStopPop = QStringLiteral("chkStopPop");       // popup blocking, default 1
inline const QString kAuto = QStringLiteral("chkAuto");             // setup mode, default 1
inline const QString kOnTop = QStringLiteral("chkOnTop");           // always on top, default 0
inline const QString kRunAtStart = QStringLiteral("chkRunAtStart"); // run at logon, default 0
inline const QString kSound = QStringLiteral("chkSound");           // sound on block, default 1
inline const QString kLinks = QStringLiteral("chkLinks");           // link popups allowed, default 0
inline const QString kStopped = QStringLiteral("intStopped");       // blocked count, default 0
inline const QString kAllowed = QStringLiteral("strAllowed");       // copy of the allowed list, never read
inline const QString kDisallowed = QStringLiteral("strDisallowed"); // copy of the disallowed list, never read
inline const QString kState = QStringLiteral("state");              // "up" or "down", default "up"
inline const QString kShowHelp = QStringLiteral("showHelp");        // "1" or "0", default "1"

constexpr bool kDefaultStopPop = true;
constexpr bool kDefaultAuto = true;
constexpr bool kDefaultOnTop = false;
constexpr bool kDefaultRunAtStart = false;
constexpr bool kDefaultSound = true;
constexpr bool kDefaultLinks = false;
constexpr qint32 kDefaultStopped = 0;
inline const QString kDefaultState = QStringLiteral("up");
inline const QString kDefaultShowHelp = QStringLiteral("1");

// Everything the main window saves when the program ends.
struct UnloadSnapshot
{
    bool blockingEnabled = false;
    bool setupMode = false;
    bool alwaysOnTop = false;
    bool runAtStartup = false;
    bool allowLinkPopups = false;
    qint32 blockedCount = 0;
    QString allowedList;
    QString disallowedList;
    QString state;
};
} // namespace Settings

class SettingsStore
{
public:
    // The store in the given file; by default the program's own settings file.
    explicit SettingsStore(const QString &file = QString());

    QString file() const { return m_file; }

    // The stored text, or def when the key is absent (or the file unreadable).
    QString read(const QString &key, const QString &def) const;
    // Stores the text and flushes the file at once. A file that cannot be
    // written is left as it is; false then.
    bool write(const QString &key, const QString &value);

    // An option box's value. The text is converted as a 16-bit integer
    // (surrounding spaces and a sign allowed); 1 is on, 0 is off, and any other
    // text, number or not (a box only ever holds 0 or 1), gives def.
    bool readToggle(const QString &key, bool def) const;
    // Writes an option as "1" or "0".
    bool writeToggle(const QString &key, bool on);

    // The blocked-popups count, a 32-bit integer ("2147483647" reads back
    // exactly). Text that is not a whole decimal number gives def. A number is
    // kept within the range of a count: a negative one reads as 0, one above
    // 2147483647 (of any length) as 2147483647, the largest count, just as
    // counting stops there.
    qint32 readCount(const QString &key, qint32 def) const;

    // The nine writes made when the program ends, in order: chkRunAtStart,
    // chkOnTop, chkAuto, chkStopPop, intStopped, strAllowed, strDisallowed,
    // chkLinks, state. False when any of them failed.
    bool saveOnUnload(const Settings::UnloadSnapshot &snapshot);

    // Called after every write with key and text (tests); empty to remove.
    void setWriteObserver(std::function<void(const QString &key, const QString &value)> observer);

private:
    QString m_file;
    std::function<void(const QString &, const QString &)> m_observer;
};

} // namespace wendral
