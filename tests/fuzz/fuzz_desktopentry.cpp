// libFuzzer entry for desktop entries, the files the program reads from the
// system (a browser's own entry) and writes for the desktop (the watched copy
// of that entry, the autostart entry). Checked against a reader written here
// from the freedesktop.org Desktop Entry format alone:
// - watchedEntry: any bytes give nothing or an entry every line of which reads
//   as a group, a key or a comment, marked as Wendral's, naming its source, and
//   whose main Exec line starts the launcher with the browser's own command;
//   where the original's Exec line follows the format's quoting rules, that
//   command is the original's, argument for argument.
// - XdgAutostart: any name, program and arguments (as a process can have them:
//   no NUL) read back from the entry exactly.

#include "fuzzsupport.h"
#include "platform/linux/desktoplaunchers.h"
#include "platform/linux/xdgautostart.h"

#include <QHash>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <optional>

using namespace wendral;

namespace {

struct Entry
{
    // group -> key -> value (raw, escapes not undone); a repeated key replaces.
    QHash<QString, QHash<QString, QString>> groups;
};

// A key file as the Desktop Entry format describes it; nothing when a line is none
// of its forms.
std::optional<Entry> readEntry(const QByteArray &bytes)
{
    Entry entry;
    QString group;
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (i == lines.size() - 1 && line.isEmpty())
            break;
        // A carriage return before the newline ends the line, as GLib (which
        // starts most entries) reads it; it is no part of the value.
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        // GLib skips white space at the start of a line before it looks at
        // it: "  # note" is a comment, "  [Group]" a group header.
        qsizetype lead = 0;
        while (lead < line.size() && line[lead].isSpace())
            ++lead;
        line.remove(0, lead);
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (group.isEmpty() || eq <= 0)
            return std::nullopt;
        qsizetype start = eq + 1;
        while (start < line.size() && (line[start] == QLatin1Char(' ') || line[start] == QLatin1Char('\t')))
            ++start;
        entry.groups[group][line.left(eq).trimmed()] = line.mid(start);
    }
    return entry;
}

QString unescape(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar c = value[++i];
        if (c == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (c == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (c == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (c == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(c);
    }
    return out;
}

// The arguments of an (unescaped) Exec value under the format's own
// quoting, strictly: nothing when a reserved character stands outside double
// quotes or a backslash in quotes escapes anything but " ` $ \.
std::optional<QStringList> splitExec(const QString &command)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QStringList args;
    qsizetype i = 0;
    const qsizetype n = command.size();
    while (i < n) {
        if (command[i] == QLatin1Char(' ')) {
            ++i;
            continue;
        }
        QString arg;
        if (command[i] == QLatin1Char('"')) {
            for (++i;; ++i) {
                if (i >= n)
                    return std::nullopt;
                const QChar c = command[i];
                if (c == QLatin1Char('"'))
                    break;
                if (c == QLatin1Char('\\')) {
                    if (i + 1 >= n || !QStringLiteral("\"`$\\").contains(command[i + 1]))
                        return std::nullopt;
                    arg += command[++i];
                    continue;
                }
                arg += c;
            }
            ++i;
            if (i < n && command[i] != QLatin1Char(' '))
                return std::nullopt;
        } else {
            for (; i < n && command[i] != QLatin1Char(' '); ++i) {
                if (reserved.contains(command[i]))
                    return std::nullopt;
                arg += command[i];
            }
        }
        args.append(arg);
    }
    return args;
}

// An argument of the program's own, with "%%" read back as "%"; nothing when
// it holds a field code.
std::optional<QString> literal(const QString &arg)
{
    QString out;
    for (qsizetype i = 0; i < arg.size(); ++i) {
        if (arg[i] != QLatin1Char('%')) {
            out += arg[i];
            continue;
        }
        if (i + 1 >= arg.size() || arg[i + 1] != QLatin1Char('%'))
            return std::nullopt;
        out += QLatin1Char('%');
        ++i;
    }
    return out;
}

// Strings as a process can have them: split at NUL bytes, decoded as UTF-8.
QStringList strings(const QByteArray &bytes)
{
    QStringList out;
    for (const QByteArray &part : bytes.split('\0'))
        out.append(QString::fromUtf8(part).remove(QChar(0)));
    return out;
}

void checkWatchedEntry(const QByteArray &original, const QString &source, const QString &launcher)
{
    const QByteArray written = DesktopLaunchers::watchedEntry(original, source, launcher);
    if (written.isEmpty())
        return;
    const std::optional<Entry> entry = readEntry(written);
    fuzz::check(entry.has_value(), "every line of a written entry is a group, a key or a comment",
                QString::fromUtf8(written.left(400)));
    const QHash<QString, QString> main = entry->groups.value(QStringLiteral("Desktop Entry"));
    fuzz::check(main.value(QStringLiteral("X-Wendral-Watched")) == QLatin1String("true"), "the entry is marked");
    fuzz::check(unescape(main.value(QStringLiteral("X-Wendral-Source"))) == source, "the entry names its source",
                main.value(QStringLiteral("X-Wendral-Source")));
    const std::optional<QStringList> exec = splitExec(unescape(main.value(QStringLiteral("Exec"))));
    fuzz::check(exec && exec->size() > 6, "the main Exec line follows the quoting rules",
                main.value(QStringLiteral("Exec")).left(400));
    const QStringList head{QStringLiteral("/bin/sh"),  QStringLiteral("-c"), QString(), QStringLiteral("sh"), launcher,
                           QStringLiteral("--browser")};
    for (int i = 0; i < 6; ++i) {
        if (i == 2)
            continue;
        fuzz::check(literal(exec->at(i)) == head.at(i), "the Exec line starts the launcher", exec->at(i).left(200));
    }

    // Where the original follows the format, its command is carried over unchanged.
    const std::optional<Entry> before = readEntry(original);
    if (!before)
        return;
    const QString originalExec = before->groups.value(QStringLiteral("Desktop Entry")).value(QStringLiteral("Exec"));
    const std::optional<QStringList> originalArgs = splitExec(unescape(originalExec));
    if (!originalArgs || QString::fromUtf8(original).contains(QChar(QChar::ReplacementCharacter)))
        return;
    fuzz::check(exec->mid(6) == *originalArgs, "the browser's command is carried over argument for argument",
                originalExec.left(200) + QStringLiteral("\n -> ") + exec->mid(6).join(QStringLiteral(" | ")).left(200));
}

void checkAutostart(const QStringList &parts)
{
    const QString name = parts.value(0);
    const QString program = parts.value(1);
    const QStringList arguments = parts.mid(2);
    const QByteArray content = XdgAutostart::entryContent(name, program, arguments);
    const std::optional<Entry> entry = readEntry(content);
    fuzz::check(entry.has_value(), "every line of the autostart entry is a group, a key or a comment",
                QString::fromUtf8(content.left(400)));
    const QHash<QString, QString> main = entry->groups.value(QStringLiteral("Desktop Entry"));
    fuzz::check(unescape(main.value(QStringLiteral("Name"))) == name, "the name reads back",
                name.left(100) + QStringLiteral(" / ") + main.value(QStringLiteral("Name")).left(100));
    const std::optional<QStringList> exec = splitExec(unescape(main.value(QStringLiteral("Exec"))));
    fuzz::check(exec.has_value(), "the Exec line follows the quoting rules",
                main.value(QStringLiteral("Exec")).left(400));
    QStringList read;
    for (const QString &arg : *exec) {
        const std::optional<QString> text = literal(arg);
        fuzz::check(text.has_value(), "no argument holds a field code", arg.left(100));
        read.append(*text);
    }
    fuzz::check(read == QStringList{program} + arguments, "program and arguments read back",
                (QStringList{program} + arguments).join(QStringLiteral(" | ")).left(300) + QStringLiteral("\n -> ") +
                    read.join(QStringLiteral(" | ")).left(300));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::initialize("fuzz_desktopentry");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Bytes input(data, size);
    const uint8_t mode = input.take();
    if (mode & 1) {
        checkAutostart(strings(input.rest()));
        return 0;
    }
    // The launcher and the source file name come first, each up to a NUL.
    QByteArray rest = input.rest();
    const qsizetype first = rest.indexOf('\0');
    const qsizetype second = first < 0 ? -1 : rest.indexOf('\0', first + 1);
    if (second < 0) {
        checkWatchedEntry(rest, QStringLiteral("/usr/share/applications/chromium.desktop"),
                          QStringLiteral("/usr/lib/wendral/wendral-browser"));
        return 0;
    }
    const QString launcher = QString::fromUtf8(rest.left(first));
    const QString source = QString::fromUtf8(rest.mid(first + 1, second - first - 1));
    checkWatchedEntry(rest.mid(second + 1), source, launcher);
    return 0;
}
