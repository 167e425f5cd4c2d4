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
    QUrl url(QStringLiteral("ws://%1:%2%3").arg(host).arg(m_endpoint.port).arg(m_endpoint.browserPath));
    m_conn = new CdpConnection(url, m_options.limits, this);
    connect(m_conn, &CdpConnection::opened, this, &CdpBrowser::onOpened);
    connect(m_conn, &CdpConnection::event, this, &CdpBrowser::onEvent);
    // Failures are handled once control is back in the event loop, never in
    // the middle of whatever code sent the command that found it.
    connect(m_conn, &CdpConnection::failed, this, &CdpBrowser::onFailed, Qt::QueuedConnection);
    m_conn->open();
}

void CdpBrowser::onOpened()
{
    qCDebug(lcCdp) << "connected" << m_endpoint.dataDir << m_conn->url();
    m_everOpened = true;
    const int setupTimeout = m_options.setupTimeoutMs;
    auto check = [this](ReplyStatus st) {
        if (st != ReplyStatus::Ok && m_conn && !m_lost)
            onFailed(QStringLiteral("set-up refused"));
    };
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
    qCDebug(lcCdp) << "browser" << m_endpoint.dataDir << (m_conn ? m_conn->url() : QUrl()) << reason;
    if (!m_everOpened && !m_hosts.isEmpty() && !reason.contains(QLatin1String("timed out"))) {
        openNext(); // refused on IPv4: the browser may listen on ::1 only
        return;
    }
    Loss why = Loss::Broken;
    if (!m_everOpened && !reason.contains(QLatin1String("timed out")))
        why = Loss::Refused;
    else if (m_everOpened && reason == QLatin1String("connection closed"))
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
    return static_cast<int>(m_held.size());
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
    // Never awaited: for a popup that navigates away from its opener the answer
    // comes only when its navigation proceeds.
    return m_conn->send(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, sessionId, {}, timeoutMs);
}

void CdpBrowser::onEvent(const QString &method, const QJsonObject &params, const QString &sessionId)
{
    if (m_lost)
        return;
    if (method == QLatin1String("Target.attachedToTarget")) {
        if (sessionId.isEmpty())
            onAttached(params);
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        onDetached(params);
    } else if (method == QLatin1String("Target.targetInfoChanged")) {
        const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
        const auto it = m_targets.find(info.value(QStringLiteral("targetId")).toString());
        if (it != m_targets.end() && it->page)
            it->page->setUrl(info.value(QStringLiteral("url")).toString());
    } else if (method == QLatin1String("Target.targetDestroyed")) {
        onTargetDestroyed(params.value(QStringLiteral("targetId")).toString());
    } else if (method == QLatin1String("Fetch.requestPaused")) {
        onRequestPaused(params, sessionId);
    } else if (method == QLatin1String("Runtime.bindingCalled")) {
        onBindingCalled(params, sessionId);
    } else if (method == QLatin1String("Page.domContentEventFired")) {
        // A document that loaded while its page was being armed may have
        // missed the new-document script.
        if (m_sessionTargets.contains(sessionId))
            runStatusScript(sessionId);
    }
    // Every other event is of no interest.
}

void CdpBrowser::onAttached(const QJsonObject &params)
{
    const QString sessionId = params.value(QStringLiteral("sessionId")).toString();
    const QJsonObject info = params.value(QStringLiteral("targetInfo")).toObject();
    const QString targetId = info.value(QStringLiteral("targetId")).toString();
    const bool waiting = params.value(QStringLiteral("waitingForDebugger")).toBool();
    if (sessionId.isEmpty() || targetId.isEmpty())
        return;
    const QString type = info.value(QStringLiteral("type")).toString();
    if (type != kPage || (m_targets.size() >= m_options.maxTargets && !m_targets.contains(targetId))) {
        // Workers and the like are no windows: let them run and let them go.
        if (waiting)
            resume(sessionId, 0);
        m_conn->send(QStringLiteral("Target.detachFromTarget"), {{QStringLiteral("sessionId"), sessionId}});
        return;
    }

    Target &t = m_targets[targetId];
    if (!t.sessionId.isEmpty() && t.sessionId != sessionId)
        m_sessionTargets.remove(t.sessionId);
    t.targetId = targetId;
    t.sessionId = sessionId;
    t.type = type;
    t.openerId = info.value(QStringLiteral("openerId")).toString();
    const QString url = info.value(QStringLiteral("url")).toString();
    if (!t.page)
        t.page = std::make_shared<CdpPage>(this, targetId, url);
    else
        t.page->setUrl(url);
    m_sessionTargets.insert(sessionId, targetId);

    // Armed at once, before anything else about the page is known, so that its
    // first document already reports the status text.
    armPage(sessionId, !waiting);

    const auto opener = m_targets.constFind(t.openerId);
    const bool hasOpener = waiting && !t.openerId.isEmpty() && opener != m_targets.constEnd();
    if (hasOpener && !m_releasing && (opener->registered || m_blocked.contains(opener->sessionId))) {
        Held h;
        h.targetId = targetId;
        h.sessionId = sessionId;
        h.openerId = t.openerId;
        m_held.insert(sessionId, h);
        if (opener->registered) {
            decide(sessionId);
        } else {
            // Opened by a popup that is itself being blocked (a script can
            // reach into the blank window it got): it goes the same way.
            block(sessionId);
        }
        return;
    }
    // A tab the user opened, a page from before we connected (perhaps a popup
    // an earlier connection left held), or anything while we let go: it runs.
    if (waiting)
        resumeArmed(t);
    else
        resume(sessionId, -1); // releases a popup that an earlier connection left held
    registerPage(t);
}

void CdpBrowser::armPage(const QString &sessionId, bool loaded)
{
    // The script and its binding live in a world of their own: page scripts
    // share the DOM events with it but can neither see nor call the binding.
    // Without the Page domain the new-document script never runs; without the
    // Runtime domain the binding does not survive a navigation.
    const QString world = QString::fromLatin1(kStatusWorldName);
    m_conn->send(QStringLiteral("Page.enable"), {}, sessionId, {}, 0);
    m_conn->send(QStringLiteral("Runtime.enable"), {}, sessionId, {}, 0);
    m_conn->send(QStringLiteral("Runtime.addBinding"),
                 {{QStringLiteral("name"), bindingName()}, {QStringLiteral("executionContextName"), world}}, sessionId,
                 {}, 0);
    m_conn->send(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                 {{QStringLiteral("source"), m_script}, {QStringLiteral("worldName"), world}}, sessionId,
                 [this, sessionId](ReplyStatus, const QJsonObject &) { armed(sessionId); });
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

void CdpBrowser::armed(const QString &sessionId)
{
    const auto it = m_targets.find(m_sessionTargets.value(sessionId));
    if (it == m_targets.end() || it->sessionId != sessionId)
        return;
    it->armed = true;
    if (it->resumeWhenArmed) {
        it->resumeWhenArmed = false;
        resume(sessionId, 0);
    }
}

void CdpBrowser::resumeArmed(Target &t)
{
    // A page resumed before its script is in place may load its first document
    // without it; the answer comes within milliseconds, and a page whose answer
    // does not come is resumed all the same a little later.
    if (t.armed) {
        resume(t.sessionId, 0);
        return;
    }
    t.resumeWhenArmed = true;
    QTimer::singleShot(m_options.armWaitMs, this, [this, targetId = t.targetId, sessionId = t.sessionId] {
        const auto it = m_targets.find(targetId);
        if (it != m_targets.end() && it->sessionId == sessionId && it->resumeWhenArmed) {
            it->resumeWhenArmed = false;
            resume(sessionId, 0);
        }
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
    if (held == m_held.end() || held->phase != Phase::Waiting)
        return;
    held->phase = Phase::Deciding;
    const auto opener = m_targets.constFind(held->openerId);
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
    held->request = request;
    bool raised = false;
    try {
        raised = page->requestNewWindow(request);
    } catch (...) {
        raised = false; // a failed decision lets the request through
    }
    if (!raised)
        request->settle(Verdict::Allow);
}

void CdpBrowser::applyVerdict(const QString &sessionId, Verdict verdict)
{
    const auto held = m_held.find(sessionId);
    if (m_lost || held == m_held.end() || held->phase != Phase::Deciding)
        return;
    held->request.reset();
    if (verdict == Verdict::Block)
        block(sessionId);
    else
        letThrough(sessionId);
}

void CdpBrowser::letThrough(const QString &sessionId)
{
    const auto held = m_held.find(sessionId);
    if (held == m_held.end())
        return;
    const QString targetId = held->targetId;
    m_held.erase(held);
    const auto t = m_targets.find(targetId);
    if (t == m_targets.end()) {
        resume(sessionId, 0);
        return;
    }
    resumeArmed(*t);
    registerPage(*t);
}

void CdpBrowser::block(const QString &sessionId)
{
    const auto held = m_held.find(sessionId);
    if (held == m_held.end())
        return;
    held->phase = Phase::Blocking;
    m_blocked.insert(sessionId);
    // Closing a held popup outright would leave its opener unable to open any
    // window again; instead its requests are failed before any leaves, and the
    // window is closed once it runs.
    m_conn->send(
        QStringLiteral("Fetch.enable"),
        {{QStringLiteral("patterns"), QJsonArray{QJsonObject{{QStringLiteral("urlPattern"), QStringLiteral("*")}}}}},
        sessionId, [this, sessionId](ReplyStatus st, const QJsonObject &) {
            const auto h = m_held.find(sessionId);
            if (h == m_held.end() || h->phase != Phase::Blocking || h->resumed)
                return;
            h->resumed = true;
            resume(sessionId, 0);
            if (st != ReplyStatus::Ok) {
                // Its requests cannot be stopped: close it as soon as it runs.
                finishBlock(sessionId);
                return;
            }
            // A popup that requests nothing (a blank window that a script
            // fills) is closed after a short while.
            QTimer::singleShot(m_options.blockedCloseDelayMs, this, [this, sessionId] {
                const auto h2 = m_held.find(sessionId);
                if (h2 != m_held.end() && h2->phase == Phase::Blocking)
                    finishBlock(sessionId);
            });
        });
}

void CdpBrowser::finishBlock(const QString &sessionId)
{
    const auto held = m_held.find(sessionId);
    if (held == m_held.end())
        return;
    const QString targetId = held->targetId;
    m_held.erase(held);
    closeTarget(targetId);
}

void CdpBrowser::onRequestPaused(const QJsonObject &params, const QString &sessionId)
{
    const QString requestId = params.value(QStringLiteral("requestId")).toString();
    if (requestId.isEmpty())
        return;
    if (!m_blocked.contains(sessionId)) {
        // Interception is only ever switched on for blocked popups; anything
        // else paused goes on unchanged.
        m_conn->send(QStringLiteral("Fetch.continueRequest"), {{QStringLiteral("requestId"), requestId}}, sessionId);
        return;
    }
    m_conn->send(
        QStringLiteral("Fetch.failRequest"),
        {{QStringLiteral("requestId"), requestId}, {QStringLiteral("errorReason"), QStringLiteral("BlockedByClient")}},
        sessionId);
    const auto held = m_held.constFind(sessionId);
    if (held != m_held.constEnd() && held->phase == Phase::Blocking)
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
    for (const Held &h : held) {
        if (h.phase == Phase::Blocking) {
            // Already decided: it goes, but it must not load on our way out.
            if (!h.resumed)
                resume(h.sessionId, 0);
            if (const int id =
                    m_conn->send(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), h.targetId}}))
                m_releaseCommands.push_back(id);
            continue;
        }
        if (const int id = resume(h.sessionId))
            m_releaseCommands.push_back(id);
        const auto t = m_targets.find(h.targetId);
        if (t != m_targets.end())
            registerPage(*t);
    }
    // Pages let through a moment ago may still wait for their status script:
    // on the way out nobody waits for it.
    for (Target &t : m_targets) {
        if (!t.resumeWhenArmed)
            continue;
        t.resumeWhenArmed = false;
        if (const int id = resume(t.sessionId))
            m_releaseCommands.push_back(id);
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
