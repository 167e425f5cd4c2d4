#pragma once
// The browser toolbar button and Tools-menu entry that start this program: one
// key in the browser's extension area holding eight text values. Adding writes
// them (again), removing deletes the key; neither asks or reports anything.

#include <QString>

namespace wendral {

class ToolbarButton
{
public:
    // The button's key under HKEY_LOCAL_MACHINE; the identifier is this program's own.
    static QString buttonKey()
    {
        return QStringLiteral(
            "Software\\Microsoft\\Internet Explorer\\Extensions\\{ECC5777A-6E88-BFCE-13CE-81F134789E7B}");
    }
    // The browser's identifier for a button that runs an executable.
    static QString execButtonClsid() { return QStringLiteral("{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}"); }
    static QString browserAppPathKey()
    {
        return QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE");
    }

    // Writes ButtonText, CLSID, Default Visible, Exec, HotIcon, Icon,
    // MenuStatusBar and MenuText, in that order; a failed write does not stop
    // the others. The paths follow the program's current folder and executable.
    void add();
    // Deletes the button key with its values.
    void remove();
    // Run once at start-up: reads the browser's path. There is no shell
    // version to ask on this platform, so the probe ends there.
    void probe();

    // What the last add() wrote.
    QString hotIconPath() const { return m_hotIconPath; }
    QString iconPath() const { return m_iconPath; }
    QString execPath() const { return m_execPath; }
    // What the last probe() read (empty when the key is missing).
    QString browserPath() const { return m_browserPath; }

private:
    QString m_hotIconPath;
    QString m_iconPath;
    QString m_execPath;
    QString m_browserPath;
};

} // namespace wendral
