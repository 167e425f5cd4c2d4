#pragma once
// Widget-side helpers of the form runtime: design fonts, fixed window styles,
// centring, and the panels of a status bar counted from 1.

#include <QList>
#include <QPointer>
#include <QString>

class QLabel;
class QStatusBar;
class QWidget;

namespace wendral {

// Verdana is the layouts' font; where it is not installed the desktop's sans
// font stands in (registered once as a substitution).
void installFontFallbacks();
// Layout files store whole point sizes; the layouts' fractional sizes (8.25,
// 14.25) ride along as a "designPointSize" property and are applied here.
void applyDesignFonts(QWidget *root);
// A fixed single border without minimise and maximise buttons, with a close box.
void setFixedDialogStyle(QWidget *window);
void centerOnScreen(QWidget *window);
// Every widget of a window whose object name matches, searched depth first
// (the window's "control collection").
QList<QWidget *> controlsOf(QWidget *window);

// The panels of a status bar, counted from 1. A window starts with one panel,
// as a fresh status bar has; writing to a panel that does not exist fails and
// changes nothing.
class StatusPanels
{
public:
    explicit StatusPanels(QStatusBar *bar);
    int count() const;
    void addPanel();
    bool setText(int index, const QString &text);
    QString text(int index) const;
    bool setWidthTwips(int index, int twips);
    int widthTwips(int index) const;

private:
    QLabel *panel(int index) const;
    QPointer<QStatusBar> m_bar;
    QList<QPointer<QLabel>> m_panels;
};

} // namespace wendral
