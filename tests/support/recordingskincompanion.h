#pragma once
// A skin companion that records the calls it gets, in order, and the value it
// was attached to.

#include "forms/skin.h"

#include <QStringList>
#include <QVariant>

namespace wendral::test {

class RecordingSkinCompanion : public SkinCompanion
{
public:
    void attach(const QVariant &value) override
    {
        m_value = value;
        m_calls.append(QStringLiteral("attach"));
    }
    void start() override { m_calls.append(QStringLiteral("start")); }
    void end() override { m_calls.append(QStringLiteral("end")); }

    QStringList calls() const { return m_calls; }
    QVariant attachedValue() const { return m_value; }

private:
    QStringList m_calls;
    QVariant m_value;
};

} // namespace wendral::test
