// libFuzzer entry for the settings file: any bytes as Wendral.conf give every
// option and the count a value within its rules (a toggle is its default
// unless the text is the number 0 or 1, a count is its default or within
// 0..2147483647); a value written reads back exactly; and a write changes no
// other value of the section.

#include "core/settingsstore.h"
#include "fuzzsupport.h"

#include <QRegularExpression>
#include <QSettings>

#include <cstddef>
#include <cstdint>

using namespace wendral;

namespace {
const QStringList kKeys{Settings::kStopPop,    Settings::kAuto,  Settings::kOnTop,   Settings::kRunAtStart,
                        Settings::kSound,      Settings::kLinks, Settings::kStopped, Settings::kAllowed,
                        Settings::kDisallowed, Settings::kState, Settings::kShowHelp};

// The keys the file's [Settings] section holds, as the store reads them.
QStringList sectionKeys(const SettingsStore &store, const QString &copyPath)
{
    Q_UNUSED(store);
    QStringList keys;
    const QSettings parsed(copyPath, QSettings::IniFormat);
    for (const QString &key : parsed.allKeys()) {
        if (key.startsWith(QLatin1String("Settings/")) && key.count(QLatin1Char('/')) == 1 && key.size() > 9)
            keys.append(key.mid(9));
    }
    return keys;
}

void checkToggle(const SettingsStore &store, const QString &key)
{
    const bool whenOn = store.readToggle(key, true);
    const bool whenOff = store.readToggle(key, false);
    const QString text = store.read(key, QString());
    bool ok = false;
    const short number = text.trimmed().toShort(&ok);
    const bool valid = text.size() <= SettingsStore::kMaxNumberLength && ok && (number == 0 || number == 1);
    if (!valid)
        fuzz::check(whenOn && !whenOff, "an option that is not 0 or 1 reads as its default", text.left(80));
    else
        fuzz::check(whenOn == whenOff && whenOn == (number == 1), "an option of 0 or 1 reads as it is", text);
}

void checkCount(const SettingsStore &store, const QString &key)
{
    const qint32 count = store.readCount(key, -7);
    fuzz::check(count == -7 || count >= 0, "a count is its default or not negative");
    if (count > 0) {
        // A positive count comes from digits that are in the text.
        static const QRegularExpression digits(QStringLiteral("[1-9]"));
        fuzz::check(store.read(key, QString()).contains(digits), "a positive count has digits");
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::initialize("fuzz_settings");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Bytes input(data, size);
    const uint8_t valueLength = input.take();
    const QByteArray rest = input.rest();
    // The last bytes (as many as the first byte says) are a value to write.
    const qsizetype split = qMax<qsizetype>(0, rest.size() - valueLength);
    const QByteArray file = rest.left(split);
    const QString value = QString::fromUtf8(rest.mid(split));

    const QString path = fuzz::scratchFolder() + QStringLiteral("/Wendral.conf");
    const QString copy = fuzz::scratchFolder() + QStringLiteral("/copy.conf");
    fuzz::writeFile(path, file);
    fuzz::writeFile(copy, file);
    SettingsStore store(path);

    QStringList keys = kKeys + sectionKeys(store, copy);
    keys.removeDuplicates();
    for (const QString &key : std::as_const(keys)) {
        checkToggle(store, key);
        checkCount(store, key);
    }

    // One value written: it reads back as written, the others stay.
    QHash<QString, QString> before;
    for (const QString &key : std::as_const(keys))
        before.insert(key, store.read(key, QStringLiteral("\x01absent")));
    const QString target = keys.at(data[0] % keys.size());
    if (!store.write(target, value)) {
        // A file that QSettings could not write back without changing what
        // another value reads (keys it cannot encode, say) is refused as a
        // whole: it says why and stays as it was.
        fuzz::check(!store.problem().isEmpty(), "a refused write says why", target);
        fuzz::check(fuzz::readFile(path) == file, "a refused write leaves the file", store.problem());
        return 0;
    }
    fuzz::check(
        store.read(target, QString()) == value, "a value reads back as written",
        QStringLiteral("key %1 value %2 read %3").arg(target, value.left(80), store.read(target, QString()).left(80)));
    for (const QString &key : std::as_const(keys)) {
        if (key == target)
            continue;
        fuzz::check(store.read(key, QStringLiteral("\x01absent")) == before.value(key), "other values stay",
                    QStringLiteral("key %1 was %2 is %3")
                        .arg(key, before.value(key).left(80), store.read(key, QStringLiteral("\x01absent")).left(80)));
    }
    return 0;
}
