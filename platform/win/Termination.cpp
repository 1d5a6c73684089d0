#include "platform/Termination.h"

namespace kelvo {

// Windows has no termination signals for a GUI program: a request to end arrives as a close
// of the main window (WM_CLOSE, WM_ENDSESSION), which the window handles itself.

int installTerminationHandlers()
{
    return -1;
}

void drainTerminationRequests(int)
{
}

} // namespace kelvo
