#include "scanner/sane/SaneWorker.h"

#include "platform/Module.h"

#include <QCoreApplication>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvo {

namespace {

constexpr const char* kHelperName = "kelvobild-scanner";
// How long an answer is awaited in one slice, between looks at the event loop.
constexpr int kSliceMs = 20;
// The end of an earlier acquisition (the device cancelled) is awaited this long before a
// new request; a worker that stays stuck there is replaced.
constexpr std::chrono::milliseconds kIdleWait(500);

using Clock = std::chrono::steady_clock;

bool onApplicationThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Receives one message (and a descriptor sent with it) into `buffer`, kept at full size so
// that nothing is cleared per message. >0: its length; 0: the worker is gone; -1: nothing
// there (only without waiting).
ssize_t receiveMessage(int socket, std::vector<char>& buffer, int* fd, bool wait)
{
    if (buffer.size() < worker::kMaxMessage)
        buffer.resize(worker::kMaxMessage);
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (fd)
        *fd = -1;
    for (;;) {
        const ssize_t n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC | (wait ? 0 : MSG_DONTWAIT));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return -1;
        if (n <= 0)
            return 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
                continue;
            const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (size_t i = 0; i < count; ++i) {
                int received = -1;
                std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                if (fd && *fd < 0)
                    *fd = received;
                else
                    ::close(received);
            }
        }
        return n;
    }
}

} // namespace

std::chrono::milliseconds stallLimit()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("KELVO_SANE_STALL_SECONDS").toDouble(&ok);
    if (ok && seconds > 0.0 && seconds < 86400.0)
        return std::chrono::milliseconds(static_cast<qint64>(seconds * 1000.0));
    return std::chrono::minutes(2);
}

WorkerChannel::~WorkerChannel()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool WorkerChannel::send(const worker::Writer& w)
{
    std::lock_guard lock(mutex_);
    const std::vector<char>& d = w.data();
    for (;;) {
        if (::send(fd_, d.data(), d.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

size_t WorkerChannel::receive(std::vector<char>& buffer, int* fd)
{
    const ssize_t n = receiveMessage(fd_, buffer, fd, true);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

void WorkerChannel::shutdown()
{
    ::shutdown(fd_, SHUT_RDWR);
}

SaneWorker::~SaneWorker()
{
    end();
}

bool SaneWorker::start()
{
    if (running())
        return true;
    std::string why;
    const std::string path = findHelper(kHelperName, why);
    if (path.empty()) {
        std::fprintf(stderr, "Scannerprogramm %s nicht gestartet: %s\n", kHelperName, why.c_str());
        std::fflush(stderr);
        return false;
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        std::fprintf(stderr, "Scannerprogramm %s nicht gestartet: %s\n", kHelperName, std::strerror(errno));
        std::fflush(stderr);
        return false;
    }
    // The worker's end becomes its descriptor 3 (dup2 there drops close-on-exec).
    if (fds[1] == 3) {
        const int moved = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
        ::close(fds[1]);
        fds[1] = moved;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A process group of its own, so the processes a backend forks end with it; no signal
    // blocked or ignored that the program blocks or ignores.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGHUP);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char* argv[] = {const_cast<char*>(kHelperName), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        std::fprintf(stderr, "Scannerprogramm %s nicht gestartet: %s\n", path.c_str(), std::strerror(spawned));
        std::fflush(stderr);
        return false;
    }
    pid_ = pid;
    channel_ = std::make_shared<WorkerChannel>(fds[0]);
    idlePending = false;
    return true;
}

void SaneWorker::reap(std::chrono::milliseconds wait)
{
    if (pid_ <= 0)
        return;
    const auto until = Clock::now() + wait;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR))
            break;
        if (Clock::now() >= until) {
            // Killed but not yet gone (stuck in the kernel): waited for at the next start or
            // at the end of the process, never here without a bound.
            ::kill(-pid_, SIGKILL);
            ::kill(pid_, SIGKILL);
            const auto last = Clock::now() + std::chrono::seconds(1);
            while (::waitpid(pid_, &status, WNOHANG) == 0 && Clock::now() < last)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
}

void SaneWorker::end(std::chrono::milliseconds grace)
{
    if (pid_ <= 0)
        return;
    channel_->shutdown();  // a worker waiting for requests ends on that
    reap(grace);
    channel_.reset();
}

void SaneWorker::kill()
{
    if (pid_ <= 0)
        return;
    // Its end of the socket closes as it dies: what it sent before is still read, then the end.
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    reap(std::chrono::milliseconds(1000));
    // The channel stays with pages still out; a new one comes with the next start.
    channel_.reset();
}

bool SaneWorker::exited()
{
    if (pid_ <= 0)
        return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_)
        return false;
    ::kill(-pid_, SIGKILL);  // what it forked goes with it, closing the socket
    pid_ = -1;
    return true;
}

bool SaneWorker::send(const worker::Writer& w)
{
    return running() && channel_->send(w);
}


bool SaneWorker::awaitType(uint32_t type, std::vector<char>& out, std::chrono::milliseconds limit)
{
    const auto until = Clock::now() + limit;
    const bool serveEvents = onApplicationThread();
    std::vector<char> buffer;
    for (;;) {
        int fd = -1;
        const ssize_t n = receiveMessage(channel_->fd(), buffer, &fd, false);
        if (fd >= 0)
            ::close(fd);
        if (n == 0)
            return false;
        if (n > 0) {
            if (worker::Reader(buffer.data(), static_cast<size_t>(n)).type() == type) {
                out.assign(buffer.data(), buffer.data() + n);
                return true;
            }
            continue;
        }
        if ((abort && abort()) || Clock::now() >= until || exited())
            return false;
        pollfd p{channel_->fd(), POLLIN, 0};
        ::poll(&p, 1, kSliceMs);
        if (serveEvents)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

bool SaneWorker::call(const worker::Writer& request, uint32_t replyType, std::vector<char>& reply,
                      std::chrono::milliseconds limit)
{
    if (!running())
        return false;
    if (idlePending) {
        std::vector<char> idle;
        if (!awaitType(worker::kIdle, idle, std::min(limit, kIdleWait))) {
            kill();
            return false;
        }
        idlePending = false;
    }
    if (!send(request) || !awaitType(replyType, reply, limit)) {
        kill();
        return false;
    }
    return true;
}

} // namespace kelvo
