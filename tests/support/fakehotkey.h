#pragma once
// A global hotkey for tests: registration succeeds unless told otherwise, and
// press() stands in for the user pressing the key.

#include "platform/globalhotkey.h"

namespace wendral::test {

class FakeGlobalHotkey : public GlobalHotkey
{
    Q_OBJECT
public:
    using GlobalHotkey::GlobalHotkey;

    // False makes registration fail, as when another program holds the key.
    bool available = true;
    int registerCalls = 0;
    int unregisterCalls = 0;

    bool registerKey() override
    {
        ++registerCalls;
        m_registered = available;
        return m_registered;
    }
    void unregisterKey() override
    {
        ++unregisterCalls;
        m_registered = false;
    }
    bool isRegistered() const override { return m_registered; }

    // The key reaches the program only while it is registered.
    void press()
    {
        if (m_registered)
            emit pressed();
    }

private:
    bool m_registered = false;
};

} // namespace wendral::test
