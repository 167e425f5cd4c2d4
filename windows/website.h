#pragma once
// The website window: a small browser on the maker's site, with an address
// box, back, forward, stop and reload, and a status bar that reports the link
// under the mouse and the start and end of each load. There is one instance;
// closing it unloads it. When shared().endOnWebsiteClose is set, closing it
// ends the program.

#include "windows/websitelayout.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QLineEdit;
class QStatusBar;
class QWebEngineView;

namespace Ui {
class frmWebsite;
}

namespace wendral {

class StatusPanels;

class frmWebsite : public QWidget
{
    Q_OBJECT
public:
    // Loads the window (the load steps run here) without showing it.
    explicit frmWebsite(QWidget *parent = nullptr);
    ~frmWebsite() override;

    // Loads the window if it is not loaded and shows it modeless; when it is
    // loaded already it is only shown and brought forward, on the page it has.
    static frmWebsite *open();
    // The loaded window, or null.
    static frmWebsite *instance();

    QWebEngineView *WebBrowser1() const;
    QLineEdit *Text1() const;
    QStatusBar *StatusBar1() const;
    QWidget *control(const QString &name) const;
    // Status panels, counted from 1.
    int panelCount() const;
    QString panelText(int index) const;
    int panelWidthTwips(int index) const;

    // Sizes the controls to the window (runs on every paint and resize).
    void ArrangeControls();
    // What the last arrangement computed, in twips.
    WebsiteArrangement lastArrangement() const { return m_arranged; }

    // Go: navigates to the address box's text. False when the text is no
    // address (nothing happens then).
    bool Go();
    bool Navigate(const QString &address);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    void placeStatusBar();
    void onStatusTextChange(const QString &text);
    void onDownloadBegin();
    void onDownloadComplete();
    void onTitleChanged(const QString &title);

    std::unique_ptr<Ui::frmWebsite> ui;
    std::unique_ptr<StatusPanels> m_panels;
    WebsiteArrangement m_arranged;
    bool m_loading = false;
    bool m_completedOnce = false;
};

} // namespace wendral
