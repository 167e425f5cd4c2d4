#include "blocking/unwatchedreporter.h"

#include "blocking/browsercomponents.h"

#include <QPointer>

#include <algorithm>

namespace wendral {

UnwatchedBrowserReporter::UnwatchedBrowserReporter(BrowserWindows *browsers, std::function<bool()> blockingEnabled,
                                                   QObject *parent)
    : QObject(parent), m_browsers(browsers), m_blockingEnabled(std::move(blockingEnabled))
{
    if (m_browsers)
        connect(m_browsers, &BrowserWindows::browsersChanged, this, &UnwatchedBrowserReporter::reconsider);
}

QString UnwatchedBrowserReporter::title(const UnwatchedBrowser &browser)
{
    return QStringLiteral("%1 is not watched by Wendral").arg(browser.name);
}

QString UnwatchedBrowserReporter::text(const UnwatchedBrowser &browser)
{
    return QStringLiteral("%1 was started without Wendral, so its popups are not stopped. "
                          "Close %1 and start it again from the desktop with the option "
                          "\"Watch browsers started from the desktop\" on (Wendral's Tools menu), "
                          "or start it with wendral-browser.")
        .arg(browser.name);
}

void UnwatchedBrowserReporter::reconsider()
{
    if (!m_browsers)
        return;
    const QList<UnwatchedBrowser> now = m_browsers->unwatchedBrowsers();
    // Forget the processes that ended, so the list stays as short as what runs.
    m_told.removeIf([&](const UnwatchedBrowser &told) {
        return std::none_of(now.begin(), now.end(), [&](const UnwatchedBrowser &b) { return b.sameProcess(told); });
    });
    if (!m_blockingEnabled || !m_blockingEnabled())
        return;
    QPointer<UnwatchedBrowserReporter> self(this);
    for (const UnwatchedBrowser &b : now) {
        const bool told =
            std::any_of(m_told.begin(), m_told.end(), [&](const UnwatchedBrowser &t) { return t.sameProcess(b); });
        if (told)
            continue;
        m_told.append(b);
        emit report(title(b), text(b));
        if (!self)
            return;
    }
}

} // namespace wendral
