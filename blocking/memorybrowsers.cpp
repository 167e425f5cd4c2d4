#include "blocking/memorybrowsers.h"

namespace wendral {

MemoryBrowser::MemoryBrowser(MemoryShellWindows *shell, const QString &url) : m_shell(shell), m_url(url) {}

std::optional<QString> MemoryBrowser::LocationURL() const
{
    if (m_unreadable || m_closed)
        return std::nullopt;
    return m_url;
}

void MemoryBrowser::Quit()
{
    if (m_shell)
        m_shell->closeWindow(this);
    else
        m_closed = true;
}

bool MemoryBrowser::requestNewWindow(const QString &popupUrl)
{
    // The event may run a decision that processes events and closes this very
    // window; a local reference keeps it alive until the request is settled.
    const std::shared_ptr<MemoryBrowser> self = m_shell ? m_shell->find(this) : nullptr;
    ++m_requests;
    bool cancel = false;
    raiseNewWindow2(cancel);
    if (!cancel) {
        ++m_letThrough;
        if (m_shell && m_shell->opensPopups() && !m_closed)
            m_shell->openWindow(popupUrl);
    }
    return cancel;
}

void MemoryBrowser::setStatusText(const QString &text)
{
    raiseStatusTextChange(text);
}

MemoryShellWindows::~MemoryShellWindows()
{
    for (const auto &w : std::as_const(m_windows))
        w->m_closed = true;
}

QList<BrowserPtr> MemoryShellWindows::items() const
{
    QList<BrowserPtr> list;
    list.reserve(m_windows.size());
    for (const auto &w : m_windows)
        list.append(w);
    return list;
}

std::shared_ptr<MemoryBrowser> MemoryShellWindows::find(const MemoryBrowser *browser) const
{
    for (const auto &w : m_windows) {
        if (w.get() == browser)
            return w;
    }
    return nullptr;
}

std::shared_ptr<MemoryBrowser> MemoryShellWindows::openWindow(const QString &url)
{
    auto browser = std::make_shared<MemoryBrowser>(this, url);
    m_windows.append(browser);
    m_lastOpened = browser;
    emit WindowRegistered(m_nextCookie++);
    return browser;
}

void MemoryShellWindows::closeWindow(const MemoryBrowser *browser)
{
    for (qsizetype i = 0; i < m_windows.size(); ++i) {
        if (m_windows.at(i).get() != browser)
            continue;
        std::shared_ptr<MemoryBrowser> gone = m_windows.takeAt(i);
        gone->m_closed = true;
        emit WindowRevoked(m_nextCookie++);
        return;
    }
}

void MemoryShellWindows::closeAll()
{
    while (!m_windows.isEmpty())
        closeWindow(m_windows.constLast().get());
}

} // namespace wendral
