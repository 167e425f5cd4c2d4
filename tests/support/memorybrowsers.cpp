#include "support/memorybrowsers.h"

#include <algorithm>

namespace wendral {

MemoryBrowser::MemoryBrowser(MemoryBrowserWindows *windows, const QString &url) : m_windows(windows), m_url(url) {}

std::optional<QString> MemoryBrowser::pageUrl() const
{
    if (m_unreadable || m_closed)
        return std::nullopt;
    return m_url;
}

void MemoryBrowser::close()
{
    if (m_windows)
        m_windows->closeWindow(this);
    else
        m_closed = true;
}

MemoryBrowser::Outcome MemoryBrowser::requestNewWindow(const QString &popupUrl)
{
    ++m_requests;
    // What the verdict was if it came before this call returned.
    auto immediate = std::make_shared<std::optional<Verdict>>();
    auto inCall = std::make_shared<bool>(true);
    QPointer<MemoryBrowser> self(this);
    auto request = std::make_shared<NewWindowRequest>([self, popupUrl, immediate, inCall](Verdict verdict) {
        if (*inCall)
            *immediate = verdict;
        if (self)
            self->settled(verdict, popupUrl);
    });
    m_held.push_back(request);
    if (!raiseNewWindowRequest(request))
        request->settle(Verdict::Allow);
    *inCall = false;
    if (!*immediate)
        return Outcome::Waiting;
    return **immediate == Verdict::Block ? Outcome::Blocked : Outcome::Allowed;
}

void MemoryBrowser::settled(Verdict verdict, const QString &popupUrl)
{
    std::erase_if(m_held, [](const NewWindowRequestPtr &r) { return r->isSettled(); });
    if (verdict == Verdict::Block) {
        ++m_blocked;
        return;
    }
    ++m_letThrough;
    if (m_windows && m_windows->opensPopups() && !m_closed)
        m_windows->openWindow(popupUrl);
}

int MemoryBrowser::waitingCount() const
{
    return static_cast<int>(
        std::count_if(m_held.begin(), m_held.end(), [](const NewWindowRequestPtr &r) { return !r->isSettled(); }));
}

void MemoryBrowser::abandonWaiting()
{
    const auto held = std::exchange(m_held, {});
    for (const NewWindowRequestPtr &r : held)
        r->abandon();
}

void MemoryBrowser::setStatusText(const QString &text)
{
    raiseStatusTextChange(text);
}

MemoryBrowserWindows::~MemoryBrowserWindows()
{
    for (const auto &w : std::as_const(m_windows)) {
        w->m_closed = true;
        w->abandonWaiting();
    }
}

QList<BrowserPtr> MemoryBrowserWindows::items() const
{
    QList<BrowserPtr> list;
    list.reserve(m_windows.size());
    for (const auto &w : m_windows)
        list.append(w);
    return list;
}

std::shared_ptr<MemoryBrowser> MemoryBrowserWindows::find(const MemoryBrowser *browser) const
{
    for (const auto &w : m_windows) {
        if (w.get() == browser)
            return w;
    }
    return nullptr;
}

std::shared_ptr<MemoryBrowser> MemoryBrowserWindows::openWindow(const QString &url)
{
    auto browser = std::make_shared<MemoryBrowser>(this, url);
    m_windows.append(browser);
    m_lastOpened = browser;
    emit windowOpened();
    return browser;
}

void MemoryBrowserWindows::closeWindow(const MemoryBrowser *browser)
{
    for (qsizetype i = 0; i < m_windows.size(); ++i) {
        if (m_windows.at(i).get() != browser)
            continue;
        std::shared_ptr<MemoryBrowser> gone = m_windows.takeAt(i);
        gone->m_closed = true;
        gone->abandonWaiting();
        emit windowClosed();
        return;
    }
}

void MemoryBrowserWindows::closeAll()
{
    while (!m_windows.isEmpty())
        closeWindow(m_windows.constLast().get());
}

} // namespace wendral
