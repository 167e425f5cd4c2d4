#pragma once
// The program's state and services as the composition root wires them, with
// fake desktop services and the folders of a test environment: what windows
// and the popup decision are given in tests.

#include "core/paths.h"
#include "core/popupdecision.h"
#include "core/profile.h"
#include "core/programstate.h"
#include "core/settingsstore.h"
#include "core/sitelists.h"
#include "forms/skin.h"
#include "support/fakeplatform.h"
#include "support/fakewebcontent.h"
#include "ui/openwindows.h"
#include "ui/uicontext.h"

namespace wendral::test {

// Create it after the test environment (it reads the folders then).
struct ProgramFixture
{
    explicit ProgramFixture(BrowserWindows *browsers = nullptr)
        : context{state, settings, lists, decider, profile, skin, platform.services, windows, browsers, &web}
    {
        decider.setBlockSound([this] { platform.sound.play(Paths::programFile(QStringLiteral("sounds/pop.wav"))); });
    }

    ProgramState state;
    SettingsStore settings;
    SiteLists lists;
    PopupDecider decider{state, lists};
    BrandingProfile profile;
    SkinEngine skin{profile};
    FakePlatform platform;
    OpenWindows windows;
    FakeWebContent web;
    UiContext context;
};

} // namespace wendral::test
