#include "core/settingsstore.h"

#include "core/paths.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <limits>

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
} // namespace

SettingsStore::SettingsStore(const QString &file) : m_file(file.isEmpty() ? Paths::settingsFile() : file) {}

QString SettingsStore::read(const QString &key, const QString &def) const
{
    QSettings store(m_file, QSettings::IniFormat);
    const QVariant value = store.value(fullKey(key));
    if (!value.isValid())
        return def;
    // A hand-edited value with unquoted commas comes back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    // Always through the text: QVariant's own number conversions wrap around.
    return value.toString();
}

bool SettingsStore::write(const QString &key, const QString &value)
{
    bool ok = false;
    {
        QSettings store(m_file, QSettings::IniFormat);
        store.setValue(fullKey(key), value);
        store.sync();
        // A damaged file reports a format error from reading it, yet it is
        // rewritten whole with the new value: only a failed write counts.
        ok = store.status() != QSettings::AccessError;
    }
    if (m_observer)
        m_observer(key, value);
    return ok;
}

bool SettingsStore::readToggle(const QString &key, bool def) const
{
    bool ok = false;
    const short value = read(key, QString()).trimmed().toShort(&ok);
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
    const QRegularExpressionMatch m = integerText().match(read(key, QString()));
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
    bool ok = writeToggle(Settings::kRunAtStart, s.runAtStartup);
    ok = writeToggle(Settings::kOnTop, s.alwaysOnTop) && ok;
    ok = writeToggle(Settings::kAuto, s.setupMode) && ok;
    ok = writeToggle(Settings::kStopPop, s.blockingEnabled) && ok;
    ok = write(Settings::kStopped, QString::number(s.blockedCount)) && ok;
    ok = write(Settings::kAllowed, s.allowedList) && ok;
    ok = write(Settings::kDisallowed, s.disallowedList) && ok;
    ok = writeToggle(Settings::kLinks, s.allowLinkPopups) && ok;
    ok = write(Settings::kState, s.state) && ok;
    return ok;
}

void SettingsStore::setWriteObserver(std::function<void(const QString &, const QString &)> observer)
{
    m_observer = std::move(observer);
}

} // namespace wendral
