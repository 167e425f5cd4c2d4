#include "core/settingsstore.h"

#include "core/paths.h"
#include "core/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <limits>
#include <optional>

namespace wendral {
namespace {
QString fullKey(const QString &key)
{
    return QStringLiteral("Settings/") + key;
}

// A whole decimal number: optional sign, digits, nothing else but spaces around.
const QRegularExpression &integerText()
{
    static const QRegularExpression re(QStringLiteral("^\\s*([+-]?)0*([0-9]+)\\s*$"));
    return re;
}

QString toggleText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

QString valueText(const QVariant &value)
{
    // A hand-edited value with unquoted commas comes back as a list (a list of
    // variants once QSettings has written it again).
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    if (value.typeId() == QMetaType::QVariantList) {
        QStringList parts;
        for (const QVariant &part : value.toList())
            parts.append(part.toString());
        return parts.join(QLatin1Char(','));
    }
    // Always through the text: QVariant's own number conversions wrap around.
    return value.toString();
}

// A copy of a list of at most kMaxListCopyLength characters, cut after the
// last whole entry that fits.
QString boundedListCopy(const QString &list)
{
    if (list.size() <= SettingsStore::kMaxListCopyLength)
        return list;
    const qsizetype end = list.lastIndexOf(QLatin1String("\r\n"), SettingsStore::kMaxListCopyLength - 2);
    return end < 0 ? QString() : list.left(end + 2);
}

const QString kNotSaved = QStringLiteral("Settings are not saved: ");
} // namespace

SettingsStore::SettingsStore(const QString &file) : m_file(file.isEmpty() ? Paths::settingsFile() : file) {}

SettingsStore::~SettingsStore() = default;

void SettingsStore::setProblemObserver(std::function<void(const QString &)> observer)
{
    m_problemObserver = std::move(observer);
}

void SettingsStore::report(const QString &message) const
{
    m_problem = message;
    if (m_problemObserver)
        m_problemObserver(message);
}

QString SettingsStore::scratchCopy(const QByteArray &content) const
{
    // QSettings reads and writes files only, and opens them itself: it is
    // given a private copy, never the user's path. The copies live in the
    // session's runtime folder (memory, private to the user) where there is
    // one.
    if (!m_scratch || !m_scratch->isValid()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
            m_scratch = std::make_unique<QTemporaryDir>(runtime + QStringLiteral("/wendral-settings-XXXXXX"));
        if (!m_scratch || !m_scratch->isValid())
            m_scratch = std::make_unique<QTemporaryDir>();
        if (!m_scratch->isValid())
            return {};
    }
    // A new name for every copy: QSettings keeps parsed files by name.
    const QString path = m_scratch->filePath(QStringLiteral("%1.conf").arg(++m_scratchCount));
    QFile copy(path);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(content) != content.size() || !copy.flush())
        return {};
    return path;
}

std::optional<QHash<QString, QString>> SettingsStore::parse(const QByteArray &content) const
{
    const QString copy = scratchCopy(content);
    if (copy.isEmpty())
        return std::nullopt;
    QHash<QString, QString> parsed;
    {
        const QSettings store(copy, QSettings::IniFormat);
        for (const QString &key : store.allKeys()) {
            if (!key.isEmpty())
                parsed.insert(key, valueText(store.value(key)));
        }
    }
    // The folder goes with its copy: a copy of the program that is killed
    // later leaves nothing behind in the runtime folder.
    m_scratch.reset();
    return parsed;
}

std::optional<QByteArray> SettingsStore::rewritten(const QByteArray &content, const Values &values) const
{
    const QString copy = scratchCopy(content);
    if (copy.isEmpty())
        return std::nullopt;
    bool ok = false;
    {
        QSettings store(copy, QSettings::IniFormat);
        // A private copy needs no atomic replacement (and no flush to disk).
        store.setAtomicSyncRequired(false);
        for (const auto &[key, value] : values)
            store.setValue(fullKey(key), value);
        store.sync();
        // A damaged file reports a format error from reading it, yet it is
        // rewritten whole with the new values: only a failed write counts.
        ok = store.status() != QSettings::AccessError;
    }
    const RegularFile::ReadResult made = RegularFile::read(copy, kMaxFileBytes + 1024);
    m_scratch.reset();
    if (!ok || made.status != RegularFile::Status::Ok)
        return std::nullopt;
    return made.content;
}

const QHash<QString, QString> *SettingsStore::values() const
{
    const RegularFile::ReadResult r = RegularFile::read(m_file, kMaxFileBytes);
    if (r.status == RegularFile::Status::Missing) {
        m_cached = true;
        m_cachedContent.clear();
        m_cachedValues.clear();
        return &m_cachedValues;
    }
    if (r.status != RegularFile::Status::Ok) {
        // Read at every lookup: said once until the problem changes.
        const QString message = QStringLiteral("Settings are not read (the defaults are used): ") +
                                RegularFile::describe(r.status, r.error, m_file);
        if (message != m_problem)
            report(message);
        return nullptr;
    }
    if (m_cached && r.content == m_cachedContent)
        return &m_cachedValues;
    std::optional<QHash<QString, QString>> parsed = parse(r.content);
    if (!parsed) {
        report(QStringLiteral("Settings are not read (the defaults are used): no private temporary folder"));
        return nullptr;
    }
    m_cached = true;
    m_cachedContent = r.content;
    m_cachedValues = std::move(*parsed);
    return &m_cachedValues;
}

QString SettingsStore::read(const QString &key, const QString &def) const
{
    const QHash<QString, QString> *all = values();
    if (!all)
        return def;
    const auto it = all->constFind(fullKey(key));
    return it == all->constEnd() ? def : it.value();
}

bool SettingsStore::writeValues(const Values &changes)
{
    for (const auto &[key, value] : changes) {
        if (value.size() > kMaxValueLength) {
            report(kNotSaved +
                   QStringLiteral("the value of %1 is longer than %2 characters").arg(key).arg(kMaxValueLength));
            return false;
        }
    }
    const RegularFile::ReadResult r = RegularFile::read(m_file, kMaxFileBytes);
    if (r.status != RegularFile::Status::Ok && r.status != RegularFile::Status::Missing) {
        report(kNotSaved + RegularFile::describe(r.status, r.error, m_file));
        return false;
    }
    const QHash<QString, QString> *old = values();
    if (!old) {
        report(kNotSaved + QStringLiteral("no private temporary folder"));
        return false;
    }
    QHash<QString, QString> expected = *old;
    for (const auto &[key, value] : changes)
        expected.insert(fullKey(key), value);

    // QSettings writes the whole file again from what it read. A value it
    // cannot write back as it read it (a hand-edited list holding a NUL, for
    // one) would change; then the old bytes are kept as they are and the new
    // values follow in a section of their own, which takes precedence. What
    // is written must read back as the old values with the new ones.
    std::optional<QByteArray> content = rewritten(r.content, changes);
    if (!content || parse(*content) != expected) {
        content.reset();
        const std::optional<QByteArray> section = rewritten(QByteArray(), changes);
        if (section) {
            QByteArray appended = r.content;
            if (!appended.isEmpty() && !appended.endsWith('\n'))
                appended += '\n';
            appended += *section;
            if (parse(appended) == expected)
                content = appended;
        }
    }
    if (!content) {
        report(kNotSaved + QStringLiteral("%1 holds values that would change if it were written (%2)")
                               .arg(QFileInfo(m_file).fileName(), m_file));
        return false;
    }
    if (content->size() > kMaxFileBytes) {
        report(kNotSaved + QStringLiteral("the settings would be larger than %1 bytes").arg(kMaxFileBytes));
        return false;
    }
    const RegularFile::WriteResult w = RegularFile::replace(m_file, *content);
    if (w.status != RegularFile::Status::Ok) {
        report(kNotSaved + RegularFile::describe(w.status, w.error, m_file));
        return false;
    }
    m_cached = true;
    m_cachedContent = *content;
    m_cachedValues = std::move(expected);
    return true;
}

bool SettingsStore::write(const QString &key, const QString &value)
{
    const bool ok = writeValues({{key, value}});
    if (m_observer)
        m_observer(key, value);
    return ok;
}

bool SettingsStore::readToggle(const QString &key, bool def) const
{
    const QString text = read(key, QString());
    if (text.size() > kMaxNumberLength)
        return def;
    bool ok = false;
    const short value = text.trimmed().toShort(&ok);
    if (!ok || (value != 0 && value != 1))
        return def;
    return value == 1;
}

bool SettingsStore::writeToggle(const QString &key, bool on)
{
    return write(key, toggleText(on));
}

qint32 SettingsStore::readCount(const QString &key, qint32 def) const
{
    const QString text = read(key, QString());
    if (text.size() > kMaxNumberLength)
        return def;
    const QRegularExpressionMatch m = integerText().match(text);
    if (!m.hasMatch())
        return def;
    const QString digits = m.captured(2);
    const bool negative = m.captured(1) == QLatin1String("-");
    bool ok = false;
    const qint64 magnitude = digits.size() <= 10 ? digits.toLongLong(&ok) : 0;
    if (negative)
        return 0;
    if (!ok || magnitude > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    return static_cast<qint32>(magnitude);
}

bool SettingsStore::saveOnUnload(const Settings::UnloadSnapshot &s)
{
    const Values values{
        {Settings::kRunAtStart, toggleText(s.runAtStartup)},
        {Settings::kOnTop, toggleText(s.alwaysOnTop)},
        {Settings::kAuto, toggleText(s.setupMode)},
        {Settings::kStopPop, toggleText(s.blockingEnabled)},
        {Settings::kStopped, QString::number(s.blockedCount)},
        {Settings::kAllowed, boundedListCopy(s.allowedList)},
        {Settings::kDisallowed, boundedListCopy(s.disallowedList)},
        {Settings::kLinks, toggleText(s.allowLinkPopups)},
        {Settings::kState, s.state},
    };
    const bool ok = writeValues(values);
    if (m_observer) {
        for (const auto &[key, value] : values)
            m_observer(key, value);
    }
    return ok;
}

void SettingsStore::setWriteObserver(std::function<void(const QString &, const QString &)> observer)
{
    m_observer = std::move(observer);
}

} // namespace wendral
