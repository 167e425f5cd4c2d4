// Run at logon: addToRun writes an autostart entry that desktop tools accept
// and that really starts the program, even from awkward paths; removeFromRun
// takes it away again.

#include "core/productinfo.h"
#include "core/registry.h"
#include "platform/linux/xdgautostart.h"
#include "platform/shellentries.h"
#include "support/fakeplatform.h"
#include "support/testenv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <memory>

using namespace wendral;

namespace {

// Reads an Exec value the way the freedesktop Desktop Entry standard says a launcher
// must: first the string escapes, then the quoting, then the field codes.
// Returns false for a line that standard does not allow.
bool parseExec(const QString &value, QStringList *argv)
{
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const QChar next = value[++i];
            if (next == 's')
                unescaped += ' ';
            else if (next == 'n')
                unescaped += '\n';
            else if (next == 't')
                unescaped += '\t';
            else if (next == 'r')
                unescaped += '\r';
            else if (next == '\\')
                unescaped += '\\';
            else
                unescaped += QString('\\') + next;
        } else {
            unescaped += value[i];
        }
    }
    argv->clear();
    const QString reserved = QStringLiteral("\t\n\"'\\><~|&;$*?#()`");
    QString arg;
    bool inArg = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (c == ' ') {
            if (inArg)
                argv->append(arg);
            arg.clear();
            inArg = false;
        } else if (c == '"') {
            if (inArg)
                return false; // quotes must enclose a whole argument
            inArg = true;
            bool closed = false;
            for (++i; i < unescaped.size(); ++i) {
                const QChar q = unescaped[i];
                if (q == '"') {
                    closed = true;
                    break;
                }
                if (q == '\\' && i + 1 < unescaped.size() && QStringLiteral("\"`$\\").contains(unescaped[i + 1])) {
                    arg += unescaped[++i];
                    continue;
                }
                if (q == '`' || q == '$' || q == '\\')
                    return false; // must be escaped inside quotes
                arg += q;
            }
            if (!closed || (i + 1 < unescaped.size() && unescaped[i + 1] != ' '))
                return false;
        } else {
            if (reserved.contains(c))
                return false; // would have needed quotes
            arg += c;
            inArg = true;
        }
    }
    if (inArg)
        argv->append(arg);
    for (QString &a : *argv) {
        QString out;
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a[i] == '%') {
                if (i + 1 < a.size() && a[i + 1] == '%') {
                    out += '%';
                    ++i;
                    continue;
                }
                return false; // no field codes are expected in our entry
            }
            out += a[i];
        }
        a = out;
    }
    return true;
}

QMap<QString, QString> entryKeys(const QString &file)
{
    QMap<QString, QString> keys;
    const QList<QByteArray> lines = test::readFile(file).split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && !line.startsWith('#') && !line.startsWith('['))
            keys.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return keys;
}

bool waitForFile(const QString &path, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (QFileInfo(path).size() > 0)
            return true;
        QThread::msleep(20);
    }
    return QFileInfo(path).size() > 0;
}

} // namespace

class TestAutostart : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void execArgumentRoundTrips_data();
    void execArgumentRoundTrips();
    void entryPassesTheValidator_data();
    void entryPassesTheValidator();
    void entryForTheRunningProgram();
    void entryStartsTheProgram_data();
    void entryStartsTheProgram();
    void desktopLauncherStartsIt();
    void oddNames();
    void givenAutostartServiceTakesTheEntry();

private:
    QString makeScript(const QString &dir, const QString &fileName, const QString &marker);
    std::unique_ptr<test::TestEnvironment> m_env;
};

void TestAutostart::init()
{
    RegistryStore::unloadAll();
    m_env = std::make_unique<test::TestEnvironment>();
    QVERIFY(m_env->isValid());
    QCOMPARE(XdgAutostart::folder(), m_env->configHome() + "/autostart");
}

void TestAutostart::cleanup()
{
    RegistryStore::unloadAll();
    m_env.reset();
}

QString TestAutostart::makeScript(const QString &dir, const QString &fileName, const QString &marker)
{
    const QString folder = m_env->home() + "/" + dir;
    QDir().mkpath(folder);
    const QString path = folder + "/" + fileName;
    // Records how it was called: its own path and the number of arguments.
    const QByteArray script = "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$#\" > '" + marker.toUtf8() + "'\n";
    if (!test::writeFile(path, script))
        return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void TestAutostart::execArgumentRoundTrips_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("quoted");
    QTest::newRow("plain") << "/usr/lib/wendral/wendral" << false;
    QTest::newRow("spaces") << "/opt/My Programs/wendral app" << true;
    QTest::newRow("double quote") << "/opt/say \"hi\"/wendral" << true;
    QTest::newRow("backslash") << "/opt/back\\slash/w\\\\x" << true;
    QTest::newRow("dollar and backtick") << "/opt/$HOME/`id`/w" << true;
    QTest::newRow("percent") << "/opt/100%/w%f" << false;
    QTest::newRow("percent quoted") << "/opt/100 %/w" << true;
    QTest::newRow("apostrophe") << "/home/o'neil/w" << true;
    QTest::newRow("shell characters") << "/opt/a;b&c|d<e>f*g?h#i(j)k~l/w" << true;
    QTest::newRow("tab and newline") << "/opt/a\tb\nc/w" << true;
    QTest::newRow("leading space") << " /w" << true;
    QTest::newRow("non-ASCII") << "/opt/Grüße €/w" << true;
}

void TestAutostart::execArgumentRoundTrips()
{
    QFETCH(QString, path);
    QFETCH(bool, quoted);
    const QString exec = XdgAutostart::execArgument(path);
    QCOMPARE(exec.startsWith('"'), quoted);
    QVERIFY(!exec.contains('\n'));
    QStringList argv;
    QVERIFY2(parseExec(exec, &argv), qPrintable(exec));
    QCOMPARE(argv, QStringList{path});
}

void TestAutostart::entryPassesTheValidator_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("program");
    QTest::newRow("this program") << ProductInfo::productName() << ProductInfo::executablePath();
    QTest::newRow("spaces") << "Wendral"
                            << "/opt/My Programs/wendral app";
    QTest::newRow("quotes and shell characters") << "Wendral"
                                                 << "/opt/it's \"q\" $HOME `x` \\ 100% (d)/a;b&c.sh";
    QTest::newRow("odd name") << " Wendral\\2\t"
                              << "/usr/bin/wendral";
}

void TestAutostart::entryPassesTheValidator()
{
    QFETCH(QString, name);
    QFETCH(QString, program);
    const QString tool = QStandardPaths::findExecutable("desktop-file-validate");
    if (tool.isEmpty())
        QSKIP("desktop-file-validate is not installed");
    ShellEntries().addToRun(name, program);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(tool, {XdgAutostart::entryFile(name)});
    QVERIFY(p.waitForFinished(20000));
    const QByteArray out = p.readAll();
    QVERIFY2(p.exitCode() == 0 && !out.contains("error"), out.constData());
    ShellEntries().removeFromRun(name);
}

void TestAutostart::entryForTheRunningProgram()
{
    // What the main window does when its run-at-logon box is checked.
    ShellEntries().addToRun(ProductInfo::productName(), ProductInfo::executablePath());
    const QString file = m_env->configHome() + "/autostart/Wendral.desktop";
    QVERIFY(QFile::exists(file));
    const QMap<QString, QString> keys = entryKeys(file);
    QCOMPARE(keys.value("Type"), QString("Application"));
    QCOMPARE(keys.value("Name"), QString("Wendral"));
    QStringList argv;
    QVERIFY(parseExec(keys.value("Exec"), &argv));
    QCOMPARE(argv, (QStringList{ProductInfo::executablePath(), "--minimized"}));
    QVERIFY(QFileInfo(argv.first()).isExecutable());

    // Checked again after the program moved: the entry follows.
    ShellEntries().addToRun(ProductInfo::productName(), "/opt/moved here/wendral");
    QVERIFY(parseExec(entryKeys(file).value("Exec"), &argv));
    QCOMPARE(argv, (QStringList{"/opt/moved here/wendral", "--minimized"}));
    QCOMPARE(QDir(XdgAutostart::folder()).entryList(QDir::Files | QDir::Hidden), QStringList{"Wendral.desktop"});

    ShellEntries().removeFromRun(ProductInfo::productName());
    QVERIFY(!QFile::exists(file));
    QVERIFY(!RegistryStore::value(HKEY_LOCAL_MACHINE, ShellEntries::runKey(), "Wendral"));
    ShellEntries().removeFromRun(ProductInfo::productName()); // twice: nothing to do
    QVERIFY(!QFile::exists(file));
}

void TestAutostart::entryStartsTheProgram_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("spaces") << "Program Files/My App"
                            << "start me.sh";
    QTest::newRow("quotes and shell characters") << "it's \"quoted\" $HOME `x` \\ 100% (dir)"
                                                 << "run;me&now #1.sh";
}

void TestAutostart::entryStartsTheProgram()
{
    QFETCH(QString, dir);
    QFETCH(QString, fileName);
    const QString marker = m_env->home() + "/started";
    const QString program = makeScript(dir, fileName, marker);
    QVERIFY(!program.isEmpty());

    ShellEntries().addToRun("Wendral", program);
    const QString file = XdgAutostart::entryFile("Wendral");
    QVERIFY(QFile::exists(file));
    QCOMPARE(ShellEntries().getString(HKEY_LOCAL_MACHINE, ShellEntries::runKey(), "Wendral"), program);

    // Start it as a launcher would: the Exec line split into arguments, no shell.
    QStringList argv;
    QVERIFY(parseExec(entryKeys(file).value("Exec"), &argv));
    QCOMPARE(argv, (QStringList{program, "--minimized"}));
    QProcess process;
    process.start(argv.first(), argv.mid(1));
    QVERIFY2(process.waitForFinished(10000), qPrintable(process.errorString()));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(waitForFile(marker, 5000));
    QCOMPARE(test::readFile(marker), program.toUtf8() + "\n1\n");

    ShellEntries().removeFromRun("Wendral");
    QVERIFY(!QFile::exists(file));
    QCOMPARE(ShellEntries().getString(HKEY_LOCAL_MACHINE, ShellEntries::runKey(), "Wendral"), QString());
}

void TestAutostart::desktopLauncherStartsIt()
{
    // A real launcher reads the entry too (GLib's, through "gio launch").
    const QString gio = QStandardPaths::findExecutable("gio");
    if (gio.isEmpty())
        QSKIP("gio is not installed");
    const QString marker = m_env->home() + "/started by gio";
    // No "%" here: GLib looks for the program before it turns "%%" back into
    // "%", so it cannot load an entry for such a path (the entry is right by
    // the standard, which entryStartsTheProgram checks).
    const QString program = makeScript("a b/it's \"x\" $y `z` \\ (c)", "w w.sh", marker);
    ShellEntries().addToRun("Wendral", program);
    QProcess launcher;
    launcher.setProcessChannelMode(QProcess::MergedChannels);
    launcher.start(gio, {"launch", XdgAutostart::entryFile("Wendral")});
    QVERIFY(launcher.waitForFinished(20000));
    QVERIFY2(launcher.exitCode() == 0, launcher.readAll().constData());
    QVERIFY(waitForFile(marker, 10000));
    QCOMPARE(test::readFile(marker), program.toUtf8() + "\n1\n");
    ShellEntries().removeFromRun("Wendral");
}

void TestAutostart::oddNames()
{
    // A name cannot lead the entry out of the autostart folder.
    ShellEntries().addToRun("../escape/x", "/bin/true");
    QVERIFY(!QFile::exists(m_env->configHome() + "/escape"));
    const QDir folder(XdgAutostart::folder());
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden), QStringList{".._escape_x.desktop"});
    ShellEntries().removeFromRun("../escape/x");
    QVERIFY(folder.entryList(QDir::Files | QDir::Hidden).isEmpty());

    // A name that needs the string escapes keeps them in Name=.
    QVERIFY(XdgAutostart::writeEntry(" Back\\slash\tname", "/bin/true"));
    QCOMPARE(entryKeys(XdgAutostart::entryFile(" Back\\slash\tname")).value("Name"),
             QString("\\sBack\\\\slash\\tname"));
    QVERIFY(XdgAutostart::removeEntry(" Back\\slash\tname"));
    QVERIFY(!XdgAutostart::writeEntry("", "/bin/true"));
    QVERIFY(folder.entryList(QDir::Files | QDir::Hidden).isEmpty());
}

void TestAutostart::givenAutostartServiceTakesTheEntry()
{
    // The program hands its own autostart service in; the entry goes there,
    // never into the folder, while the run value is kept as ever.
    test::RecordingAutostart service;
    ShellEntries entries(&service);
    entries.addToRun("Wendral", "/opt/w/wendral");
    QCOMPARE(service.enabled, QStringList{"Wendral=/opt/w/wendral"});
    QVERIFY(!QFileInfo::exists(XdgAutostart::entryFile("Wendral")));
    QCOMPARE(entries.getString(HKEY_LOCAL_MACHINE, ShellEntries::runKey(), "Wendral"), QString("/opt/w/wendral"));
    entries.removeFromRun("Wendral");
    QCOMPARE(service.disabled, QStringList{"Wendral"});
    QCOMPARE(entries.getString(HKEY_LOCAL_MACHINE, ShellEntries::runKey(), "Wendral"), QString());
}

QTEST_GUILESS_MAIN(TestAutostart)
#include "tst_autostart.moc"
