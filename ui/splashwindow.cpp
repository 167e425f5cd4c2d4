#include "ui/splashwindow.h"

#include "core/profile.h"
#include "core/programstate.h"
#include "forms/formtools.h"
#include "forms/skin.h"
#include "ui/uicontext.h"

#include "ui_splashwindow.h"

#include <QTimer>

namespace wendral {

SplashWindow::SplashWindow(UiContext &context, std::function<void()> finished)
    : ui(new Ui::SplashWindow), m_context(context), m_finished(std::move(finished))
{
    ui->setupUi(this);
    applyDesignFonts(this);
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setFixedSize(size());
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer2"));
    m_timer->setInterval(2);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &SplashWindow::onTick);
}

SplashWindow::~SplashWindow()
{
    delete ui;
}

void SplashWindow::load()
{
    m_context.state.endOnWebsiteClose = false;
    m_context.profile = BrandingProfile::fromBuild();
    m_context.skin.startupStep(this); // only when the profile enables the skin
    m_timer->start();
}

void SplashWindow::onTick()
{
    m_ticks = static_cast<qint16>(m_ticks + 2);
    if (m_ticks != 150)
        return;
    m_timer->stop();
    if (m_finished)
        m_finished();
    hide();
    emit finished();
}

} // namespace wendral
