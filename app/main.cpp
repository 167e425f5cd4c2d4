#include "app/program.h"
#include "app/termination.h"
#include "ui/formtools.h"
#include "ui/webengine.h"

#include <QApplication>
#include <QLoggingCategory>

int main(int argc, char **argv)
{
    // The web engine reads its switches before the application object exists.
    wendral::prepareWebEngineEnvironment();
    QApplication app(argc, argv);
    // The web engine's context dump is noise for users; the environment rule
    // set above may come too late for Qt's logging registry.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QCoreApplication::setOrganizationName(QStringLiteral("Wendral"));
    QCoreApplication::setApplicationName(QStringLiteral("Wendral"));
    // A tray program: it ends through the main window's unload, not when its
    // last window closes.
    QApplication::setQuitOnLastWindowClosed(false);
    wendral::installFontFallbacks();
    wendral::installTerminationHandlers();

    wendral::Program program;
    program.start();
    return app.exec();
}
