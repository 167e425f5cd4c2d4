#pragma once
// The About window: product name, version, owner and web address, read from
// the product metadata. Clicking the web address opens the website window (or
// brings the open one forward). One instance; closing it unloads it.

#include <QWidget>

#include <memory>

class QLabel;

namespace Ui {
class AboutWindow;
}

namespace wendral {

struct UiContext;

class AboutWindow : public QWidget
{
    Q_OBJECT
public:
    // Loads the window (the load steps run here) without showing it.
    explicit AboutWindow(UiContext &context);
    ~AboutWindow() override;

    // Loads the window if needed, shows it modeless and brings it forward.
    static AboutWindow *open(UiContext &context);

    QLabel *label(const QString &name) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void load();
    void openWebsite();

    std::unique_ptr<Ui::AboutWindow> ui;
    UiContext &m_context;
};

} // namespace wendral
