// The page reader of one acquisition: a worker thread that starts each page, reads its frames
// and builds the page, and the queue that hands pages (and the number of the page about to be
// scanned) to the caller's thread. The reader runs at most one page ahead of the caller, so
// no more than the page being stored and the one being read are held.
#pragma once

#include "scanner/Twain.h"

#include <QImage>

#include <sane/sane.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kelvo {

class SaneOptions;

// At most this many read pages wait for the caller; the reader stops until one is taken.
inline constexpr int kMaxPagesWaiting = 1; // counting the page being stored; one more is read meanwhile

// Page buffers of one acquisition, for reuse: a page's data comes back here once the page
// has been stored and released, and the next page is read into memory that is already
// there (no fresh allocation and first touch per page). Keeps no more than the pages that
// may be held at once. Shared with the pages, which may be released after the acquisition.
class PageBuffers {
public:
    explicit PageBuffers(int keep)
        : keep_(keep)
    {
    }
    // A buffer of `size` bytes (contents undefined); throws std::bad_alloc.
    QByteArray take(qint64 size);
    void give(QByteArray&& data);
    int allocations() const;

private:
    mutable std::mutex mutex_;
    std::vector<QByteArray> spare_;
    int keep_;
    int allocations_ = 0;
};

struct QueueItem {
    int progress = 0;  // > 0: the page with this number is about to be scanned
    QImage page;
};

// Shared between the reader thread and the caller. The settings are written before the
// reader starts; the queue and its counters under `mutex`.
struct Acquisition {
    SANE_Handle handle = nullptr;
    bool multiPage = false;
    bool dropBlankPages = false;
    int bitsPerPixel = 0;  // asked for: a richer page is converted to it (0: as it comes)
    // The device's options, read by the reader after each start for the resolution really
    // used (some devices settle it only then); the caller leaves them alone meanwhile.
    std::shared_ptr<const SaneOptions> options;
    double requestedXDpi = 0.0;
    double requestedYDpi = 0.0;
    double xDpi = 0.0;  // what the device said before the start
    double yDpi = 0.0;
    // A device that gives no sign of life for this long is stalled: the acquisition ends
    // with ACQUIRE_IO_ERROR.
    std::chrono::milliseconds stallLimit{std::chrono::minutes(2)};
    std::atomic<int> pagesRead{0};    // pages read to their end so far
    std::atomic<int> pagesQueued{0};  // pages put into the queue so far
    std::atomic<int> maxWaiting{0};   // the most that ever waited at once
    std::shared_ptr<PageBuffers> buffers = std::make_shared<PageBuffers>(kMaxPagesWaiting + 1);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QueueItem> items;
    int pagesWaiting = 0;
    bool finished = false;
    int result = ACQUIRE_SUCCESS;
    std::atomic<bool> stop{false};
    bool frameOpen = false;      // reader thread only: started, not yet read to its end
    std::function<void()> wake;  // tells the caller's thread something arrived; under `mutex`

    // Watched from the caller's thread, without the lock.
    std::atomic<bool> inDevice{false};   // the reader waits for the device (start or read)
    std::atomic<qint64> lastSignOfLife{0};  // steady clock in ms: device answered or sent data
    std::atomic<bool> stalled{false};
    std::atomic<bool> cancelledByCaller{false};  // the caller's sane_cancel ended the wait
    // Set as the reader makes its last call, sane_cancel, with the result it will report: a
    // backend whose cancelled thread deadlocks never returns from it.
    std::atomic<qint64> finalCancelAt{0};
    std::atomic<int> finalResult{0};
    std::atomic<int> page{0};             // number of the page being read
    std::atomic<qint64> bytesRead{0};     // of that page so far
    std::atomic<qint64> bytesExpected{-1};  // of that page; -1 when the device does not know

    static qint64 now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void alive() { lastSignOfLife = now(); }
    // The device has been waited for longer than the limit.
    bool silentTooLong() const { return inDevice && now() - lastSignOfLife > stallLimit.count(); }

    void post(QueueItem item, bool isPage)
    {
        {
            std::lock_guard lock(mutex);
            items.push_back(std::move(item));
            if (isPage) {
                ++pagesWaiting;
                pagesQueued.fetch_add(1);
                if (pagesWaiting > maxWaiting.load())
                    maxWaiting.store(pagesWaiting);
            }
            if (wake)
                wake();
        }
        changed.notify_all();
    }

    // Waits while the queue is full. A page read to its end is posted even when the
    // acquisition is being stopped: its sheet has left the feeder. False after a stop.
    bool postPage(QImage page)
    {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [this] { return stop.load() || pagesWaiting < kMaxPagesWaiting; });
        }
        post({0, std::move(page)}, true);
        return !stop;
    }

    void finish(int code)
    {
        {
            std::lock_guard lock(mutex);
            finished = true;
            result = code;
            if (wake)
                wake();
        }
        changed.notify_all();
    }

    void requestStop()
    {
        stop = true;
        changed.notify_all();
    }
};

// The reader thread's body: reads pages until the feeder is empty (or one page from a
// flatbed), a fault, or a stop; then cancels the device and finishes with the result.
void readerMain(Acquisition& run);

} // namespace kelvo
