#include "windows/helpwindow.h"

#include "app/formtools.h"
#include "app/paths.h"
#include "app/settingsstore.h"
#include "branding/skin.h"
#include "system/filehelpers.h"
#include "system/ontop.h"
#include "windows/rtfreader.h"

#include "ui_Form8.h"

#include <QCheckBox>
#include <QTextBrowser>

namespace wendral {
namespace {
QPointer<Form8> g_form8;
} // namespace

Form8::Form8(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::Form8>())
{
    ui->setupUi(this);
    applyDesignFonts(this);
    // A fixed dialog border: no minimise or maximise button, not resizable.
    setFixedDialogStyle(this);
    // The box writes the setting on every change, including the one the load
    // makes when it restores the stored state.
    connect(ui->Check1, &QCheckBox::toggled, this, &Form8::Check1_Click);
    Form_Load();
}

Form8::~Form8() = default;

QTextBrowser *Form8::rtf1() const
{
    return ui->rtf1;
}
QCheckBox *Form8::check1() const
{
    return ui->Check1;
}

QString Form8::documentPath()
{
    return Paths::programFile(QStringLiteral("Help.rtf"));
}

void Form8::Form_Load()
{
    // Nothing happens here unless the profile turns skinning on.
    skinFormStep(this);

    const QString path = documentPath();
    if (!fileExists(path)) {
        // No document: the window is shown empty, not topmost, with the box
        // as designed.
        return;
    }
    RtfReader reader;
    // A document that cannot be read leaves the text area empty; the other
    // steps still run.
    m_documentLoaded = reader.readFile(path, ui->rtf1->document());
    ui->rtf1->moveCursor(QTextCursor::Start); // the reader leaves the view at the end
    SetFormOnTop(this, true);
    // Only 0 and 1 are box states; any other stored text leaves the box as
    // designed.
    const int designState = ui->Check1->isChecked() ? 1 : 0;
    ui->Check1->setChecked(Settings::readToggle(Settings::kShowHelp, designState) == 1);
}

void Form8::Check1_Click(bool checked)
{
    Settings::write(Settings::kShowHelp, checked ? QStringLiteral("1") : QStringLiteral("0"));
}

Form8 *Form8::open()
{
    if (!g_form8) {
        g_form8 = new Form8;
        g_form8->setAttribute(Qt::WA_DeleteOnClose);
        centerOnScreen(g_form8);
    }
    g_form8->show();
    return g_form8;
}

Form8 *Form8::instance()
{
    return g_form8;
}

bool helpWantedAtStartup()
{
    return Settings::read(Settings::kShowHelp, Settings::kDefaultShowHelp) == QLatin1String("1");
}

} // namespace wendral
