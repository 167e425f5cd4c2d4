#include "blocking/browserwatch.h"

namespace wendral {

QString browserKindName(BrowserKind kind)
{
    switch (kind) {
    case BrowserKind::Chromium:
        return QStringLiteral("Chromium");
    case BrowserKind::GoogleChrome:
        return QStringLiteral("Google Chrome");
    case BrowserKind::MicrosoftEdge:
        return QStringLiteral("Microsoft Edge");
    case BrowserKind::Brave:
        return QStringLiteral("Brave");
    case BrowserKind::Vivaldi:
        return QStringLiteral("Vivaldi");
    }
    return QStringLiteral("A browser");
}

QString watchSummary(int watched, int unwatched)
{
    QString text = watched <= 0   ? QStringLiteral("No browser watched")
                   : watched == 1 ? QStringLiteral("Watching 1 browser")
                                  : QStringLiteral("Watching %1 browsers").arg(watched);
    if (unwatched > 0)
        text += QStringLiteral(", %1 unwatched").arg(unwatched);
    return text;
}

} // namespace wendral
