#pragma once
// The browser toolbar button and Tools-menu entry that start this program: one
// key in the browser's extension area holding eight text values. Adding writes
// them (again), removing deletes the key; neither asks or reports anything.

#include <QString>
#include <QtGlobal>

namespace wendral {

// The shell's version record: five 32-bit numbers, 20 bytes.
struct DLLVERSIONINFO
{
    quint32 cbSize = 0;
    quint32 dwMajorVersion = 0;
    quint32 dwMinorVersion = 0;
    quint32 dwBuildNumber = 0;
    quint32 dwPlatformID = 0;
};

namespace modIETools {

// The button's key under HKEY_LOCAL_MACHINE; the identifier is this program's own.
inline QString buttonKey()
{
    return QStringLiteral("Software\\Microsoft\\Internet Explorer\\Extensions\\{ECC5777A-6E88-BFCE-13CE-81F134789E7B}");
}
// The browser's identifier for a button that runs an executable.
inline QString execButtonClsid()
{
    return QStringLiteral("{1FBA04EE-3024-11D2-8F1F-0000F87ABD16}");
}
inline QString browserAppPathKey()
{
    return QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\IEXPLORE.EXE");
}

// Computed anew by every AddToolbarButton.
extern QString buttonHotIconPath;
extern QString buttonIconPath;
extern QString buttonExecPath;
// Filled by the start-up probe only.
extern QString ieExePath;
extern DLLVERSIONINFO shellVersionInfo;
extern QString shellMajorText;

// Writes ButtonText, CLSID, Default Visible, Exec, HotIcon, Icon, MenuStatusBar
// and MenuText, in that order; a failed write does not stop the others.
void AddToolbarButton();
// Deletes the button key with its values.
void RemoveToolbarButton();
// Run once at start-up: reads the browser's path into ieExePath. There is no
// shell version to ask on this platform, so the probe ends there.
void ProbeToolbarButton();

} // namespace modIETools

using modIETools::AddToolbarButton;
using modIETools::ProbeToolbarButton;
using modIETools::RemoveToolbarButton;

} // namespace wendral
