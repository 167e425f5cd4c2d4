#pragma once
// The setup-mode prompt: asks about a site that is on neither list. It is
// loaded afresh for every question and stays modeless; it only shows the
// question and forwards the answer (the decision acts on it).

#include "core/popupdecision.h"

#include <QWidget>

#include <memory>

namespace Ui {
class SitePrompt;
}

namespace wendral {

struct UiContext;

class SitePrompt : public QWidget
{
    Q_OBJECT
public:
    // mainWindow: the window whose topmost state the prompt keeps.
    SitePrompt(UiContext &context, QWidget *mainWindow);
    ~SitePrompt() override;

    // The load steps: main window out of the topmost band when it is in it,
    // the site name shown, the prompt topmost, the main window back, the skin.
    void load(const QString &siteName);
    // True once the window is on its way out: a new question needs a new window.
    bool isClosing() const { return m_closing; }
    // Takes the question away without an answer.
    void withdraw();

signals:
    // Emitted once, with the site text as the prompt shows it then. Closing the
    // window by its close box answers Dismissed.
    void answered(wendral::SiteAnswer answer, const QString &siteText);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void answer(SiteAnswer answer);

    Ui::SitePrompt *ui;
    UiContext &m_context;
    QWidget *m_main;
    bool m_closing = false;
};

} // namespace wendral
