#pragma once
// The popup decision: whether a new-window request from a browser goes through
// or is blocked. The browser holds the new window until it is told, so the
// decision never waits: a verdict that needs no question is delivered before
// decide() returns; one that needs the setup-mode question is delivered when
// the question is answered. Qt Core only: the options and the question reach it
// through narrow interfaces, so it runs (and is tested) without any widget.

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace wendral {

struct ProgramState;
class SiteLists;

enum class Verdict
{
    Allow,
    Block,
};

// The option boxes the decision reads at every request.
class DecisionOptions
{
public:
    virtual ~DecisionOptions() = default;
    virtual bool blockingEnabled() const = 0;
    virtual bool setupMode() const = 0;
    virtual bool soundOnBlock() const = 0;
    virtual bool allowLinkPopups() const = 0;
};

// The setup-mode question about a site on neither list. ask() shows it and
// returns at once (false when it cannot be shown); the answer comes back later
// through PopupDecider::answer(). withdraw() takes the question away when no
// request waits for it any more.
class SiteQuestion
{
public:
    virtual ~SiteQuestion() = default;
    virtual bool ask(const QString &siteName) = 0;
    virtual void withdraw() = 0;
};

// The question's answers; Dismissed is its close box, which blocks.
enum class SiteAnswer
{
    AllowAlways,
    BlockAlways,
    AllowOnce,
    BlockOnce,
    Dismissed,
};

// The site name of a page address: the host part of an http or https address
// (with any user name, password and port), in the case the address gives it.
QString siteNameOf(const QString &url);

// When a blocked request counts (the count, the blocked() signal and the
// sound): as soon as it is decided, or only once the browser has confirmed
// that the window really existed and is closed (a browser whose reports of new
// windows a local program could make up).
enum class BlockCount
{
    OnDecision,
    OnConfirmation,
};

class PopupDecider : public QObject
{
    Q_OBJECT
public:
    using Settle = std::function<void(Verdict)>;
    using RequestId = quint64;

    PopupDecider(ProgramState &state, SiteLists &lists, QObject *parent = nullptr);
    ~PopupDecider() override;

    // Not owned; nullptr uninstalls. Without options every request goes
    // through; without a question a request that needs one goes through.
    void setOptions(DecisionOptions *options) { m_options = options; }
    DecisionOptions *options() const { return m_options; }
    void setQuestion(SiteQuestion *question) { m_question = question; }
    SiteQuestion *question() const { return m_question; }
    // Plays the blocking sound (the second block step, when the option is on).
    void setBlockSound(std::function<void()> play) { m_playSound = std::move(play); }

    // Decides one new-window request of a page with this address (no value:
    // the address could not be read, and the request goes through). Returns 0
    // when settle has run already; otherwise the request waits for the
    // question and the result names it for withdraw().
    RequestId decide(const std::optional<QString> &pageUrl, Settle settle, BlockCount count = BlockCount::OnDecision);
    // Counts a block decided with BlockCount::OnConfirmation, now that its
    // window is confirmed gone.
    void confirmBlocked();

    // The question's answer, for every request waiting on it. "Allow Always"
    // adds the site text to the allowed list and rewrites its file; "Block
    // Always" appends it to the disallowed list.
    void answer(SiteAnswer answer, const QString &siteText);
    // The request's popup went away while it waited: it is forgotten, and the
    // question goes when nothing else waits on it.
    void withdraw(RequestId id);
    // The program is ending: every waiting request is let through and the
    // question withdrawn; requests from now on go through without a question.
    void releaseAll();

    bool isAsking() const { return !m_waiting.isEmpty(); }
    int waitingCount() const { return static_cast<int>(m_waiting.size()); }
    // The site name the open question shows (empty when none is open).
    QString askedSite() const { return m_askedSite; }

    // The latest status text of any browser (the address of the link under
    // the mouse, or empty), which the link exception reads.
    void setLastStatusText(const QString &text);

signals:
    // A request was blocked and counted.
    void blocked();

private:
    struct Waiting
    {
        Settle settle;
        BlockCount count = BlockCount::OnDecision;
    };
    Verdict blockRequest(BlockCount count);
    void countBlocked();
    void settleAll(Verdict verdict);

    ProgramState &m_state;
    SiteLists &m_lists;
    DecisionOptions *m_options = nullptr;
    SiteQuestion *m_question = nullptr;
    std::function<void()> m_playSound;
    QHash<RequestId, Waiting> m_waiting;
    RequestId m_nextId = 1;
    QString m_askedSite;
    bool m_released = false;
};

} // namespace wendral
