#include "blocking/cdp/cdpbrowser.h"

#include <QJsonArray>
#include <QLoggingCategory>
#include <QSignalBlocker>
#include <QTimer>

namespace wendral::cdp {

Q_LOGGING_CATEGORY(lcCdp, "wendral.cdp", QtWarningMsg)

namespace {

const QString kPage = QStringLiteral("page");
QString bindingName()
{
    return QString::fromLatin1(kStatusBindingName);
}

QString jsString(const QString &s)
{
    QString out = QStringLiteral("'");
    for (const QChar c : s) {
        if (c == u'\'' || c == u'\\')
            out += u'\\';
        if (c.unicode() < 0x20)
            continue;
        out += c;
    }
    return out + u'\'';
}

} // namespace

// The script reports the address of the link under the mouse, and "" when the
// mouse leaves it. It runs in an isolated world that page scripts cannot reach;
// the listeners sit on the window, which outlives a same-origin popup's first
// blank document, and the marker keeps a reused window from getting them twice.
// Every report starts with the secret, so that nothing but this script can make
// status text even if the binding were reachable.
QString statusScript(const QString &secret)
{
    return QStringLiteral("(function () {\n"
                          "  var send = window.%1;\n"
                          "  if (typeof send !== 'function') return;\n"
                          "  var mark = Symbol.for('wendral.status');\n"
                          "  if (window[mark]) return;\n"
                          "  try { Object.defineProperty(window, mark, { value: true }); } catch (e) { return; }\n"
                          "  var secret = %2, last = '';\n"
                          "  function linkOf(n) {\n"
                          "    for (; n; n = n.parentNode) {\n"
                          "      if (n.nodeType === 1 && (n.localName === 'a' || n.localName === 'area')"
                          " && typeof n.href === 'string' && n.href) return n.href;\n"
                          "    }\n"
                          "    return '';\n"
                          "  }\n"
                          "  function report(t) { if (t === last) return; last = t;"
                          " try { send(secret + t); } catch (e) {} }\n"
                          "  window.addEventListener('mouseover', function (e) { report(linkOf(e.target)); }, true);\n"
                          "  window.addEventListener('mouseout', function (e) { report(linkOf(e.relatedTarget)); },"
                          " true);\n"
                          "})();")
        .arg(bindingName(), jsString(secret));
}

std::optional<QString> statusTextFromPayload(const QString &payload, const QString &secret)
{
    if (secret.isEmpty() || !payload.startsWith(secret))
        return std::nullopt;
    QString text = payload.mid(secret.size(), kMaxStatusTextChars);
    // One line of plain text: control characters go.
    text.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    return text;
}

CdpPage::CdpPage(CdpBrowser *browser, const QString &targetId, const QString &url)
    : m_browser(browser), m_targetId(targetId), m_url(url)
{}

std::optional<QString> CdpPage::pageUrl() const
{
    if (m_gone || !m_browser)
        return std::nullopt;
    return m_url;
}

void CdpPage::close()
{
    if (!m_gone && m_browser)
        m_browser->closeTarget(m_targetId);
}

CdpBrowser::CdpBrowser(const CdpEndpoint &endpoint, const Options &options, const QString &statusSecret,
                       QObject *parent)
    : QObject(parent), m_endpoint(endpoint), m_options(options), m_secret(statusSecret),
      m_script(statusScript(statusSecret))
{
    // Only the loopback interface, never an address a file could name.
    m_hosts = {QStringLiteral("127.0.0.1"), QStringLiteral("[::1]")};
}

CdpBrowser::~CdpBrowser()
{
    // Nothing may stay held by a connection that goes away: popups still held
    // are let through (one being blocked is closed) and whoever decides them
    // is told. A connection already lost or closed has released them before.
    if (!m_lost) {
        const QSignalBlocker quiet(this); // no page comes or goes any more
        releaseAll();
    }
    for (auto &t : m_targets) {
        if (t.page)
            t.page->setGone();
    }
}

void CdpBrowser::start()
{
    openNext();
}

void CdpBrowser::openNext()
{
    if (m_conn) {
        m_conn->disconnect(this);
        m_conn->deleteLater();
        m_conn = nullptr;
    }
    const QString host = m_hosts.takeFirst();
    const QUrl url(QStringLiteral("ws://%1:%2%3").arg(host).arg(m_endpoint.port).arg(m_endpoint.browserPath));
    CdpChannel *channel = m_options.channelFactory ? m_options.channelFactory(url, m_options.limits.maxMessageBytes)
                                                   : new WebSocketChannel(url, m_options.limits.maxMessageBytes);
    m_conn = new CdpConnection(channel, m_options.limits, this);
    connect(m_conn, &CdpConnection::opened, this, &CdpBrowser::onOpened);
    connect(m_conn, &CdpConnection::eventReceived, this, &CdpBrowser::onEvent);
    // Failures are handled once control is back in the event loop, never in
    // the middle of whatever code sent the command that found it.
    connect(m_conn, &CdpConnection::failed, this, &CdpBrowser::onFailed, Qt::QueuedConnection);
    m_conn->open();
}

void CdpBrowser::onOpened()
{
    qCDebug(lcCdp) << "connected" << m_endpoint.dataDir << m_conn->description();
    m_everOpened = true;
    const int setupTimeout = m_options.setupTimeoutMs;
    auto check = [this](ReplyStatus st) {
        if (st != ReplyStatus::Ok && m_conn && !m_lost)
            onFailed(QStringLiteral("set-up refused"));
    };
    // Discovery first: the browser then reports every page as created before
    // it attaches it, which is what tells a real popup from a made-up one.
    m_conn->send(
        QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}}, {},
        [check](ReplyStatus st, const QJsonObject &) { check(st); }, setupTimeout);
    m_conn->send(
        QStringLiteral("Target.setAutoAttach"),
        {{QStringLiteral("autoAttach"), true},
         {QStringLiteral("waitForDebuggerOnStart"), true},
         {QStringLiteral("flatten"), true}},
        {},
        [this, check](ReplyStatus st, const QJsonObject &) {
            check(st);
            if (st == ReplyStatus::Ok && !m_lost && !m_ready) {
                m_ready = true;
                emit ready();
            }
        },
        setupTimeout);
}

void CdpBrowser::onFailed(const QString &reason)
{
    if (m_lost)
        return;
    qCDebug(lcCdp) << "browser" << m_endpoint.dataDir << (m_conn ? m_conn->description() : QString()) << reason;
    if (!m_everOpened && !m_hosts.isEmpty() && !reason.contains(QLatin1String("timed out"))) {
        openNext(); // refused on IPv4: the browser may listen on ::1 only
        return;
    }
    Loss why = Loss::Broken;
    if (!m_everOpened && !reason.contains(QLatin1String("timed out")))
        why = Loss::Refused;
    else if (m_everOpened && reason == QLatin1String(kChannelClosed))
        why = Loss::Closed;
    loseAll(why);
}

void CdpBrowser::loseAll(Loss why)
{
    if (m_lost)
        return;
    m_lost = true;
    m_ready = false;
    if (m_conn) {
        m_conn->disconnect(this);
        m_conn->close();
    }
    abandonHeld(std::exchange(m_held, {}));
    m_blocked.clear();
    m_created.clear();
    m_sessionTargets.clear();
    const std::vector<QString> order = std::exchange(m_order, {});
    for (auto &t : m_targets) {
        if (t.page)
            t.page->setGone();
    }
    m_targets.clear();
    for (size_t i = 0; i < order.size(); ++i)
        emit pageRevoked();
    emit lost(why);
}

void CdpBrowser::close()
{
    if (m_conn) {
        m_conn->disconnect(this);
        m_conn->close();
    }
    m_lost = true;
    m_ready = false;
    for (auto &t : m_targets) {
        if (t.page)
            t.page->setGone();
    }
}

QList<BrowserPtr> CdpBrowser::pages() const
{
    QList<BrowserPtr> out;
    out.reserve(static_cast<qsizetype>(m_order.size()));
    for (const QString &id : m_order) {
        const auto it = m_targets.constFind(id);
        if (it != m_targets.constEnd() && it->page)
            out.append(it->page);
    }
    return out;
}

int CdpBrowser::heldCount() const
{
    const auto waitingClose =
        std::count_if(m_blocked.begin(), m_blocked.end(), [](const Blocked &b) { return !b.closing; });
    return static_cast<int>(m_held.size() + waitingClose);
}

void CdpBrowser::closeTarget(const QString &targetId)
{
    if (m_conn && !m_lost)
        m_conn->send(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), targetId}});
}

int CdpBrowser::resume(const QString &sessionId, int timeoutMs)
{
    if (!m_conn || m_lost)
        return 0;
    // Not awaited by the engine: for a popup that navigates away from its
    // opener the answer comes only when its navigation proceeds. Unanswered,
    // it is forgotten when the session goes (0 = no time-out of its own).
    return m_conn->send(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, sessionId, {}, timeoutMs);
}

void CdpBrowser::onEvent(const QString &method, const QJsonObject &params, const QString &sessionId)
{
    if (m_lost)
        return;
    if (method == QLatin1String("Target.attachedToTarget")) {
        // Only the browser's own attachments: with flat sessions, nothing is
        // attached inside a page's session unless we asked for it.
        if (sessionId.isEmpty())
            onAttached(params);
    } else if (method == QLatin1String("Target.targetCreated")) {
        if (sessionId.isEmpty())
            onCreated(params.value(QStringLiteral("targetInfo")).toObject());
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        if (sessionId.isEmpty())
            onDetached(params);
    } else if (method == QLatin1String("Target.targetInfoChanged")) {
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        const auto it = m_targets.find(info.value(QStringLiteral("targetId")).toString());
        if (it != m_targets.end() && it->page)
            it->page->setUrl(info.value(QStringLiteral("url")).toString());
    } else if (method == QLatin1String("Target.targetDestroyed")) {
        if (sessionId.isEmpty())
            onTargetDestroyed(params.value(QStringLiteral("targetId")).toString());
    } else if (method == QLatin1String("Fetch.requestPaused")) {
        onRequestPaused(params, sessionId);
    } else if (method == QLatin1String("Runtime.bindingCalled")) {
        onBindingCalled(params, sessionId);
    } else if (method == QLatin1String("Page.domContentEventFired")) {
        const auto it = m_targets.find(m_sessionTargets.value(sessionId));
        if (it == m_targets.end() || it->sessionId != sessionId)
            return;
        it->resumeDue = false; // it runs
        // A document that loaded while its page was being armed may have
        // missed the new-document script.
        if (m_options.rerunStatusScriptOnLoad && it->armed)
            runStatusScript(sessionId);
    } else if (method == QLatin1String("Page.frameNavigated")) {
        // A document of its own in the main frame: the page runs.
        const QJsonObject frame = params.value(QStringLiteral("frame")).toObject();
        const auto it = m_targets.find(m_sessionTargets.value(sessionId));
        if (it != m_targets.end() && it->sessionId == sessionId && !frame.contains(QStringLiteral("parentId")))
            it->resumeDue = false;
    }
    // Every other event is of no interest.
}

void CdpBrowser::onCreated(const QJsonObject &info)
{
    const QString targetId = info.value(QStringLiteral("targetId")).toString();
    if (targetId.isEmpty() || info.value(QStringLiteral("type")).toString() != kPage)
        return;
    const QString openerId = info.value(QStringLiteral("openerId")).toString();
    if (const auto opener = m_targets.find(openerId); !openerId.isEmpty() && opener != m_targets.end())
        opener->resumeDue = false; // it opened a window: it runs (see resumeUnlessRunning)
    const auto attached = m_targets.find(targetId);
    if (attached != m_targets.end()) {
        // Reported after it attached: never decided (see isRealPopup), but
        // a window all the same once it runs.
        if (!attached->created && attached->openerId == openerId) {
            attached->created = true;
            if (!m_held.contains(attached->sessionId) && !m_blocked.contains(attached->sessionId))
                registerPage(*attached);
        }
        return;
    }
    if (m_created.contains(targetId) || m_created.size() >= m_options.maxTargets)
        return; // the first report stands; beyond the bound the target is not known as created
    m_created.insert(targetId, Created{openerId});
}

bool CdpBrowser::isRealPopup(const Target &t, const QString &openerId) const
{
    // Only a popup that the browser really opened may reach the decision, as
    // the decision counts the popups it blocks. The browser reports each new
    // page with Target.targetCreated (naming its opener) before it attaches
    // it, on the browser's own session; an attachment that does not follow
    // such a report, names another opener, or names an opener that is not
    // one of our registered pages (itself reported the same way), is taken
    // for made up: it is resumed like any other target and never counted.
    if (openerId.isEmpty() || !t.created || t.openerId != openerId || openerId == t.targetId)
        return false;
    const auto opener = m_targets.constFind(openerId);
    return opener != m_targets.constEnd() && opener->registered && opener->page && !opener->page->isGone();
}

void CdpBrowser::onAttached(const QJsonObject &params)
{
    const QString sessionId = params.value(QStringLiteral("sessionId")).toString();
    const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
    const QString targetId = info.value(QStringLiteral("targetId")).toString();
    const bool waiting = params.value(QStringLiteral("waitingForDebugger")).toBool();
    if (sessionId.isEmpty() || targetId.isEmpty())
        return;
    const QString openerId = info.value(QStringLiteral("openerId")).toString();
    const auto sessionOwner = m_sessionTargets.constFind(sessionId);
    if (sessionOwner != m_sessionTargets.constEnd() && *sessionOwner != targetId)
        return; // a session that belongs to another target: made up, and nothing of it is touched
    if (const auto opener = m_targets.find(openerId); !openerId.isEmpty() && opener != m_targets.end())
        opener->resumeDue = false; // it opened a window: it runs (see resumeUnlessRunning)

    const bool known = m_targets.contains(targetId);
    if (info.value(QStringLiteral("type")).toString() != kPage ||
        (!known && m_targets.size() >= m_options.maxTargets)) {
        // Workers and the like are no windows: let them run and let them go.
        // So is every page beyond the bound on targets.
        if (waiting)
            resume(sessionId);
        m_conn->send(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), sessionId}});
        return;
    }

    Target &t = m_targets[targetId];
    if (known) {
        // Attached again under a new session: the same window, not a new popup.
        if (t.sessionId != sessionId) {
            m_sessionTargets.remove(t.sessionId);
            m_conn->dropSession(t.sessionId);
            t.sessionId = sessionId;
            m_sessionTargets.insert(sessionId, targetId);
            t.armed = false; // the script's binding belongs to a session
            if (t.registered)
                armPage(sessionId, !waiting);
        }
        if (waiting && !m_held.contains(sessionId) && !m_blocked.contains(sessionId))
            resume(sessionId);
        return;
    }
    t.targetId = targetId;
    t.sessionId = sessionId;
    t.openerId = openerId;
    const auto created = m_created.constFind(targetId);
    t.created = created != m_created.constEnd() && created->openerId == openerId;
    m_created.remove(targetId);
    t.page = std::make_shared<CdpPage>(this, targetId, info.value(QStringLiteral("url")).toString());
    m_sessionTargets.insert(sessionId, targetId);

    if (waiting && !openerId.isEmpty() && !m_releasing) {
        const auto opener = m_targets.constFind(openerId);
        if (opener != m_targets.constEnd() && m_blocked.contains(opener->sessionId)) {
            // Opened by a popup that is itself being blocked (a script can
            // reach into the blank window it got): it goes the same way,
            // without a decision of its own.
            block(targetId, sessionId);
            return;
        }
        if (isRealPopup(t, openerId)) {
            if (m_held.size() >= m_options.maxHeld) {
                // Too many popups wait for their verdict already: a page that
                // floods is not asked about once more; its window is closed.
                block(targetId, sessionId);
                return;
            }
            Held h;
            h.targetId = targetId;
            h.sessionId = sessionId;
            m_held.insert(sessionId, h);
            decide(sessionId);
            return;
        }
    }
    // A tab the user opened, a page from before we connected (perhaps a popup
    // an earlier connection left held), anything not proven a popup, or
    // anything while we let go: it runs. Armed first, so that its first
    // document already reports the status text.
    armPage(sessionId, !waiting);
    if (!openerId.isEmpty())
        resume(sessionId); // a window that is held until resumed (perhaps by an earlier connection)
    else if (waiting)
        resumeUnlessRunning(t);
    if (t.created)
        registerPage(t);
}

void CdpBrowser::armPage(const QString &sessionId, bool loaded)
{
    // The script and its binding live in a world of their own: page scripts
    // share the DOM events with it but can neither see nor call the binding.
    // Without the Page domain the new-document script never runs; without the
    // Runtime domain the binding does not survive a navigation. The browser
    // handles the commands of one session in order, so a resume sent after
    // these finds the script in place for the first document.
    const auto it = m_targets.find(m_sessionTargets.value(sessionId));
    if (it == m_targets.end() || it->sessionId != sessionId || it->armed)
        return;
    it->armed = true;
    const QString world = QString::fromLatin1(kStatusWorldName);
    m_conn->send(QStringLiteral("Page.enable"), {}, sessionId);
    m_conn->send(QStringLiteral("Runtime.enable"), {}, sessionId);
    m_conn->send(QStringLiteral("Runtime.addBinding"),
                 {{QStringLiteral("name"), bindingName()}, {QStringLiteral("executionContextName"), world}}, sessionId);
    m_conn->send(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                 {{QStringLiteral("source"), m_script}, {QStringLiteral("worldName"), world}}, sessionId);
    if (loaded)
        runStatusScript(sessionId);
}

void CdpBrowser::runStatusScript(const QString &sessionId)
{
    // The page's main frame has the target's id. Running the script again in a
    // document that has it does nothing.
    const QString world = QString::fromLatin1(kStatusWorldName);
    const QString targetId = m_sessionTargets.value(sessionId);
    m_conn->send(QStringLiteral("Page.createIsolatedWorld"),
                 {{QStringLiteral("frameId"), targetId}, {QStringLiteral("worldName"), world}}, sessionId,
                 [this, sessionId](ReplyStatus st, const QJsonObject &r) {
                     const QJsonValue context = r.value(QStringLiteral("executionContextId"));
                     if (st != ReplyStatus::Ok || !context.isDouble() || !m_conn || m_lost)
                         return;
                     m_conn->send(QStringLiteral("Runtime.evaluate"),
                                  {{QStringLiteral("expression"), m_script}, {QStringLiteral("contextId"), context}},
                                  sessionId);
                 });
}

void CdpBrowser::resumeUnlessRunning(Target &t)
{
    // A tab that no page opened is reported as waiting, yet it loads and runs
    // its scripts all the same (its first navigation began before it was
    // attached). Its resume would be taken by its renderer only when the page
    // lets it, and a script that opened a popup meanwhile would see that
    // popup run too, held or not. So such a tab is resumed only when it shows
    // no sign of running for a while: a tab that loads a document or opens a
    // window is never resumed.
    t.resumeDue = true;
    QTimer::singleShot(m_options.quietTabResumeMs, this, [this, targetId = t.targetId, sessionId = t.sessionId] {
        const auto it = m_targets.find(targetId);
        if (it == m_targets.end() || it->sessionId != sessionId || !it->resumeDue)
            return;
        it->resumeDue = false;
        resume(sessionId);
    });
}

void CdpBrowser::registerPage(Target &t)
{
    if (t.registered || !t.page)
        return;
    t.registered = true;
    m_order.push_back(t.targetId);
    emit pageRegistered();
}

void CdpBrowser::revokePage(Target &t)
{
    if (t.page)
        t.page->setGone();
    if (!t.registered)
        return;
    t.registered = false;
    std::erase(m_order, t.targetId);
    emit pageRevoked();
}

void CdpBrowser::onDetached(const QJsonObject &params)
{
    const QString sessionId = params.value(QStringLiteral("sessionId")).toString();
    if (sessionId.isEmpty())
        return;
    m_conn->dropSession(sessionId);
    forgetHeld(sessionId);
    const QString targetId = m_sessionTargets.take(sessionId);
    const auto it = m_targets.find(targetId);
    if (it == m_targets.end() || it->sessionId != sessionId)
        return;
    // Without its session the page can no longer be watched: it stops counting.
    revokePage(*it);
    m_targets.erase(it);
}

void CdpBrowser::onTargetDestroyed(const QString &targetId)
{
    m_created.remove(targetId);
    const auto it = m_targets.find(targetId);
    if (it == m_targets.end())
        return;
    forgetHeld(it->sessionId);
    m_sessionTargets.remove(it->sessionId);
    m_conn->dropSession(it->sessionId);
    revokePage(*it);
    m_targets.erase(it);
}

void CdpBrowser::forgetHeld(const QString &sessionId)
{
    m_blocked.remove(sessionId);
    const auto held = m_held.find(sessionId);
    if (held == m_held.end())
        return;
    const NewWindowRequestPtr request = held->request;
    m_held.erase(held);
    // The popup went while its decision was out: whoever decides it is told.
    if (request)
        request->abandon();
}

void CdpBrowser::abandonHeld(const QHash<QString, Held> &held)
{
    for (const Held &h : held) {
        if (h.request)
            h.request->abandon();
    }
}

void CdpBrowser::decide(const QString &sessionId)
{
    emit decisionStarting();
    const auto held = m_held.find(sessionId);
    if (held == m_held.end() || held->request)
        return;
    const auto target = m_targets.constFind(held->targetId);
    const auto opener = target != m_targets.constEnd() ? m_targets.constFind(target->openerId) : m_targets.constEnd();
    const std::shared_ptr<CdpPage> page = opener != m_targets.constEnd() ? opener->page : nullptr;
    if (!page || page->isGone()) {
        letThrough(sessionId);
        return;
    }
    // The verdict may come at once or when the setup question is answered;
    // this object may be gone by then.
    QPointer<CdpBrowser> self(this);
    auto request = std::make_shared<NewWindowRequest>([self, sessionId](Verdict verdict) {
        if (self)
            self->applyVerdict(sessionId, verdict);
    });
    // A made-up target cannot be closed: the block counts only once the
    // browser has closed the window.
    request->setCountedOnClose();
    held->request = request;
    bool raised = false;
    try {
        raised = page->requestNewWindow(request);
    } catch (...) {
        raised = false; // a failed decision lets the request through
    }
    if (!raised)
        request->settle(Verdict::Allow);
    if (!self || request->isSettled())
        return;
    // The verdict waits (the setup question): armed now, so that the popup
    // runs at once if it is let through.
    armPage(sessionId, false);
}

void CdpBrowser::applyVerdict(const QString &sessionId, Verdict verdict)
{
    const auto held = m_held.constFind(sessionId);
    if (m_lost || held == m_held.constEnd() || !held->request)
        return;
    if (verdict == Verdict::Block) {
        const QString targetId = held->targetId;
        const NewWindowRequestPtr request = held->request;
        m_held.erase(held);
        block(targetId, sessionId, request);
    } else {
        letThrough(sessionId);
    }
}

void CdpBrowser::letThrough(const QString &sessionId)
{
    const auto held = m_held.find(sessionId);
    if (held == m_held.end())
        return;
    const QString targetId = held->targetId;
    m_held.erase(held);
    const auto t = m_targets.find(targetId);
    if (t == m_targets.end() || t->sessionId != sessionId) {
        resume(sessionId);
        return;
    }
    // Armed and resumed in one breath: no answer is awaited in between.
    armPage(sessionId, false);
    resume(sessionId);
    registerPage(*t);
}

void CdpBrowser::block(const QString &targetId, const QString &sessionId, const NewWindowRequestPtr &request)
{
    // Closing a held popup outright would leave its opener unable to open any
    // window again; instead its requests are stopped before any can leave, it
    // is resumed, and it is closed as soon as its first request is held (or,
    // when it requests nothing, after a short while).
    Blocked &b = m_blocked[sessionId];
    b.targetId = targetId;
    b.request = request;
    const auto resumeNow = [this, sessionId] {
        const auto it = m_blocked.find(sessionId);
        if (it == m_blocked.end() || it->resumed)
            return;
        it->resumed = true;
        resume(sessionId);
        QTimer::singleShot(m_options.blockedCloseDelayMs, this, [this, sessionId] { finishBlock(sessionId); });
    };
    // The browser handles the commands of one session in order: once it has
    // taken one Fetch.enable, the resume that follows it finds the requests
    // held. Until one has been taken, the resume waits for the answer.
    const bool fetchKnown = m_fetchWorks;
    m_conn->send(
        QStringLiteral("Fetch.enable"),
        {{QStringLiteral("patterns"), QJsonArray{QJsonObject{{QStringLiteral("urlPattern"), QStringLiteral("*")}}}}},
        sessionId, [this, sessionId, resumeNow](ReplyStatus st, const QJsonObject &) {
            if (st == ReplyStatus::Ok) {
                m_fetchWorks = true;
                resumeNow();
                return;
            }
            // Its requests cannot be stopped: close it as soon as it runs.
            resumeNow();
            finishBlock(sessionId);
        });
    if (fetchKnown)
        resumeNow();
}

void CdpBrowser::finishBlock(const QString &sessionId)
{
    const auto it = m_blocked.find(sessionId);
    if (it == m_blocked.end() || it->closing || !m_conn || m_lost)
        return;
    // A request held when the target goes dies with it. Should the browser
    // refuse to close the target, its held requests are failed instead.
    sendClose(*it, [this, sessionId](ReplyStatus, const QJsonObject &) {
        const auto b = m_blocked.find(sessionId);
        if (b == m_blocked.end())
            return;
        for (const QString &requestId : std::exchange(b->pausedRequests, {}))
            failRequest(sessionId, requestId);
    });
}

int CdpBrowser::sendClose(Blocked &b, CdpConnection::Reply onFailure)
{
    b.closing = true;
    // Only a close that the browser carried out counts the popup as blocked:
    // a target it never had cannot be closed. The target may be reported
    // gone before the answer comes, so the request travels with the command.
    return m_conn->send(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), b.targetId}}, {},
                        [request = std::exchange(b.request, {}), onFailure](ReplyStatus st, const QJsonObject &r) {
                            if (st == ReplyStatus::Ok) {
                                if (request)
                                    request->confirmClosed();
                            } else if (onFailure) {
                                onFailure(st, r);
                            }
                        });
}

void CdpBrowser::failRequest(const QString &sessionId, const QString &requestId)
{
    m_conn->send(
        QStringLiteral("Fetch.failRequest"),
        {{QStringLiteral("requestId"), requestId}, {QStringLiteral("errorReason"), QStringLiteral("BlockedByClient")}},
        sessionId);
}

void CdpBrowser::onRequestPaused(const QJsonObject &params, const QString &sessionId)
{
    const QString requestId = params.value(QStringLiteral("requestId")).toString();
    if (requestId.isEmpty())
        return;
    const auto blocked = m_blocked.find(sessionId);
    if (blocked == m_blocked.end()) {
        // Interception is only ever switched on for blocked popups; anything
        // else paused goes on unchanged.
        m_conn->send(QStringLiteral("Fetch.continueRequest"), {{QStringLiteral("requestId"), requestId}}, sessionId);
        return;
    }
    if (blocked->closing || blocked->pausedRequests.size() >= kMaxPausedRequests) {
        // Closing already: whatever else it asks for fails at once.
        failRequest(sessionId, requestId);
        return;
    }
    // Its first request: it stays held, and the window is closed now. Failing
    // it first would make the browser show an error page before it closes.
    blocked->pausedRequests.push_back(requestId);
    finishBlock(sessionId);
}

void CdpBrowser::onBindingCalled(const QJsonObject &params, const QString &sessionId)
{
    if (params.value(QStringLiteral("name")).toString() != bindingName())
        return;
    const auto text = statusTextFromPayload(params.value(QStringLiteral("payload")).toString(), m_secret);
    if (!text)
        return;
    const auto it = m_targets.constFind(m_sessionTargets.value(sessionId));
    if (it == m_targets.constEnd() || !it->registered || !it->page)
        return;
    const std::shared_ptr<CdpPage> page = it->page; // a sink may drop ours meanwhile
    try {
        page->fireStatusTextChange(*text);
    } catch (...) {
    }
}

void CdpBrowser::releaseAll()
{
    m_releasing = true;
    const auto held = std::exchange(m_held, {});
    abandonHeld(held);
    if (!m_conn || m_lost)
        return;
    const auto record = [this](int id) {
        if (id)
            m_releaseCommands.push_back(id);
    };
    for (const Held &h : held) {
        record(resume(h.sessionId, -1));
        const auto t = m_targets.find(h.targetId);
        if (t != m_targets.end())
            registerPage(*t);
    }
    for (auto it = m_blocked.begin(); it != m_blocked.end(); ++it) {
        // Already decided: it goes, but it must not load on our way out.
        if (it->closing)
            continue;
        if (!it->resumed) {
            it->resumed = true;
            resume(it.key());
        }
        record(sendClose(*it));
    }
    // Tabs whose resume was still due: on the way out nobody waits.
    for (Target &t : m_targets) {
        if (!t.resumeDue)
            continue;
        t.resumeDue = false;
        record(resume(t.sessionId, -1));
    }
    m_conn->flush();
}

bool CdpBrowser::isSettled() const
{
    if (!m_conn || m_lost || !m_conn->isOpen())
        return true;
    for (int id : m_releaseCommands) {
        if (m_conn->isPending(id))
            return false;
    }
    return true;
}

} // namespace wendral::cdp
