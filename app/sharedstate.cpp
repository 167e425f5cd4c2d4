#include "app/sharedstate.h"

namespace wendral {
namespace {
SharedState g_state;
}

SharedState &shared()
{
    return g_state;
}
void resetShared()
{
    g_state = SharedState{};
}

} // namespace wendral
