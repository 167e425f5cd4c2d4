#include "blocking/popupdecision.h"

#include "app/paths.h"
#include "app/runtime.h"
#include "app/sharedstate.h"
#include "blocking/sound.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <limits>

namespace wendral::decision {
namespace {
DecisionOptions *g_options = nullptr;
PromptHost *g_promptHost = nullptr;

const QLatin1String kHttp("http://");
const QLatin1String kHttps("https://");

// Every step that reads the main window's options goes through here: the main
// window may be unloaded while the decision processes events, and then the
// decision can no longer read its boxes.
bool isOn(int (DecisionOptions::*box)() const, bool &ok)
{
    if (!g_options) {
        ok = false;
        return false;
    }
    return (g_options->*box)() == 1;
}

// The block steps, in order: count, one pass of pending events, sound, cancel.
// Returns false when the handler has to end early (options gone).
bool block(bool &cancel)
{
    SharedState &s = shared();
    // The count saturates: a count that cannot grow any further must not let
    // the popup through.
    if (s.blockedCount < std::numeric_limits<qint32>::max())
        ++s.blockedCount;
    processPendingMessages();
    bool ok = true;
    const bool sound = isOn(&DecisionOptions::check5, ok);
    if (!ok)
        return false;
    if (sound)
        playSound(Paths::programFile(QStringLiteral("\\sounds\\pop.wav")));
    cancel = true;
    return true;
}

// Shows the prompt and waits for its answer. Returns false when the prompt
// could not be shown or the application went away meanwhile.
bool askUser(const QString &site, bool &allow)
{
    SharedState &s = shared();
    s.promptAnswered = false;
    s.promptAllow = false;
    s.promptDomain = site;
    if (!g_promptHost || !g_promptHost->showPrompt())
        return false;
    // Sleeps until an event arrives instead of spinning; the prompt's answer
    // (or another request's nested decision) always comes in through an event.
    while (!shared().promptAnswered) {
        if (!QCoreApplication::instance())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    allow = shared().promptAllow;
    return true;
}
} // namespace

void setOptions(DecisionOptions *options)
{
    g_options = options;
}
DecisionOptions *options()
{
    return g_options;
}
void setPromptHost(PromptHost *host)
{
    g_promptHost = host;
}
PromptHost *promptHost()
{
    return g_promptHost;
}

QString siteName(const QString &url)
{
    QString site = url;
    site.remove(kHttp, Qt::CaseInsensitive);
    site.remove(kHttps, Qt::CaseInsensitive);
    const qsizetype slash = site.indexOf(QLatin1Char('/'));
    if (slash >= 0)
        site.truncate(slash + 1);
    site.remove(QLatin1Char('/'));
    return site;
}

bool isListed(const QString &site, const QString &list)
{
    // A plain substring search would find the empty name in every non-empty
    // list and let popups from address-less pages through.
    if (site.isEmpty())
        return false;
    return list.contains(site, Qt::CaseInsensitive);
}

void run(BrowserObject &browser, bool &cancel)
{
    SharedState &s = shared();
    bool ok = true;

    // 1. Links exception: a link address under the mouse grants the pass.
    const bool links = isOn(&DecisionOptions::check6, ok);
    if (!ok)
        return;
    if (links && s.lastStatusText.size() > 7) {
        const QString lower = s.lastStatusText.toLower();
        if (lower.startsWith(kHttp) || lower.startsWith(kHttps))
            s.allowNext = true;
    }

    // 2. The requesting page's site name.
    const std::optional<QString> location = browser.LocationURL();
    if (!location)
        return;
    const QString site = siteName(*location);

    // 3. Blocking off: everything goes through, nothing is counted.
    const bool blocking = isOn(&DecisionOptions::check1, ok);
    if (!ok || !blocking)
        return;

    // 4. The one-shot pass.
    if (s.allowNext) {
        s.allowNext = false;
        cancel = false;
        return;
    }

    // 5. Setup mode: allowed list, disallowed list, then ask.
    const bool setup = isOn(&DecisionOptions::check2, ok);
    if (!ok)
        return;
    if (setup) {
        if (isListed(site, s.allowedList)) {
            cancel = false;
            return;
        }
        if (isListed(site, s.disallowedList)) {
            block(cancel);
            return;
        }
        bool allow = false;
        if (!askUser(site, allow))
            return;
        if (allow)
            cancel = false;
        else
            block(cancel);
        return;
    }

    // 6. Otherwise the allowed list alone.
    if (isListed(site, s.allowedList))
        cancel = false;
    else
        block(cancel);
}

} // namespace wendral::decision
