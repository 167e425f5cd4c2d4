#pragma once
// The main window's list boxes as the site-list operations see them.

#include "core/sitelists.h"

#include <QPointer>

class QListWidget;

namespace wendral {

class ListWidgetBox : public SiteListBox
{
public:
    explicit ListWidgetBox(QListWidget *list);
    int count() const override;
    QString item(int i) const override;
    void addItem(const QString &text) override;
    void removeItem(int i) override;
    bool isSelected(int i) const override;

private:
    QPointer<QListWidget> m_list;
};

} // namespace wendral
