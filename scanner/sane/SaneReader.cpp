#include "scanner/sane/SaneReader.h"

#include "imaging/BlankPage.h"
#include "scanner/sane/SaneDevice.h"
#include "scanner/sane/SaneFrame.h"
#include "scanner/sane/SaneOptions.h"
#include "scanner/sane/SanePageImage.h"
#include "scanner/Twain.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

namespace kelvo {

namespace {

// sane_start may report a lamp still warming up; it is asked again for this long.
constexpr auto kWarmUpRetry = std::chrono::milliseconds(250);
constexpr int kWarmUpAttempts = 480;  // two minutes
// SANE_STATUS_WARMING_UP: announced for later SANE versions, and sent by some backends.
constexpr int kStatusWarmingUp = 12;
constexpr qint64 kMaxFrameBytes = qint64(4) << 30;
constexpr SANE_Int kReadChunk = 1 << 20;
// Pause before cancelling a page that has only just started. Backends whose reader thread
// is cancelled asynchronously (sanei_thread) can be cut off while it sets itself up, which
// leaves the whole process deadlocked in the allocator; a moment later it has settled (20 ms
// was too short on a loaded machine).
constexpr auto kCancelGrace = std::chrono::milliseconds(150);

struct PageRead {
    int result = ACQUIRE_SUCCESS;
    bool feederEmpty = false;  // NO_DOCS before any data of the page
};

// Marks the time the reader spends waiting for the device, for the stall watch.
struct InDevice {
    Acquisition& run;
    explicit InDevice(Acquisition& r)
        : run(r)
    {
        run.alive();
        run.inDevice = true;
    }
    ~InDevice() { run.inDevice = false; }
};

SANE_Status startFrame(Acquisition& run)
{
    InDevice waiting(run);
    for (int attempt = 0;; ++attempt) {
        const SANE_Status status = sane_start(run.handle);
        run.alive();
        if (static_cast<int>(status) != kStatusWarmingUp || attempt >= kWarmUpAttempts || run.stop)
            return status;
        std::this_thread::sleep_for(kWarmUpRetry);
    }
}

// Reads one frame to its end into f.data.
int readFrame(Acquisition& run, SaneFrameData& f, bool* noDocsAtStart)
{
    const qint64 expected = f.lines > 0 ? qint64(f.bytesPerLine) * f.lines : -1;
    if (expected > kMaxFrameBytes)
        return ACQUIRE_NO_MEMORY;
    QByteArray buffer;
    std::vector<SANE_Byte> overflow;  // data beyond the announced size is read and dropped
    qint64 filled = 0;
    try {
        buffer = run.buffers->take(expected > 0 ? expected : qint64(f.bytesPerLine) * 256);
    } catch (const std::bad_alloc&) {
        return ACQUIRE_NO_MEMORY;
    }
    InDevice waiting(run);
    const qint64 before = run.bytesRead;
    for (;;) {
        if (run.stop)
            return ACQUIRE_CANCELLED;
        SANE_Byte* target = nullptr;
        SANE_Int room = 0;
        bool keep = true;
        if (filled == buffer.size()) {
            if (expected > 0) {
                overflow.resize(static_cast<size_t>(kReadChunk));
                target = overflow.data();
                room = kReadChunk;
                keep = false;
            } else {
                if (buffer.size() >= kMaxFrameBytes)
                    return ACQUIRE_NO_MEMORY;
                try {
                    buffer.resize(std::min(kMaxFrameBytes, buffer.size() * 2));
                } catch (const std::bad_alloc&) {
                    return ACQUIRE_NO_MEMORY;
                }
            }
        }
        if (keep) {
            target = reinterpret_cast<SANE_Byte*>(buffer.data()) + filled;
            room = static_cast<SANE_Int>(std::min<qint64>(kReadChunk, buffer.size() - filled));
        }
        SANE_Int length = 0;
        const SANE_Status status = sane_read(run.handle, target, room, &length);
        if (status == SANE_STATUS_EOF)
            break;
        if (status != SANE_STATUS_GOOD) {
            // The length is not to be trusted on any other status.
            if (status == SANE_STATUS_NO_DOCS && filled == 0 && noDocsAtStart)
                *noDocsAtStart = true;
            return resultFromStatus(status);
        }
        if (length < 0 || length > room)
            return ACQUIRE_BAD_DATA;
        if (length == 0) {
            // Nothing yet. A device that stays silent (a network scanner or saned gone away:
            // 0 bytes for ever) is given up.
            if (run.silentTooLong()) {
                run.stalled = true;
                return ACQUIRE_IO_ERROR;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // do not spin
            continue;
        }
        run.alive();
        if (keep)
            filled += length;
        run.bytesRead = before + filled;
    }
    buffer.truncate(filled);
    f.data = std::move(buffer);
    return ACQUIRE_SUCCESS;
}

// Reads one page: one frame, or the three frames of a three-pass scanner.
PageRead readPage(Acquisition& run, std::vector<SaneFrameData>& frames)
{
    PageRead r;
    for (;;) {
        const SANE_Status started = startFrame(run);
        run.frameOpen = started == SANE_STATUS_GOOD;
        if (started != SANE_STATUS_GOOD) {
            r.feederEmpty = started == SANE_STATUS_NO_DOCS && frames.empty();
            r.result = resultFromStatus(started);
            return r;
        }
        if (frames.empty() && run.options && run.page == 1) {
            // Some devices settle the resolution only now (a value they do not offer). Once
            // per acquisition: the net backend crashes reading an option over a connection
            // that has gone away, so the options are touched as little as possible.
            Outcome used;
            readOutcome(*run.options, used);
            if (used.xDpi > 0.0) {
                run.xDpi = used.xDpi;
                run.yDpi = used.yDpi;
            }
        }
        SANE_Parameters p{};
        const SANE_Status got = sane_get_parameters(run.handle, &p);
        if (got != SANE_STATUS_GOOD) {
            r.result = resultFromStatus(got);
            return r;
        }
        SaneFrameData f;
        f.format = static_cast<int>(p.format);
        f.depth = p.depth;
        f.pixelsPerLine = p.pixels_per_line;
        f.bytesPerLine = p.bytes_per_line;
        f.lines = p.lines;
        if (f.format < 0 || f.format > 4 || f.bytesPerLine <= 0 || f.pixelsPerLine <= 0 || f.lines == 0
            || f.lines < -1) {
            r.result = ACQUIRE_BAD_DATA;
            return r;
        }
        if (frames.empty()) {
            // The whole page: three frames of this size from a three-pass scanner.
            const qint64 frameBytes = f.lines > 0 ? qint64(f.bytesPerLine) * f.lines : -1;
            run.bytesExpected = frameBytes < 0 ? -1 : frameBytes * (f.format >= 2 ? 3 : 1);
        }
        bool noDocs = false;
        r.result = readFrame(run, f, frames.empty() ? &noDocs : nullptr);
        if (r.result != ACQUIRE_SUCCESS) {
            r.feederEmpty = noDocs;
            return r;
        }
        run.frameOpen = false;  // read to EOF
        if (f.data.isEmpty()) {
            r.result = ACQUIRE_BAD_DATA;  // an empty frame: EOF at once
            return r;
        }
        frames.push_back(std::move(f));
        if (p.last_frame)
            return r;
        if (frames.size() >= 3 || frames.back().format < 2) {
            r.result = ACQUIRE_BAD_DATA;
            return r;
        }
    }
}

int readPages(Acquisition& run)
{
    int sheets = 0;
    int result = ACQUIRE_SUCCESS;
    for (int pageNumber = 1;; ++pageNumber) {
        if (run.stop) {
            result = ACQUIRE_CANCELLED;
            break;
        }
        run.bytesRead = 0;
        run.bytesExpected = -1;
        run.page = pageNumber;
        run.post({pageNumber, QImage()}, false);
        std::vector<SaneFrameData> frames;
        const PageRead read = readPage(run, frames);
        if (read.result != ACQUIRE_SUCCESS) {
            // The feeder running empty after a page is its normal end.
            if (read.feederEmpty)
                result = sheets > 0 ? ACQUIRE_SUCCESS : ACQUIRE_NO_DOCS;
            else
                result = read.result;
            // A device that has delivered pages and then answers with nonsense (parameters
            // of no size, an end without data, an invalid request) has lost its connection:
            // the net backend does that once saned is gone.
            if (sheets > 0 && (result == ACQUIRE_BAD_DATA || result == ACQUIRE_FAILED))
                result = ACQUIRE_IO_ERROR;
            break;
        }
        int built = ACQUIRE_SUCCESS;
        const std::shared_ptr<PageBuffers> buffers = run.buffers;
        QImage page = adoptFrame(frames, [buffers](QByteArray&& data) { buffers->give(std::move(data)); });
        if (page.isNull())
            page = pageFromFrames(frames, &built);
        for (SaneFrameData& f : frames) {
            if (!f.data.isEmpty())
                buffers->give(std::move(f.data));  // copied into the page: free for the next
        }
        frames.clear();
        if (page.isNull()) {
            result = built;
            break;
        }
        ++sheets;
        run.pagesRead.fetch_add(1);
        page = pageInDepth(std::move(page), run.bitsPerPixel);
        if (page.isNull()) {
            result = ACQUIRE_NO_MEMORY;
            break;
        }
        // The one place a page gets its resolution: the request and what the device used.
        stampResolution(page, stampedResolution(run.requestedXDpi, run.xDpi),
                        stampedResolution(run.requestedYDpi, run.yDpi));
        if (!(run.dropBlankPages && isBlankPage(page))) {
            if (!run.postPage(std::move(page))) {
                result = ACQUIRE_CANCELLED;
                break;
            }
        }
        if (!run.multiPage)
            break;
    }
    return result;
}

} // namespace

QByteArray PageBuffers::take(qint64 size)
{
    QByteArray b;
    {
        std::lock_guard lock(mutex_);
        // The smallest spare that holds the page.
        auto best = spare_.end();
        for (auto it = spare_.begin(); it != spare_.end(); ++it) {
            if (it->capacity() >= size && (best == spare_.end() || it->capacity() < best->capacity()))
                best = it;
        }
        if (best != spare_.end()) {
            b = std::move(*best);
            spare_.erase(best);
        } else {
            ++allocations_;
        }
    }
    b.resize(size);  // within its capacity a spare keeps its memory
    return b;
}

void PageBuffers::give(QByteArray&& data)
{
    QByteArray dropped;
    {
        std::lock_guard lock(mutex_);
        if (static_cast<int>(spare_.size()) < keep_ && data.isDetached())
            spare_.push_back(std::move(data));
        else
            dropped = std::move(data);
    }
}

int PageBuffers::allocations() const
{
    std::lock_guard lock(mutex_);
    return allocations_;
}

void readerMain(Acquisition& run)
{
    int result = ACQUIRE_FAILED;
    try {
        result = readPages(run);
    } catch (const std::bad_alloc&) {
        result = ACQUIRE_NO_MEMORY;
    } catch (...) {
        result = ACQUIRE_FAILED;
    }
    // However the device reacted to being given up on (cancelled, an error, nothing).
    if (run.stalled)
        result = ACQUIRE_IO_ERROR;
    // Ends the batch (or the failed page). Between the pages of a feeder batch it is not
    // called: several backends end the batch on it and lose the back of a duplex sheet.
    if (run.frameOpen)
        std::this_thread::sleep_for(kCancelGrace);
    if (!run.cancelledByCaller) {
        run.finalResult = result;
        run.finalCancelAt = Acquisition::now();
        sane_cancel(run.handle);
    }
    run.finish(result);
}

} // namespace kelvo
