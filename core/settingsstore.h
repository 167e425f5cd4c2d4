#pragma once
// The per-user settings store: text values under section "Settings" of the
// program's settings file (INI), read with a default and written at once.
//
// The file is read and written like the site lists (core/regularfile.h): a
// path that leads to anything but a regular file (a device, FIFO or folder,
// directly or behind a link), or a file above kMaxFileBytes, is never read or
// written; its values read as their defaults and every write fails, with a
// message. A link to a regular file is followed: the target is updated and the
// link stays. A write replaces the file whole and atomically, so a failure
// leaves the old file as it was. The INI text itself is read and made by
// QSettings, on a private copy of the file's bytes; a write never changes how
// another value reads (where QSettings could not write a hand-edited value
// back as it read it, the new values are added after the old text instead).

#include <QHash>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QTemporaryDir;

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
    // Bounds: a larger settings file is not read (nor replaced); a value
    // longer than kMaxValueLength is not written; a toggle or count longer than
    // kMaxNumberLength is no number this program wrote and reads as its
    // default. The list copies saved at unload are cut to whole entries within
    // kMaxListCopyLength, which keeps two of them well inside the file bound
    // however QSettings escapes them (at most 6 bytes a character).
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
    static constexpr qsizetype kMaxValueLength = 1024 * 1024;
    static constexpr qsizetype kMaxListCopyLength = 1024 * 1024;
    static constexpr qsizetype kMaxNumberLength = 64;

    // The store in the given file; by default the program's own settings file.
    explicit SettingsStore(const QString &file = QString());
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    QString file() const { return m_file; }

    // The stored text, or def when the key is absent (or the file unreadable).
    QString read(const QString &key, const QString &def) const;
    // Stores the text and writes the file at once. A file that cannot be
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

    // The nine values saved when the program ends, in order: chkRunAtStart,
    // chkOnTop, chkAuto, chkStopPop, intStopped, strAllowed, strDisallowed,
    // chkLinks, state, written to the file in one replacement. False when it
    // failed (problem() says why).
    bool saveOnUnload(const Settings::UnloadSnapshot &snapshot);

    // Called after every write with key and text (tests); empty to remove.
    void setWriteObserver(std::function<void(const QString &key, const QString &value)> observer);

    // The last problem with the settings file, one sentence for the user;
    // empty while none has happened.
    QString problem() const { return m_problem; }
    // Called with each problem as it happens: every failed write, and a file
    // that cannot be read once until that changes.
    void setProblemObserver(std::function<void(const QString &message)> observer);

private:
    using Values = QList<std::pair<QString, QString>>;
    const QHash<QString, QString> *values() const;
    bool writeValues(const Values &changes);
    QString scratchCopy(const QByteArray &content) const;
    std::optional<QHash<QString, QString>> parse(const QByteArray &content) const;
    std::optional<QByteArray> rewritten(const QByteArray &content, const Values &changes) const;
    void report(const QString &message) const;

    QString m_file;
    std::function<void(const QString &, const QString &)> m_observer;
    std::function<void(const QString &)> m_problemObserver;
    mutable QString m_problem;
    // The values of the file's bytes last read, so that unchanged bytes are
    // not parsed again.
    mutable bool m_cached = false;
    mutable QByteArray m_cachedContent;
    mutable QHash<QString, QString> m_cachedValues;
    mutable std::unique_ptr<QTemporaryDir> m_scratch;
    mutable quint64 m_scratchCount = 0;
};

} // namespace wendral
