#pragma once
// The program's command line: what to do before anything else starts. The
// parser only reads; printing and ending the program are main()'s decisions,
// so that the parser can be tested as it is.

#include <QString>
#include <QStringList>

#include <optional>

namespace wendral {

struct CommandLine
{
    enum class Action
    {
        Start,        // run the program
        PrintHelp,    // print text on stdout, end with exitCode
        PrintVersion, // print text on stdout, end with exitCode
        Fail,         // print text on stderr, end with exitCode
    };
    Action action = Action::Start;
    QString text;
    int exitCode = 0;

    // --minimized: start in the tray (or minimised without one), whatever the
    // stored window state says.
    bool minimized = false;
    // --watch-launchers=on|off; unset when the option is not given.
    std::optional<bool> watchLaunchers;
};

// The exit code for a command line the program does not understand.
constexpr int kCommandLineUsageError = 2;

// Reads arguments (the first one is the program as it was started). Options Qt
// itself takes from the command line (-platform, -display, -session, ...) are
// accepted and left to the application object. productName and version make
// the --version line, "<productName> <version>".
CommandLine parseCommandLine(const QStringList &arguments, const QString &productName, const QString &version);

} // namespace wendral
