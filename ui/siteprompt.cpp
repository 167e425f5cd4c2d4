#include "ui/siteprompt.h"

#include "core/programstate.h"
#include "forms/formtools.h"
#include "forms/skin.h"
#include "platform/platformservices.h"
#include "platform/windowstacker.h"
#include "ui/uicontext.h"

#include "ui_siteprompt.h"

#include <QCloseEvent>

namespace wendral {

SitePrompt::SitePrompt(UiContext &context, QWidget *mainWindow)
    : QWidget(nullptr), ui(new Ui::SitePrompt), m_context(context), m_main(mainWindow)
{
    ui->setupUi(this);
    applyDesignFonts(this);
    setFixedDialogStyle(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->Command1, &QAbstractButton::clicked, this, [this] { answer(SiteAnswer::AllowAlways); });
    connect(ui->Command2, &QAbstractButton::clicked, this, [this] { answer(SiteAnswer::BlockAlways); });
    connect(ui->Command3, &QAbstractButton::clicked, this, [this] { answer(SiteAnswer::AllowOnce); });
    connect(ui->Command4, &QAbstractButton::clicked, this, [this] { answer(SiteAnswer::BlockOnce); });
}

SitePrompt::~SitePrompt()
{
    delete ui;
}

void SitePrompt::load(const QString &siteName)
{
    WindowStacker &stacker = *m_context.platform.stacker;
    const bool onTop = m_context.state.alwaysOnTop;
    if (onTop)
        stacker.keepOnTop(m_main, false);
    ui->Text1->setText(siteName);
    stacker.keepOnTop(this, true);
    if (onTop)
        stacker.keepOnTop(m_main, true);
    m_context.skin.loadStep(this, SkinLabelRules::byContainer({QStringLiteral("SkinLabel1")}));
    centerOnScreen(this);
}

void SitePrompt::answer(SiteAnswer answer)
{
    if (m_closing)
        return;
    m_closing = true;
    const QString text = ui->Text1->text();
    hide();
    emit answered(answer, text);
    close();
}

void SitePrompt::withdraw()
{
    if (m_closing)
        return;
    m_closing = true;
    close();
}

void SitePrompt::closeEvent(QCloseEvent *event)
{
    // The close box counts as a block. However the window goes, it is not
    // reused for another question.
    const bool answeredAlready = m_closing;
    m_closing = true;
    event->accept();
    if (!answeredAlready)
        emit answered(SiteAnswer::Dismissed, ui->Text1->text());
}

} // namespace wendral
