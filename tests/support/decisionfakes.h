#pragma once
// Stand-ins for the main window's option boxes and the setup-mode question, so
// the popup decision runs without widgets.

#include "core/popupdecision.h"

#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

namespace wendral::test {

struct FakeOptions : DecisionOptions
{
    bool blocking = true;
    bool setup = false;
    bool sound = true;
    bool links = false;
    bool blockingEnabled() const override { return blocking; }
    bool setupMode() const override { return setup; }
    bool soundOnBlock() const override { return sound; }
    bool allowLinkPopups() const override { return links; }
};

// Records each question and runs an optional action (typically scheduling an
// answer).
struct FakeQuestion : SiteQuestion
{
    bool canShow = true;
    int shows = 0;
    int withdrawals = 0;
    QString siteAsked;
    std::function<void()> onShow;

    bool ask(const QString &siteName) override
    {
        if (!canShow)
            return false;
        ++shows;
        siteAsked = siteName;
        if (onShow)
            onShow();
        return true;
    }
    void withdraw() override { ++withdrawals; }

    // The user answers after ms milliseconds (with the site text the question
    // shows, as the prompt sends it).
    static void answerLater(PopupDecider &decider, int ms, SiteAnswer answer)
    {
        QPointer<PopupDecider> d(&decider);
        QTimer::singleShot(ms, [d, answer] {
            if (d)
                d->answer(answer, d->askedSite());
        });
    }
};

} // namespace wendral::test
