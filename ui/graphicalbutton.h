#pragma once
// A button that shows its picture above its caption, the caption wrapped onto
// a second line when it is wider than the button (as graphical command buttons
// of the layouts do), instead of being cut short with an ellipsis.

#include <QToolButton>

namespace wendral {

class GraphicalButton : public QToolButton
{
    Q_OBJECT
public:
    explicit GraphicalButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace wendral
