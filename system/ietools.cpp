#include "system/ietools.h"

#include "app/paths.h"
#include "app/runtime.h"
#include "system/cregister.h"
#include "system/registry.h"

namespace wendral::modIETools {

QString buttonHotIconPath;
QString buttonIconPath;
QString buttonExecPath;
QString ieExePath;
DLLVERSIONINFO shellVersionInfo;
QString shellMajorText;

void AddToolbarButton()
{
    // The paths follow the program's current folder and executable.
    buttonHotIconPath = Paths::programFile(QStringLiteral("hoticon.ico"));
    buttonIconPath = Paths::programFile(QStringLiteral("icon.ico"));
    buttonExecPath = App::exeFullPath();

    const QString product = App::productName();
    const QString key = buttonKey();
    CRegister::WriteRegValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("ButtonText"), product);
    CRegister::WriteRegValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("CLSID"), execButtonClsid());
    CRegister::WriteRegValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("Default Visible"), QStringLiteral("Yes"));
    CRegister::WriteRegValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("Exec"), buttonExecPath);
    CRegister::WriteRegValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("HotIcon"), buttonHotIconPath);
    CRegister::WriteRegValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("Icon"), buttonIconPath);
    CRegister::WriteRegValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("MenuStatusBar"), product);
    CRegister::WriteRegValue(HKEY_LOCAL_MACHINE, key, QStringLiteral("MenuText"), QLatin1Char('&') + product);
}

void RemoveToolbarButton()
{
    CRegister::DeleteRegEntry(HKEY_LOCAL_MACHINE, buttonKey(), QString());
}

void ProbeToolbarButton()
{
    ieExePath = CRegister::ReadRegValue(HKEY_LOCAL_MACHINE, browserAppPathKey(), QString(), QString());
}

} // namespace wendral::modIETools
