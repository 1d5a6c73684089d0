#include "platform/Termination.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

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

void installHandler(int signal)
{
    struct sigaction act {};
    act.sa_handler = onTerminationSignal;
    sigemptyset(&act.sa_mask);
    act.sa_flags = SA_RESTART;
    ::sigaction(signal, &act, nullptr);
}

} // namespace

struct TerminationHandlersKept::Watch {
    std::mutex mutex;
    std::condition_variable stop;
    bool stopping = false;
    std::thread thread;
};

TerminationHandlersKept::TerminationHandlersKept()
{
    if (g_writeEnd < 0)
        return;
    m_watch = new Watch;
    m_watch->thread = std::thread([w = m_watch] {
        std::unique_lock lock(w->mutex);
        // A few milliseconds of exposure per replacement at most; idle otherwise.
        while (!w->stop.wait_for(lock, std::chrono::milliseconds(2), [w] { return w->stopping; })) {
            for (int signal : {SIGTERM, SIGINT, SIGPIPE}) {
                struct sigaction now {};
                if (::sigaction(signal, nullptr, &now) != 0)
                    continue;
                if (signal == SIGPIPE) {
                    if (now.sa_handler != SIG_IGN)
                        ::signal(SIGPIPE, SIG_IGN);
                } else if (now.sa_handler != onTerminationSignal) {
                    installHandler(signal);
                }
            }
        }
    });
}

TerminationHandlersKept::~TerminationHandlersKept()
{
    if (!m_watch)
        return;
    {
        std::lock_guard lock(m_watch->mutex);
        m_watch->stopping = true;
    }
    m_watch->stop.notify_all();
    m_watch->thread.join();
    delete m_watch;
}

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
    installHandler(SIGTERM);
    installHandler(SIGINT);
    return fds[0];
}

void drainTerminationRequests(int fd)
{
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace kelvo
