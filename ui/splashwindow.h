#pragma once
// The start-up window: shows the splash picture for 75 ticks of a 2 ms timer,
// then hands over (the composition root loads and shows the main window) and
// hides itself for the rest of the run.

#include <QWidget>

#include <functional>

class QTimer;

namespace Ui {
class SplashWindow;
}

namespace wendral {

struct UiContext;

class SplashWindow : public QWidget
{
    Q_OBJECT
public:
    // finished: what runs when the splash time is over, before the splash
    // hides (loading and showing the main window).
    SplashWindow(UiContext &context, std::function<void()> finished);
    ~SplashWindow() override;

    // Clears endOnWebsiteClose, fills the profile, starts the skin when it is
    // enabled, starts the timer.
    void load();

    QTimer *timer() const { return m_timer; }
    // Advanced by 2 at every tick; the splash ends at 150.
    qint16 ticks() const { return m_ticks; }

signals:
    void finished();

private:
    void onTick();

    Ui::SplashWindow *ui;
    UiContext &m_context;
    std::function<void()> m_finished;
    QTimer *m_timer = nullptr;
    qint16 m_ticks = 0;
};

} // namespace wendral
