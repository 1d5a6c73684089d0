#include "scanner/sane/SaneReader.h"

#include "imaging/BlankPage.h"
#include "scanner/sane/SaneDevice.h"
#include "scanner/sane/SaneFrame.h"
#include "scanner/sane/SanePageImage.h"
#include "scanner/sane/SaneWorker.h"
#include "scanner/Twain.h"

#include <map>
#include <new>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace kelvo {

namespace {

using namespace worker;

// A page buffer of the worker, mapped here. Kept while the worker reuses it, and by every
// page on it until that page is released.
struct Mapping {
    Mapping(int fd, qint64 bytes)
        : size(bytes)
    {
        void* m = ::mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        data = m == MAP_FAILED ? nullptr : static_cast<uchar*>(m);
    }
    ~Mapping()
    {
        if (data)
            ::munmap(data, static_cast<size_t>(size));
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    uchar* data = nullptr;
    qint64 size = 0;
};

// What a page on a worker buffer holds on to; released with the page.
struct PageHold {
    std::shared_ptr<Mapping> mapping;
    std::shared_ptr<WorkerChannel> channel;
    int32_t id = 0;
};

void releaseBuffer(const std::shared_ptr<WorkerChannel>& channel, int32_t id)
{
    if (channel)
        channel->send(Writer(kRelease).i32(id));
}

void releaseHold(void* info)
{
    auto* hold = static_cast<PageHold*>(info);
    releaseBuffer(hold->channel, hold->id);
    delete hold;
}

class Receiver {
public:
    explicit Receiver(Acquisition& run)
        : run_(run)
    {
    }
    int receive();

private:
    // Builds the page from a kPage message and hands it on; false (result set) on a fault.
    bool page(Reader& r, int fd, int* result);
    int finished(Reader& r) const;

    Acquisition& run_;
    std::map<int32_t, std::shared_ptr<Mapping>> mappings_;
    int buildFault_ = ACQUIRE_SUCCESS;
    int sheets_ = 0;  // pages read to their end, blank ones included
};

bool Receiver::page(Reader& r, int fd, int* result)
{
    const int32_t id = r.i32();
    const int64_t size = r.i64();
    const bool fresh = r.i32() != 0;
    const uint32_t count = r.u32();
    if (fresh) {
        if (fd < 0) {
            *result = ACQUIRE_BAD_DATA;
            return false;
        }
        auto m = std::make_shared<Mapping>(fd, size);
        ::close(fd);
        if (!m->data) {
            *result = ACQUIRE_NO_MEMORY;
            return false;
        }
        mappings_[id] = std::move(m);
    } else if (fd >= 0) {
        ::close(fd);
    }
    const auto found = mappings_.find(id);
    if (found == mappings_.end() || count < 1 || count > 3) {
        *result = ACQUIRE_BAD_DATA;
        return false;
    }
    const std::shared_ptr<Mapping> mapping = found->second;
    std::vector<SaneFrameData> frames;
    for (uint32_t i = 0; i < count; ++i) {
        SaneFrameData f;
        f.format = r.i32();
        f.depth = r.i32();
        f.pixelsPerLine = r.i32();
        f.bytesPerLine = r.i32();
        f.lines = r.i32();
        const int64_t offset = r.i64();
        const int64_t length = r.i64();
        if (!r.ok() || offset < 0 || length <= 0 || offset > mapping->size || length > mapping->size - offset) {
            releaseBuffer(run_.channel, id);
            *result = ACQUIRE_BAD_DATA;
            return false;
        }
        f.data = QByteArray::fromRawData(reinterpret_cast<const char*>(mapping->data + offset), length);
        frames.push_back(std::move(f));
    }
    ++sheets_;
    run_.pagesRead.fetch_add(1);
    QImage page;
    if (frames.size() == 1 && frames.front().data.constData() == reinterpret_cast<const char*>(mapping->data)) {
        // The page on the worker's memory, without a copy.
        auto* hold = new PageHold{mapping, run_.channel, id};
        page = adoptFrameBits(frames.front(), mapping->data, frames.front().data.size(), releaseHold, hold);
        if (page.isNull())
            delete hold;
    }
    int built = ACQUIRE_SUCCESS;
    if (page.isNull()) {
        page = pageFromFrames(frames, &built);
        frames.clear();
        releaseBuffer(run_.channel, id);  // copied into the page: free for the next
    }
    if (page.isNull()) {
        *result = built;
        return false;
    }
    page = pageInDepth(std::move(page), run_.bitsPerPixel);
    if (page.isNull()) {
        *result = ACQUIRE_NO_MEMORY;
        return false;
    }
    // The one place a page gets its resolution: the request and what the device used.
    stampResolution(page, stampedResolution(run_.requestedXDpi, run_.xDpi),
                    stampedResolution(run_.requestedYDpi, run_.yDpi));
    if (run_.dropBlankPages && isBlankPage(page)) {
        run_.channel->send(Writer(kTaken));  // never handed over: the worker may read on
        return true;
    }
    run_.postPage(std::move(page));
    return true;
}

int Receiver::finished(Reader& r) const
{
    const auto kind = static_cast<FinishKind>(r.i32());
    const int status = r.i32();
    const bool feederEmpty = r.i32() != 0;
    r.i32();  // pages sent
    run_.buffersMade = r.i32();
    int result = ACQUIRE_SUCCESS;
    switch (kind) {
    case kEndedStopped: result = ACQUIRE_CANCELLED; break;
    case kEndedNoMemory: result = ACQUIRE_NO_MEMORY; break;
    case kEndedBadData: result = ACQUIRE_BAD_DATA; break;
    case kEndedWithStatus:
        // The feeder running empty after a page is its normal end.
        if (feederEmpty)
            result = sheets_ > 0 ? ACQUIRE_SUCCESS : ACQUIRE_NO_DOCS;
        else
            result = resultFromStatus(status);
        break;
    }
    // A device that has delivered pages and then answers with nonsense (parameters of no
    // size, an end without data, an invalid request, access denied to what it just gave)
    // has lost its connection: the net backend does that once saned is gone.
    if (sheets_ > 0 && (result == ACQUIRE_BAD_DATA || result == ACQUIRE_FAILED || result == ACQUIRE_ACCESS_DENIED))
        result = ACQUIRE_IO_ERROR;
    return result;
}

int Receiver::receive()
{
    std::vector<char> buffer;
    for (;;) {
        int fd = -1;
        const size_t n = run_.channel->receive(buffer, &fd);
        if (n == 0) {
            run_.workerGone = true;
            return ACQUIRE_IO_ERROR;  // the worker crashed, or was given up on
        }
        run_.alive();
        Reader r(buffer.data(), n);
        switch (r.type()) {
        case kPageStart: {
            const int number = r.i32();
            run_.bytesRead = 0;
            run_.bytesExpected = -1;
            run_.page = number;
            run_.post({number, QImage()}, false);
            break;
        }
        case kProgress:
            r.i32();
            run_.bytesRead = r.i64();
            run_.bytesExpected = r.i64();
            break;
        case kResolution: {
            const double res = r.f64();
            const double x = r.f64();
            const double y = r.f64();
            // Some devices settle the resolution only at the start.
            const double usedX = x > 0.0 ? x : res;
            if (usedX > 0.0) {
                run_.xDpi = usedX;
                run_.yDpi = y > 0.0 ? y : usedX;
            }
            break;
        }
        case kPage: {
            int fault = ACQUIRE_SUCCESS;
            if (!page(r, fd, &fault)) {
                // The pages before are kept; the worker is stopped and its end awaited.
                if (buildFault_ == ACQUIRE_SUCCESS)
                    buildFault_ = fault;
                run_.requestStop();
            }
            fd = -1;
            break;
        }
        case kFinished: {
            const int result = finished(r);
            run_.worker->idlePending = true;
            return buildFault_ != ACQUIRE_SUCCESS ? buildFault_ : result;
        }
        default:
            break;  // kAlive: a device warming up
        }
        if (fd >= 0)
            ::close(fd);
    }
}

} // namespace

void Acquisition::requestStop()
{
    stop = true;
    changed.notify_all();
    if (!stopSent.exchange(true) && channel)
        channel->send(Writer(kStop));
}

void readerMain(Acquisition& run)
{
    int result = ACQUIRE_FAILED;
    try {
        result = Receiver(run).receive();
    } catch (const std::bad_alloc&) {
        result = ACQUIRE_NO_MEMORY;
    } catch (...) {
        result = ACQUIRE_FAILED;
    }
    run.finish(result);
}

} // namespace kelvo
