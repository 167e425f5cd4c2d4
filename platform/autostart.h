#pragma once
// Starting the program when the user logs in.

#include <QString>

namespace wendral {

class AutostartService
{
public:
    virtual ~AutostartService() = default;
    // Starts `program` at logon under `name`; false when that could not be set up.
    virtual bool enable(const QString &name, const QString &program) = 0;
    // Stops doing so; true when nothing is left that would start it.
    virtual bool disable(const QString &name) = 0;
};

} // namespace wendral
