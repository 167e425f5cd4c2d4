#pragma once
// The event sink attached to one browser window. It remembers the window's
// browser object, passes the browser's status text to the popup decision and
// hands it every new-window request of a page in the window.

#include "blocking/browsercomponents.h"

#include <QPointer>
#include <QString>

#include <memory>

namespace wendral {

class PopupDecider;

class BrowserSink : public BrowserEvents, public std::enable_shared_from_this<BrowserSink>
{
public:
    explicit BrowserSink(PopupDecider &decider);
    ~BrowserSink() override;
    BrowserSink(const BrowserSink &) = delete;
    BrowserSink &operator=(const BrowserSink &) = delete;

    // Stores the browser and subscribes this sink to its events. A sink that is
    // not owned by a shared_ptr, or a null browser, simply receives no events;
    // nothing is reported. A second call moves the subscription to the new browser.
    void attach(const BrowserPtr &browser);
    BrowserPtr browser() const { return m_browser; }

    // Decides the request of this sink's browser (at once or once the setup
    // question is answered); a request abandoned meanwhile is withdrawn.
    void newWindowRequested(const NewWindowRequestPtr &request) override;
    // Records the text as the latest status text of any browser.
    void statusTextChanged(const QString &text) override;

private:
    QPointer<PopupDecider> m_decider;
    BrowserPtr m_browser;
};

} // namespace wendral
