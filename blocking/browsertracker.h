#pragma once
// The browser window tracker: one event sink on every window that the window
// collection lists, rebuilt from scratch whenever a window opens or closes, so
// that every popup request of every browser reaches the decision.

#include "blocking/browsercomponents.h"
#include "blocking/browsersink.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

namespace wendral {

class BrowserTracker : public QObject
{
    Q_OBJECT
public:
    using SinkList = std::vector<std::shared_ptr<BrowserSink>>;

    // Attaches to the windows open now and follows the source's window events.
    // Neither the source nor the decider is owned; the source may be destroyed
    // before the tracker.
    BrowserTracker(BrowserWindows *source, PopupDecider &decider, QObject *parent = nullptr);
    // Drops every sink (unsubscribing them), then the source's events.
    ~BrowserTracker() override;

    // The sink at position index (from 0); null for a bad index.
    std::shared_ptr<BrowserSink> sink(int index) const;
    int count() const { return static_cast<int>(m_sinks.size()); }
    // The sinks, for iteration (a snapshot: a rebuild replaces the list).
    SinkList sinks() const { return m_sinks; }
    // Asks the browser of the first sink to close its window.
    void closeFirst();

private:
    void rebuild();

    QPointer<BrowserWindows> m_source;
    PopupDecider &m_decider;
    SinkList m_sinks;
};

} // namespace wendral
