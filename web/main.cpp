// wendral-web: the web helper. The program starts it when it shows web content
// (the banner strip of its main window, the website window) and talks to it
// over its standard input and output, one JSON line per message (see
// core/webprotocol.h). It ends when asked to, or when its standard input ends,
// which is also what happens when the program dies.

#include "core/productinfo.h"
#include "forms/formtools.h"
#include "platform/linux/x11windowstacker.h"
#include "web/helperchannel.h"
#include "web/helpersession.h"
#include "web/webengine.h"

#include <QApplication>
#include <QLoggingCategory>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// However the end was asked for, the helper is gone soon after: the engine's
// orderly shutdown gets this long, then the alarm's default action ends it.
constexpr unsigned kEndWithinSeconds = 2;

void endSoon()
{
    ::alarm(kEndWithinSeconds);
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s web helper %s\n", qPrintable(wendral::ProductInfo::productName()),
                        qPrintable(wendral::ProductInfo::releaseVersion()));
            return 0;
        }
    }
    // The channel first, before anything can print to standard output.
    const auto [input, output] = wendral::HelperChannel::takeStandardStreams();
    if (input < 0) {
        std::fputs("wendral-web: no channel to the program\n", stderr);
        return 2;
    }
    // A program that went away must not end the helper with SIGPIPE before it
    // has seen the end of its input.
    std::signal(SIGPIPE, SIG_IGN);

    wendral::prepareWebEngineEnvironment();
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QCoreApplication::setOrganizationName(QStringLiteral("Wendral"));
    QCoreApplication::setApplicationName(QStringLiteral("wendral-web"));
    QGuiApplication::setDesktopFileName(wendral::ProductInfo::desktopId());
    QApplication::setQuitOnLastWindowClosed(false);
    wendral::installFontFallbacks();

    wendral::HelperChannel channel(input, output);
    wendral::X11WindowStacker *stacker = wendral::X11WindowStacker::forApplication(&app);
    wendral::WebHelperSession session([&channel](const QByteArray &line) { channel.write(line); }, stacker);
    QObject::connect(&channel, &wendral::HelperChannel::lineReceived, &session, &wendral::WebHelperSession::handleLine);
    QObject::connect(&channel, &wendral::HelperChannel::inputEnded, &app, endSoon);
    QObject::connect(&session, &wendral::WebHelperSession::quitRequested, &app, endSoon);
    session.start();
    return app.exec();
}
