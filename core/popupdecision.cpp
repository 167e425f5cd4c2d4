#include "core/popupdecision.h"

#include "core/programstate.h"
#include "core/sitelists.h"

#include <limits>

namespace wendral {
namespace {
const QLatin1String kHttp("http://");
const QLatin1String kHttps("https://");
} // namespace

QString siteNameOf(const QString &url)
{
    QString site = url;
    site.remove(kHttp, Qt::CaseInsensitive);
    site.remove(kHttps, Qt::CaseInsensitive);
    const qsizetype slash = site.indexOf(QLatin1Char('/'));
    if (slash >= 0)
        site.truncate(slash + 1);
    site.remove(QLatin1Char('/'));
    return site;
}

PopupDecider::PopupDecider(ProgramState &state, SiteLists &lists, QObject *parent)
    : QObject(parent), m_state(state), m_lists(lists)
{}

PopupDecider::~PopupDecider()
{
    // Nothing may stay held because its decider went away.
    releaseAll();
}

void PopupDecider::setLastStatusText(const QString &text)
{
    m_state.lastStatusText = text;
}

PopupDecider::RequestId PopupDecider::decide(const std::optional<QString> &pageUrl, Settle settle, BlockCount count)
{
    const auto deliver = [&settle](Verdict v) {
        if (settle)
            settle(v);
        return RequestId(0);
    };
    if (!m_options || m_released)
        return deliver(Verdict::Allow);

    // 1. Link exception: a link address under the mouse grants the pass.
    if (m_options->allowLinkPopups() && m_state.lastStatusText.size() > 7) {
        const QString lower = m_state.lastStatusText.toLower();
        if (lower.startsWith(kHttp) || lower.startsWith(kHttps))
            m_state.allowNext = true;
    }

    // 2. The requesting page's site name; a page whose address cannot be read
    // is let through.
    if (!pageUrl)
        return deliver(Verdict::Allow);
    const QString site = siteNameOf(*pageUrl);

    // 3. Blocking off: everything goes through, nothing is counted.
    if (!m_options->blockingEnabled())
        return deliver(Verdict::Allow);

    // 4. The one-shot pass.
    if (m_state.allowNext) {
        m_state.allowNext = false;
        return deliver(Verdict::Allow);
    }

    // 5. Setup mode: allowed list, disallowed list, then ask.
    if (m_options->setupMode()) {
        if (m_lists.allowed().contains(site))
            return deliver(Verdict::Allow);
        if (m_lists.disallowed().contains(site))
            return deliver(blockRequest(count));
        // A request that arrives while the question is open gets its answer.
        const bool asking = !m_waiting.isEmpty();
        const RequestId id = m_nextId++;
        m_waiting.insert(id, Waiting{std::move(settle), count});
        if (!asking) {
            m_askedSite = site;
            if (!m_question || !m_question->ask(site)) {
                m_askedSite.clear();
                const Settle waiting = m_waiting.take(id).settle;
                if (waiting)
                    waiting(Verdict::Allow);
                return 0;
            }
        }
        // A question answered inside ask() has settled the request already.
        return m_waiting.contains(id) ? id : 0;
    }

    // 6. Otherwise the allowed list alone.
    if (m_lists.allowed().contains(site))
        return deliver(Verdict::Allow);
    return deliver(blockRequest(count));
}

Verdict PopupDecider::blockRequest(BlockCount count)
{
    // The block steps, in order: count, sound, block (the first two later,
    // for a block that counts once confirmed).
    if (count == BlockCount::OnDecision)
        countBlocked();
    return Verdict::Block;
}

void PopupDecider::confirmBlocked()
{
    countBlocked();
}

void PopupDecider::countBlocked()
{
    // The count saturates: a count that cannot grow any further must not let
    // the popup through.
    if (m_state.blockedCount < std::numeric_limits<qint32>::max())
        ++m_state.blockedCount;
    emit blocked();
    if (m_options && m_options->soundOnBlock() && m_playSound)
        m_playSound();
}

void PopupDecider::answer(SiteAnswer answer, const QString &siteText)
{
    if (m_waiting.isEmpty() && answer != SiteAnswer::AllowAlways && answer != SiteAnswer::BlockAlways)
        return;
    switch (answer) {
    case SiteAnswer::AllowAlways:
        m_lists.allowed().add(siteText);
        m_lists.allowed().save();
        break;
    case SiteAnswer::BlockAlways:
        m_lists.disallowed().add(siteText);
        break;
    case SiteAnswer::AllowOnce:
    case SiteAnswer::BlockOnce:
    case SiteAnswer::Dismissed:
        break;
    }
    const bool allow = answer == SiteAnswer::AllowAlways || answer == SiteAnswer::AllowOnce;
    if (m_waiting.isEmpty())
        return;
    // Blocked answers run the block steps once per waiting request: each is a
    // popup stopped.
    if (allow || m_released || !m_options) {
        settleAll(Verdict::Allow);
        return;
    }
    const auto waiting = std::exchange(m_waiting, {});
    m_askedSite.clear();
    for (const Waiting &w : waiting) {
        const Verdict v = blockRequest(w.count);
        if (w.settle)
            w.settle(v);
    }
}

void PopupDecider::settleAll(Verdict verdict)
{
    const auto waiting = std::exchange(m_waiting, {});
    m_askedSite.clear();
    for (const Waiting &w : waiting) {
        if (w.settle)
            w.settle(verdict);
    }
}

void PopupDecider::withdraw(RequestId id)
{
    if (!m_waiting.remove(id) || !m_waiting.isEmpty())
        return;
    m_askedSite.clear();
    if (m_question)
        m_question->withdraw();
}

void PopupDecider::releaseAll()
{
    m_released = true;
    const bool asking = !m_waiting.isEmpty();
    settleAll(Verdict::Allow);
    if (asking && m_question)
        m_question->withdraw();
}

} // namespace wendral
