#include "ui/listwidgetbox.h"

#include <QListWidget>

namespace wendral {

ListWidgetBox::ListWidgetBox(QListWidget *list) : m_list(list) {}

int ListWidgetBox::count() const
{
    return m_list ? m_list->count() : 0;
}

QString ListWidgetBox::item(int i) const
{
    const QListWidgetItem *it = m_list ? m_list->item(i) : nullptr;
    return it ? it->text() : QString();
}

void ListWidgetBox::addItem(const QString &text)
{
    if (m_list)
        m_list->addItem(text);
}

void ListWidgetBox::removeItem(int i)
{
    if (m_list && i >= 0 && i < m_list->count())
        delete m_list->takeItem(i);
}

bool ListWidgetBox::isSelected(int i) const
{
    const QListWidgetItem *it = m_list ? m_list->item(i) : nullptr;
    return it && it->isSelected();
}

} // namespace wendral
