// The TwainLayer facade over SANE: the session's negotiation calls are recorded, and
// acquire() opens the device, puts the settings onto its options, shows the options dialog
// when asked, and then hands the pages the reader thread delivers to the caller, one at a
// time on the caller's thread, while a local event loop keeps the windows painting.
#include "scanner/sane/SaneTwain.h"

#include "scanner/sane/SaneDevice.h"
#include "scanner/sane/SaneOptionsDialog.h"
#include "scanner/sane/SaneReader.h"
#include "scanner/sane/SourceListDialog.h"
#include "platform/Display.h"

#include <QApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <sane/sane.h>

#include <chrono>
#include <cstdio>

#include <optional>
#include <thread>

namespace kelvo {

namespace {

QByteArray g_currentSource;  // chosen in the source list; GUI thread only

// How often the waiting caller looks at the reader: progress (about 20 times a second),
// a cancel request, a stalled device.
constexpr std::chrono::milliseconds kWatchInterval(50);
// How long a stalled device may take to return from being cancelled before its thread is
// left behind.
constexpr std::chrono::milliseconds kAbandonAfter(10000);

// KELVO_SANE_STALL_SECONDS: how long a device may give no sign of life (no answer to
// sane_start, no data from sane_read) before the acquisition gives up on it with
// ACQUIRE_IO_ERROR. Default 120 s, far beyond a lamp's warm-up or a slow feeder; tests set
// a few seconds.
std::chrono::milliseconds stallLimit()
{
    bool ok = false;
    const double seconds = qEnvironmentVariable("KELVO_SANE_STALL_SECONDS").toDouble(&ok);
    if (ok && seconds > 0.0 && seconds < 86400.0)
        return std::chrono::milliseconds(static_cast<qint64>(seconds * 1000.0));
    return std::chrono::minutes(2);
}

} // namespace

struct SaneTwain::Impl {
    Negotiated settings;
    SaneDevice device;
    bool acquiring = false;
    bool closeAfterAcquire = false;
    Acquisition* run = nullptr;
    ExtraOptions extras;
    int pagesQueued = 0;  // of the last acquisition
    int maxWaiting = 0;
    std::atomic<bool> cancelRequested{false};
    int pageBuffers = 0;
    std::optional<bool> dialogsAllowed;  // unset: allowed unless there is no display
};

// KELVO_SANE_OPTIONS — a testing aid: device options set at every acquisition after the
// negotiated ones, "name=value" pairs separated by ';', e.g.
//   KELVO_SANE_OPTIONS="read-return-value=SANE_STATUS_JAMMED;test-picture=Color pattern"
// injects a paper jam into SANE's test backend, so the whole program's error path can be
// exercised end to end.
SaneTwain::SaneTwain()
    : d(std::make_unique<Impl>())
{
    const QByteArray env = qgetenv("KELVO_SANE_OPTIONS");
    for (const QByteArray& pair : env.split(';')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray name = pair.left(eq).trimmed();
        if (!name.isEmpty())
            setExtraOption(name, pair.mid(eq + 1).trimmed());
    }
}

SaneTwain::~SaneTwain()
{
    if (d->run)
        d->run->requestStop();
    d->device.close();
}

bool SaneTwain::isAvailable()
{
    return saneAvailable();
}

int SaneTwain::openSession()
{
    d->settings = Negotiated();
    return ACQUIRE_SUCCESS;
}

int SaneTwain::selectSource()
{
    if (!saneAvailable())
        return ACQUIRE_NO_DEVICE;
    if (!dialogsAllowed()) {
        // Nobody could click: the device stays the default one.
        std::fputs("Keine Anzeige: Scannerauswahl (/S) übersprungen, der voreingestellte Scanner wird verwendet\n", stderr);
        std::fflush(stderr);
        return ACQUIRE_SUCCESS;
    }
    const std::vector<ScannerDevice> devices = listDevices();
    const QByteArray current = !g_currentSource.isEmpty() ? g_currentSource : d->device.name;
    SourceListDialog dialog(devices, current, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return ACQUIRE_CANCELLED;
    if (dialog.chosenName().isEmpty())
        return ACQUIRE_NO_DEVICE;
    setCurrentSource(dialog.chosenName());
    return ACQUIRE_SUCCESS;
}

void SaneTwain::setDialogsAllowed(bool allowed)
{
    d->dialogsAllowed = allowed;
}

bool SaneTwain::dialogsAllowed() const
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    if (d->dialogsAllowed)
        return *d->dialogsAllowed;
    return hasDisplay();
}

int SaneTwain::startCapabilityNegotiation()
{
    return ACQUIRE_SUCCESS;
}

int SaneTwain::setCapability(const TwainCapability& cap, int)
{
    const auto item = static_cast<int32_t>(cap.Item);
    switch (cap.Cap) {
    case CAP_FEEDERENABLED:
        d->settings.feeder = item != 0;
        return ACQUIRE_SUCCESS;
    case ICAP_XFERMECH:
        return ACQUIRE_SUCCESS;  // pages always arrive in memory
    case ICAP_LIGHTPATH:
        d->settings.transmissive = item == TWLP_TRANSMISSIVE;
        return ACQUIRE_SUCCESS;
    case ICAP_AUTODISCARDBLANKPAGES:
        // A positive value (TWAIN: a size limit in bytes) is taken as "discard".
        d->settings.blankMode = item == TWBP_DISABLE ? TWBP_DISABLE : TWBP_AUTO;
        return ACQUIRE_SUCCESS;
    case ICAP_AUTOMATICROTATE:
        d->settings.autoRotate = item != 0;
        return ACQUIRE_SUCCESS;
    default:
        return 0;
    }
}

int SaneTwain::setBitsPerPixel(int bitsPerPixel)
{
    if (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24)
        return 0;
    d->settings.bitsPerPixel = bitsPerPixel;
    return ACQUIRE_SUCCESS;
}

int SaneTwain::setResolution(const TW_FIX32& x, const TW_FIX32& y)
{
    const double xd = fix32ToDouble(x);
    const double yd = fix32ToDouble(y);
    if (!(xd > 0.0) || !(yd > 0.0))
        return 0;
    d->settings.xDpi = xd;
    d->settings.yDpi = yd;
    return ACQUIRE_SUCCESS;
}

int SaneTwain::setUnit(int unit)
{
    if (unit < TWUN_INCHES || unit > TWUN_PIXELS)
        return 0;
    d->settings.unit = unit;
    return ACQUIRE_SUCCESS;
}

int SaneTwain::setImageFrame(const TW_FRAME& frame)
{
    d->settings.frame = frame;
    d->settings.frameSet = true;
    return ACQUIRE_SUCCESS;
}

int SaneTwain::enableDuplex(int enable)
{
    d->settings.duplex = enable != 0;
    return ACQUIRE_SUCCESS;
}

int SaneTwain::endCapabilityNegotiation()
{
    return ACQUIRE_SUCCESS;
}

// Opens the device, puts the negotiated settings onto it, shows the options dialog when asked,
// and prepares the shared state of the reader thread. ACQUIRE_SUCCESS or the failure's code.
int SaneTwain::prepareAcquisition(int flags, std::shared_ptr<Acquisition>& out)
{
    if (!saneAvailable())
        return ACQUIRE_NO_DEVICE;
    if (const int opened = d->device.open(g_currentSource); opened != ACQUIRE_SUCCESS)
        return opened;

    const auto options = std::make_shared<SaneOptions>(d->device.handle);
    Outcome outcome;
    applySettings(*options, d->settings, d->extras, outcome);
    if ((flags & ACQUIRE_SHOW_UI) && !dialogsAllowed()) {
        // Nobody could click: scan with the settings as negotiated.
        std::fputs("Keine Anzeige: Scanner-Einstellungen (/J) übersprungen\n", stderr);
        std::fflush(stderr);
    } else if (flags & ACQUIRE_SHOW_UI) {
        SaneOptionsDialog dialog(*options, d->device.dialogTitle(), QApplication::activeWindow());
        if (dialog.exec() != QDialog::Accepted)
            return ACQUIRE_CANCELLED;
    }
    readOutcome(*options, outcome);

    out = std::make_shared<Acquisition>();
    Acquisition& run = *out;
    run.handle = d->device.handle;
    run.options = options;
    run.multiPage = outcome.multiPage;
    run.dropBlankPages = outcome.dropBlankPages;
    run.bitsPerPixel = d->settings.bitsPerPixel;
    run.requestedXDpi = d->settings.xDpi;
    run.requestedYDpi = d->settings.yDpi;
    run.xDpi = outcome.xDpi;
    run.yDpi = outcome.yDpi;
    run.stallLimit = stallLimit();
    return ACQUIRE_SUCCESS;
}

namespace {

// Tells the caller how far the acquisition is: at most every kWatchInterval, only changes.
class ProgressThrottle {
public:
    explicit ProgressThrottle(const ProgressCallback& onProgress)
        : onProgress_(onProgress)
    {
    }
    // A page is about to be scanned: told at once.
    void pageStarts(int page)
    {
        if (!onProgress_)
            return;
        told_ = AcquireProgress{page, 0, -1};
        toldAt_ = Acquisition::now();
        onProgress_(told_);
    }
    // The data read so far, from the reader's counters.
    void update(const Acquisition& run)
    {
        if (!onProgress_)
            return;
        const AcquireProgress p{run.page.load(), run.bytesRead.load(), run.bytesExpected.load()};
        const qint64 t = Acquisition::now();
        if (p.page <= 0 || p == told_ || t - toldAt_ < kWatchInterval.count())
            return;
        told_ = p;
        toldAt_ = t;
        onProgress_(p);
    }

private:
    const ProgressCallback& onProgress_;
    AcquireProgress told_;
    qint64 toldAt_ = 0;
};

// Gives up on a device that is silent for too long, and on one that does not return from
// being cancelled: its thread is then left behind.
class StallWatch {
public:
    explicit StallWatch(Acquisition& run)
        : run_(run)
    {
    }
    // Cancels a device the reader has waited for beyond the limit (SANE allows cancelling from
    // another thread, which ends that wait).
    void check()
    {
        if (cancelledAt_ > 0 || !run_.silentTooLong())
            return;
        cancelledAt_ = Acquisition::now();
        run_.stalled = true;
        run_.requestStop();
        run_.cancelledByCaller = true;
        sane_cancel(run_.handle);
    }
    // The reader is stuck for good: in the device after the cancel above, or in the closing
    // sane_cancel after every page was in (SANE's test backend can deadlock its own reader
    // thread there). Sets the result to report when the outcome is already known.
    bool givenUp(int* result) const
    {
        const qint64 now = Acquisition::now();
        if (cancelledAt_ > 0 && now - cancelledAt_ > kAbandonAfter.count()) {
            *result = ACQUIRE_IO_ERROR;
            return true;
        }
        const qint64 lastCall = run_.finalCancelAt.load();
        if (lastCall > 0 && now - lastCall > kAbandonAfter.count()) {
            *result = run_.finalResult.load();
            return true;
        }
        return false;
    }

private:
    Acquisition& run_;
    qint64 cancelledAt_ = 0;
};

// How the caller's thread waits for the reader: in a local event loop when it is the
// application's thread (windows keep painting), else on the condition variable. Either way it
// looks at least every kWatchInterval.
class Waiter {
public:
    explicit Waiter(Acquisition& run)
        : run_(run)
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread())
            return;
        loop_.emplace();
        timer_.emplace();
        timer_->setInterval(kWatchInterval);
        QEventLoop* target = &*loop_;
        QObject::connect(&*timer_, &QTimer::timeout, target, [target] { target->quit(); });
        timer_->start();
        run.wake = [target] { QMetaObject::invokeMethod(target, [target] { target->quit(); }, Qt::QueuedConnection); };
    }
    // Takes the next item, or tells whether the reader has finished.
    std::optional<QueueItem> next(bool* finished)
    {
        std::unique_lock lock(run_.mutex);
        if (!loop_)
            run_.changed.wait_for(lock, kWatchInterval, [this] { return !run_.items.empty() || run_.finished; });
        *finished = false;
        if (run_.items.empty()) {
            *finished = run_.finished;
            return std::nullopt;
        }
        QueueItem item = std::move(run_.items.front());
        run_.items.pop_front();
        return item;
    }
    void wait()
    {
        if (loop_)
            loop_->exec();
    }
    // The reader is left behind: it must not wake an event loop that is gone.
    void detach()
    {
        std::lock_guard lock(run_.mutex);
        run_.wake = nullptr;
    }

private:
    Acquisition& run_;
    std::optional<QEventLoop> loop_;
    std::optional<QTimer> timer_;
};

} // namespace

int SaneTwain::acquire(const PageCallback& onPage, int flags, const ProgressCallback& onProgress)
{
    if (d->acquiring)
        return ACQUIRE_DEVICE_BUSY;
    d->acquiring = true;
    d->cancelRequested = false;
    struct Done {
        Impl* d;
        ~Done()
        {
            d->acquiring = false;
            d->run = nullptr;
            if (d->closeAfterAcquire) {
                d->closeAfterAcquire = false;
                d->device.close();
            }
        }
    } done{d.get()};
    d->pagesQueued = 0;
    d->maxWaiting = 0;
    d->pageBuffers = 0;

    // Shared with the reader thread, which may outlive this call when a device never returns
    // from a call it was cancelled in.
    std::shared_ptr<Acquisition> shared;
    if (const int prepared = prepareAcquisition(flags, shared); prepared != ACQUIRE_SUCCESS)
        return prepared;
    Acquisition& run = *shared;
    d->run = &run;
    Waiter waiter(run);

    d->device.cancelPending = true;
    std::thread reader([shared] { readerMain(*shared); });
    // Should a callback throw, the reader is stopped and waited for before unwinding.
    struct Joiner {
        Acquisition& run;
        std::thread& thread;
        SaneDevice& device;
        ~Joiner()
        {
            if (thread.joinable()) {
                run.requestStop();
                thread.join();
            }
            device.cancelPending = false;  // the reader cancelled the device as it ended
        }
    } joiner{run, reader, d->device};

    std::optional<int> stoppedWith;  // why the acquisition is being stopped
    ProgressThrottle progress(onProgress);
    StallWatch stall(run);
    int givenUpWith = ACQUIRE_IO_ERROR;
    bool givenUp = false;
    for (;;) {
        if (d->cancelRequested && !stoppedWith) {
            stoppedWith = ACQUIRE_CANCELLED;
            run.requestStop();
        }
        stall.check();
        bool finished = false;
        if (std::optional<QueueItem> item = waiter.next(&finished)) {
            run.changed.notify_all();
            if (item->progress > 0) {
                if (!stoppedWith)
                    progress.pageStarts(item->progress);
                continue;
            }
            // A page read to its end is handed over even after a stop: its sheet has left the
            // feeder, and only the caller can store it or say that it failed.
            Bitmap page = Bitmap::fromImage(std::move(item->page));
            const int answer = onPage ? onPage(page) : ACQUIRE_SUCCESS;
            page.free();
            {
                // The page counts as waiting until it is handed over and released, so the
                // page being stored and the one being read are all that is held.
                std::lock_guard lock(run.mutex);
                --run.pagesWaiting;
            }
            run.changed.notify_all();
            if (answer != ACQUIRE_SUCCESS && !stoppedWith) {
                stoppedWith = answer;
                run.requestStop();
            }
            continue;
        }
        if (finished)
            break;
        if (stall.givenUp(&givenUpWith)) {
            givenUp = true;
            break;
        }
        if (!stoppedWith)
            progress.update(run);
        waiter.wait();
    }
    d->pagesQueued = run.pagesQueued.load();
    d->maxWaiting = run.maxWaiting.load();
    d->pageBuffers = run.buffers->allocations();
    if (givenUp) {
        waiter.detach();
        reader.detach();
        d->device.abandon();
        return stoppedWith ? *stoppedWith : givenUpWith;
    }
    reader.join();
    d->device.cancelPending = false;

    if (run.result == ACQUIRE_IO_ERROR && run.stalled)
        return ACQUIRE_IO_ERROR;  // given up on a silent device, not cancelled by anyone
    return stoppedWith ? *stoppedWith : run.result;
}

void SaneTwain::requestCancel()
{
    d->cancelRequested = true;
}

int SaneTwain::endSession()
{
    d->settings = Negotiated();
    if (d->acquiring) {
        // Called from inside a page callback: stop, and close once the acquisition returns.
        d->closeAfterAcquire = true;
        if (d->run)
            d->run->requestStop();
        return ACQUIRE_SUCCESS;
    }
    d->device.close();
    return ACQUIRE_SUCCESS;
}

void SaneTwain::setExtraOption(const QByteArray& name, const QByteArray& value)
{
    for (auto& [n, v] : d->extras) {
        if (n == name) {
            v = value;
            return;
        }
    }
    d->extras.emplace_back(name, value);
}

void SaneTwain::clearExtraOptions()
{
    d->extras.clear();
}

std::vector<std::pair<QByteArray, QByteArray>> SaneTwain::extraOptions() const
{
    return d->extras;
}

QByteArray SaneTwain::currentSource()
{
    return g_currentSource;
}

void SaneTwain::setCurrentSource(const QByteArray& deviceName)
{
    g_currentSource = deviceName;
}

QByteArray SaneTwain::openDeviceName() const
{
    return d->device.name;
}

int SaneTwain::pagesQueued() const
{
    return d->run ? d->run->pagesQueued.load() : d->pagesQueued;
}

int SaneTwain::pagesRead() const
{
    return d->run ? d->run->pagesRead.load() : 0;
}

int SaneTwain::pageBuffersAllocated() const
{
    return d->pageBuffers;
}

int SaneTwain::maxPagesWaiting() const
{
    return d->run ? d->run->maxWaiting.load() : d->maxWaiting;
}

} // namespace kelvo