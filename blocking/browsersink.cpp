#include "blocking/browsersink.h"

#include "core/popupdecision.h"

namespace wendral {

BrowserSink::BrowserSink(PopupDecider &decider) : m_decider(&decider) {}

BrowserSink::~BrowserSink()
{
    if (m_browser)
        m_browser->unsubscribe(this);
}

void BrowserSink::attach(const BrowserPtr &browser)
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

void BrowserSink::newWindowRequested(const NewWindowRequestPtr &request)
{
    if (!request)
        return;
    if (!m_browser || !m_decider) {
        request->settle(Verdict::Allow);
        return;
    }
    BlockCount count = BlockCount::OnDecision;
    if (request->isCountedOnClose()) {
        count = BlockCount::OnConfirmation;
        request->onClosed([decider = m_decider] {
            if (decider)
                decider->confirmBlocked();
        });
    }
    const PopupDecider::RequestId id = m_decider->decide(
        m_browser->pageUrl(), [request](Verdict verdict) { request->settle(verdict); }, count);
    if (id == 0)
        return;
    request->onAbandoned([decider = m_decider, id] {
        if (decider)
            decider->withdraw(id);
    });
}

void BrowserSink::statusTextChanged(const QString &text)
{
    if (m_decider)
        m_decider->setLastStatusText(text);
}

} // namespace wendral
