#pragma once
// The main window: options, site lists, commands, tray menu. It only shows and
// forwards; the rules live in the settings store, the site lists, the popup
// decision and the platform pieces it calls.

#include "blocking/popupdecision.h"
#include "sitelists/siteprompt.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

namespace Ui {
class Form1;
}

class QMenu;

namespace wendral {

class AddRemove;
class clsOnTop;
class cIEWindows;
class ShellWindows;
class SiteListBox;
class StatusPanels;

class Form1 : public QMainWindow, public DecisionOptions, public PromptHost
{
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // The load steps, in their order; runs once, before the window is shown.
    void Form_Load();
    // What the splash does after the load: show the window; a window that
    // starts minimised goes to the tray (or stays minimised where there is none).
    void showLoaded();
    // Saves the settings, releases the tray icon, the hotkey and the tracker,
    // and ends the program (or lets it live on while the website window is open).
    void unload();
    bool isUnloaded() const { return m_unloaded; }

    StatusPanels &panels() const;
    QString state() const { return m_state; }
    QMenu *popupMenu() const;
    cIEWindows *tracker() const { return m_tracker.get(); }

    // The collection of browser windows the tracker watches; the program's
    // DevTools engine unless a test installs another before the load.
    static void setShellWindowsSource(ShellWindows *source);

    // Start minimised (into the tray, or on the taskbar without one) whatever
    // the stored state says: the --minimized command-line option. Set before
    // the load.
    static void setStartMinimized(bool minimized);
    // Another start of the program asked for this window: as the tray menu's
    // "Show program".
    void showOnRequest();

    // Options read live by the popup decision.
    int check1() const override;
    int check2() const override;
    int check5() const override;
    int check6() const override;
    // Loads the site prompt when it is not loaded, and shows it.
    bool showPrompt() override;
    Form3 *prompt() const { return m_prompt; }

    // The allow-next toggle shared by the button, both menus and Super+Z.
    void toggleAllowNext();

signals:
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectControls();
    void setMessage(const QString &text); // panel 2; lost when it does not exist
    void windowStateChanged();
    void restoreFromTray();
    void minimizeToTaskbar();

    void Check1_Click(bool on);
    void Check2_Click(bool on);
    void Check3_Click(bool on);
    void Check4_Click(bool on);
    void Check5_Click(bool on);
    void Check6_Click(bool on);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command7_Click();
    void mnuHelpItem_Click();
    void mnuAboutItem_Click();

    Ui::Form1 *ui;
    std::unique_ptr<StatusPanels> m_panels;
    std::unique_ptr<SiteListBox> m_list1;
    std::unique_ptr<SiteListBox> m_list2;
    std::unique_ptr<AddRemove> VarAddRemove;
    std::unique_ptr<clsOnTop> onTop;
    std::unique_ptr<cIEWindows> m_tracker;
    QPointer<Form3> m_prompt;
    QString m_state = QStringLiteral("up");
    quint32 m_trayId = 0;
    bool m_loaded = false;
    bool m_unloaded = false;
};

} // namespace wendral
