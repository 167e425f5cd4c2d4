#include "forms/formtools.h"

#include "forms/twips.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QWidget>

// The artwork is compiled into this static library; a program links its
// resource data only when something refers to it. Every window uses this file,
// so registering the resources here makes them available to all of them.
static void registerAssets()
{
    Q_INIT_RESOURCE(assets);
}
namespace {
[[maybe_unused]] const bool g_assetsRegistered = (registerAssets(), true);
}

namespace wendral {

void installFontFallbacks()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (!QFontDatabase::hasFamily(QStringLiteral("Verdana"))) {
        const QString sans = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        QFont::insertSubstitution(QStringLiteral("Verdana"), sans.isEmpty() ? QStringLiteral("Sans Serif") : sans);
    }
}

void applyDesignFonts(QWidget *root)
{
    if (!root)
        return;
    installFontFallbacks();
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    for (QWidget *w : widgets) {
        const QVariant size = w->property("designPointSize");
        if (!size.isValid())
            continue;
        QFont f = w->font();
        f.setPointSizeF(size.toDouble());
        w->setFont(f);
    }
}

void setFixedDialogStyle(QWidget *window)
{
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
    window->setWindowFlags(flags);
    window->setFixedSize(window->size());
}

void centerOnScreen(QWidget *window)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

QList<QWidget *> controlsOf(QWidget *window)
{
    return window ? window->findChildren<QWidget *>() : QList<QWidget *>{};
}

StatusPanels::StatusPanels(QStatusBar *bar) : m_bar(bar)
{
    addPanel();
}

int StatusPanels::count() const
{
    return static_cast<int>(m_panels.size());
}

void StatusPanels::addPanel()
{
    if (!m_bar)
        return;
    auto *label = new QLabel(m_bar);
    label->setObjectName(QStringLiteral("Panel%1").arg(m_panels.size() + 1));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setTextFormat(Qt::PlainText);
    // A fresh panel has the width a status bar gives a new panel by default.
    label->setFixedWidth(twipsToPixels(1440));
    m_bar->addWidget(label);
    m_panels.append(label);
}

QLabel *StatusPanels::panel(int index) const
{
    if (index < 1 || index > m_panels.size())
        return nullptr;
    return m_panels.at(index - 1);
}

bool StatusPanels::setText(int index, const QString &text)
{
    QLabel *p = panel(index);
    if (!p)
        return false;
    p->setText(text);
    return true;
}

QString StatusPanels::text(int index) const
{
    QLabel *p = panel(index);
    return p ? p->text() : QString();
}

bool StatusPanels::setWidthTwips(int index, int twips)
{
    QLabel *p = panel(index);
    if (!p)
        return false;
    p->setFixedWidth(qMax(0, twipsToPixels(twips)));
    return true;
}

int StatusPanels::widthTwips(int index) const
{
    QLabel *p = panel(index);
    return p ? pixelsToTwips(p->maximumWidth()) : 0;
}

} // namespace wendral
