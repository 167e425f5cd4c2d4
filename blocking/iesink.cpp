#include "blocking/iesink.h"

#include "app/sharedstate.h"
#include "blocking/popupdecision.h"

namespace wendral {

IE_Class::~IE_Class()
{
    if (m_browser)
        m_browser->unsubscribe(this);
}

void IE_Class::IEctl(const BrowserPtr &browser)
{
    if (m_browser)
        m_browser->unsubscribe(this);
    m_browser = browser;
    if (!m_browser)
        return;
    // weak_from_this is empty when the sink is not owned by a shared_ptr; the
    // browser holds its sinks by weak reference, so there is nothing to hand over.
    if (auto self = weak_from_this().lock())
        m_browser->subscribe(self);
}

void IE_Class::NewWindow2(bool &cancel)
{
    // The decision may process events, during which the tracker can drop this
    // sink; a local reference keeps the browser alive until the decision ends.
    const BrowserPtr browser = m_browser;
    if (!browser)
        return;
    decision::run(*browser, cancel);
}

void IE_Class::StatusTextChange(const QString &text)
{
    shared().lastStatusText = text;
}

} // namespace wendral
