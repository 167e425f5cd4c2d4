#pragma once
// An in-memory browser engine that tests script: open and close windows, set
// a page address, raise new-window requests and read back the cancel flag,
// change the status text.

#include "blocking/browsercomponents.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

namespace wendral {

class MemoryShellWindows;

class MemoryBrowser : public BrowserObject
{
    Q_OBJECT
public:
    explicit MemoryBrowser(MemoryShellWindows *shell, const QString &url);

    std::optional<QString> LocationURL() const override;
    // Closes the window in its shell (raises WindowRevoked once).
    void Quit() override;

    void setLocation(const QString &url) { m_url = url; }
    // While unreadable, LocationURL has no value.
    void setUnreadable(bool unreadable) { m_unreadable = unreadable; }
    bool isClosed() const { return m_closed; }

    // Raises NewWindow2 on the sinks (cancel starts false) and returns the final
    // cancel flag. When the request goes through and the shell opens popups, a
    // new window showing popupUrl opens, as a real browser would open it.
    bool requestNewWindow(const QString &popupUrl = QString());
    // Raises StatusTextChange.
    void setStatusText(const QString &text);
    // Requests raised so far, and how many of them were let through.
    int requestCount() const { return m_requests; }
    int letThroughCount() const { return m_letThrough; }

private:
    friend class MemoryShellWindows;
    QPointer<MemoryShellWindows> m_shell;
    QString m_url;
    bool m_unreadable = false;
    bool m_closed = false;
    int m_requests = 0;
    int m_letThrough = 0;
};

class MemoryShellWindows : public ShellWindows
{
    Q_OBJECT
public:
    using ShellWindows::ShellWindows;
    ~MemoryShellWindows() override;

    QList<BrowserPtr> items() const override;

    // Opens a window showing url; raises WindowRegistered.
    std::shared_ptr<MemoryBrowser> openWindow(const QString &url);
    // Closes the window; raises WindowRevoked. A window not open here is ignored.
    void closeWindow(const MemoryBrowser *browser);
    void closeAll();

    // Whether a request that goes through opens a new window (on by default).
    void setOpensPopups(bool open) { m_opensPopups = open; }
    bool opensPopups() const { return m_opensPopups; }
    // The window most recently opened (by openWindow or by a popup).
    std::shared_ptr<MemoryBrowser> lastOpened() const { return m_lastOpened.lock(); }
    int count() const { return static_cast<int>(m_windows.size()); }
    // The shell's own reference to an open window; null when it is not open here.
    std::shared_ptr<MemoryBrowser> find(const MemoryBrowser *browser) const;

private:
    QList<std::shared_ptr<MemoryBrowser>> m_windows;
    std::weak_ptr<MemoryBrowser> m_lastOpened;
    bool m_opensPopups = true;
    int m_nextCookie = 1;
};

} // namespace wendral
