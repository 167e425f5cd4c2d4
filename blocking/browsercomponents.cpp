#include "blocking/browsercomponents.h"

#include <algorithm>

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

bool BrowserObject::raiseNewWindow2(bool &cancel)
{
    bool any = false;
    for (const auto &weak : liveSinks()) {
        if (auto sink = weak.lock()) { // held for the whole handler
            any = true;
            sink->NewWindow2(cancel);
        }
    }
    return any;
}

void BrowserObject::raiseStatusTextChange(const QString &text)
{
    for (const auto &weak : liveSinks()) {
        if (auto sink = weak.lock())
            sink->StatusTextChange(text);
    }
}

} // namespace wendral
