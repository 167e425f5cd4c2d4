#pragma once
// The desktop services the program uses, as one bundle that the composition
// root fills with the real ones and tests fill with fakes. None is owned here.

namespace wendral {

class AutostartService;
class GlobalHotkey;
class Notifier;
class SoundPlayer;
class TrayIcon;
class WindowStacker;

struct PlatformServices
{
    GlobalHotkey *hotkey = nullptr;
    WindowStacker *stacker = nullptr;
    SoundPlayer *sound = nullptr;
    TrayIcon *tray = nullptr;
    AutostartService *autostart = nullptr;
    Notifier *notifier = nullptr;
};

} // namespace wendral
