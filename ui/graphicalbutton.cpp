#include "ui/graphicalbutton.h"

#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace wendral {

GraphicalButton::GraphicalButton(QWidget *parent) : QToolButton(parent)
{
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
}

void GraphicalButton::paintEvent(QPaintEvent *)
{
    QStylePainter p(this);
    QStyleOptionToolButton opt;
    initStyleOption(&opt);
    // The bevel alone; picture and caption are laid out here.
    opt.text.clear();
    opt.icon = QIcon();
    p.drawComplexControl(QStyle::CC_ToolButton, opt);

    const QRect inner = rect().adjusted(3, 3, -3, -3);
    const int shift = isDown() ? 1 : 0;
    const QSize iconSz = iconSize();
    const QFontMetrics fm(font());
    const QRect textBounds =
        fm.boundingRect(QRect(0, 0, inner.width(), inner.height()), Qt::AlignHCenter | Qt::TextWordWrap, text());
    const int contentHeight = iconSz.height() + 2 + textBounds.height();
    int top = inner.top() + qMax(0, (inner.height() - contentHeight) / 2);
    if (!icon().isNull()) {
        const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
        const QPixmap pm = icon().pixmap(iconSz, devicePixelRatioF(), mode);
        const QPoint at(inner.left() + (inner.width() - iconSz.width()) / 2 + shift, top + shift);
        p.drawPixmap(QRect(at, iconSz), pm);
    }
    top += iconSz.height() + 2;
    const QRect textRect(inner.left() + shift, top + shift, inner.width(), inner.bottom() - top + 1);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text());
}

} // namespace wendral
