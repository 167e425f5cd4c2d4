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
        CdpLimits limits;
        // How long the set-up commands may take before the peer counts as broken.
        int setupTimeoutMs = 5000;
        // A blocked popup that makes no request (a blank window a script fills)
        // is closed after this long.
        int blockedCloseDelayMs = 1500;
        // Page targets kept per browser; beyond this, new targets are only resumed.
        int maxTargets = 2000;
        // Longest wait for a new page's status script to be in place before
        // the page is resumed anyway.
        int armWaitMs = 300;
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
    // Popups still held, undecided or being decided.
    int heldCount() const;

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
    struct Target
    {
        QString targetId;
        QString sessionId;
        QString type;
        QString openerId;
        std::shared_ptr<CdpPage> page; // page targets only
        bool registered = false;       // counts as an open window
        bool armed = false;            // the status script is in place
        bool resumeWhenArmed = false;
    };
    enum class Phase
    {
        Waiting,
        Deciding,
        Blocking,
        Releasing
    };
    struct Held
    {
        QString targetId;
        QString sessionId;
        QString openerId;
        Phase phase = Phase::Waiting;
        bool resumed = false;
        NewWindowRequestPtr request; // while the decision is out
    };

    void openNext();
    void onOpened();
    void onFailed(const QString &reason);
    void onEvent(const QString &method, const QJsonObject &params, const QString &sessionId);
    void onAttached(const QJsonObject &params);
    void onDetached(const QJsonObject &params);
    void onTargetDestroyed(const QString &targetId);
    void onRequestPaused(const QJsonObject &params, const QString &sessionId);
    void onBindingCalled(const QJsonObject &params, const QString &sessionId);

    void armPage(const QString &sessionId, bool loaded);
    void armed(const QString &sessionId);
    void runStatusScript(const QString &sessionId);
    void resumeArmed(Target &t);
    int resume(const QString &sessionId, int timeoutMs = -1);
    void registerPage(Target &t);
    void revokePage(Target &t);
    void decide(const QString &sessionId);
    void applyVerdict(const QString &sessionId, Verdict verdict);
    void letThrough(const QString &sessionId);
    void block(const QString &sessionId);
    void finishBlock(const QString &sessionId);
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
    QHash<QString, Target> m_targets;         // by target id
    QHash<QString, QString> m_sessionTargets; // session id -> target id
    std::vector<QString> m_order;             // registered pages, in order
    QHash<QString, Held> m_held;              // by session id
    QSet<QString> m_blocked;                  // sessions of blocked popups: their requests fail
    std::vector<int> m_releaseCommands;       // sent by releaseAll, awaited by isSettled
};

} // namespace wendral::cdp
