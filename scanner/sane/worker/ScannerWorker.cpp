// kelvobild-scanner: the program's scanner worker. Every call into SANE and its backends runs
// here, in a process of its own, so that a backend that crashes, deadlocks or hangs costs the
// program this process and nothing else: the program kills it and keeps the pages it already
// has. Started by the program with its end of a socket pair as descriptor 3; answers
// requests one at a time (see Protocol.h) and reads the pages of an acquisition into shared
// memory, one page ahead of the page the program is storing.
#include "scanner/sane/worker/Protocol.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#ifdef KELVO_WORKER_FAULTS
#include <mutex>
#endif

namespace {

using namespace kelvo::worker;

constexpr int kSocket = 3;
// sane_start may report a lamp still warming up; it is asked again for this long.
constexpr auto kWarmUpRetry = std::chrono::milliseconds(250);
constexpr int kWarmUpAttempts = 480;  // two minutes
// SANE_STATUS_WARMING_UP: announced for later SANE versions, and sent by some backends.
constexpr int kStatusWarmingUp = 12;
constexpr int64_t kMaxPageBytes = int64_t(4) << 30;
constexpr SANE_Int kReadChunk = 1 << 20;
// Progress is told at most this often.
constexpr auto kProgressInterval = std::chrono::milliseconds(20);
// Pause before cancelling a page that has only just started: backends whose reader thread is
// cancelled asynchronously can be cut off while it sets itself up, and then deadlock.
constexpr auto kCancelGrace = std::chrono::milliseconds(150);
// Spare page buffers kept for reuse: the page being stored and the one being read.
constexpr size_t kSpareBuffers = 2;

// ---- the socket ----

[[noreturn]] void programGone()
{
    // The program closed its end (it ended, or gave up on us): nothing is left to do, and
    // a backend must not be waited for.
    std::_Exit(0);
}

void sendMessage(const Writer& w, int fd = -1)
{
    const std::vector<char>& d = w.data();
    iovec iov{const_cast<char*>(d.data()), d.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (fd >= 0) {
        std::memset(control, 0, sizeof control);
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    for (;;) {
        if (::sendmsg(kSocket, &msg, MSG_NOSIGNAL) >= 0)
            return;
        if (errno != EINTR)
            programGone();
    }
}

// The next message, into `buf` (kept at full size: no clearing per message); its length, 0
// when none is there (only without `wait`).
size_t receive(std::vector<char>& buf, bool wait)
{
    if (buf.size() < kMaxMessage)
        buf.resize(kMaxMessage);
    for (;;) {
        const ssize_t n = ::recv(kSocket, buf.data(), buf.size(), wait ? 0 : MSG_DONTWAIT);
        if (n > 0)
            return static_cast<size_t>(n);
        if (n == 0)
            programGone();
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        programGone();
    }
}

std::vector<char>& inbox()
{
    static std::vector<char> buf(kMaxMessage);
    return buf;
}

// ---- test faults ----

#ifdef KELVO_WORKER_FAULTS
// KELVO_SCANNER_FAULT=crash:N or hang:N (test builds only): the worker dies of a segmentation
// fault, or deadlocks for good, once data of page N has come in, as broken backends do.
struct Fault {
    enum { None, Crash, Hang } kind = None;
    int page = 0;
} g_fault;

void readFault()
{
    const char* env = std::getenv("KELVO_SCANNER_FAULT");
    if (!env)
        return;
    const std::string s(env);
    const size_t colon = s.find(':');
    if (colon == std::string::npos)
        return;
    const std::string what = s.substr(0, colon);
    g_fault.page = std::atoi(s.c_str() + colon + 1);
    g_fault.kind = what == "crash" ? Fault::Crash : what == "hang" ? Fault::Hang : Fault::None;
}

void faultAt(int page)
{
    if (g_fault.kind == Fault::None || page != g_fault.page)
        return;
    if (g_fault.kind == Fault::Crash) {
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        std::signal(SIGSEGV, SIG_DFL);
        ::raise(SIGSEGV);
    }
    // A lock taken twice by the same thread: stuck as a cancelled backend thread leaves it.
    static std::mutex mutex;
    mutex.lock();
    mutex.lock();
}
#else
void readFault() {}
void faultAt(int) {}
#endif

// ---- the device ----

SANE_Handle g_handle = nullptr;
bool g_cancelPending = false;  // something was started since the last sane_cancel

void closeDevice()
{
    if (!g_handle)
        return;
    if (g_cancelPending)
        sane_cancel(g_handle);
    sane_close(g_handle);
    g_handle = nullptr;
    g_cancelPending = false;
}

void listDevices()
{
    const SANE_Device** list = nullptr;
    std::vector<const SANE_Device*> found;
    if (sane_get_devices(&list, SANE_FALSE) == SANE_STATUS_GOOD && list) {
        for (const SANE_Device** d = list; *d; ++d) {
            if ((*d)->name)
                found.push_back(*d);
        }
    }
    Writer w(kDevices);
    w.u32(static_cast<uint32_t>(found.size()));
    for (const SANE_Device* d : found)
        w.str(d->name).str(d->vendor).str(d->model).str(d->type);
    sendMessage(w);
}

void openDevice(Reader& r)
{
    const std::string name = r.str();
    closeDevice();
    SANE_Handle h = nullptr;
    int status = sane_open(name.c_str(), &h);
    if (status == SANE_STATUS_GOOD && !h)
        status = SANE_STATUS_INVAL;
    if (status == SANE_STATUS_GOOD)
        g_handle = h;
    sendMessage(Writer(kOpened).i32(status));
}

void descriptors()
{
    Writer w(kDescriptorList);
    SANE_Int count = 0;
    if (!g_handle || !sane_get_option_descriptor(g_handle, 0)
        || sane_control_option(g_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD || count < 1)
        count = 0;
    w.i32(count);
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(g_handle, i);
        w.i32(d ? 1 : 0);
        if (!d)
            continue;
        w.str(d->name).str(d->title).str(d->desc);
        w.i32(d->type).i32(d->unit).i32(d->size).i32(d->cap);
        SANE_Constraint_Type constraint = d->constraint_type;
        if ((constraint == SANE_CONSTRAINT_RANGE && !d->constraint.range)
            || (constraint == SANE_CONSTRAINT_WORD_LIST && !d->constraint.word_list)
            || (constraint == SANE_CONSTRAINT_STRING_LIST && !d->constraint.string_list))
            constraint = SANE_CONSTRAINT_NONE;
        w.i32(constraint);
        if (constraint == SANE_CONSTRAINT_RANGE) {
            w.i32(d->constraint.range->min).i32(d->constraint.range->max).i32(d->constraint.range->quant);
        } else if (constraint == SANE_CONSTRAINT_WORD_LIST) {
            const SANE_Word n = std::max<SANE_Word>(0, d->constraint.word_list[0]);
            w.i32(n);
            for (SANE_Word k = 1; k <= n; ++k)
                w.i32(d->constraint.word_list[k]);
        } else if (constraint == SANE_CONSTRAINT_STRING_LIST) {
            uint32_t n = 0;
            while (d->constraint.string_list[n])
                ++n;
            w.u32(n);
            for (uint32_t k = 0; k < n; ++k)
                w.str(d->constraint.string_list[k]);
        }
    }
    sendMessage(w);
}

void control(Reader& r)
{
    const int32_t index = r.i32();
    const int32_t action = r.i32();
    std::string value = r.str();
    const bool withValue = r.u32() != 0;
    SANE_Int info = 0;
    int status = SANE_STATUS_INVAL;  // as the backend gave it
    if (g_handle && r.ok()) {
        // Room for what the backend may write: the option's size, whatever the program sent.
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(g_handle, index);
        std::vector<char> buf(std::max<size_t>(value.size(), d && d->size > 0 ? static_cast<size_t>(d->size) : 0) + 8, 0);
        std::memcpy(buf.data(), value.data(), value.size());
        status = sane_control_option(g_handle, index, static_cast<SANE_Action>(action), withValue ? buf.data() : nullptr,
                                     &info);
        value.assign(buf.data(), value.size());
    }
    sendMessage(Writer(kControlled).i32(status).i32(info).str(value));
}

// ---- pages ----

struct Buffer {
    int32_t id = 0;
    int fd = -1;
    char* map = nullptr;
    int64_t size = 0;
    bool busy = false;       // holds a page the program still has
    bool announced = false;  // the program has the descriptor at this size
};

std::vector<Buffer> g_buffers;
int32_t g_nextBufferId = 1;
int g_buffersMade = 0;

void dropBuffer(Buffer& b)
{
    if (b.map)
        ::munmap(b.map, static_cast<size_t>(b.size));
    if (b.fd >= 0)
        ::close(b.fd);
    b = Buffer{};
}

// Makes `b` hold at least `size` bytes; false when memory runs out.
bool growBuffer(Buffer& b, int64_t size)
{
    if (size <= b.size)
        return true;
    if (size > kMaxPageBytes)
        return false;
    if (b.fd < 0) {
        b.fd = ::memfd_create("kelvobild-page", MFD_CLOEXEC);
        if (b.fd < 0)
            return false;
        ++g_buffersMade;
    }
    if (::ftruncate(b.fd, size) != 0)
        return false;
    void* m = b.map ? ::mremap(b.map, static_cast<size_t>(b.size), static_cast<size_t>(size), MREMAP_MAYMOVE)
                    : ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, b.fd, 0);
    if (m == MAP_FAILED)
        return false;
    b.map = static_cast<char*>(m);
    b.size = size;
    b.announced = false;
    return true;
}

// ---- an acquisition ----

struct Run {
    bool multiPage = false;
    int taken = 0;  // pages the program has handed over
    bool stop = false;
    bool frameOpen = false;  // started, not yet read to its end
    int page = 0;
    int64_t bytesRead = 0;
    int64_t bytesExpected = -1;
    std::chrono::steady_clock::time_point toldAt{};
};

void handleDuringRun(Run& run, const std::vector<char>& buf, size_t n)
{
    Reader r(buf.data(), n);
    switch (r.type()) {
    case kTaken:
        ++run.taken;
        break;
    case kStop:
        run.stop = true;
        break;
    case kRelease: {
        const int32_t id = r.i32();
        for (Buffer& b : g_buffers) {
            if (b.id == id)
                b.busy = false;
        }
        break;
    }
    default:
        break;  // nothing else is asked during an acquisition
    }
}

// Takes the messages that are there (or, with `wait`, waits for one first).
void pump(Run& run, bool wait)
{
    std::vector<char>& buf = inbox();
    bool first = true;
    while (const size_t n = receive(buf, wait && first)) {
        handleDuringRun(run, buf, n);
        first = false;
    }
}

void tellProgress(Run& run, bool now)
{
    const auto t = std::chrono::steady_clock::now();
    if (!now && t - run.toldAt < kProgressInterval)
        return;
    run.toldAt = t;
    sendMessage(Writer(kProgress).i32(run.page).i64(run.bytesRead).i64(run.bytesExpected));
}

// A free buffer: the largest spare, so that it seldom has to grow; a new one when none is free.
Buffer& freeBuffer()
{
    Buffer* best = nullptr;
    for (Buffer& b : g_buffers) {
        if (!b.busy && (!best || b.size > best->size))
            best = &b;
    }
    if (best)
        return *best;
    g_buffers.push_back(Buffer{});
    g_buffers.back().id = g_nextBufferId++;
    return g_buffers.back();
}

// Spares beyond those kept are given back: pages the program holds on to keep theirs.
void trimBuffers()
{
    size_t spare = 0;
    for (auto it = g_buffers.begin(); it != g_buffers.end();) {
        if (!it->busy && ++spare > kSpareBuffers) {
            dropBuffer(*it);
            it = g_buffers.erase(it);
        } else {
            ++it;
        }
    }
}

double optionNumber(const char* name)
{
    SANE_Int count = 0;
    if (sane_control_option(g_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return 0.0;
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(g_handle, i);
        if (!d || !d->name || std::strcmp(d->name, name) != 0)
            continue;
        if ((d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || !SANE_OPTION_IS_ACTIVE(d->cap)
            || d->size < static_cast<SANE_Int>(sizeof(SANE_Word)))
            return 0.0;
        std::vector<SANE_Word> words(static_cast<size_t>(d->size) / sizeof(SANE_Word) + 1, 0);
        if (sane_control_option(g_handle, i, SANE_ACTION_GET_VALUE, words.data(), nullptr) != SANE_STATUS_GOOD)
            return 0.0;
        return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(words[0]) : static_cast<double>(words[0]);
    }
    return 0.0;
}

struct PageEnd {
    FinishKind kind = kEndedWithStatus;
    int status = SANE_STATUS_GOOD;  // as the backend gave it: a broken one gives any number
    bool feederEmpty = false;  // NO_DOCS before any data of the page
};

int startFrame(Run& run)
{
    for (int attempt = 0;; ++attempt) {
        const int status = sane_start(g_handle);
        g_cancelPending = true;
        if (status != kStatusWarmingUp || attempt >= kWarmUpAttempts)
            return status;
        sendMessage(Writer(kAlive));
        std::this_thread::sleep_for(kWarmUpRetry);
        pump(run, false);
        if (run.stop)
            return status;
    }
}

// Reads one frame to its end into `b` from `offset`; its length in *length.
PageEnd readFrame(Run& run, Buffer& b, int64_t offset, int64_t expected, int32_t bytesPerLine, int64_t* length,
                  bool firstFrame)
{
    PageEnd e;
    std::vector<SANE_Byte> overflow;  // data beyond the announced size is read and dropped
    int64_t filled = 0;
    const int64_t start = run.bytesRead;
    if (!growBuffer(b, offset + (expected > 0 ? expected : int64_t(bytesPerLine) * 256))) {
        e.kind = kEndedNoMemory;
        return e;
    }
    for (;;) {
        pump(run, false);
        if (run.stop) {
            e.kind = kEndedStopped;
            return e;
        }
        SANE_Byte* target = nullptr;
        SANE_Int room = 0;
        bool keep = true;
        if (offset + filled == b.size) {
            if (expected > 0) {
                overflow.resize(static_cast<size_t>(kReadChunk));
                target = overflow.data();
                room = kReadChunk;
                keep = false;
            } else if (!growBuffer(b, std::min(kMaxPageBytes, b.size * 2)) || offset + filled == b.size) {
                e.kind = kEndedNoMemory;
                return e;
            }
        }
        if (keep) {
            target = reinterpret_cast<SANE_Byte*>(b.map + offset + filled);
            room = static_cast<SANE_Int>(std::min<int64_t>(kReadChunk, b.size - offset - filled));
        }
        SANE_Int got = 0;
        const int status = sane_read(g_handle, target, room, &got);
        if (status == SANE_STATUS_EOF)
            break;
        if (status != SANE_STATUS_GOOD) {
            // The length is not to be trusted on any other status.
            e.status = status;
            e.feederEmpty = status == SANE_STATUS_NO_DOCS && filled == 0 && firstFrame;
            return e;
        }
        if (got < 0 || got > room) {
            e.kind = kEndedBadData;
            return e;
        }
        if (got == 0) {
            // Nothing yet. A device that stays silent is given up by the program, which
            // hears nothing from here meanwhile.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (keep)
            filled += got;
        run.bytesRead = start + filled;
        faultAt(run.page);
        tellProgress(run, false);
    }
    *length = filled;
    return e;
}

// Reads one page into `b`: one frame, or the three frames of a three-pass scanner.
PageEnd readPage(Run& run, Buffer& b, std::vector<Frame>& frames)
{
    PageEnd e;
    int64_t offset = 0;
    for (;;) {
        const int started = startFrame(run);
        run.frameOpen = started == SANE_STATUS_GOOD;
        if (run.stop) {
            e.kind = kEndedStopped;
            return e;
        }
        if (started != SANE_STATUS_GOOD) {
            e.status = started;
            e.feederEmpty = started == SANE_STATUS_NO_DOCS && frames.empty();
            return e;
        }
        if (frames.empty() && run.page == 1) {
            // Some devices settle the resolution only now. Once per acquisition: the net
            // backend crashes reading an option over a connection that has gone away.
            sendMessage(Writer(kResolution)
                            .f64(optionNumber(SANE_NAME_SCAN_RESOLUTION))
                            .f64(optionNumber(SANE_NAME_SCAN_X_RESOLUTION))
                            .f64(optionNumber(SANE_NAME_SCAN_Y_RESOLUTION)));
        }
        SANE_Parameters p{};
        const int got = sane_get_parameters(g_handle, &p);
        if (got != SANE_STATUS_GOOD) {
            e.status = got;
            return e;
        }
        Frame f;
        f.format = p.format;
        f.depth = p.depth;
        f.pixelsPerLine = p.pixels_per_line;
        f.bytesPerLine = p.bytes_per_line;
        f.lines = p.lines;
        if (f.format < 0 || f.format > 4 || f.bytesPerLine <= 0 || f.pixelsPerLine <= 0 || f.lines == 0
            || f.lines < -1) {
            e.kind = kEndedBadData;
            return e;
        }
        const int64_t frameBytes = f.lines > 0 ? int64_t(f.bytesPerLine) * f.lines : -1;
        if (frames.empty()) {
            // The whole page: three frames of this size from a three-pass scanner.
            run.bytesExpected = frameBytes < 0 ? -1 : frameBytes * (f.format >= 2 ? 3 : 1);
            tellProgress(run, true);
        }
        if (frameBytes > kMaxPageBytes) {
            e.kind = kEndedNoMemory;
            return e;
        }
        int64_t length = 0;
        e = readFrame(run, b, offset, frameBytes, f.bytesPerLine, &length, frames.empty());
        if (e.kind != kEndedWithStatus || e.status != SANE_STATUS_GOOD)
            return e;
        run.frameOpen = false;  // read to EOF
        if (length == 0) {
            e.kind = kEndedBadData;  // an empty frame: EOF at once
            return e;
        }
        f.offset = offset;
        f.length = length;
        offset += length;
        frames.push_back(f);
        if (p.last_frame)
            return e;
        if (frames.size() >= 3 || frames.back().format < 2) {
            e.kind = kEndedBadData;
            return e;
        }
    }
}

void acquire(Reader& r)
{
    Run run;
    run.multiPage = r.i32() != 0;
    PageEnd end;
    int sent = 0;
    // The program maps the buffers afresh for each acquisition.
    for (Buffer& b : g_buffers)
        b.announced = false;
    if (!g_handle) {
        sendMessage(Writer(kFinished).i32(kEndedWithStatus).i32(SANE_STATUS_INVAL).i32(0).i32(0).i32(0));
        sendMessage(Writer(kIdle));
        return;
    }
    for (int page = 1;; ++page) {
        // At most one page ahead: page N+1 is read while the program stores page N.
        while (!run.stop && run.taken < page - 2)
            pump(run, true);
        pump(run, false);
        if (run.stop) {
            end.kind = kEndedStopped;
            break;
        }
        run.page = page;
        run.bytesRead = 0;
        run.bytesExpected = -1;
        sendMessage(Writer(kPageStart).i32(page));
        trimBuffers();
        std::vector<Frame> frames;
        Buffer& b = freeBuffer();
        end = readPage(run, b, frames);
        if (end.kind != kEndedWithStatus || end.status != SANE_STATUS_GOOD)
            break;
        tellProgress(run, true);
        // Read to its end: sent even when a stop came meanwhile, its sheet has left the feeder.
        b.busy = true;
        Writer w(kPage);
        w.i32(b.id).i64(b.size).i32(b.announced ? 0 : 1).u32(static_cast<uint32_t>(frames.size()));
        for (const Frame& f : frames)
            w.i32(f.format).i32(f.depth).i32(f.pixelsPerLine).i32(f.bytesPerLine).i32(f.lines).i64(f.offset).i64(f.length);
        sendMessage(w, b.announced ? -1 : b.fd);
        b.announced = true;
        ++sent;
        if (!run.multiPage)
            break;
    }
    sendMessage(Writer(kFinished)
                    .i32(end.kind)
                    .i32(end.status)
                    .i32(end.feederEmpty ? 1 : 0)
                    .i32(sent)
                    .i32(g_buffersMade));
    g_buffersMade = 0;
    // Ends the batch (or the failed page). Between the pages of a feeder batch it is not
    // called: several backends end the batch on it and lose the back of a duplex sheet.
    if (run.frameOpen)
        std::this_thread::sleep_for(kCancelGrace);
    if (g_cancelPending) {
        sane_cancel(g_handle);
        g_cancelPending = false;
    }
    sendMessage(Writer(kIdle));
}

} // namespace

int main()
{
    // Dies with the program, whatever state a backend leaves this process in.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        return 0;
    // Network backends write to sockets whose far end may be gone: an error, not our end.
    std::signal(SIGPIPE, SIG_IGN);
    readFault();
    SANE_Int version = 0;
    if (sane_init(&version, nullptr) != SANE_STATUS_GOOD)
        return 2;
    std::vector<char>& buf = inbox();
    for (;;) {
        const size_t n = receive(buf, true);
        Reader r(buf.data(), n);
        switch (r.type()) {
        case kListDevices: listDevices(); break;
        case kOpen: openDevice(r); break;
        case kClose:
            closeDevice();
            sendMessage(Writer(kClosed));
            break;
        case kDescriptors: descriptors(); break;
        case kControl: control(r); break;
        case kAcquire: acquire(r); break;
        case kRelease: {
            const int32_t id = r.i32();
            for (Buffer& b : g_buffers) {
                if (b.id == id)
                    b.busy = false;
            }
            trimBuffers();
            break;
        }
        default: break;  // kTaken or kStop after the acquisition ended
        }
    }
}
