#include "platform/Termination.h"

#include <atomic>
#include <cstdlib>

namespace kelvo {

// Windows has no termination signals for a GUI program: a request to end arrives as a close
// of the main window (WM_CLOSE, WM_ENDSESSION), which the window handles itself.

namespace {

void (*g_exitHandler)() = nullptr;
std::atomic<bool> g_exitHandlerRan{false};

void runExitHandler()
{
    if (g_exitHandler && !g_exitHandlerRan.exchange(true))
        g_exitHandler();
}

} // namespace

int installTerminationHandlers()
{
    return -1;
}

void drainTerminationRequests(int)
{
}

void setExitHandler(void (*handler)())
{
    g_exitHandler = handler;
    std::atexit(runExitHandler);
}

void keepExitHandlerFirst()
{
    if (g_exitHandler && !g_exitHandlerRan.load())
        std::atexit(runExitHandler);
}

} // namespace kelvo
