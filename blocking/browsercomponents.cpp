#include "blocking/browsercomponents.h"

#include <algorithm>
#include <utility>

namespace wendral {

BrowserObject::~BrowserObject() = default;

void BrowserObject::subscribe(const std::shared_ptr<BrowserEvents> &sink)
{
    if (sink)
        m_sinks.push_back(sink);
}

void BrowserObject::unsubscribe(const BrowserEvents *sink)
{
    std::erase_if(m_sinks, [sink](const std::weak_ptr<BrowserEvents> &w) {
        auto s = w.lock();
        return !s || s.get() == sink;
    });
}

int BrowserObject::sinkCount() const
{
    return static_cast<int>(std::count_if(m_sinks.begin(), m_sinks.end(),
                                          [](const std::weak_ptr<BrowserEvents> &w) { return !w.expired(); }));
}

std::vector<std::weak_ptr<BrowserEvents>> BrowserObject::liveSinks()
{
    std::erase_if(m_sinks, [](const std::weak_ptr<BrowserEvents> &w) { return w.expired(); });
    return m_sinks; // a copy: handlers may subscribe or unsubscribe meanwhile
}

bool BrowserObject::raiseNewWindowRequest(const NewWindowRequestPtr &request)
{
    for (const auto &weak : liveSinks()) {
        if (auto sink = weak.lock()) { // held for the whole handler
            sink->newWindowRequested(request);
            return true;
        }
    }
    return false;
}

void BrowserObject::raiseStatusTextChange(const QString &text)
{
    for (const auto &weak : liveSinks()) {
        if (auto sink = weak.lock())
            sink->statusTextChanged(text);
    }
}

void NewWindowRequest::settle(Verdict verdict)
{
    if (m_done)
        return;
    m_done = true;
    m_abandoned = nullptr;
    // Moved out first: the callback may drop the last reference to this request.
    const auto settle = std::move(m_settle);
    if (settle)
        settle(verdict);
}

void NewWindowRequest::confirmClosed()
{
    const auto closed = std::exchange(m_closed, nullptr);
    if (closed)
        closed();
}

void NewWindowRequest::abandon()
{
    if (m_done)
        return;
    m_done = true;
    m_settle = nullptr;
    const auto abandoned = std::move(m_abandoned);
    if (abandoned)
        abandoned();
}

} // namespace wendral
