#include "app/browsers.h"

#include "blocking/cdp/cdpshellwindows.h"

#include <QCoreApplication>
#include <QPointer>

namespace wendral {

ShellWindows *programShellWindows()
{
    static QPointer<cdp::CdpShellWindows> engine;
    if (!engine)
        engine = new cdp::CdpShellWindows(QCoreApplication::instance());
    return engine;
}

} // namespace wendral
