#pragma once
// An in-memory browser engine that tests script: open and close windows, set
// a page address, raise new-window requests and read back their verdicts,
// change the status text. Like a real browser it holds a request until it is
// settled, and abandons the requests of a window that closes meanwhile.

#include "blocking/browsercomponents.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace wendral {

class MemoryBrowserWindows;

class MemoryBrowser : public BrowserObject
{
    Q_OBJECT
public:
    explicit MemoryBrowser(MemoryBrowserWindows *windows, const QString &url);

    std::optional<QString> pageUrl() const override;
    // Closes the window in its collection (reported closed once).
    void close() override;

    void setLocation(const QString &url) { m_url = url; }
    // While unreadable, pageUrl has no value.
    void setUnreadable(bool unreadable) { m_unreadable = unreadable; }
    bool isClosed() const { return m_closed; }

    enum class Outcome
    {
        Allowed,
        Blocked,
        Waiting, // held until the setup question is answered
    };
    // Raises a new-window request. A request that no sink takes goes through.
    // When a request goes through (now or later) and the collection opens
    // popups, a new window showing popupUrl opens, as a real browser would.
    Outcome requestNewWindow(const QString &popupUrl = QString());
    // Requests raised so far, and how they ended.
    int requestCount() const { return m_requests; }
    int letThroughCount() const { return m_letThrough; }
    int blockedCount() const { return m_blocked; }
    // Requests still held for a verdict.
    int waitingCount() const;
    // Raises statusTextChanged.
    void setStatusText(const QString &text);

private:
    friend class MemoryBrowserWindows;
    void settled(Verdict verdict, const QString &popupUrl);
    void abandonWaiting();

    QPointer<MemoryBrowserWindows> m_windows;
    QString m_url;
    bool m_unreadable = false;
    bool m_closed = false;
    int m_requests = 0;
    int m_letThrough = 0;
    int m_blocked = 0;
    std::vector<NewWindowRequestPtr> m_held;
};

class MemoryBrowserWindows : public BrowserWindows
{
    Q_OBJECT
public:
    using BrowserWindows::BrowserWindows;
    ~MemoryBrowserWindows() override;

    QList<BrowserPtr> items() const override;

    // Opens a window showing url; reports it opened.
    std::shared_ptr<MemoryBrowser> openWindow(const QString &url);
    // Closes the window (abandoning its held requests); reports it closed. A
    // window not open here is ignored.
    void closeWindow(const MemoryBrowser *browser);
    void closeAll();

    // Whether a request that goes through opens a new window (on by default).
    void setOpensPopups(bool open) { m_opensPopups = open; }
    bool opensPopups() const { return m_opensPopups; }
    // The window most recently opened (by openWindow or by a popup).
    std::shared_ptr<MemoryBrowser> lastOpened() const { return m_lastOpened.lock(); }
    int count() const { return static_cast<int>(m_windows.size()); }
    // The collection's own reference to an open window; null when it is not open here.
    std::shared_ptr<MemoryBrowser> find(const MemoryBrowser *browser) const;

private:
    QList<std::shared_ptr<MemoryBrowser>> m_windows;
    std::weak_ptr<MemoryBrowser> m_lastOpened;
    bool m_opensPopups = true;
};

} // namespace wendral
