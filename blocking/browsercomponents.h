#pragma once
// What Wendral relies on in the browsers it watches, independent of any engine:
// a collection of open browser windows that reports windows coming and going,
// and per window its address, its new-window requests (decided before the
// window opens) and its status text. The in-memory engine that tests drive and
// the DevTools-protocol engine for Chromium-family browsers both implement it.

#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace wendral {

// The events a sink receives from one browser window.
class BrowserEvents
{
public:
    virtual ~BrowserEvents() = default;
    // Raised before the browser opens a new window; the browser waits for the
    // handler. Setting cancel to true stops the window.
    virtual void NewWindow2(bool &cancel) = 0;
    // The browser's status text (the address of the link under the mouse, or
    // empty when the mouse leaves it).
    virtual void StatusTextChange(const QString &text) = 0;
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
    virtual std::optional<QString> LocationURL() const = 0;
    // Closes the window.
    virtual void Quit() = 0;

    void subscribe(const std::shared_ptr<BrowserEvents> &sink);
    void unsubscribe(const BrowserEvents *sink);
    int sinkCount() const;

protected:
    // For engines: raise the events on every live subscribed sink, in order of
    // subscription. Returns false when no sink was there to decide.
    bool raiseNewWindow2(bool &cancel);
    void raiseStatusTextChange(const QString &text);

private:
    std::vector<std::weak_ptr<BrowserEvents>> liveSinks();
    std::vector<std::weak_ptr<BrowserEvents>> m_sinks;
};

using BrowserPtr = std::shared_ptr<BrowserObject>;

// The collection of open browser windows (the shell's window collection).
class ShellWindows : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // The open windows, in a stable enumeration order.
    virtual QList<BrowserPtr> items() const = 0;

signals:
    // Once per window opened or closed; the cookie carries no meaning.
    void WindowRegistered(int cookie);
    void WindowRevoked(int cookie);
};

} // namespace wendral
