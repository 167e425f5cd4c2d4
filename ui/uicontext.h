#pragma once
// What the windows need of the running program. The composition root owns
// every piece and hands the windows this bundle of references; tests build one
// from fakes.

namespace wendral {

struct BrandingProfile;
struct PlatformServices;
struct ProgramState;
class BrowserWindows;
class PopupDecider;
class SettingsStore;
class SiteLists;
class SkinEngine;
class WebContent;
struct OpenWindows;

struct UiContext
{
    ProgramState &state;
    SettingsStore &settings;
    SiteLists &lists;
    PopupDecider &decider;
    // Filled by the splash window's load (empty before).
    BrandingProfile &profile;
    SkinEngine &skin;
    PlatformServices &platform;
    // The help and About windows loaded now.
    OpenWindows &windows;
    // The browser windows the tracker watches; null watches none.
    BrowserWindows *browsers = nullptr;
    // The banner strip's page and the website window (in the web helper);
    // null shows neither.
    WebContent *web = nullptr;
};

} // namespace wendral
