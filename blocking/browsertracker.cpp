#include "blocking/browsertracker.h"

namespace wendral {

BrowserTracker::BrowserTracker(BrowserWindows *source, PopupDecider &decider, QObject *parent)
    : QObject(parent), m_source(source), m_decider(decider)
{
    rebuild();
    if (source) {
        connect(source, &BrowserWindows::windowOpened, this, &BrowserTracker::rebuild);
        connect(source, &BrowserWindows::windowClosed, this, &BrowserTracker::rebuild);
    }
}

BrowserTracker::~BrowserTracker()
{
    m_sinks.clear();
    if (m_source)
        m_source->disconnect(this);
}

std::shared_ptr<BrowserSink> BrowserTracker::sink(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return m_sinks[static_cast<size_t>(index)];
}

void BrowserTracker::closeFirst()
{
    if (m_sinks.empty())
        return;
    // Keep the sink and its browser while closing runs: closing may report the
    // window gone, which rebuilds the list.
    const std::shared_ptr<BrowserSink> first = m_sinks.front();
    if (const BrowserPtr browser = first ? first->browser() : nullptr)
        browser->close();
}

void BrowserTracker::rebuild()
{
    // The old sinks go first, so no window ever has two.
    m_sinks.clear();
    BrowserWindows *windows = m_source.data();
    if (!windows)
        return;
    try {
        const QList<BrowserPtr> items = windows->items();
        for (const BrowserPtr &browser : items) {
            if (!browser)
                continue;
            auto sink = std::make_shared<BrowserSink>(m_decider);
            sink->attach(browser);
            m_sinks.push_back(sink);
        }
    } catch (...) {
        // The sinks made so far stay; the next window event rebuilds again.
    }
}

} // namespace wendral
