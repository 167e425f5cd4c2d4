#include "app/program.h"
#include "app/termination.h"
#include "core/commandline.h"
#include "core/paths.h"
#include "core/productinfo.h"
#include "forms/formtools.h"
#include "platform/linux/desktoplaunchers.h"
#include "platform/singleinstance.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    // The command line first: --help, --version and mistakes are answered
    // without a display or a window.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const wendral::CommandLine commandLine = wendral::parseCommandLine(arguments, wendral::ProductInfo::productName(),
                                                                       wendral::ProductInfo::releaseVersion());
    if (commandLine.action != wendral::CommandLine::Action::Start) {
        std::FILE *out = commandLine.action == wendral::CommandLine::Action::Fail ? stderr : stdout;
        std::fputs(commandLine.text.toLocal8Bit().constData(), out);
        return commandLine.exitCode;
    }

    // --watch-launchers=on|off: what the Tools menu's "Watch browsers started
    // from the desktop" does, for scripts. It changes the per-user entries and
    // ends; it starts nothing.
    if (commandLine.watchLaunchers) {
        QCoreApplication tool(argc, argv);
        const bool on = *commandLine.watchLaunchers;
        wendral::DesktopLaunchers launchers =
            wendral::DesktopLaunchers::forCurrentUser(wendral::Paths::programFile(QStringLiteral("wendral-browser")));
        const wendral::DesktopLaunchers::Report report = on ? launchers.turnOn() : launchers.turnOff();
        std::fputs((wendral::DesktopLaunchers::describe(report, on) + QLatin1Char('\n')).toLocal8Bit().constData(),
                   report.ok() ? stdout : stderr);
        return report.ok() ? 0 : 1;
    }

    // Web content runs in the helper program (wendral-web), which prepares
    // the web engine for itself.
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Wendral"));
    QCoreApplication::setApplicationName(QStringLiteral("Wendral"));
    // The menu entry and icon the desktop shows for the program's windows.
    QGuiApplication::setDesktopFileName(wendral::ProductInfo::desktopId());

    // One copy per user and desktop. A later start only asks the running copy
    // to show its window and ends: it touches no settings, lists or browsers.
    wendral::SingleInstance instance;
    switch (instance.claim()) {
    case wendral::SingleInstance::Claim::Running:
        QObject::connect(&instance, &wendral::SingleInstance::showAnswered, &app, [](bool acknowledged) {
            if (!acknowledged)
                std::fputs("wendral: another copy is running on this desktop but did not answer\n", stderr);
            QCoreApplication::exit(acknowledged ? 0 : 1);
        });
        instance.askRunningInstanceToShow();
        return app.exec();
    case wendral::SingleInstance::Claim::Unavailable:
        std::fputs("wendral: cannot take the single-copy lock; a second copy on this desktop would not be noticed\n",
                   stderr);
        break;
    case wendral::SingleInstance::Claim::First:
        break;
    }

    // A tray program: it ends through the main window's unload, not when its
    // last window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    wendral::installFontFallbacks();
    wendral::installTerminationHandlers();

    wendral::Program program;
    program.setStartMinimized(commandLine.minimized);
    QObject::connect(&instance, &wendral::SingleInstance::showRequested, &program, &wendral::Program::showMainWindow);
    program.start();
    return app.exec();
}
