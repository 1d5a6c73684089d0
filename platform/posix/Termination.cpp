#include "platform/Termination.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace kelvo {

namespace {

int g_writeEnd = -1;
constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

bool handledHere(int signal)
{
    if (signal == SIGPIPE)
        return true;
    for (const int s : kTerminationSignals) {
        if (s == signal)
            return true;
    }
    return false;
}
void onTerminationSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_writeEnd, &byte, 1);
    errno = saved;
}

using SigactionFunction = int (*)(int, const struct sigaction*, struct sigaction*);

// The C library's own sigaction, past the guard below.
SigactionFunction realSigaction()
{
    static const auto real = reinterpret_cast<SigactionFunction>(::dlsym(RTLD_NEXT, "sigaction"));
    return real;
}

void installHandler(int signal)
{
    struct sigaction act {};
    act.sa_handler = onTerminationSignal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;
    realSigaction()(signal, &act, nullptr);
}

} // namespace

int installTerminationHandlers()
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    realSigaction()(SIGPIPE, &ignore, nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    g_writeEnd = fds[1];
    for (const int signal : kTerminationSignals)
        installHandler(signal);
    return fds[0];
}

void drainTerminationRequests(int fd)
{
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace kelvo

// Once the program handles the termination signals and SIGPIPE itself, libraries may not take them
// back: SANE's test backend sets SIGTERM to its default in every reader thread it starts,
// which would kill a scan mid-page instead of ending it in order. Other signals pass.
extern "C" int sigaction(int signal, const struct sigaction* act, struct sigaction* old)
{
    const auto real = kelvo::realSigaction();
    if (act && kelvo::g_writeEnd >= 0 && kelvo::handledHere(signal))
        return real(signal, nullptr, old);
    return real(signal, act, old);
}
