#include "sitelists/siteprompt.h"

#include "app/formtools.h"
#include "app/sharedstate.h"
#include "branding/profile.h"
#include "branding/skin.h"
#include "sitelists/sitelists.h"
#include "system/ontop.h"
#include "ui_Form3.h"

#include <QCloseEvent>

namespace wendral {
namespace {
enum ListChange
{
    NoChange,
    AddAllowed,
    AddDisallowed
};
}

Form3::Form3(QWidget *mainWindow) : QWidget(nullptr), ui(new Ui::Form3), m_main(mainWindow)
{
    ui->setupUi(this);
    applyDesignFonts(this);
    setFixedDialogStyle(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->Command1, &QAbstractButton::clicked, this, [this] { answer(true, AddAllowed); });
    connect(ui->Command2, &QAbstractButton::clicked, this, [this] { answer(false, AddDisallowed); });
    connect(ui->Command3, &QAbstractButton::clicked, this, [this] { answer(true, NoChange); });
    connect(ui->Command4, &QAbstractButton::clicked, this, [this] { answer(false, NoChange); });
}

Form3::~Form3()
{
    delete ui;
}

void Form3::Form_Load()
{
    m_onTop = std::make_unique<clsOnTop>();
    const bool onTop = shared().alwaysOnTop;
    if (onTop)
        m_onTop->MakeNormal(m_main);
    ui->Text1->setText(shared().promptDomain);
    m_onTop->MakeTopMost(this);
    if (onTop)
        m_onTop->MakeTopMost(m_main);
    skinLoadStep(this, SkinLabelRules::byContainer({QStringLiteral("SkinLabel1")}));
    centerOnScreen(this);
}

void Form3::answer(bool allow, int listChange)
{
    const QString text = ui->Text1->text();
    if (listChange == AddAllowed) {
        Module1::addAllowed(text);
        Module1::saveAllowed();
    } else if (listChange == AddDisallowed) {
        Module1::addDisallowed(text);
    }
    hide();
    shared().promptAllow = allow;
    shared().promptAnswered = true;
    unloadWindow();
}

void Form3::unloadWindow()
{
    if (m_unloading)
        return;
    m_unloading = true;
    shared().promptAnswered = true;
    close();
}

void Form3::closeEvent(QCloseEvent *event)
{
    // The close box counts as a block: only promptAnswered is set. However the
    // window goes, the waiting decision may stop waiting.
    m_unloading = true;
    shared().promptAnswered = true;
    event->accept();
}

} // namespace wendral
