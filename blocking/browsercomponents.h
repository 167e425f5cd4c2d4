#pragma once
// What Wendral relies on in the browsers it watches, independent of any engine:
// a collection of open browser windows that reports windows coming and going,
// and per window its address, its new-window requests (held by the browser
// until they are settled) and its status text. The DevTools-protocol engine for
// Chromium-family browsers implements it, and so does the in-memory engine
// that tests drive.

#include "blocking/browserwatch.h"
#include "core/popupdecision.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace wendral {

// One new-window request. The browser holds the new window until the request
// is settled; only the first verdict counts. When the window goes away before
// that, the browser abandons the request: whoever was going to settle it is
// told, and a later verdict does nothing.
class NewWindowRequest
{
public:
    explicit NewWindowRequest(std::function<void(Verdict)> settle) : m_settle(std::move(settle)) {}

    void settle(Verdict verdict);
    bool isSettled() const { return m_done; }

    // For the one who decides later: run when the request is abandoned.
    void onAbandoned(std::function<void()> callback) { m_abandoned = std::move(callback); }
    // For the browser: the window went away unsettled.
    void abandon();

    // For a browser whose reports of new windows could be made up: a block
    // counts only once the browser confirms that it closed the window.
    void setCountedOnClose() { m_countedOnClose = true; }
    bool isCountedOnClose() const { return m_countedOnClose; }
    // For the one who decides: run once when the browser confirms the close.
    void onClosed(std::function<void()> callback) { m_closed = std::move(callback); }
    // For the browser: the blocked window is confirmed closed.
    void confirmClosed();

private:
    std::function<void(Verdict)> m_settle;
    std::function<void()> m_abandoned;
    std::function<void()> m_closed;
    bool m_done = false;
    bool m_countedOnClose = false;
};
using NewWindowRequestPtr = std::shared_ptr<NewWindowRequest>;

// The events a sink receives from one browser window.
class BrowserEvents
{
public:
    virtual ~BrowserEvents() = default;
    // Raised before the browser opens a new window.
    virtual void newWindowRequested(const NewWindowRequestPtr &request) = 0;
    // The browser's status text (the address of the link under the mouse, or
    // empty when the mouse leaves it).
    virtual void statusTextChanged(const QString &text) = 0;
};

// One browser window (a page). Sinks subscribe by weak reference, so dropping a
// sink unsubscribes it; a handler that is running keeps its sink alive.
class BrowserObject : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~BrowserObject() override;

    // Address of the page the window shows; no value when it cannot be read
    // (for instance when the window has gone).
    virtual std::optional<QString> pageUrl() const = 0;
    // Closes the window.
    virtual void close() = 0;

    void subscribe(const std::shared_ptr<BrowserEvents> &sink);
    void unsubscribe(const BrowserEvents *sink);
    int sinkCount() const;

protected:
    // For engines: hands the request to the first live sink. Returns false
    // when no sink was there to decide (the request is then not settled).
    bool raiseNewWindowRequest(const NewWindowRequestPtr &request);
    void raiseStatusTextChange(const QString &text);

private:
    std::vector<std::weak_ptr<BrowserEvents>> liveSinks();
    std::vector<std::weak_ptr<BrowserEvents>> m_sinks;
};

using BrowserPtr = std::shared_ptr<BrowserObject>;

// The collection of open browser windows.
class BrowserWindows : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // The open windows, in a stable enumeration order.
    virtual QList<BrowserPtr> items() const = 0;
    // The browsers watched now (each with any number of windows), and the
    // browser processes of this desktop that run without being watchable.
    // An engine that knows nothing of processes has none of the latter.
    virtual int watchedBrowserCount() const { return 0; }
    virtual QList<UnwatchedBrowser> unwatchedBrowsers() const { return {}; }

signals:
    // Once per window opened or closed.
    void windowOpened();
    void windowClosed();
    // The number of watched browsers or the list of unwatched ones changed.
    void browsersChanged();
};

} // namespace wendral
