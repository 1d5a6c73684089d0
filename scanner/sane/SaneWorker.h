// The program's end of its scanner worker (kelvobild-scanner, see worker/ScannerWorker.cpp):
// starting it, requests and their answers with a bound on every wait, and ending it. A
// worker that does not answer in time, or is asked to give up, is killed (SIGKILL, with the
// backend processes it may have started) and reaped; the next request starts a new one.
#pragma once

#include "scanner/sane/worker/Protocol.h"

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kelvo {

// The socket, shared with pages that may be released after the worker has gone: they tell
// the worker that their buffer is free again, if it is still there.
class WorkerChannel {
public:
    explicit WorkerChannel(int fd)
        : fd_(fd)
    {
    }
    ~WorkerChannel();
    // Sends without waiting; false when the worker is gone or its socket full.
    bool send(const worker::Writer& w);
    // The next message into `buffer`, waiting for it; its length, or 0 when the worker has
    // gone. A descriptor that came with it in *fd (else -1). For one thread at a time.
    size_t receive(std::vector<char>& buffer, int* fd);
    // Ends both directions: a thread waiting to receive returns at once.
    void shutdown();
    int fd() const { return fd_; }

private:
    std::mutex mutex_;
    int fd_;
};

class SaneWorker {
public:
    SaneWorker() = default;
    ~SaneWorker();
    SaneWorker(const SaneWorker&) = delete;
    SaneWorker& operator=(const SaneWorker&) = delete;

    // Starts the worker when none runs. False, with one line on standard error, when it
    // cannot be found or started.
    bool start();
    bool running() const { return pid_ > 0; }
    // Ends the worker: its socket is closed, which ends a worker that waits for requests;
    // one that has not ended after `grace` is killed. Always reaped.
    void end(std::chrono::milliseconds grace = std::chrono::milliseconds(200));
    // Kills the worker at once; a thread receiving from it reads what was sent, then the end.
    void kill();
    // The worker has ended by itself (crashed): then it is reaped, with what it forked.
    bool exited();

    // A request and its answer of type `replyType`. Messages of other types in between are
    // dropped (the end of an earlier acquisition among them). False, with the worker
    // killed, when no answer comes within `limit`, when `abort` says so, or when the worker
    // has gone. Waits on the calling thread; on the application's thread timers and socket
    // notifiers (a termination request) are served meanwhile, user input is not.
    bool call(const worker::Writer& request, uint32_t replyType, std::vector<char>& reply,
              std::chrono::milliseconds limit);
    bool send(const worker::Writer& w);

    std::shared_ptr<WorkerChannel> channel() const { return channel_; }
    // Checked while waiting for an answer: true gives up.
    std::function<bool()> abort;
    // An acquisition ended and the worker is still cancelling the device: the next request
    // waits for it to say it is ready, briefly.
    bool idlePending = false;

private:
    bool awaitType(uint32_t type, std::vector<char>& out, std::chrono::milliseconds limit);
    void reap(std::chrono::milliseconds wait);

    pid_t pid_ = -1;
    std::shared_ptr<WorkerChannel> channel_;
};

// How long a device may give no sign of life before it is given up on: KELVO_SANE_STALL_SECONDS
// (default 120 s, far beyond a lamp's warm-up or a slow feeder; tests set a few seconds).
std::chrono::milliseconds stallLimit();

} // namespace kelvo
