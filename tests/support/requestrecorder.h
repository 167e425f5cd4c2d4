#pragma once
// Drives the popup decision the way a browser does, one request at a time, and
// records every verdict a request receives, so that tests can tell a verdict
// given at once from one given later, and catch a request settled twice. Also
// names verdicts and outcomes in QCOMPARE failure messages.

#include "core/popupdecision.h"
#include "support/memorybrowsers.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <memory>
#include <optional>

namespace wendral {

// Found by argument-dependent lookup when QCOMPARE prints a mismatch.
inline char *toString(Verdict verdict)
{
    return qstrdup(verdict == Verdict::Allow ? "Allow" : "Block");
}

inline char *toString(const std::optional<Verdict> &verdict)
{
    return verdict ? toString(*verdict) : qstrdup("(none)");
}

inline char *toString(MemoryBrowser::Outcome outcome)
{
    switch (outcome) {
    case MemoryBrowser::Outcome::Allowed:
        return qstrdup("Allowed");
    case MemoryBrowser::Outcome::Blocked:
        return qstrdup("Blocked");
    case MemoryBrowser::Outcome::Waiting:
        return qstrdup("Waiting");
    }
    return qstrdup("?");
}

namespace test {

// One request as its browser sees it.
struct RecordedRequest
{
    PopupDecider::RequestId id = 0;
    QList<Verdict> verdicts; // every verdict received, in order
    bool returned = false;   // decide() has returned

    bool isSettled() const { return !verdicts.isEmpty(); }
    // The one verdict; no value while none came (or when more than one did).
    std::optional<Verdict> verdict() const
    {
        if (verdicts.size() != 1)
            return std::nullopt;
        return verdicts.constFirst();
    }
};
using RecordedRequestPtr = std::shared_ptr<RecordedRequest>;

// Asks the decider about one new-window request of a page with this address
// (no value: the address cannot be read). `onSettle` runs inside the verdict,
// after it was recorded.
inline RecordedRequestPtr requestDecision(PopupDecider &decider, const std::optional<QString> &pageUrl,
                                          std::function<void(Verdict)> onSettle = {})
{
    auto request = std::make_shared<RecordedRequest>();
    std::weak_ptr<RecordedRequest> weak = request;
    request->id = decider.decide(pageUrl, [weak, onSettle](Verdict verdict) {
        if (auto r = weak.lock())
            r->verdicts.append(verdict);
        if (onSettle)
            onSettle(verdict);
    });
    request->returned = true;
    return request;
}

// How a request stood when decide() returned. Inconsistent: a verdict came
// and an id was returned too, no verdict came and no id was returned, or more
// than one verdict came.
enum class DecisionOutcome
{
    Allowed,
    Blocked,
    Waiting,
    Inconsistent,
};

inline DecisionOutcome outcomeOf(const RecordedRequest &request)
{
    if (request.verdicts.size() > 1)
        return DecisionOutcome::Inconsistent;
    if (request.verdicts.isEmpty())
        return request.id != 0 ? DecisionOutcome::Waiting : DecisionOutcome::Inconsistent;
    if (request.id != 0)
        return DecisionOutcome::Inconsistent;
    return request.verdicts.constFirst() == Verdict::Allow ? DecisionOutcome::Allowed : DecisionOutcome::Blocked;
}

inline char *toString(DecisionOutcome outcome)
{
    switch (outcome) {
    case DecisionOutcome::Allowed:
        return qstrdup("Allowed");
    case DecisionOutcome::Blocked:
        return qstrdup("Blocked");
    case DecisionOutcome::Waiting:
        return qstrdup("Waiting");
    case DecisionOutcome::Inconsistent:
        return qstrdup("Inconsistent");
    }
    return qstrdup("?");
}

} // namespace test
} // namespace wendral
