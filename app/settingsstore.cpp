#include "app/settingsstore.h"

#include "app/paths.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <limits>

namespace wendral::Settings {
namespace {
std::function<void(const QString &, const QString &)> g_observer;

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
} // namespace

QString read(const QString &key, const QString &def)
{
    QSettings store(Paths::settingsFile(), QSettings::IniFormat);
    const QVariant value = store.value(fullKey(key));
    if (!value.isValid())
        return def;
    // A hand-edited value with unquoted commas comes back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    // Always through the text: QVariant's own number conversions wrap around.
    return value.toString();
}

void write(const QString &key, const QString &value)
{
    {
        QSettings store(Paths::settingsFile(), QSettings::IniFormat);
        store.setValue(fullKey(key), value);
        store.sync();
    }
    if (g_observer)
        g_observer(key, value);
}

int readToggle(const QString &key, int def)
{
    bool ok = false;
    const short value = read(key, QString()).trimmed().toShort(&ok);
    if (!ok || (value != 0 && value != 1))
        return def;
    return value;
}

qint32 readCount(const QString &key, qint32 def)
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

void saveOnUnload(const UnloadSnapshot &s)
{
    write(kRunAtStart, QString::number(s.check4));
    write(kOnTop, QString::number(s.check3));
    write(kAuto, QString::number(s.check2));
    write(kStopPop, QString::number(s.check1));
    write(kStopped, QString::number(s.blockedCount));
    write(kAllowed, s.allowedList);
    write(kDisallowed, s.disallowedList);
    write(kLinks, QString::number(s.check6));
    write(kState, s.state);
}

void setWriteObserver(std::function<void(const QString &, const QString &)> observer)
{
    g_observer = std::move(observer);
}

} // namespace wendral::Settings
