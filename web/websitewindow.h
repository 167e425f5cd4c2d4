#pragma once
// The website window: a small browser on the maker's site, with an address
// box, back, forward, stop and reload, and a status bar that reports the link
// under the mouse and the start and end of each load. It lives in the web
// helper, as an ordinary window of its own. There is one instance; closing it
// unloads it and tells the program (which ends then when it was asked to end
// while the window was open).

#include "web/websitelayout.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QLineEdit;
class QStatusBar;
class QWebEngineView;

namespace Ui {
class WebsiteWindow;
}

namespace wendral {

class SkinEngine;
class StatusPanels;
class WebsiteWindow;
class WindowStacker;
struct BrandingProfile;

// What the website window needs of the helper it runs in.
struct WebsiteContext
{
    BrandingProfile &profile;
    SkinEngine &skin;
    WindowStacker &stacker;
    // The window loaded now, if any (one at a time).
    QPointer<WebsiteWindow> window;
};

class WebsiteWindow : public QWidget
{
    Q_OBJECT
public:
    // Loads the window (the load steps run here) without showing it.
    explicit WebsiteWindow(WebsiteContext &context);
    ~WebsiteWindow() override;

    // Loads the window if it is not loaded and shows it modeless; when it is
    // loaded already it is only shown and brought forward, on the page it has.
    static WebsiteWindow *open(WebsiteContext &context);

    QWebEngineView *browser() const;
    QLineEdit *addressBox() const;
    QStatusBar *statusBar() const;
    QWidget *control(const QString &name) const;
    // Status panels, counted from 1.
    int panelCount() const;
    QString panelText(int index) const;
    int panelWidthTwips(int index) const;

    // Sizes the controls to the window (runs on every paint and resize).
    void arrangeControls();
    // What the last arrangement computed, in twips.
    WebsiteArrangement lastArrangement() const { return m_arranged; }

    // Navigates to the address box's text. False when the text is no
    // address (nothing happens then).
    bool go();
    bool navigate(const QString &address);

signals:
    // The user closed the window: it is unloaded (deleted soon).
    void closed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void load();
    void placeStatusBar();
    void onStatusTextChange(const QString &text);
    void onLoadStarted();
    void onLoadFinished();
    void onTitleChanged(const QString &title);

    std::unique_ptr<Ui::WebsiteWindow> ui;
    WebsiteContext &m_context;
    std::unique_ptr<StatusPanels> m_panels;
    WebsiteArrangement m_arranged;
    bool m_loading = false;
    bool m_completedOnce = false;
};

} // namespace wendral
