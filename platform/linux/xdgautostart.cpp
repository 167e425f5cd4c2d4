#include "platform/linux/xdgautostart.h"

#include "core/paths.h"
#include "platform/linux/desktopentrytext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace wendral::XdgAutostart {

namespace {
// Characters that make an Exec argument need quotes.
bool reserved(QChar c)
{
    static const QString chars = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return chars.contains(c) || c.unicode() < 0x20 || c.unicode() == 0x7F;
}

} // namespace

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
}

QString entryFile(const QString &name)
{
    QString base = name;
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    base.replace(QChar(0), QLatin1Char('_'));
    if (base.isEmpty())
        return {};
    return folder() + QLatin1Char('/') + base + QStringLiteral(".desktop");
}

QString execArgument(const QString &argument)
{
    QString arg;
    const bool needsQuotes = argument.isEmpty() || std::any_of(argument.begin(), argument.end(), reserved);
    if (needsQuotes) {
        arg += QLatin1Char('"');
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                arg += QLatin1Char('\\');
            arg += c;
        }
        arg += QLatin1Char('"');
    } else {
        arg = argument;
    }
    // A literal percent sign is not a field code.
    arg.replace(QLatin1Char('%'), QLatin1String("%%"));
    // The string escapes are undone before the quoting when the line is read,
    // so they go on last: each backslash of the quoting is doubled here.
    return desktopentry::escapeCharacters(arg);
}

QByteArray entryContent(const QString &name, const QString &program, const QStringList &arguments)
{
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Version=1.4\n");
    text += QStringLiteral("Name=") + desktopentry::escapeValue(name) + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + execArgument(program);
    for (const QString &argument : arguments)
        text += QLatin1Char(' ') + execArgument(argument);
    text += QLatin1Char('\n');
    const QString icon = Paths::programFile(QStringLiteral("icon.ico"));
    if (QFileInfo(icon).isFile())
        text += QStringLiteral("Icon=") + desktopentry::escapeValue(icon) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n"
                           "X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool writeEntry(const QString &name, const QString &program, const QStringList &arguments)
{
    const QString file = entryFile(name);
    if (file.isEmpty() || !QDir().mkpath(folder()))
        return false;
    const QByteArray content = entryContent(name, program, arguments);
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // A short write (a full disk, a file size limit) can slip past commit(),
    // so the data is flushed and checked before the old file is replaced.
    if (out.write(content) != content.size() || !out.flush()) {
        out.cancelWriting();
        out.commit();
        return false;
    }
    return out.commit();
}

bool removeEntry(const QString &name)
{
    const QString file = entryFile(name);
    if (file.isEmpty())
        return true;
    if (!QFileInfo::exists(file) && !QFileInfo(file).isSymLink())
        return true;
    return QFile::remove(file);
}

} // namespace wendral::XdgAutostart
