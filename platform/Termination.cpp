#include "platform/Termination.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace kelvo {

namespace {

int g_writeEnd = -1;

void onTerminationSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_writeEnd, &byte, 1);
    errno = saved;
}

} // namespace

int installTerminationHandlers()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    g_writeEnd = fds[1];
    struct sigaction act {};
    act.sa_handler = onTerminationSignal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &act, nullptr);
    ::sigaction(SIGINT, &act, nullptr);
    return fds[0];
}

void drainTerminationRequests(int fd)
{
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace kelvo
