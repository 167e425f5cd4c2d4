#pragma once
// The About window: product name, version, owner and web address, read from
// the product metadata. Clicking the web address opens the website window (or
// brings the open one forward). One instance; closing it unloads it.

#include <QWidget>

#include <memory>

class QLabel;

namespace Ui {
class frmAbout;
}

namespace wendral {

class frmAbout : public QWidget
{
    Q_OBJECT
public:
    // Loads the window (the load steps run here) without showing it.
    explicit frmAbout(QWidget *parent = nullptr);
    ~frmAbout() override;

    // Loads the window if needed, shows it modeless and brings it forward.
    static frmAbout *open();
    // The loaded window, or null.
    static frmAbout *instance();

    QLabel *label(const QString &name) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void lblWebsite_Click();

    std::unique_ptr<Ui::frmAbout> ui;
};

} // namespace wendral
