#pragma once
// A list box held as a plain string list, with single selection, for driving
// the site lists without widgets.

#include "core/sitelists.h"

#include <QStringList>

namespace wendral::test {

class StringListBox : public SiteListBox
{
public:
    int count() const override { return static_cast<int>(m_items.size()); }
    QString item(int i) const override { return m_items.value(i); }
    void addItem(const QString &text) override { m_items.append(text); }
    void removeItem(int i) override
    {
        if (i < 0 || i >= count())
            return;
        m_items.removeAt(i);
        if (m_selected == i)
            m_selected = -1;
        else if (m_selected > i)
            --m_selected;
    }
    bool isSelected(int i) const override { return i >= 0 && i == m_selected; }

    void setSelected(int i) { m_selected = i; }
    int selected() const { return m_selected; }
    const QStringList &items() const { return m_items; }
    void clear()
    {
        m_items.clear();
        m_selected = -1;
    }

private:
    QStringList m_items;
    int m_selected = -1;
};

} // namespace wendral::test
