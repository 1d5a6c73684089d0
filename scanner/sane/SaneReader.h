// The page reader of one acquisition: a thread that receives what the scanner worker reads
// (the number of the page about to be scanned, progress, the pages in shared memory), builds
// each page and puts it into the queue that hands pages to the caller's thread. The worker
// reads at most one page ahead of the caller, so no more than the page being stored and the
// one being read are held.
#pragma once

#include "scanner/Twain.h"

#include <QImage>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kelvo {

class SaneWorker;
class WorkerChannel;

// At most this many read pages wait for the caller; the reader stops until one is taken.
inline constexpr int kMaxPagesWaiting = 1; // counting the page being stored; one more is read meanwhile

struct QueueItem {
    int progress = 0;  // > 0: the page with this number is about to be scanned
    QImage page;
};

// Shared between the reader thread and the caller. The settings are written before the
// reader starts; the queue and its counters under `mutex`.
struct Acquisition {
    SaneWorker* worker = nullptr;
    std::shared_ptr<WorkerChannel> channel;  // for the pages: their buffers go back through it
    bool multiPage = false;
    bool dropBlankPages = false;
    int bitsPerPixel = 0;  // asked for: a richer page is converted to it (0: as it comes)
    double requestedXDpi = 0.0;
    double requestedYDpi = 0.0;
    double xDpi = 0.0;  // what the device said before the start; the reader updates it
    double yDpi = 0.0;
    // A worker that gives no sign of life for this long is stalled: the acquisition ends
    // with ACQUIRE_IO_ERROR.
    std::chrono::milliseconds stallLimit{std::chrono::minutes(2)};
    std::atomic<int> pagesRead{0};    // pages read to their end so far
    std::atomic<int> pagesQueued{0};  // pages put into the queue so far
    std::atomic<int> maxWaiting{0};   // the most that ever waited at once
    std::atomic<int> buffersMade{0};  // page buffers the worker made (the others were reused)

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QueueItem> items;
    int pagesWaiting = 0;
    bool finished = false;
    int result = ACQUIRE_SUCCESS;
    std::atomic<bool> stop{false};
    std::function<void()> wake;  // tells the caller's thread something arrived; under `mutex`

    // Watched from the caller's thread, without the lock.
    std::atomic<qint64> lastSignOfLife{0};  // steady clock in ms: a message from the worker
    std::atomic<bool> stopSent{false};
    std::atomic<bool> workerGone{false};  // its messages ended before the acquisition did
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
    // The worker has been waited for longer than the limit.
    bool silentTooLong() const { return now() - lastSignOfLife > stallLimit.count(); }

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

    // Asks the worker to stop: the page it is reading is abandoned, one it has read is
    // still sent.
    void requestStop();
};

// The reader thread's body: receives pages until the worker says the acquisition is over
// (the feeder is empty, one page from a flatbed, a fault, a stop) or the worker has gone
// (then ACQUIRE_IO_ERROR); finishes with the result.
void readerMain(Acquisition& run);

} // namespace kelvo
