#include "blocking/tracker.h"

#include "app/runtime.h"

#include <QDeadlineTimer>

namespace wendral {

namespace {
// A wait for a rebuild can only see one running when it was itself reached
// from inside that rebuild (a handler that processed events); that rebuild
// cannot end until the wait returns, so the wait gives up after this long.
constexpr int kMaxRefreshWaitMs = 2000;
} // namespace

cIEWindows::cIEWindows(ShellWindows *source, QObject *parent) : QObject(parent), m_source(source)
{
    refreshIE();
}

cIEWindows::~cIEWindows()
{
    ieList.clear();
    if (winShell)
        winShell->disconnect(this);
    winShell = nullptr;
}

std::shared_ptr<IE_Class> cIEWindows::IE(int index)
{
    waitWhileRefreshing();
    if (index < 1 || index > Count())
        return nullptr;
    return ieList[static_cast<size_t>(index - 1)];
}

void cIEWindows::closeIE()
{
    if (ieList.empty())
        return;
    // Keep the sink and its browser while Quit runs: closing may raise a
    // revocation that rebuilds the list.
    const std::shared_ptr<IE_Class> first = ieList.front();
    if (const BrowserPtr browser = first ? first->browser() : nullptr)
        browser->Quit();
}

std::shared_ptr<IE_Class> cIEWindows::addIE(const BrowserPtr &browser)
{
    auto sink = std::make_shared<IE_Class>();
    sink->IEctl(browser);
    ieList.push_back(sink);
    return sink;
}

void cIEWindows::removeIE(int index)
{
    if (index < 1 || index > Count())
        return;
    ieList.erase(ieList.begin() + (index - 1));
}

void cIEWindows::refreshIE()
{
    refreshing = true;
    struct Done
    {
        bool &flag;
        ~Done() { flag = false; }
    } done{refreshing};

    // The old sinks go first, so no window ever has two.
    ieList.clear();
    ShellWindows *shell = m_source.data();
    if (!shell)
        return;
    try {
        const QList<BrowserPtr> windows = shell->items();
        for (const BrowserPtr &browser : windows) {
            if (browser)
                addIE(browser);
        }
    } catch (...) {
        // The sinks made so far stay; the next window event rebuilds again.
    }
    if (!shellHooked) {
        winShell = shell;
        connect(shell, &ShellWindows::WindowRegistered, this, &cIEWindows::winShell_WindowRegistered);
        connect(shell, &ShellWindows::WindowRevoked, this, &cIEWindows::winShell_WindowRevoked);
    }
    shellHooked = true;
}

void cIEWindows::winShell_WindowRegistered(int)
{
    refreshIE();
    waitWhileRefreshing();
}

void cIEWindows::winShell_WindowRevoked(int)
{
    refreshIE();
    waitWhileRefreshing();
}

void cIEWindows::waitWhileRefreshing()
{
    if (!refreshing)
        return;
    QPointer<cIEWindows> self(this);
    const QDeadlineTimer deadline(kMaxRefreshWaitMs);
    while (self && refreshing && !deadline.hasExpired())
        processPendingMessages();
}

} // namespace wendral
