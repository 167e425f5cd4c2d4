#include "platform/linux/desktoplaunchers.h"

#include "platform/linux/desktopentrytext.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <optional>
#include <utility>

namespace wendral {

namespace {

constexpr QLatin1String mainGroupName("Desktop Entry");
constexpr QLatin1String actionGroupPrefix("Desktop Action ");
constexpr QLatin1String watchedKey("X-Wendral-Watched");
constexpr QLatin1String browserKey("X-Wendral-Browser");
constexpr QLatin1String sourceKey("X-Wendral-Source");
constexpr QLatin1String sourceHashKey("X-Wendral-Source-SHA256");
constexpr QLatin1String entryHashKey("X-Wendral-Entry-SHA256");
constexpr QLatin1String ownKeyPrefix("X-Wendral-");

// Uses the launcher when it is an executable file and otherwise runs the original command:
// $1 is the launcher, $2 "--browser", the rest the browser's own command line. "command -v"
// alone is not enough, because for a path dash only checks that it exists.
constexpr QLatin1String fallbackScript("l=$(command -v \"$1\") && [ -f \"$l\" ] && [ -x \"$l\" ] && shift && "
                                       "exec \"$l\" \"$@\"; shift 2; exec \"$@\"");

// The program names of the Chromium-family browsers whose profiles Wendral finds.
bool isKnownBrowserProgram(const QString &program)
{
    static constexpr const char *names[] = {
        "chromium",
        "chromium-browser",
        "google-chrome",
        "google-chrome-stable",
        "google-chrome-beta",
        "google-chrome-unstable",
        "microsoft-edge",
        "microsoft-edge-stable",
        "microsoft-edge-beta",
        "microsoft-edge-dev",
        "brave-browser",
        "brave-browser-stable",
        "vivaldi",
        "vivaldi-stable",
    };
    const QString name = program.section(QLatin1Char('/'), -1);
    return std::any_of(std::begin(names), std::end(names), [&](const char *n) { return name == QLatin1String(n); });
}

// An entry file whose name says it is one of those browsers, so a problem with it is worth reporting.
bool looksLikeBrowserId(const QString &id)
{
    return id.endsWith(QLatin1String(".desktop")) && isKnownBrowserProgram(id.chopped(8));
}

// --- Reading and writing the key file format ------------------------------------------

struct KeyLine
{
    QString key; // empty for a comment or blank line
    QString value;
    QString raw; // the comment or blank line as read
    bool hadBadBytes = false;
};

struct Group
{
    QString name;
    QList<KeyLine> lines;

    const KeyLine *find(QLatin1String key) const
    {
        for (const KeyLine &line : lines) {
            if (line.key == key)
                return &line;
        }
        return nullptr;
    }
    QString value(QLatin1String key) const
    {
        const KeyLine *line = find(key);
        return line ? line->value : QString();
    }
};

struct KeyFile
{
    QList<KeyLine> preamble; // comments before the first group
    QList<Group> groups;

    Group *group(const QString &name)
    {
        for (Group &g : groups) {
            if (g.name == name)
                return &g;
        }
        return nullptr;
    }
};

// Reads the format as GLib does, which is what starts most entries: a repeated group
// continues the first one, a repeated key replaces the earlier one, a carriage return
// before the newline is dropped. Bytes that are not UTF-8 become U+FFFD (and the line is
// marked). Fails on lines that are no group, key or comment, as GLib does.
std::optional<KeyFile> parseKeyFile(const QByteArray &data)
{
    KeyFile file;
    qsizetype current = -1;
    QList<QByteArray> lines = data.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray bytes : std::as_const(lines)) {
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        QStringDecoder decoder(QStringDecoder::Utf8);
        QString text = decoder.decode(bytes);
        bool bad = decoder.hasError();
        if (text.contains(QChar(0))) {
            text.replace(QChar(0), QChar(QChar::ReplacementCharacter));
            bad = true;
        }
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))) {
            KeyLine comment;
            comment.raw = text;
            (current < 0 ? file.preamble : file.groups[current].lines).append(comment);
            continue;
        }
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (!trimmed.endsWith(QLatin1Char(']')) || bad)
                return std::nullopt;
            const QString name = trimmed.mid(1, trimmed.size() - 2);
            if (name.isEmpty() || name.contains(QLatin1Char('[')) || name.contains(QLatin1Char(']')))
                return std::nullopt;
            current = -1;
            for (qsizetype i = 0; i < file.groups.size(); ++i) {
                if (file.groups[i].name == name)
                    current = i;
            }
            if (current < 0) {
                file.groups.append(Group{name, {}});
                current = file.groups.size() - 1;
            }
            continue;
        }
        const qsizetype eq = text.indexOf(QLatin1Char('='));
        if (current < 0 || eq <= 0)
            return std::nullopt;
        KeyLine line;
        line.key = text.left(eq).trimmed();
        if (line.key.isEmpty())
            return std::nullopt;
        qsizetype start = eq + 1;
        while (start < text.size() && (text[start] == QLatin1Char(' ') || text[start] == QLatin1Char('\t')))
            ++start;
        line.value = text.mid(start);
        line.hadBadBytes = bad;
        QList<KeyLine> &groupLines = file.groups[current].lines;
        groupLines.removeIf([&](const KeyLine &l) { return l.key == line.key; });
        groupLines.append(line);
    }
    return file;
}

QByteArray serialize(const KeyFile &file)
{
    QString out;
    auto put = [&out](const KeyLine &line) {
        out += line.key.isEmpty() ? line.raw : line.key + QLatin1Char('=') + line.value;
        out += QLatin1Char('\n');
    };
    std::for_each(file.preamble.begin(), file.preamble.end(), put);
    for (const Group &group : file.groups) {
        out += QLatin1Char('[') + group.name + QLatin1String("]\n");
        std::for_each(group.lines.begin(), group.lines.end(), put);
    }
    return out.toUtf8();
}

// --- Exec lines -----------------------------------------------------------------------

// Splits an (unescaped) Exec command into arguments the way GLib's launcher does, which
// accepts more than the standard's double quotes: single quotes, backslashes outside
// quotes and "#" comments. Field codes stay in the arguments as written.
std::optional<QStringList> splitCommand(const QString &command)
{
    QStringList args;
    QString arg;
    bool inArg = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inArg)
                args.append(arg);
            arg.clear();
            inArg = false;
        } else if (c == QLatin1Char('#') && !inArg) {
            break;
        } else if (c == QLatin1Char('\'')) {
            const qsizetype end = command.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return std::nullopt;
            arg += command.mid(i + 1, end - i - 1);
            inArg = true;
            i = end;
        } else if (c == QLatin1Char('"')) {
            inArg = true;
            bool closed = false;
            for (++i; i < command.size(); ++i) {
                const QChar q = command[i];
                if (q == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (q == QLatin1Char('\\') && i + 1 < command.size()) {
                    const QChar next = command[i + 1];
                    if (next == QLatin1Char('\n')) {
                        ++i;
                        continue;
                    }
                    if (QLatin1String("\"`$\\").contains(next)) {
                        arg += next;
                        ++i;
                        continue;
                    }
                }
                arg += q;
            }
            if (!closed)
                return std::nullopt;
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 == command.size())
                return std::nullopt;
            const QChar next = command[++i];
            if (next != QLatin1Char('\n')) {
                arg += next;
                inArg = true;
            }
        } else {
            arg += c;
            inArg = true;
        }
    }
    if (inArg)
        args.append(arg);
    return args;
}

// One argument in the standard's quoting: bare when it holds no reserved character,
// otherwise in double quotes with ", `, $ and \ escaped by a backslash. Percent signs are
// left as they are, so field codes of the original survive.
QString quoteArgument(const QString &arg)
{
    static constexpr QLatin1String reserved(" \t\n\r\"'\\><~|&;$*?#()`");
    const bool needsQuotes =
        arg.isEmpty() || std::any_of(arg.begin(), arg.end(), [](QChar c) { return reserved.contains(c); });
    if (!needsQuotes)
        return arg;
    QString out = QStringLiteral("\"");
    for (const QChar c : arg) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out + QLatin1Char('"');
}

// An argument of our own: a literal percent sign is written "%%".
QString literalArgument(QString arg)
{
    return quoteArgument(arg.replace(QLatin1Char('%'), QLatin1String("%%")));
}

bool hasControlCharacter(const QStringList &args)
{
    return std::any_of(args.begin(), args.end(), [](const QString &a) {
        return std::any_of(a.begin(), a.end(), [](QChar c) {
            return (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r')) ||
                   c.unicode() == 0x7F;
        });
    });
}

// The program an argument list starts, with "%%" read back as "%".
QString programOf(const QStringList &args)
{
    return args.isEmpty() ? QString() : QString(args.first()).replace(QLatin1String("%%"), QLatin1String("%"));
}

// The value of a rewritten Exec key (string escapes applied).
QString wrappedExec(const QString &launcher, const QStringList &original)
{
    QStringList parts{literalArgument(QStringLiteral("/bin/sh")),
                      literalArgument(QStringLiteral("-c")),
                      literalArgument(fallbackScript),
                      literalArgument(QStringLiteral("sh")),
                      literalArgument(launcher),
                      literalArgument(QStringLiteral("--browser"))};
    for (const QString &arg : original)
        parts.append(quoteArgument(arg));
    return desktopentry::escapeValue(parts.join(QLatin1Char(' ')));
}

QByteArray sha256Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// --- Converting one entry --------------------------------------------------------------

struct Conversion
{
    enum Outcome
    {
        NotABrowser,
        Unusable,
        Converted
    } outcome = NotABrowser;
    QString reason;
    QString program;
    QByteArray content;
};

Conversion convert(const QByteArray &original, const QString &sourceFile, const QString &launcher)
{
    Conversion result;
    auto fail = [&result](Conversion::Outcome outcome, const QString &reason) {
        result.outcome = outcome;
        result.reason = reason;
        return result;
    };
    std::optional<KeyFile> parsed = parseKeyFile(original);
    if (!parsed)
        return fail(Conversion::Unusable, QStringLiteral("not a valid desktop entry"));
    KeyFile &file = *parsed;
    Group *main = file.group(mainGroupName);
    if (!main)
        return fail(Conversion::Unusable, QStringLiteral("no [Desktop Entry] group"));
    const KeyLine *exec = main->find(QLatin1String("Exec"));
    if (!exec)
        return fail(Conversion::Unusable, QStringLiteral("no Exec line"));
    const std::optional<QStringList> mainArgs = splitCommand(desktopentry::unescapeValue(exec->value));
    if (exec->hadBadBytes || !mainArgs || mainArgs->isEmpty() || hasControlCharacter(*mainArgs))
        return fail(Conversion::Unusable, QStringLiteral("its Exec line cannot be read"));
    result.program = programOf(*mainArgs);
    // Snap packages keep the browser's profile inside the snap, where Wendral does not look.
    if (!isKnownBrowserProgram(result.program) || result.program.startsWith(QLatin1String("/snap/")))
        return fail(Conversion::NotABrowser, QStringLiteral("not a Chromium-family browser Wendral watches"));
    if (main->value(QLatin1String("Type")) != QLatin1String("Application"))
        return fail(Conversion::Unusable, QStringLiteral("not of type Application"));
    if (main->value(QLatin1String("Hidden")) == QLatin1String("true"))
        return fail(Conversion::Unusable, QStringLiteral("marked as deleted (Hidden=true)"));
    if (main->value(QLatin1String("DBusActivatable")) == QLatin1String("true"))
        return fail(Conversion::Unusable, QStringLiteral("started through D-Bus, not its Exec line"));

    for (Group &group : file.groups) {
        if (group.name != mainGroupName && !group.name.startsWith(actionGroupPrefix))
            continue;
        // Keys of an earlier Wendral entry that was copied here are not carried over.
        group.lines.removeIf([](const KeyLine &l) { return l.key.startsWith(ownKeyPrefix); });
        for (KeyLine &line : group.lines) {
            if (line.key != QLatin1String("Exec"))
                continue;
            const std::optional<QStringList> args = splitCommand(desktopentry::unescapeValue(line.value));
            if (line.hadBadBytes || !args || hasControlCharacter(*args))
                return fail(Conversion::Unusable,
                            QStringLiteral("the Exec line of [%1] cannot be read").arg(group.name));
            // An action that starts some other program is left as it is.
            if (!args->isEmpty() && isKnownBrowserProgram(programOf(*args)))
                line.value = wrappedExec(launcher, *args);
        }
    }

    const QList<KeyLine> marks{
        {watchedKey, QStringLiteral("true"), {}, false},
        {browserKey, desktopentry::escapeValue(result.program), {}, false},
        {sourceKey, desktopentry::escapeValue(sourceFile), {}, false},
        {sourceHashKey, QString::fromLatin1(sha256Hex(original)), {}, false},
    };
    main = file.group(mainGroupName);
    main->lines = marks + main->lines;
    file.preamble.prepend(
        KeyLine{{}, {}, QStringLiteral("# Written by Wendral so that this browser is watched"), false});
    file.preamble.insert(
        1, KeyLine{{}, {}, QStringLiteral("# when started from the desktop; taken away again when"), false});
    file.preamble.insert(
        2, KeyLine{{}, {}, QStringLiteral("# \"Watch browsers started from the desktop\" is turned off."), false});

    // The entry's own hash covers every other line; it goes in after the marks.
    const QByteArray body = serialize(file);
    main->lines.insert(marks.size(), KeyLine{entryHashKey, QString::fromLatin1(sha256Hex(body)), {}, false});
    result.content = serialize(file);
    result.outcome = Conversion::Converted;
    return result;
}

enum class Ownership
{
    Theirs,
    Ours,
    ChangedSinceWritten
};

// Whether a per-user entry is one Wendral wrote and nobody changed since.
Ownership ownership(const QByteArray &data)
{
    const QByteArray hashLine = QByteArray(entryHashKey.data(), entryHashKey.size()) + '=';
    qsizetype start = data.startsWith(hashLine) ? 0 : data.indexOf('\n' + hashLine);
    // Without the hash nothing says Wendral wrote it, whatever else it holds.
    if (start < 0)
        return Ownership::Theirs;
    if (start > 0)
        ++start;
    qsizetype end = data.indexOf('\n', start);
    end = end < 0 ? data.size() : end + 1;
    const QByteArray hash = data.mid(start + hashLine.size(), end - start - hashLine.size()).trimmed();
    QByteArray rest = data;
    rest.remove(start, end - start);
    const bool marked = rest.contains('\n' + QByteArray(watchedKey.data(), watchedKey.size()) + "=true\n");
    if (marked && hash == sha256Hex(rest) && !rest.contains('\n' + hashLine))
        return Ownership::Ours;
    return Ownership::ChangedSinceWritten;
}

enum class ReadResult
{
    Ok,
    TooLarge,
    Unreadable
};

ReadResult readBounded(const QString &path, QByteArray *data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ReadResult::Unreadable;
    *data = file.read(DesktopLaunchers::maxEntrySize + 1);
    if (data->size() > DesktopLaunchers::maxEntrySize)
        return ReadResult::TooLarge;
    return file.error() == QFileDevice::NoError ? ReadResult::Ok : ReadResult::Unreadable;
}

bool writeAtomically(const QString &path, const QByteArray &content)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // A short write (a full disk) can slip past commit(), so it is checked first.
    if (out.write(content) != content.size() || !out.flush()) {
        out.cancelWriting();
        out.commit();
        return false;
    }
    return out.commit();
}

// Desktop file ids of the entries under an applications folder: the relative path with
// "/" turned into "-". Special files are listed too (as not regular), so none is mistaken
// for a free id.
QList<std::pair<QString, QString>> entriesUnder(const QString &folder)
{
    QList<std::pair<QString, QString>> entries;
    const QDir root(folder);
    QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString id = root.relativeFilePath(path);
        id.replace(QLatin1Char('/'), QLatin1Char('-'));
        entries.append({id, path});
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

} // namespace

struct DesktopLaunchers::Found
{
    Browser browser;
    QByteArray content;
};

struct DesktopLaunchers::UserEntry
{
    QString id;
    QString path;
    Ownership owner;
};

struct DesktopLaunchers::Scan
{
    QList<Found> found;
    QList<Skipped> skipped;
};

DesktopLaunchers::DesktopLaunchers(QString applicationsDir, QStringList systemDataDirs, QString launcher)
    : m_applicationsDir(std::move(applicationsDir)), m_systemDataDirs(std::move(systemDataDirs)),
      m_launcher(std::move(launcher))
{}

DesktopLaunchers DesktopLaunchers::forCurrentUser(const QString &launcher)
{
    // Relative paths in these variables are invalid and ignored, as the base directory rules say.
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QStringList dataDirs;
    const QStringList listed = qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : listed) {
        if (QDir::isAbsolutePath(dir))
            dataDirs.append(dir);
    }
    if (dataDirs.isEmpty())
        dataDirs = QStringList{QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    return DesktopLaunchers(dataHome + QStringLiteral("/applications"), dataDirs, launcher);
}

void DesktopLaunchers::setCacheUpdater(const QString &program)
{
    m_cacheUpdater = program;
    m_cacheUpdaterSet = true;
}

QByteArray DesktopLaunchers::watchedEntry(const QByteArray &original, const QString &sourceFile,
                                          const QString &launcher, QString *reason)
{
    Conversion conversion = convert(original, sourceFile, launcher);
    if (reason)
        *reason = conversion.reason;
    return conversion.outcome == Conversion::Converted ? conversion.content : QByteArray();
}

DesktopLaunchers::Scan DesktopLaunchers::scanSystem() const
{
    Scan scan;
    QStringList seen;
    const QString ownFolder = QFileInfo(m_applicationsDir).canonicalFilePath();
    for (const QString &dataDir : m_systemDataDirs) {
        const QString folder = dataDir + QStringLiteral("/applications");
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (canonical.isEmpty() || canonical == ownFolder)
            continue;
        for (const auto &[id, path] : entriesUnder(folder)) {
            // The first folder holding an id decides what that id is, browser or not.
            if (seen.contains(id))
                continue;
            seen.append(id);
            QByteArray data;
            const QFileInfo info(path);
            const ReadResult read = info.isFile() ? readBounded(path, &data) : ReadResult::Unreadable;
            if (read != ReadResult::Ok) {
                if (looksLikeBrowserId(id))
                    scan.skipped.append({id, read == ReadResult::TooLarge ? QStringLiteral("larger than 1 MiB")
                                                                          : QStringLiteral("cannot be read")});
                continue;
            }
            const Conversion conversion = convert(data, path, m_launcher);
            if (conversion.outcome == Conversion::Converted)
                scan.found.append({{id, path, conversion.program}, conversion.content});
            else if (conversion.outcome == Conversion::Unusable && looksLikeBrowserId(id))
                scan.skipped.append({id, conversion.reason});
        }
    }
    std::sort(scan.found.begin(), scan.found.end(),
              [](const Found &a, const Found &b) { return a.browser.id < b.browser.id; });
    return scan;
}

QList<DesktopLaunchers::UserEntry> DesktopLaunchers::userEntries() const
{
    QList<UserEntry> entries;
    for (const auto &[id, path] : entriesUnder(m_applicationsDir)) {
        const QFileInfo info(path);
        Ownership owner = Ownership::Theirs;
        QByteArray data;
        // Wendral writes regular files only; a link or anything else is the user's.
        if (!info.isSymLink() && info.isFile() && readBounded(path, &data) == ReadResult::Ok)
            owner = ownership(data);
        entries.append({id, path, owner});
    }
    return entries;
}

QList<DesktopLaunchers::Browser> DesktopLaunchers::installedBrowsers() const
{
    QList<Browser> browsers;
    for (const Found &found : scanSystem().found)
        browsers.append(found.browser);
    return browsers;
}

DesktopLaunchers::Report DesktopLaunchers::turnOn()
{
    Report report;
    const Scan scan = scanSystem();
    report.skipped = scan.skipped;
    const QList<UserEntry> user = userEntries();
    bool changed = false;
    QStringList wanted;
    for (const Found &found : scan.found) {
        const QString &id = found.browser.id;
        wanted.append(id);
        // The user's own entry for the id wins over one of ours (a second one at another path).
        const UserEntry *holder = nullptr;
        for (const UserEntry &entry : user) {
            if (entry.id == id && (!holder || entry.owner != Ownership::Ours))
                holder = &entry;
        }
        if (holder && holder->owner == Ownership::Theirs) {
            report.skipped.append({id, QStringLiteral("you have an entry of your own for it")});
            continue;
        }
        if (holder && holder->owner == Ownership::ChangedSinceWritten) {
            report.skipped.append({id, QStringLiteral("its entry was changed after Wendral wrote it")});
            continue;
        }
        const QString path = holder ? holder->path : m_applicationsDir + QLatin1Char('/') + id;
        QByteArray existing;
        if (holder && readBounded(path, &existing) == ReadResult::Ok && existing == found.content) {
            report.written.append(id);
            continue;
        }
        if (QDir().mkpath(m_applicationsDir) && writeAtomically(path, found.content)) {
            report.written.append(id);
            changed = true;
        } else {
            report.failed.append(path);
        }
    }
    for (const UserEntry &entry : user) {
        if (entry.owner != Ownership::Ours || wanted.contains(entry.id))
            continue;
        // That browser is gone; its entry would start nothing.
        if (QFile::remove(entry.path)) {
            report.removed.append(entry.id);
            changed = true;
        } else {
            report.failed.append(entry.path);
        }
    }
    if (changed)
        updateCache();
    return report;
}

DesktopLaunchers::Report DesktopLaunchers::turnOff()
{
    Report report;
    bool changed = false;
    for (const UserEntry &entry : userEntries()) {
        if (entry.owner == Ownership::ChangedSinceWritten) {
            report.skipped.append({entry.id, QStringLiteral("its entry was changed after Wendral wrote it")});
        } else if (entry.owner == Ownership::Ours) {
            if (QFile::remove(entry.path)) {
                report.removed.append(entry.id);
                changed = true;
            } else {
                report.failed.append(entry.path);
            }
        }
    }
    if (changed)
        updateCache();
    return report;
}

QString DesktopLaunchers::describe(const Report &report, bool turnedOn)
{
    auto names = [](const QStringList &ids) {
        QStringList out;
        for (const QString &id : ids)
            out << (id.endsWith(QLatin1String(".desktop")) ? id.chopped(8) : id);
        return out.join(QStringLiteral(", "));
    };
    QStringList parts;
    if (!report.failed.isEmpty()) {
        QStringList files;
        for (const QString &path : report.failed)
            files << path.section(QLatin1Char('/'), -1);
        parts << (turnedOn ? QStringLiteral("Could not write %1") : QStringLiteral("Could not remove %1"))
                     .arg(files.join(QStringLiteral(", ")));
    }
    if (turnedOn) {
        if (!report.written.isEmpty())
            parts << QStringLiteral("Browsers started from the desktop are watched: %1").arg(names(report.written));
        else if (report.failed.isEmpty())
            parts << (report.skipped.isEmpty() ? QStringLiteral("No Chromium-family browser found to watch")
                                               : QStringLiteral("No browser could be set up"));
    } else if (report.failed.isEmpty()) {
        parts << QStringLiteral("Browsers started from the desktop are no longer watched");
    }
    for (const Skipped &skipped : report.skipped)
        parts << QStringLiteral("%1 left alone: %2").arg(names({skipped.id}), skipped.reason);
    return parts.join(QStringLiteral("; "));
}

bool DesktopLaunchers::isOn() const
{
    return !ownEntries().isEmpty();
}

QStringList DesktopLaunchers::ownEntries() const
{
    QStringList paths;
    for (const UserEntry &entry : userEntries()) {
        if (entry.owner == Ownership::Ours)
            paths.append(entry.path);
    }
    return paths;
}

void DesktopLaunchers::updateCache() const
{
    // With no entry left that names a MIME type the cache would list nothing, which is
    // what no cache says too; removing it leaves the folder as it was before Wendral.
    const auto entries = entriesUnder(m_applicationsDir);
    const bool anyTypes = std::any_of(entries.begin(), entries.end(), [](const auto &entry) {
        QByteArray data;
        return QFileInfo(entry.second).isFile() && readBounded(entry.second, &data) == ReadResult::Ok &&
               (data.startsWith("MimeType=") || data.contains("\nMimeType="));
    });
    if (!anyTypes) {
        QFile::remove(m_applicationsDir + QStringLiteral("/mimeinfo.cache"));
        return;
    }
    const QString program =
        m_cacheUpdaterSet ? m_cacheUpdater : QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (program.isEmpty())
        return;
    QProcess process;
    process.setProgram(program);
    process.setArguments({m_applicationsDir});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

} // namespace wendral
