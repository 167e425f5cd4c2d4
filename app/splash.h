#pragma once
// The start-up window: shows the splash picture for 75 ticks of a 2 ms timer,
// then loads and shows the main window and hides itself for the rest of the run.

#include <QPointer>

#include "app/mainwindow.h"
#include <QWidget>

class QTimer;

namespace Ui {
class frmSplash;
}

namespace wendral {

class frmSplash : public QWidget
{
    Q_OBJECT
public:
    explicit frmSplash(QWidget *parent = nullptr);
    ~frmSplash() override;

    // Clears endOnWebsiteClose, fills the profile, starts the skin when it is
    // enabled, enables the timer.
    void Form_Load();

    QTimer *Timer2 = nullptr;
    qint16 intTemp = 0;
    Form1 *mainWindow() const { return m_main; }

signals:
    void mainWindowShown();

private:
    void Timer2_Timer();

    Ui::frmSplash *ui;
    QPointer<Form1> m_main;
};

} // namespace wendral
