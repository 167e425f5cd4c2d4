// Watching browsers started from the desktop: the per-user entries written for the
// browsers' own entries keep everything but how Exec starts the browser, start it through
// the launcher and without it, never touch an entry of the user's, pass the desktop's
// validator, and are taken away again exactly.

#include "platform/linux/desktopentrytext.h"
#include "platform/linux/desktoplaunchers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace wendral;

namespace {

const QString script = QStringLiteral("l=$(command -v \"$1\") && [ -f \"$l\" ] && [ -x \"$l\" ] && shift && "
                                      "exec \"$l\" \"$@\"; shift 2; exec \"$@\"");

QString dataDir(const QString &name)
{
    return QStringLiteral(WENDRAL_TEST_DATA "/desktop/") + name;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &data, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        return false;
    f.close();
    return !executable || f.setPermissions(f.permissions() | QFile::ExeOwner);
}

// Reads an Exec value strictly by the freedesktop rules: the string escapes first, then
// the quoting (double quotes only, reserved characters only inside them). Field codes
// are left in. Returns false for a value those rules do not allow.
bool parseExecStrictly(const QString &value, QStringList *argv)
{
    QString line;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            line += value[i];
            continue;
        }
        const QChar c = ++i < value.size() ? value[i] : QChar();
        const int at = QStringLiteral("sntr\\").indexOf(c);
        if (at < 0)
            return false;
        line += QStringLiteral(" \n\t\r\\")[at];
    }
    argv->clear();
    QString arg;
    bool inArg = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == ' ') {
            if (inArg)
                argv->append(arg);
            arg.clear();
            inArg = false;
        } else if (c == '"') {
            if (inArg)
                return false;
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (QStringLiteral("`$\\").contains(line[i])) {
                    if (line[i] != '\\' || i + 1 == line.size() || !QStringLiteral("\"`$\\").contains(line[i + 1]))
                        return false;
                    ++i;
                }
                arg += line[i];
            }
            if (i == line.size() || (i + 1 < line.size() && line[i + 1] != ' '))
                return false;
            inArg = true;
        } else if (QStringLiteral("\t\n\"'\\><~|&;$*?#()`").contains(c)) {
            return false;
        } else {
            arg += c;
            inArg = true;
        }
    }
    if (inArg)
        argv->append(arg);
    return true;
}

// Expands the field codes as a launcher does: %U and %F to every item, %u and %f to the
// first, %c to the name, %% to a percent sign; others to nothing.
QStringList expandFieldCodes(const QStringList &argv, const QStringList &items, const QString &name)
{
    QStringList out;
    for (const QString &arg : argv) {
        if (arg == "%U" || arg == "%F") {
            out += items;
            continue;
        }
        QString expanded;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            const QChar code = arg[i] == '%' && i + 1 < arg.size() ? arg[++i] : QChar();
            if (code.isNull())
                expanded += arg[i];
            else if (code == '%')
                expanded += '%';
            else if ((code == 'u' || code == 'f') && !items.isEmpty())
                expanded += items.first();
            else if (code == 'c')
                expanded += name;
        }
        if (!expanded.isEmpty() || !arg.startsWith('%'))
            out.append(expanded);
    }
    return out;
}

// group -> key -> value, and the comment lines, of an entry.
struct Entry
{
    QMap<QString, QMap<QString, QString>> groups;
    QStringList groupOrder;
    QStringList comments;
};

Entry readEntry(const QByteArray &data)
{
    Entry entry;
    QString group;
    for (const QString &line : QString::fromUtf8(data).split('\n')) {
        if (line.startsWith('#')) {
            entry.comments.append(line);
        } else if (line.startsWith('[')) {
            group = line.mid(1, line.size() - 2);
            entry.groupOrder.append(group);
        } else if (line.contains('=')) {
            entry.groups[group].insert(line.section('=', 0, 0), line.section('=', 1));
        }
    }
    return entry;
}

// Every file under a folder with its content, to compare a folder before and after.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path),
                     QFileInfo(path).isSymLink() ? "-> " + QFileInfo(path).symLinkTarget().toUtf8() : readAll(path));
    }
    return files;
}

QStringList skippedIds(const DesktopLaunchers::Report &report)
{
    QStringList out;
    for (const auto &s : report.skipped)
        out.append(s.id);
    return out;
}

// A byte string that may hold NUL bytes.
template <qsizetype N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

bool waitFor(const std::function<bool()> &condition, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

class TestDesktopLaunchers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void findsBrowsersInOrderOfPrecedence();
    void entryKeepsEverythingButHowItStarts();
    void valueEscapes_data();
    void valueEscapes();
    void execRoundTrips_data();
    void execRoundTrips();
    void entriesStartTheBrowser_data();
    void entriesStartTheBrowser();
    void turningOffRestoresTheFolder();
    void entriesOfTheUserAreLeftAlone();
    void refreshFollowsTheSystem();
    void oddEntries_data();
    void oddEntries();
    void oddFiles();
    void cacheIsUpdated();
    void foldersFromTheEnvironment();
    void statusLineSaysWhatHappened();

private:
    DesktopLaunchers sampleLaunchers(const QString &launcher = QStringLiteral("wendral-browser")) const;
    void expectValid(const QString &file);
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_apps;
    QByteArray m_path;
};

void TestDesktopLaunchers::initTestCase()
{
    m_path = qgetenv("PATH");
}

void TestDesktopLaunchers::init()
{
    qputenv("PATH", m_path);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_apps = m_dir->path() + "/data/applications";
}

DesktopLaunchers TestDesktopLaunchers::sampleLaunchers(const QString &launcher) const
{
    DesktopLaunchers launchers(m_apps, {dataDir("local"), dataDir("share")}, launcher);
    launchers.setCacheUpdater({});
    return launchers;
}

void TestDesktopLaunchers::expectValid(const QString &file)
{
    const QString tool = QStandardPaths::findExecutable("desktop-file-validate");
    if (tool.isEmpty())
        QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool, {file});
    QVERIFY(p.waitForFinished(20000));
    const QByteArray out = p.readAll();
    QVERIFY2(p.exitCode() == 0 && out.isEmpty(), (file + ": " + out).toUtf8().constData());
}

void TestDesktopLaunchers::findsBrowsersInOrderOfPrecedence()
{
    const QList<DesktopLaunchers::Browser> browsers = sampleLaunchers().installedBrowsers();
    QStringList found;
    for (const auto &b : browsers)
        found.append(b.id + " " + b.program);
    // Firefox, the editor and the snap are no browsers to watch; the Edge beta is hidden by
    // the entry in the first folder, and the first folder's Chromium wins over the second's.
    QCOMPARE(
        found,
        QStringList({"chromium.desktop /usr/local/bin/chromium", "google-chrome.desktop /usr/bin/google-chrome-stable",
                     "microsoft-edge.desktop /usr/bin/microsoft-edge-stable", "ungoogled-chromium.desktop chromium",
                     "vivaldi-stable.desktop /opt/Vivaldi Browser/vivaldi-stable"}));
    QCOMPARE(browsers.first().sourceFile, dataDir("local/applications/chromium.desktop"));
    DesktopLaunchers launchers = sampleLaunchers();
    const DesktopLaunchers::Report report = launchers.turnOn();
    QCOMPARE(report.written, QStringList({"chromium.desktop", "google-chrome.desktop", "microsoft-edge.desktop",
                                          "ungoogled-chromium.desktop", "vivaldi-stable.desktop"}));
    QCOMPARE(skippedIds(report), QStringList{"microsoft-edge-beta.desktop"});
    QVERIFY(report.skipped.first().reason.contains("Hidden"));
    QVERIFY(QFile::exists(m_apps + "/ungoogled-chromium.desktop"));
}

void TestDesktopLaunchers::entryKeepsEverythingButHowItStarts()
{
    const QString launcher = "/opt/wendral/wendral-browser";
    DesktopLaunchers launchers = sampleLaunchers(launcher);
    QVERIFY(launchers.turnOn().ok());
    for (const QString &name : QStringList{"google-chrome", "microsoft-edge", "vivaldi-stable"}) {
        const QString source = dataDir("share/applications/") + name + ".desktop";
        const QString written = m_apps + "/" + name + ".desktop";
        expectValid(written);
        const Entry before = readEntry(readAll(source));
        const Entry after = readEntry(readAll(written));
        QCOMPARE(after.groupOrder, before.groupOrder);
        for (const QString &comment : before.comments)
            QVERIFY2(after.comments.contains(comment), qPrintable(comment));
        for (const QString &group : before.groupOrder) {
            auto keys = after.groups.value(group);
            const auto original = before.groups.value(group);
            for (auto it = original.begin(); it != original.end(); ++it) {
                if (it.key() != "Exec") {
                    QCOMPARE(keys.take(it.key()), it.value());
                    continue;
                }
                // The original command follows the launcher unchanged, field codes included.
                QStringList command, rewritten;
                QVERIFY(parseExecStrictly(it.value(), &command));
                QVERIFY2(parseExecStrictly(keys.take("Exec"), &rewritten), qPrintable(written));
                QCOMPARE(rewritten, QStringList({"/bin/sh", "-c", script, "sh", launcher, "--browser"}) + command);
            }
            if (group == "Desktop Entry") {
                QCOMPARE(keys.take("X-Wendral-Watched"), QString("true"));
                QCOMPARE(keys.take("X-Wendral-Source"), source);
                QVERIFY(!keys.take("X-Wendral-Browser").isEmpty());
                QCOMPARE(keys.take("X-Wendral-Source-SHA256").size(), 64);
                QCOMPARE(keys.take("X-Wendral-Entry-SHA256").size(), 64);
            }
            QVERIFY2(keys.isEmpty(), qPrintable(keys.keys().join(' ')));
        }
    }
}

void TestDesktopLaunchers::valueEscapes_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("plain") << "Chromium Web Browser"
                           << "Chromium Web Browser";
    QTest::newRow("control characters") << "a\nb\tc\rd"
                                        << "a\\nb\\tc\\rd";
    QTest::newRow("backslashes") << "C:\\x\\"
                                 << "C:\\\\x\\\\";
    QTest::newRow("leading space kept") << "  two"
                                        << "\\s two";
    QTest::newRow("escape-like text") << "\\s\\n"
                                      << "\\\\s\\\\n";
    QTest::newRow("non-ASCII") << QString::fromUtf8("Navigateur \xc3\xa9l\xc3\xa9gant")
                               << QString::fromUtf8("Navigateur \xc3\xa9l\xc3\xa9gant");
    QTest::newRow("empty") << ""
                           << "";
}

void TestDesktopLaunchers::valueEscapes()
{
    QFETCH(QString, value);
    QFETCH(QString, escaped);
    QCOMPARE(desktopentry::escapeValue(value), escaped);
    QCOMPARE(desktopentry::unescapeValue(escaped), value);
    // Escapes another writer used or made up: \s anywhere is a space, an
    // unknown escape and a lone trailing backslash stay as they are.
    QCOMPARE(desktopentry::unescapeValue(QStringLiteral("a\\sb\\qc\\")), QStringLiteral("a b\\qc\\"));
}

void TestDesktopLaunchers::execRoundTrips_data()
{
    QTest::addColumn<QString>("launcher");
    QTest::addColumn<QString>("exec"); // as written in the browser's entry
    QTest::addColumn<QStringList>("command");
    QTest::newRow("plain") << "wendral-browser"
                           << "/usr/bin/chromium %U" << QStringList{"/usr/bin/chromium", "%U"};
    QTest::newRow("odd launcher path") << "/opt/it's \"W\" $HOME `id` \\ 100% (x);a&b|c<d>e*f?g#h~/w b"
                                       << "chromium %u" << QStringList{"chromium", "%u"};
    QTest::newRow("quoted arguments") << "wendral-browser"
                                      << R"("/opt/A B/chromium" "--x=a \\"b\\" \\$y \\`z\\` \\\\w" %U)"
                                      << QStringList{"/opt/A B/chromium", "--x=a \"b\" $y `z` \\w", "%U"};
    QTest::newRow("percent signs") << "wendral-browser"
                                   << "chromium --title=100%% --class=%c %f"
                                   << QStringList{"chromium", "--title=100%%", "--class=%c", "%f"};
    QTest::newRow("string escapes") << "wendral-browser"
                                    << R"(chromium\s--a "b\tc" "d\\\\e")"
                                    << QStringList{"chromium", "--a", "b\tc", "d\\e"};
    QTest::newRow("shell-style input") << "wendral-browser"
                                       << R"(chromium 'it "is"' a\\ b "" #comment)"
                                       << QStringList{"chromium", "it \"is\"", "a b", ""};
    QTest::newRow("non-ASCII") << "/opt/Grüße/wendral-browser"
                               << "/opt/日本/chromium --lang=de-DE"
                               << QStringList{"/opt/日本/chromium", "--lang=de-DE"};
}

void TestDesktopLaunchers::execRoundTrips()
{
    QFETCH(QString, launcher);
    QFETCH(QString, exec);
    QFETCH(QStringList, command);
    const QByteArray source = "[Desktop Entry]\nType=Application\nName=Chromium\nExec=" + exec.toUtf8() + "\n";
    QString reason;
    const QByteArray entry =
        DesktopLaunchers::watchedEntry(source, "/usr/share/applications/c.desktop", launcher, &reason);
    QVERIFY2(!entry.isEmpty(), qPrintable(reason));
    QStringList argv;
    QVERIFY2(parseExecStrictly(readEntry(entry).groups["Desktop Entry"]["Exec"], &argv), entry.constData());
    QString literalLauncher = launcher;
    QCOMPARE(argv,
             QStringList({"/bin/sh", "-c", script, "sh", literalLauncher.replace("%", "%%"), "--browser"}) + command);
    const QString file = m_dir->path() + "/chromium.desktop";
    QVERIFY(writeAll(file, entry));
    expectValid(file);
}

void TestDesktopLaunchers::entriesStartTheBrowser_data()
{
    QTest::addColumn<QString>("launcher");
    QTest::addColumn<bool>("throughLauncher");
    QTest::newRow("launcher installed") << "ROOT/launcher/wendral-browser" << true;
    QTest::newRow("launcher on PATH") << "wendral-browser" << true;
    QTest::newRow("launcher removed") << "ROOT/gone/wendral-browser" << false;
    QTest::newRow("launcher not on PATH") << "wendral-browser-gone" << false;
    QTest::newRow("launcher not executable") << "ROOT/launcher/not-executable" << false;
    QTest::newRow("launcher is a folder") << "ROOT/launcher" << false;
    QTest::newRow("the real launcher") << WENDRAL_SOURCE_DIR "/scripts/wendral-browser" << true;
}

void TestDesktopLaunchers::entriesStartTheBrowser()
{
    QFETCH(QString, launcher);
    QFETCH(bool, throughLauncher);
    const QString root = m_dir->path();
    // A browser in a folder that needs quoting, and a launcher, that record how they were started.
    const QString bin = root + "/it's \"a\" $dir";
    const QString record = root + "/record";
    const QByteArray recorder = "#!/bin/sh\nprintf '%s\\0' \"${0##*/}\" \"$@\" > '" + record.toUtf8() + "'\n";
    QVERIFY(writeAll(bin + "/chromium", recorder, true));
    QVERIFY(writeAll(root + "/launcher/wendral-browser", recorder, true));
    QVERIFY(writeAll(root + "/launcher/not-executable", recorder));
    launcher.replace("ROOT", root);
    QVERIFY(writeAll(root + "/system/applications/chromium.desktop",
                     "[Desktop Entry]\nType=Application\nName=Chromium\nMimeType=x-scheme-handler/https;\n"
                     "Exec=\"" +
                         bin.toUtf8().replace("\"", "\\\\\"").replace("$", "\\\\$") +
                         "/chromium\" --flag \"a b\" %U\n"));
    DesktopLaunchers launchers(m_apps, {root + "/system"}, launcher);
    launchers.setCacheUpdater({});
    QCOMPARE(launchers.turnOn().written, QStringList{"chromium.desktop"});
    const QString entry = m_apps + "/chromium.desktop";
    expectValid(entry);

    qputenv("PATH", (root + "/launcher:" + qEnvironmentVariable("PATH")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root + "/config").toLocal8Bit()); // for the real launcher
    const QStringList items{"https://example.com/?q=a b&c='d'\"e\"$f", root + "/page one.html"};
    const QStringList browserArgs{"--flag", "a b"};
    QStringList expected;
    if (launcher.endsWith("/scripts/wendral-browser"))
        expected = QStringList{"chromium", "--remote-debugging-port=0"} + browserArgs + items;
    else if (throughLauncher)
        expected = QStringList{"wendral-browser", "--browser", bin + "/chromium"} + browserArgs + items;
    else
        expected = QStringList{"chromium"} + browserArgs + items;
    auto recorded = [&record] {
        QStringList args = QString::fromUtf8(readAll(record)).split(QChar(0));
        args.removeLast();
        return args;
    };

    // As a launcher following the rules to the letter starts it: no shell in between.
    QStringList argv;
    QVERIFY(parseExecStrictly(readEntry(readAll(entry)).groups["Desktop Entry"]["Exec"], &argv));
    argv = expandFieldCodes(argv, items, "Chromium");
    QProcess process;
    process.start(argv.first(), argv.mid(1));
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(recorded(), expected);

    // As GLib's launcher starts it (the desktop's menu, dock and default-browser handler).
    const QString gio = QStandardPaths::findExecutable("gio");
    if (gio.isEmpty())
        QSKIP("gio is not installed (package libglib2.0-bin)");
    QFile::remove(record);
    QProcess launch;
    launch.setProcessChannelMode(QProcess::MergedChannels);
    launch.start(gio, QStringList{"launch", entry} + items);
    QVERIFY(launch.waitForFinished(20000));
    QVERIFY2(launch.exitCode() == 0, launch.readAll().constData());
    QVERIFY(waitFor([&] { return QFileInfo(record).size() > 0; }));
    QVERIFY(waitFor([&] { return recorded() == expected; }, 2000));
}

void TestDesktopLaunchers::turningOffRestoresTheFolder()
{
    // The user's folder already holds things of their own, an entry for Chrome among them.
    QVERIFY(writeAll(m_apps + "/mimeapps.list", "[Default Applications]\nx-scheme-handler/https=chromium.desktop\n"));
    QVERIFY(writeAll(m_apps + "/google-chrome.desktop",
                     "[Desktop Entry]\nType=Application\nName=My Chrome\nExec=/usr/bin/google-chrome-stable %U\n"));
    QVERIFY(writeAll(m_apps + "/wine/Programs/notepad.desktop", "[Desktop Entry]\nType=Application\nName=N\n"));
    const QMap<QString, QByteArray> before = snapshot(m_apps);

    DesktopLaunchers launchers = sampleLaunchers();
    QVERIFY(!launchers.isOn());
    DesktopLaunchers::Report on = launchers.turnOn();
    QVERIFY(on.ok());
    QCOMPARE(on.written, QStringList({"chromium.desktop", "microsoft-edge.desktop", "ungoogled-chromium.desktop",
                                      "vivaldi-stable.desktop"}));
    QCOMPARE(skippedIds(on), QStringList({"microsoft-edge-beta.desktop", "google-chrome.desktop"}));
    QVERIFY(on.skipped.last().reason.contains("your own"));
    QVERIFY(launchers.isOn());
    QCOMPARE(launchers.ownEntries().size(), 4);
    for (const QString &file : launchers.ownEntries())
        expectValid(file);

    // Again: nothing changes, no file is replaced.
    struct stat first;
    QCOMPARE(stat(QFile::encodeName(m_apps + "/chromium.desktop").constData(), &first), 0);
    const QMap<QString, QByteArray> whileOn = snapshot(m_apps);
    QCOMPARE(launchers.turnOn().written, on.written);
    QCOMPARE(snapshot(m_apps), whileOn);
    struct stat second;
    QCOMPARE(stat(QFile::encodeName(m_apps + "/chromium.desktop").constData(), &second), 0);
    QCOMPARE(second.st_ino, first.st_ino);

    const DesktopLaunchers::Report off = launchers.turnOff();
    QVERIFY(off.ok());
    QCOMPARE(off.removed, on.written);
    QVERIFY(off.skipped.isEmpty());
    QCOMPARE(snapshot(m_apps), before);
    QVERIFY(!launchers.isOn());
    QVERIFY(launchers.turnOff().removed.isEmpty());
}

void TestDesktopLaunchers::entriesOfTheUserAreLeftAlone()
{
    DesktopLaunchers launchers = sampleLaunchers();
    QVERIFY(launchers.turnOn().ok());
    // The user edits one of our entries, links another to a file of theirs, and copies our
    // mark into an entry of their own.
    const QString edited = m_apps + "/microsoft-edge.desktop";
    QVERIFY(writeAll(edited, readAll(edited) + "NoDisplay=true\n"));
    const QString linked = m_apps + "/vivaldi-stable.desktop";
    QVERIFY(QFile::remove(linked));
    QVERIFY(QFile::link(dataDir("share/applications/firefox-esr.desktop"), linked));
    const QString copied = m_apps + "/my-browser.desktop";
    QVERIFY(writeAll(copied, "[Desktop Entry]\nX-Wendral-Watched=true\nType=Application\nName=B\nExec=b\n"));
    const QMap<QString, QByteArray> theirs{
        {"microsoft-edge.desktop", readAll(edited)},
        {"vivaldi-stable.desktop", "-> " + dataDir("share/applications/firefox-esr.desktop").toUtf8()},
        {"my-browser.desktop", readAll(copied)}};
    auto theirsKept = [&] {
        const QMap<QString, QByteArray> now = snapshot(m_apps);
        for (auto it = theirs.begin(); it != theirs.end(); ++it) {
            if (now.value(it.key()) != it.value())
                return false;
        }
        return true;
    };

    const DesktopLaunchers::Report again = launchers.turnOn();
    QCOMPARE(again.written, QStringList({"chromium.desktop", "google-chrome.desktop", "ungoogled-chromium.desktop"}));
    QCOMPARE(skippedIds(again),
             QStringList({"microsoft-edge-beta.desktop", "microsoft-edge.desktop", "vivaldi-stable.desktop"}));
    QVERIFY(again.skipped[1].reason.contains("changed"));
    QVERIFY(theirsKept());

    const DesktopLaunchers::Report off = launchers.turnOff();
    QCOMPARE(off.removed, QStringList({"chromium.desktop", "google-chrome.desktop", "ungoogled-chromium.desktop"}));
    QCOMPARE(skippedIds(off), QStringList{"microsoft-edge.desktop"});
    QVERIFY(theirsKept());
    QCOMPARE(snapshot(m_apps).size(), 3);
    QVERIFY(!launchers.isOn()); // a changed entry is no longer Wendral's
}

void TestDesktopLaunchers::refreshFollowsTheSystem()
{
    const QString system = m_dir->path() + "/system/applications";
    QVERIFY(QDir().mkpath(system));
    for (const QString &name : QStringList{"chromium.desktop", "microsoft-edge.desktop"})
        QVERIFY(QFile::copy(dataDir("share/applications/") + name, system + "/" + name));
    DesktopLaunchers launchers(m_apps, {m_dir->path() + "/system"}, "wendral-browser");
    launchers.setCacheUpdater({});
    QCOMPARE(launchers.turnOn().written, QStringList({"chromium.desktop", "microsoft-edge.desktop"}));

    // A package update adds a MIME type; Edge is uninstalled; Chrome is installed.
    QVERIFY(writeAll(system + "/chromium.desktop",
                     readAll(system + "/chromium.desktop").replace("MimeType=", "MimeType=image/webp;")));
    QVERIFY(QFile::remove(system + "/microsoft-edge.desktop"));
    QVERIFY(QFile::copy(dataDir("share/applications/google-chrome.desktop"), system + "/google-chrome.desktop"));
    const DesktopLaunchers::Report refresh = launchers.turnOn();
    QCOMPARE(refresh.written, QStringList({"chromium.desktop", "google-chrome.desktop"}));
    QCOMPARE(refresh.removed, QStringList{"microsoft-edge.desktop"});
    QVERIFY(readAll(m_apps + "/chromium.desktop").contains("\nMimeType=image/webp;text/html;"));
    QCOMPARE(QDir(m_apps).entryList(QDir::Files), QStringList({"chromium.desktop", "google-chrome.desktop"}));
}

void TestDesktopLaunchers::oddEntries_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("reason");   // empty when an entry is written
    QTest::addColumn<QString>("mainExec"); // of the browser in the entry written
    const QByteArray head = "[Desktop Entry]\nType=Application\nName=Chromium\n";
    QTest::newRow("no Exec") << head << "no Exec line"
                             << "";
    QTest::newRow("no main group") << QByteArray("[Desktop Action x]\nExec=chromium\n") << "no [Desktop Entry] group"
                                   << "";
    QTest::newRow("unterminated quote") << head + "Exec=\"/usr/bin/chromium %U\n"
                                        << "cannot be read"
                                        << "";
    QTest::newRow("broken action") << head + "Exec=chromium\n[Desktop Action a]\nName=A\nExec=chromium 'x\n"
                                   << "[Desktop Action a]"
                                   << "";
    QTest::newRow("not UTF-8 in Exec") << head + "Exec=/opt/\xff/chromium\n"
                                       << "cannot be read"
                                       << "";
    QTest::newRow("garbage") << bytes("\x7f"
                                      "ELF\x02\x01\x01\0\0\0")
                             << "not a valid"
                             << "";
    QTest::newRow("empty") << QByteArray() << "no [Desktop Entry]"
                           << "";
    QTest::newRow("D-Bus") << head + "DBusActivatable=true\nExec=chromium\n"
                           << "D-Bus"
                           << "";
    QTest::newRow("not an application") << QByteArray("[Desktop Entry]\nType=Link\nName=C\nExec=chromium\n")
                                        << "Application"
                                        << "";
    QTest::newRow("other program") << head + "Exec=env GDK_BACKEND=x11 /usr/bin/chromium %U\n"
                                   << "not a Chromium"
                                   << "";
    QTest::newRow("not UTF-8 elsewhere") << head + bytes("Name[de]=Chr\xf6mium\nComment=a\0b\nExec=chromium %U\n") << ""
                                         << "chromium %U";
    QTest::newRow("repeated group and key") << head + "Exec=chromium --old\nActions=a;\n[Desktop Action a]\nName=A\n"
                                                      "Exec=chromium\n[Desktop Entry]\nExec=chromium %U\n"
                                            << ""
                                            << "chromium %U";
    QTest::newRow("CR LF") << QByteArray(head + "Exec=chromium %U\n").replace("\n", "\r\n") << ""
                           << "chromium %U";
    QTest::newRow("copied Wendral entry") << head + "X-Wendral-Watched=true\nX-Wendral-Entry-SHA256=00\nExec=chromium\n"
                                          << ""
                                          << "chromium";
    QTest::newRow("action of another program")
        << head + "Exec=chromium\nActions=a;\n[Desktop Action a]\nName=A\nExec=xterm -e top\n"
        << ""
        << "chromium";
}

void TestDesktopLaunchers::oddEntries()
{
    QFETCH(QByteArray, source);
    QFETCH(QString, reason);
    QFETCH(QString, mainExec);
    QString why;
    const QByteArray entry = DesktopLaunchers::watchedEntry(source, "/usr/share/applications/c.desktop", "w", &why);
    if (!reason.isEmpty()) {
        QVERIFY(entry.isEmpty());
        QVERIFY2(why.contains(reason), qPrintable(why));
        return;
    }
    QVERIFY2(!entry.isEmpty(), qPrintable(why));
    QVERIFY(!entry.contains('\r'));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(entry);
    QVERIFY(!utf8.hasError() && !text.contains(QChar(0)));
    const Entry e = readEntry(entry);
    QStringList argv;
    QVERIFY(parseExecStrictly(e.groups["Desktop Entry"]["Exec"], &argv));
    QCOMPARE(argv.mid(6).join(' '), mainExec);
    QCOMPARE(entry.count("[Desktop Entry]"), 1);
    QCOMPARE(entry.count("X-Wendral-Watched="), 1);
    QCOMPARE(entry.count("X-Wendral-Entry-SHA256="), 1);
    if (source.contains("xterm"))
        QCOMPARE(e.groups["Desktop Action a"]["Exec"], QString("xterm -e top"));
    const QString file = m_dir->path() + "/chromium.desktop";
    QVERIFY(writeAll(file, entry));
    expectValid(file);
}

void TestDesktopLaunchers::oddFiles()
{
    // A huge entry is not read; a FIFO or a dangling link in the user's folder is theirs
    // (and reading it must not hang).
    const QString system = m_dir->path() + "/system/applications";
    QVERIFY(writeAll(system + "/chromium.desktop", "[Desktop Entry]\nType=Application\nName=C\nExec=chromium\n" +
                                                       QByteArray(DesktopLaunchers::maxEntrySize, '#') + "\n"));
    QVERIFY(QFile::copy(dataDir("share/applications/google-chrome.desktop"), system + "/google-chrome.desktop"));
    QVERIFY(QFile::copy(dataDir("share/applications/microsoft-edge.desktop"), system + "/microsoft-edge.desktop"));
    QVERIFY(QDir().mkpath(m_apps));
    QCOMPARE(mkfifo(QFile::encodeName(m_apps + "/google-chrome.desktop").constData(), 0600), 0);
    QVERIFY(QFile::link(m_dir->path() + "/nowhere", m_apps + "/microsoft-edge.desktop"));
    DesktopLaunchers launchers(m_apps, {m_dir->path() + "/system"}, "wendral-browser");
    launchers.setCacheUpdater({});
    const DesktopLaunchers::Report report = launchers.turnOn();
    QVERIFY(report.written.isEmpty());
    QCOMPARE(skippedIds(report), QStringList({"chromium.desktop", "google-chrome.desktop", "microsoft-edge.desktop"}));
    QVERIFY(report.skipped.first().reason.contains("1 MiB"));
    QVERIFY(QFileInfo(m_apps + "/microsoft-edge.desktop").isSymLink());
    QVERIFY(launchers.turnOff().removed.isEmpty());
    QCOMPARE(QDir(m_apps).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(), 2);
}

void TestDesktopLaunchers::cacheIsUpdated()
{
    // With an entry of the user's that names a MIME type, the cache is refreshed on and off.
    const QString viewer = m_apps + "/my-viewer.desktop";
    QVERIFY(writeAll(viewer, "[Desktop Entry]\nType=Application\nName=V\nExec=v %f\nMimeType=image/png;\n"));
    const QString record = m_dir->path() + "/updated";
    const QString updater = m_dir->path() + "/updater";
    QVERIFY(writeAll(updater, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record.toUtf8() + "'\n", true));
    DesktopLaunchers launchers(m_apps, {dataDir("share")}, "wendral-browser");
    launchers.setCacheUpdater(updater);
    QVERIFY(launchers.turnOn().ok());
    QVERIFY(waitFor([&] { return readAll(record) == m_apps.toUtf8() + "\n"; }));
    QVERIFY(launchers.turnOff().ok());
    QVERIFY(waitFor([&] { return readAll(record) == (m_apps + "\n" + m_apps + "\n").toUtf8(); }));

    // The real tool, found on PATH by default, lists the entries' MIME types; once none is
    // left, the cache goes and the folder is as before.
    if (QStandardPaths::findExecutable("update-desktop-database").isEmpty())
        QSKIP("update-desktop-database is not installed (package desktop-file-utils)");
    QVERIFY(QFile::remove(viewer));
    DesktopLaunchers real(m_apps, {dataDir("share")}, "wendral-browser");
    QVERIFY(real.turnOn().ok());
    QVERIFY(waitFor([&] { return readAll(m_apps + "/mimeinfo.cache").contains("x-scheme-handler/https="); }));
    QVERIFY(readAll(m_apps + "/mimeinfo.cache").contains("google-chrome.desktop;"));
    QVERIFY(real.turnOff().ok());
    QCOMPARE(snapshot(m_apps), (QMap<QString, QByteArray>()));
}

void TestDesktopLaunchers::foldersFromTheEnvironment()
{
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", m_dir->path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", "relative/path");
    qputenv("XDG_DATA_DIRS", ("relative:" + dataDir("local") + "::" + dataDir("share")).toLocal8Bit());
    DesktopLaunchers fromEnv = DesktopLaunchers::forCurrentUser("wendral-browser");
    QCOMPARE(fromEnv.applicationsDir(), m_dir->path() + "/.local/share/applications");
    QCOMPARE(fromEnv.systemDataDirs(), QStringList({dataDir("local"), dataDir("share")}));
    qputenv("XDG_DATA_HOME", m_dir->path().toLocal8Bit());
    qputenv("XDG_DATA_DIRS", "");
    DesktopLaunchers defaults = DesktopLaunchers::forCurrentUser("wendral-browser");
    QCOMPARE(defaults.applicationsDir(), m_dir->path() + "/applications");
    QCOMPARE(defaults.systemDataDirs(), QStringList({"/usr/local/share", "/usr/share"}));
    qputenv("HOME", home);
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
}

void TestDesktopLaunchers::statusLineSaysWhatHappened()
{
    using Report = DesktopLaunchers::Report;
    Report on;
    on.written = {QStringLiteral("chromium.desktop"), QStringLiteral("vivaldi-stable.desktop")};
    on.skipped = {{QStringLiteral("google-chrome.desktop"), QStringLiteral("you have an entry of your own for it")}};
    QCOMPARE(DesktopLaunchers::describe(on, true),
             QStringLiteral("Browsers started from the desktop are watched: chromium, vivaldi-stable; "
                            "google-chrome left alone: you have an entry of your own for it"));

    // A failure comes first, and nothing claims success where nothing was written.
    Report failed;
    failed.failed = {QStringLiteral("/home/u/.local/share/applications/chromium.desktop")};
    QCOMPARE(DesktopLaunchers::describe(failed, true), QStringLiteral("Could not write chromium.desktop"));
    QCOMPARE(DesktopLaunchers::describe(failed, false), QStringLiteral("Could not remove chromium.desktop"));

    Report nothing;
    QCOMPARE(DesktopLaunchers::describe(nothing, true), QStringLiteral("No Chromium-family browser found to watch"));
    nothing.skipped = {{QStringLiteral("chromium.desktop"), QStringLiteral("larger than 1 MiB")}};
    QCOMPARE(DesktopLaunchers::describe(nothing, true),
             QStringLiteral("No browser could be set up; chromium left alone: larger than 1 MiB"));
    QCOMPARE(DesktopLaunchers::describe(Report{}, false),
             QStringLiteral("Browsers started from the desktop are no longer watched"));
}

QTEST_GUILESS_MAIN(TestDesktopLaunchers)
#include "tst_desktoplaunchers.moc"
