#pragma once
// Desktop services for tests: a hotkey pressed by the test, a stacker and a
// tray icon that remember what they were asked, a sound player that records
// what it was asked to play, an autostart that records its entries.

#include "platform/autostart.h"
#include "platform/globalhotkey.h"
#include "platform/notifier.h"
#include "platform/platformservices.h"
#include "platform/soundplayer.h"
#include "platform/trayicon.h"
#include "platform/windowstacker.h"
#include "support/fakehotkey.h"

#include <QIcon>
#include <QStringList>

namespace wendral::test {

class RecordingSoundPlayer : public SoundPlayer
{
public:
    void play(const QString &path) override { m_played.append(path); }
    const QStringList &played() const { return m_played; }
    void clear() { m_played.clear(); }

private:
    QStringList m_played;
};

// A notification area that exists (or not, as the test says).
class FakeTrayIcon : public TrayIcon
{
    Q_OBJECT
public:
    using TrayIcon::TrayIcon;
    bool available = true;
    int showCalls = 0;
    QStringList messages;

    void show(const QIcon &icon) override
    {
        ++showCalls;
        m_icon = icon;
        m_shown = true;
    }
    void hide() override { m_shown = false; }
    bool isShown() const override { return m_shown; }
    bool isAvailable() const override { return available; }
    void showMessage(const QString &title, const QString &text) override { messages.append(title + ": " + text); }
    QIcon icon() const { return m_icon; }
    // The user clicks the icon.
    void click() { emit menuRequested(); }

private:
    QIcon m_icon;
    bool m_shown = false;
};

class RecordingAutostart : public AutostartService
{
public:
    QStringList enabled; // "name=program"
    QStringList disabled;
    bool enable(const QString &name, const QString &program) override
    {
        enabled.append(name + "=" + program);
        return true;
    }
    bool disable(const QString &name) override
    {
        disabled.append(name);
        return true;
    }
};

// A notification service that records what it shows; one that is missing
// (delivers = false) shows nothing and says so.
class RecordingNotifier : public Notifier
{
    Q_OBJECT
public:
    using Notifier::Notifier;
    bool delivers = true;
    QStringList messages; // "title: body"

    bool notify(const QString &title, const QString &body) override
    {
        if (!delivers)
            return false;
        messages.append(title + ": " + body);
        return true;
    }
    // The service refuses a message after taking it.
    void refuse(const QString &title, const QString &body) { emit undelivered(title, body); }
};

// All of them, ready to hand to the program as its services.
struct FakePlatform
{
    FakeGlobalHotkey hotkey;
    RememberingStacker stacker;
    RecordingSoundPlayer sound;
    FakeTrayIcon tray;
    RecordingAutostart autostart;
    RecordingNotifier notifier;
    PlatformServices services{&hotkey, &stacker, &sound, &tray, &autostart, &notifier};
};

} // namespace wendral::test
