#include "core/toolbarbutton.h"

#include "core/paths.h"
#include "core/productinfo.h"
#include "core/registry.h"
#include "core/registryvalues.h"

namespace wendral {

void ToolbarButton::add()
{
    m_hotIconPath = Paths::programFile(QStringLiteral("hoticon.ico"));
    m_iconPath = Paths::programFile(QStringLiteral("icon.ico"));
    m_execPath = ProductInfo::executablePath();

    const QString product = ProductInfo::productName();
    const QString key = buttonKey();
    const auto write = [&key](const char *name, const QString &data) {
        RegistryValues::writeValue(HKEY_LOCAL_MACHINE, key, QString::fromLatin1(name), data);
    };
    write("ButtonText", product);
    write("CLSID", execButtonClsid());
    write("Default Visible", QStringLiteral("Yes"));
    write("Exec", m_execPath);
    write("HotIcon", m_hotIconPath);
    write("Icon", m_iconPath);
    write("MenuStatusBar", product);
    write("MenuText", QLatin1Char('&') + product);
}

void ToolbarButton::remove()
{
    RegistryValues::deleteEntry(HKEY_LOCAL_MACHINE, buttonKey(), QString());
}

void ToolbarButton::probe()
{
    m_browserPath = RegistryValues::readValue(HKEY_LOCAL_MACHINE, browserAppPathKey(), QString(), QString());
}

} // namespace wendral
