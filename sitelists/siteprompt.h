#pragma once
// The setup-mode prompt: asks about a site that is on neither list. It is
// loaded afresh for every question, stays modeless, and answers only through
// the shared promptAllow / promptAnswered flags.

#include <QWidget>

#include <memory>

namespace Ui {
class Form3;
}

namespace wendral {

class clsOnTop;

class Form3 : public QWidget
{
    Q_OBJECT
public:
    // mainWindow: the window whose topmost state the prompt keeps.
    explicit Form3(QWidget *mainWindow);
    ~Form3() override;

    // The load steps: main window out of the topmost band when it is in it,
    // the site name shown, the prompt topmost, the main window back, the skin.
    void Form_Load();
    // True once the window is on its way out: a new question needs a new window.
    bool isUnloaded() const { return m_unloading; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void answer(bool allow, int listChange);
    void unloadWindow();

    Ui::Form3 *ui;
    QWidget *m_main;
    std::unique_ptr<clsOnTop> m_onTop;
    bool m_unloading = false;
};

} // namespace wendral
