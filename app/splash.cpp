#include "app/splash.h"

#include "app/formtools.h"
#include "app/mainwindow.h"
#include "app/sharedstate.h"
#include "branding/profile.h"
#include "branding/skin.h"
#include "ui_frmSplash.h"

#include <QTimer>

namespace wendral {

frmSplash::frmSplash(QWidget *parent) : QWidget(parent), ui(new Ui::frmSplash)
{
    ui->setupUi(this);
    applyDesignFonts(this);
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setFixedSize(size());
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(2);
    Timer2->setTimerType(Qt::PreciseTimer);
    connect(Timer2, &QTimer::timeout, this, &frmSplash::Timer2_Timer);
}

frmSplash::~frmSplash()
{
    delete m_main;
    delete ui;
}

void frmSplash::Form_Load()
{
    shared().endOnWebsiteClose = false;
    InitProfile();
    skinStartupStep(this); // only when the profile enables the skin
    Timer2->start();
}

void frmSplash::Timer2_Timer()
{
    intTemp = static_cast<qint16>(intTemp + 2);
    if (intTemp != 150)
        return;
    Timer2->stop();
    m_main = new Form1();
    m_main->Form_Load();
    m_main->showLoaded();
    hide();
    emit mainWindowShown();
}

} // namespace wendral
