#include "ui/helpwindow.h"

#include "core/filehelpers.h"
#include "core/paths.h"
#include "core/settingsstore.h"
#include "forms/formtools.h"
#include "forms/skin.h"
#include "platform/platformservices.h"
#include "platform/windowstacker.h"
#include "ui/openwindows.h"
#include "ui/rtfreader.h"
#include "ui/uicontext.h"

#include "ui_helpwindow.h"

#include <QCheckBox>
#include <QTextBrowser>

namespace wendral {

HelpWindow::HelpWindow(UiContext &context) : ui(std::make_unique<Ui::HelpWindow>()), m_context(context)
{
    ui->setupUi(this);
    applyDesignFonts(this);
    // A fixed dialog border: no minimise or maximise button, not resizable.
    setFixedDialogStyle(this);
    // The box writes the setting on every change, including the one the load
    // makes when it restores the stored state.
    connect(ui->Check1, &QCheckBox::toggled, this, &HelpWindow::onShowAtStartupToggled);
    load();
}

HelpWindow::~HelpWindow() = default;

QTextBrowser *HelpWindow::document() const
{
    return ui->rtf1;
}
QCheckBox *HelpWindow::showAtStartupBox() const
{
    return ui->Check1;
}

QString HelpWindow::documentPath()
{
    return Paths::programFile(QStringLiteral("Help.rtf"));
}

void HelpWindow::load()
{
    // Nothing happens here unless the profile turns skinning on.
    m_context.skin.formStep(this);

    const QString path = documentPath();
    if (!fileExists(path)) {
        // No document: the window is shown empty, not topmost, with the box
        // as the layout has it.
        return;
    }
    RtfReader reader;
    // A document that cannot be read leaves the text area empty; the other
    // steps still run.
    m_documentLoaded = reader.readFile(path, ui->rtf1->document());
    ui->rtf1->moveCursor(QTextCursor::Start); // the reader leaves the view at the end
    m_context.platform.stacker->keepOnTop(this, true);
    // Only 0 and 1 are box states; any other stored text leaves the box as
    // the layout has it.
    ui->Check1->setChecked(m_context.settings.readToggle(Settings::kShowHelp, ui->Check1->isChecked()));
}

void HelpWindow::onShowAtStartupToggled(bool checked)
{
    m_context.settings.writeToggle(Settings::kShowHelp, checked);
}

HelpWindow *HelpWindow::open(UiContext &context)
{
    return openSingleWindow(context.windows.help, context);
}

bool helpWantedAtStartup(const SettingsStore &settings)
{
    return settings.read(Settings::kShowHelp, Settings::kDefaultShowHelp) == QLatin1String("1");
}

} // namespace wendral
