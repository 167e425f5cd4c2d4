#pragma once
// The browser window tracker: one event sink on every window that the shell's
// window collection lists, rebuilt from scratch whenever a window opens or
// closes, so that every popup request of every browser reaches the decision.

#include "blocking/browsercomponents.h"
#include "blocking/iesink.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

namespace wendral {

class cIEWindows : public QObject
{
    Q_OBJECT
public:
    using SinkList = std::vector<std::shared_ptr<IE_Class>>;

    // Attaches to the windows open now and follows the source's window events.
    // The source is not owned; it may be destroyed before the tracker.
    explicit cIEWindows(ShellWindows *source, QObject *parent = nullptr);
    // Drops every sink (unsubscribing them), then the source's events.
    ~cIEWindows() override;

    // The sink at 1-based position index, once any rebuild has finished; null
    // for a bad index.
    std::shared_ptr<IE_Class> IE(int index);
    int Count() const { return static_cast<int>(ieList.size()); }
    // The sinks, for iteration (a snapshot: a rebuild replaces the list).
    SinkList NewEnum() const { return ieList; }
    // Asks the browser of the first sink to quit (closes that page).
    void closeIE();

private:
    std::shared_ptr<IE_Class> addIE(const BrowserPtr &browser);
    void removeIE(int index);
    void refreshIE();
    void winShell_WindowRegistered(int cookie);
    void winShell_WindowRevoked(int cookie);
    // Processes pending events while a rebuild is marked as running.
    void waitWhileRefreshing();

    QPointer<ShellWindows> m_source;
    SinkList ieList;
    QPointer<ShellWindows> winShell;
    bool refreshing = false;
    bool shellHooked = false;
};

} // namespace wendral
