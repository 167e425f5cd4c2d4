#pragma once
// The popup decision: whether a new-window request from a browser goes through
// or is cancelled. It reads the main window's options live through a narrow
// interface, so it runs (and is tested) without any widget.

#include "blocking/browsercomponents.h"

#include <QString>

namespace wendral {

// The four options the decision reads at every request. A box counts as on
// only when its value is exactly 1.
class DecisionOptions
{
public:
    virtual ~DecisionOptions() = default;
    virtual int check1() const = 0; // blocking
    virtual int check2() const = 0; // setup mode
    virtual int check5() const = 0; // sound on block
    virtual int check6() const = 0; // links exception
};

// Shows the setup-mode prompt: loads the prompt window when it is not loaded
// and shows it modeless. Returns false when it could not be shown. The prompt
// answers through shared().promptAllow and shared().promptAnswered.
class PromptHost
{
public:
    virtual ~PromptHost() = default;
    virtual bool showPrompt() = 0;
};

namespace decision {

// Neither is owned; nullptr uninstalls. Without options the decision cannot
// read the main window, so every request goes through.
void setOptions(DecisionOptions *options);
DecisionOptions *options();
void setPromptHost(PromptHost *host);
PromptHost *promptHost();

// The site name of a page address: the host part of an http or https address
// (with any user name, password and port), in the case the address gives it.
QString siteName(const QString &url);
// True when the site name occurs anywhere in the list, ignoring case. An empty
// site name is in no list.
bool isListed(const QString &site, const QString &list);

// Decides one new-window request raised by the browser. Sets cancel to true to
// block the request and to false to let it through; any failure leaves cancel
// as it was (the request goes through).
void run(BrowserObject &browser, bool &cancel);

} // namespace decision
} // namespace wendral
