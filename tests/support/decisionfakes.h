#pragma once
// Stand-ins for the main window's option boxes and the setup-mode prompt, so
// the popup decision runs without widgets.

#include "app/sharedstate.h"
#include "blocking/popupdecision.h"

#include <QString>
#include <QTimer>

#include <functional>

namespace wendral::test {

struct FakeOptions : DecisionOptions
{
    int c1 = 1; // blocking
    int c2 = 0; // setup mode
    int c5 = 1; // sound
    int c6 = 0; // links exception
    int check1() const override { return c1; }
    int check2() const override { return c2; }
    int check5() const override { return c5; }
    int check6() const override { return c6; }
};

// Records each showing with the prompt state of that moment and runs an
// optional action (typically scheduling an answer).
struct FakePrompt : PromptHost
{
    bool canShow = true;
    int shows = 0;
    QString domainAtShow;
    bool answeredAtShow = true;
    bool allowAtShow = true;
    std::function<void()> onShow;

    bool showPrompt() override
    {
        if (!canShow)
            return false;
        ++shows;
        domainAtShow = shared().promptDomain;
        answeredAtShow = shared().promptAnswered;
        allowAtShow = shared().promptAllow;
        if (onShow)
            onShow();
        return true;
    }

    // The prompt's answer as its buttons give it: promptAllow, then promptAnswered.
    static void answerLater(int ms, bool allow)
    {
        QTimer::singleShot(ms, [allow] {
            shared().promptAllow = allow;
            shared().promptAnswered = true;
        });
    }
    // The close box: promptAnswered alone.
    static void closeLater(int ms)
    {
        QTimer::singleShot(ms, [] { shared().promptAnswered = true; });
    }
};

} // namespace wendral::test
