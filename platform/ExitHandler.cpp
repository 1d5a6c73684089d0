// The handler for an exit() nobody planned, the same on every system (see Termination.h).
#include "platform/Termination.h"

#include <atomic>
#include <cstdlib>

namespace kelvo {

namespace {

void (*g_exitHandler)() = nullptr;
std::atomic<bool> g_exitHandlerRan{false};

void runExitHandler()
{
    if (g_exitHandler && !g_exitHandlerRan.exchange(true))
        g_exitHandler();
}

} // namespace

void setExitHandler(void (*handler)())
{
    g_exitHandler = handler;
    std::atexit(runExitHandler);
}

void keepExitHandlerFirst()
{
    // Handlers run last registered first; the earlier registrations then find it done.
    if (g_exitHandler && !g_exitHandlerRan.load())
        std::atexit(runExitHandler);
}

} // namespace kelvo
