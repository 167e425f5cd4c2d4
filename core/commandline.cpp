#include "core/commandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>

namespace wendral {

namespace {

// Options that QGuiApplication and QApplication read themselves. They are
// declared (hidden) so that a session manager restoring the program with
// "-session ID", or a user passing "-platform xcb", is not turned away.
const char *const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin",      "display", "geometry", "qwindowgeometry",
    "title",    "qwindowtitle",       "icon",          "qwindowicon", "name",    "style",    "stylesheet",
    "session",  "qmljsdebugger",
};
const char *const kQtFlags[] = {"reverse", "nograb", "dograb", "sync", "widgetcount"};

QString programName(const QStringList &arguments)
{
    const QString name = arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
    return name.isEmpty() ? QStringLiteral("wendral") : name;
}

CommandLine failure(const QString &program, const QString &message)
{
    CommandLine result;
    result.action = CommandLine::Action::Fail;
    result.exitCode = kCommandLineUsageError;
    result.text = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(program, message);
    return result;
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments, const QString &productName, const QString &version)
{
    const QString program = programName(arguments);

    QCommandLineParser parser;
    // Qt's own options come with one dash and whole words ("-platform xcb").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("%1 stops the popup windows you did not ask for in Chromium-family browsers.").arg(productName));

    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                  QStringLiteral("Print these options and exit."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Print the name and version and exit."));
    const QCommandLineOption minimized(
        QStringLiteral("minimized"),
        QStringLiteral("Start in the tray (minimised on the taskbar without a tray), whatever the stored state."));
    const QCommandLineOption watchLaunchers(QStringLiteral("watch-launchers"),
                                            QStringLiteral("Watch browsers started from launchers: on or off."),
                                            QStringLiteral("on|off"));
    parser.addOption(help);
    parser.addOption(versionOption);
    parser.addOption(minimized);
    parser.addOption(watchLaunchers);
    for (const char *name : kQtOptionsWithValue) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char *name : kQtFlags) {
        QCommandLineOption qtOption(QString::fromLatin1(name));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }

    if (!parser.parse(arguments.isEmpty() ? QStringList{program} : arguments))
        return failure(program, parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return failure(program, QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));

    CommandLine result;
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::PrintHelp;
        // Qt names the program after the running application, which may be
        // another one (or none yet): the usage line names this one.
        QString text = parser.helpText();
        const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
        text = QStringLiteral("Usage: %1 [options]").arg(program) +
               (firstLineEnd < 0 ? QStringLiteral("\n") : text.mid(firstLineEnd));
        result.text = text;
        return result;
    }
    if (parser.isSet(versionOption)) {
        result.action = CommandLine::Action::PrintVersion;
        result.text = productName + QLatin1Char(' ') + version + QLatin1Char('\n');
        return result;
    }
    if (parser.isSet(watchLaunchers)) {
        const QString value = parser.value(watchLaunchers).toLower();
        if (value == QLatin1String("on"))
            result.watchLaunchers = true;
        else if (value == QLatin1String("off"))
            result.watchLaunchers = false;
        else
            return failure(program, QStringLiteral("Option 'watch-launchers' takes 'on' or 'off', not '%1'.")
                                        .arg(parser.value(watchLaunchers)));
    }
    result.minimized = parser.isSet(minimized);
    return result;
}

} // namespace wendral
