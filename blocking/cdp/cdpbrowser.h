#pragma once
// One Chromium-family browser watched through the DevTools protocol: its page
// targets as browser objects, every new target held at start until it is
// decided, popups let through or blocked, and the status text of each page.

#include "blocking/browsercomponents.h"
#include "blocking/cdp/cdpconnection.h"
#include "blocking/cdp/cdpdiscovery.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

namespace wendral::cdp {

class CdpBrowser;

// A page target: one browser window as the rest of the program sees it.
class CdpPage : public BrowserObject
{
    Q_OBJECT
public:
    CdpPage(CdpBrowser *browser, const QString &targetId, const QString &url);

    std::optional<QString> pageUrl() const override;
    void close() override;

    QString targetId() const { return m_targetId; }
    bool isGone() const { return m_gone; }

    // For the engine.
    void setUrl(const QString &url) { m_url = url; }
    void setGone() { m_gone = true; }
    bool requestNewWindow(const NewWindowRequestPtr &request) { return raiseNewWindowRequest(request); }
    void fireStatusTextChange(const QString &text) { raiseStatusTextChange(text); }

private:
    QPointer<CdpBrowser> m_browser;
    QString m_targetId;
    QString m_url;
    bool m_gone = false;
};

// Longest status text passed on; page scripts can send anything.
constexpr int kMaxStatusTextChars = 2048;
// Name of the function that the status script reports through.
inline constexpr char kStatusBindingName[] = "__wendralStatus";
// The isolated world the script runs in.
inline constexpr char kStatusWorldName[] = "wendral-status";
// Builds the status script for one secret (the prefix that tells the
// script's own reports from anything else a page sends to the binding).
QString statusScript(const QString &secret);
// The text of a binding payload that carries the secret, cleaned and capped;
// no value when the payload does not come from the script.
std::optional<QString> statusTextFromPayload(const QString &payload, const QString &secret);

class CdpBrowser : public QObject
{
    Q_OBJECT
public:
    enum class Loss
    {
        Refused, // nothing answers at the address (a stale DevToolsActivePort)
        Closed,  // the browser went away
        Broken,  // it answered wrongly, too much, or not at all
    };

    struct Options
    {
        // Message size and commands awaiting an answer (see CdpLimits).
        CdpLimits limits;
        // How long the set-up commands may take before the peer counts as broken.
        int setupTimeoutMs = 5000;
        // A blocked popup that makes no request (a blank window a script fills)
        // is closed after this long.
        int blockedCloseDelayMs = 1500;
        // Page targets kept per browser (each with its one session), and pages
        // reported as created but not attached yet: beyond this, new targets
        // are resumed and let go at once, and are neither windows nor decided.
        int maxTargets = 2000;
        // Popups held per browser while their decision is out (the setup
        // question): beyond this, a new popup is closed without a decision
        // (and without being counted) until some of them are settled.
        int maxHeld = 256;
        // A tab that no page opened is resumed after this long, unless it has
        // shown by then that it runs (see resumeUnlessRunning).
        int quietTabResumeMs = 500;
        // Runs the status script again in each page's document once it has
        // loaded, for a document that came up before the script was in place.
        // Tests switch it off to see the script that every new document gets.
        bool rerunStatusScriptOnLoad = true;
        // Makes the channel to the browser (unset: a WebSocket).
        CdpChannelFactory channelFactory;
    };

    CdpBrowser(const CdpEndpoint &endpoint, const Options &options, const QString &statusSecret,
               QObject *parent = nullptr);
    // Lets every popup still held go first (see releaseAll), unless the
    // connection was lost or closed already.
    ~CdpBrowser() override;

    void start();
    const CdpEndpoint &endpoint() const { return m_endpoint; }
    bool isReady() const { return m_ready && !m_lost; }
    bool isLost() const { return m_lost; }

    // The page targets that count as open windows, in the order they came.
    QList<BrowserPtr> pages() const;
    // Popups still held: undecided, being decided, or blocked and not yet
    // being closed.
    int heldCount() const;
    // What the engine keeps for this browser, for checks of its bounds.
    int targetCount() const { return static_cast<int>(m_targets.size()); }
    int createdCount() const { return static_cast<int>(m_created.size()); }
    int pendingCommandCount() const { return m_conn ? m_conn->pendingCount() : 0; }

    // Closes a target (the page's Quit).
    void closeTarget(const QString &targetId);

    // From now on nothing is held or decided: every popup still held is let
    // through (one already being blocked is closed), and new targets are
    // resumed at once. Used before disconnecting, so no tab is left blank.
    void releaseAll();
    // True when every command that releaseAll sent has been answered (or can
    // no longer be).
    bool isSettled() const;
    // Ends the connection quietly (no lost() signal, pages not revoked).
    void close();

signals:
    void ready();
    void pageRegistered();
    void pageRevoked();
    // A popup's decision is about to be asked for. Pages reported as coming
    // and going must have reached the tracker by then: the page that opened
    // the popup may have come in the same batch of messages, and it decides
    // only through its own sink.
    void decisionStarting();
    // The connection failed or was lost; every page has been revoked before.
    void lost(wendral::cdp::CdpBrowser::Loss why);

private:
    // A page target as the browser reported it with Target.targetCreated.
    struct Created
    {
        QString openerId;
    };
    struct Target
    {
        QString targetId;
        QString sessionId;
        QString openerId;
        std::shared_ptr<CdpPage> page;
        bool created = false;    // reported by Target.targetCreated before it attached
        bool registered = false; // counts as an open window
        bool armed = false;      // the status script's commands are sent
        bool resumeDue = false;  // to be resumed unless it shows that it runs
    };
    struct Held
    {
        QString targetId;
        QString sessionId;
        bool deciding = false;
        NewWindowRequestPtr request; // while the decision is out
    };
    struct Blocked
    {
        QString targetId;
        bool resumed = false;
        bool closing = false;        // Target.closeTarget sent
        QStringList pausedRequests;  // held by the browser until the target goes
        NewWindowRequestPtr request; // counted once the browser confirms the close
    };
    // Requests of one blocked popup kept paused; any more fail at once.
    static constexpr int kMaxPausedRequests = 16;

    void openNext();
    void onOpened();
    void onFailed(const QString &reason);
    void onEvent(const QString &method, const QJsonObject &params, const QString &sessionId);
    void onCreated(const QJsonObject &info);
    void onAttached(const QJsonObject &params);
    void onDetached(const QJsonObject &params);
    void onTargetDestroyed(const QString &targetId);
    void onRequestPaused(const QJsonObject &params, const QString &sessionId);
    void onBindingCalled(const QJsonObject &params, const QString &sessionId);

    bool isRealPopup(const Target &t, const QString &openerId) const;
    void armPage(const QString &sessionId, bool loaded);
    void runStatusScript(const QString &sessionId);
    int resume(const QString &sessionId, int timeoutMs = 0);
    void resumeUnlessRunning(Target &t);
    void registerPage(Target &t);
    void revokePage(Target &t);
    void forgetTarget(const QString &targetId);
    void decide(const QString &sessionId);
    void applyVerdict(const QString &sessionId, Verdict verdict);
    void letThrough(const QString &sessionId);
    void block(const QString &targetId, const QString &sessionId, const NewWindowRequestPtr &request = {});
    int sendClose(Blocked &b, CdpConnection::Reply onFailure = {});
    void finishBlock(const QString &sessionId);
    void failRequest(const QString &sessionId, const QString &requestId);
    void forgetHeld(const QString &sessionId);
    void abandonHeld(const QHash<QString, Held> &held);
    void loseAll(Loss why);

    CdpEndpoint m_endpoint;
    Options m_options;
    QString m_secret;
    QString m_script;
    QStringList m_hosts; // loopback addresses still to try
    CdpConnection *m_conn = nullptr;
    bool m_everOpened = false;
    bool m_ready = false;
    bool m_lost = false;
    bool m_releasing = false;
    bool m_fetchWorks = false;                // the browser has taken a Fetch.enable
    QHash<QString, Created> m_created;        // page targets reported as created, not yet attached; by id
    QHash<QString, Target> m_targets;         // attached page targets, by target id
    QHash<QString, QString> m_sessionTargets; // session id -> target id
    std::vector<QString> m_order;             // registered pages, in order
    QHash<QString, Held> m_held;              // popups awaiting their verdict, by session id
    QHash<QString, Blocked> m_blocked;        // sessions of blocked popups: their requests fail
    std::vector<int> m_releaseCommands;       // sent by releaseAll, awaited by isSettled
};

} // namespace wendral::cdp
