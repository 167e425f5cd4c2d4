#pragma once
// The event sink attached to one browser window. It remembers the window's
// browser object, records the browser's status text program-wide and runs the
// popup decision when a page in the window asks for a new window.

#include "blocking/browsercomponents.h"

#include <QString>

#include <memory>

namespace wendral {

class IE_Class : public BrowserEvents, public std::enable_shared_from_this<IE_Class>
{
public:
    IE_Class() = default;
    ~IE_Class() override;
    IE_Class(const IE_Class &) = delete;
    IE_Class &operator=(const IE_Class &) = delete;

    // Stores the browser and subscribes this sink to its events. A sink that is
    // not owned by a shared_ptr, or a null browser, simply receives no events;
    // nothing is reported. A second call moves the subscription to the new browser.
    void IEctl(const BrowserPtr &browser);
    BrowserPtr browser() const { return m_browser; }

    // Runs the popup decision for this sink's browser.
    void NewWindow2(bool &cancel) override;
    // Records the text as the latest status text of any browser.
    void StatusTextChange(const QString &text) override;

private:
    BrowserPtr m_browser;
};

} // namespace wendral
