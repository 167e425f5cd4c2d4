#pragma once
// The main window: options, site lists, commands, tray menu. It only shows and
// forwards; the rules live in the settings store, the site lists, the popup
// decision and the platform services it calls.

#include "core/popupdecision.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

namespace Ui {
class MainWindow;
}

class QAction;
class QFrame;
class QMenu;

namespace wendral {

class BrowserTracker;
class DesktopLaunchers;
class HotkeyBinding;
class ListWidgetBox;
class ShellEntries;
class SitePrompt;
class StatusPanels;
class ToolbarButton;
struct UiContext;

class MainWindow : public QMainWindow, public DecisionOptions, public SiteQuestion
{
    Q_OBJECT
public:
    explicit MainWindow(UiContext &context);
    ~MainWindow() override;

    // Builds the running state, in order: captions, shell entries, tray icon,
    // the options from the store, the count, the window state, the status bar,
    // the site lists, Super+Z, the tracker, skin, banner, the toolbar probe and
    // the help window. Runs once, before the window is shown.
    void load();
    // What follows the load: show the window; a window that starts minimised
    // goes to the tray (or stays minimised where there is none).
    void showLoaded();
    // Lets every popup still waiting for the question through, saves the
    // settings, releases the tray icon, the hotkey and the tracker, and ends
    // the program (or lets it live on while the website window is open).
    void unload();
    bool isUnloaded() const { return m_unloaded; }
    // Starts minimised whatever the stored state says (before load()).
    void setStartMinimized(bool minimized) { m_forceMinimized = minimized; }

    StatusPanels &panels() const;
    QString state() const { return m_state; }
    QMenu *trayMenu() const;
    BrowserTracker *tracker() const { return m_tracker.get(); }
    QFrame *bannerBox() const;
    const ToolbarButton &toolbarButton() const { return *m_toolbarButton; }
    bool hotkeyRegistered() const;

    // Options read live by the popup decision.
    bool blockingEnabled() const override;
    bool setupMode() const override;
    bool soundOnBlock() const override;
    bool allowLinkPopups() const override;

    // The setup-mode question: a new prompt window for every question.
    bool ask(const QString &siteName) override;
    void withdraw() override;
    SitePrompt *prompt() const;

    // The allow-next toggle shared by the button, both menus and Super+Z.
    void toggleAllowNext();
    // Brings the window back as the tray menu's "Show program" does (another
    // start of the program asks for it).
    void restoreFromTray();

    // "Watching 2 browsers, 1 unwatched": a greyed item at the top of the tray
    // menu, repeated in the Tools menu above the item below.
    QAction *watchInfoItem() const { return m_watchInfo; }
    // Tools > Watch browsers started from the desktop (checkable).
    QAction *watchLaunchersItem() const { return m_watchLaunchers; }

signals:
    void unloaded();
    // Popup Blocking was switched on or off.
    void blockingEnabledChanged(bool on);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectControls();
    void setMessage(const QString &text); // panel 2; lost when it does not exist
    void windowStateChanged();
    void minimizeToTaskbar();
    void openTrayMenu();
    void openHelp();
    void openAbout();
    void addWatchItems();
    void updateWatchInfo();
    DesktopLaunchers &launchers();
    void onWatchLaunchersToggled(bool on);
    void refreshLaunchers();

    void onBlockingToggled(bool on);
    void onSetupModeToggled(bool on);
    void onAlwaysOnTopToggled(bool on);
    void onRunAtStartupToggled(bool on);
    void onSoundToggled(bool on);
    void onLinkPopupsToggled(bool on);
    void addAllowedSite();
    void deleteAllowedSite();
    void deleteDisallowedSite();
    void addDisallowedSite();
    void openWebsite();
    void onWebsiteClosed();
    // The strip's page, asked of the web content while the window is shown.
    void requestBanner();

    Ui::MainWindow *ui;
    UiContext &m_context;
    std::unique_ptr<StatusPanels> m_panels;
    std::unique_ptr<ListWidgetBox> m_allowedBox;
    std::unique_ptr<ListWidgetBox> m_disallowedBox;
    std::unique_ptr<ShellEntries> m_shellEntries;
    std::unique_ptr<ToolbarButton> m_toolbarButton;
    std::unique_ptr<HotkeyBinding> m_hotkey;
    std::unique_ptr<BrowserTracker> m_tracker;
    std::unique_ptr<DesktopLaunchers> m_launchers;
    QAction *m_watchInfo = nullptr;
    QAction *m_watchLaunchers = nullptr;
    QPointer<SitePrompt> m_prompt;
    QPointer<QFrame> m_bannerBox;
    QString m_state = QStringLiteral("up");
    bool m_forceMinimized = false;
    bool m_bannerAsked = false; // since the window was last shown
    bool m_loaded = false;
    bool m_unloaded = false;
};

} // namespace wendral
