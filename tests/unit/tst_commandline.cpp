// The command line: what each option asks for, what is printed, and the exit
// codes, for the program started by name or by its installed path.

#include "core/commandline.h"

#include <QtTest>

using namespace wendral;
using Action = CommandLine::Action;

namespace {
CommandLine parse(const QStringList &options, const QString &program = QStringLiteral("wendral"))
{
    return parseCommandLine(QStringList{program} + options, QStringLiteral("Wendral"), QStringLiteral("1.0.0"));
}
} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void noOptionsStartsNormally();
    void versionPrintsNameAndVersion_data();
    void versionPrintsNameAndVersion();
    void helpListsTheOptionsUnderTheProgramsName_data();
    void helpListsTheOptionsUnderTheProgramsName();
    void minimizedStartsInTheTray();
    void watchLaunchersTakesOnOrOff_data();
    void watchLaunchersTakesOnOrOff();
    void badCommandLinesFailWithUsageError_data();
    void badCommandLinesFailWithUsageError();
    void optionsQtReadsItselfAreAccepted();
};

void TestCommandLine::noOptionsStartsNormally()
{
    for (const CommandLine &line : {parse({}), parseCommandLine({}, QStringLiteral("Wendral"), QStringLiteral("1"))}) {
        QCOMPARE(line.action, Action::Start);
        QCOMPARE(line.exitCode, 0);
        QVERIFY(!line.minimized);
        QVERIFY(!line.watchLaunchers.has_value());
        QVERIFY(line.text.isEmpty());
    }
}

void TestCommandLine::versionPrintsNameAndVersion_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("--version") << QStringList{"--version"};
    QTest::newRow("-v") << QStringList{"-v"};
    QTest::newRow("with other options") << QStringList{"--minimized", "--version"};
}

void TestCommandLine::versionPrintsNameAndVersion()
{
    QFETCH(QStringList, options);
    const CommandLine line = parse(options);
    QCOMPARE(line.action, Action::PrintVersion);
    QCOMPARE(line.text, QStringLiteral("Wendral 1.0.0\n"));
    QCOMPARE(line.exitCode, 0);
    // The name and version are the caller's, not fixed in the parser.
    QCOMPARE(parseCommandLine({"x", "--version"}, "Other", "2.3.4").text, QStringLiteral("Other 2.3.4\n"));
}

void TestCommandLine::helpListsTheOptionsUnderTheProgramsName_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("program");
    QTest::newRow("--help") << QStringList{"--help"} << "wendral";
    QTest::newRow("-h") << QStringList{"-h"} << "wendral";
    QTest::newRow("-?") << QStringList{"-?"} << "wendral";
    QTest::newRow("installed path") << QStringList{"--help"} << "/usr/lib/wendral/wendral";
    QTest::newRow("help wins over version") << QStringList{"--version", "--help"} << "wendral";
}

void TestCommandLine::helpListsTheOptionsUnderTheProgramsName()
{
    QFETCH(QStringList, options);
    QFETCH(QString, program);
    const CommandLine line = parse(options, program);
    QCOMPARE(line.action, Action::PrintHelp);
    QCOMPARE(line.exitCode, 0);
    QVERIFY2(line.text.startsWith(QLatin1String("Usage: wendral [options]\n")), qPrintable(line.text));
    for (const char *option : {"--minimized", "--version", "--help", "--watch-launchers <on|off>"})
        QVERIFY2(line.text.contains(QLatin1String(option)), option);
    QVERIFY(line.text.contains(QLatin1String("Chromium-family browsers")));
    // Qt's own options are accepted but not advertised.
    QVERIFY(!line.text.contains(QLatin1String("platform")));
    QVERIFY(!line.text.contains(QLatin1String("session")));
}

void TestCommandLine::minimizedStartsInTheTray()
{
    const CommandLine line = parse({"--minimized"});
    QCOMPARE(line.action, Action::Start);
    QVERIFY(line.minimized);
    QCOMPARE(line.exitCode, 0);
    QVERIFY(parse({"--minimized", "--minimized"}).minimized);
}

void TestCommandLine::watchLaunchersTakesOnOrOff_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("on");
    QTest::newRow("=on") << QStringList{"--watch-launchers=on"} << true;
    QTest::newRow("=off") << QStringList{"--watch-launchers=off"} << false;
    QTest::newRow("separate value") << QStringList{"--watch-launchers", "off"} << false;
    QTest::newRow("upper case") << QStringList{"--watch-launchers=ON"} << true;
    QTest::newRow("the last one counts") << QStringList{"--watch-launchers=on", "--watch-launchers=off"} << false;
}

void TestCommandLine::watchLaunchersTakesOnOrOff()
{
    QFETCH(QStringList, options);
    QFETCH(bool, on);
    const CommandLine line = parse(options + QStringList{"--minimized"});
    QCOMPARE(line.action, Action::Start);
    QVERIFY(line.watchLaunchers.has_value());
    QCOMPARE(*line.watchLaunchers, on);
    QVERIFY(line.minimized);
}

void TestCommandLine::badCommandLinesFailWithUsageError_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown long option") << QStringList{"--bogus"} << "Unknown option 'bogus'.";
    QTest::newRow("unknown short option") << QStringList{"-x"} << "Unknown option 'x'.";
    QTest::newRow("unknown among good ones") << QStringList{"--minimized", "--bogus"} << "Unknown option 'bogus'.";
    QTest::newRow("unknown before help") << QStringList{"--bogus", "--help"} << "Unknown option 'bogus'.";
    QTest::newRow("value on a flag") << QStringList{"--minimized=yes"} << "Unexpected value after '--minimized'.";
    QTest::newRow("argument") << QStringList{"http://example.com/"} << "Unexpected argument 'http://example.com/'.";
    QTest::newRow("bad watch value") << QStringList{"--watch-launchers=maybe"}
                                     << "Option 'watch-launchers' takes 'on' or 'off', not 'maybe'.";
    QTest::newRow("empty watch value") << QStringList{"--watch-launchers="}
                                       << "Option 'watch-launchers' takes 'on' or 'off', not ''.";
    QTest::newRow("missing watch value") << QStringList{"--watch-launchers"}
                                         << "Missing value after '--watch-launchers'.";
}

void TestCommandLine::badCommandLinesFailWithUsageError()
{
    QFETCH(QStringList, options);
    QFETCH(QString, message);
    const CommandLine line = parse(options, QStringLiteral("/opt/x/bin/wendral"));
    QCOMPARE(line.action, Action::Fail);
    QCOMPARE(line.exitCode, 2);
    QCOMPARE(line.exitCode, kCommandLineUsageError);
    QCOMPARE(line.text, QStringLiteral("wendral: %1\nTry 'wendral --help' for more information.\n").arg(message));
}

void TestCommandLine::optionsQtReadsItselfAreAccepted()
{
    // A session manager restores the program with -session; users may pick a
    // platform or display. These belong to the application object.
    const CommandLine line =
        parse({"-session", "10abc", "-platform", "xcb", "-display", ":1", "-reverse", "--minimized"});
    QCOMPARE(line.action, Action::Start);
    QVERIFY(line.minimized);
    QCOMPARE(parse({"-platform=offscreen"}).action, Action::Start);
    // Still only with their value: "-session" alone is not complete.
    QCOMPARE(parse({"-session"}).action, Action::Fail);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
