#include "imaging/SaneTwain.h"

#include "imaging/BlankPage.h"
#include "imaging/SaneFrame.h"
#include "imaging/SaneOptionsDialog.h"
#include "imaging/SourceListDialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QThread>

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

namespace kelvo {

namespace {

// At most this many read pages wait for the caller; the reader stops until one is taken.
constexpr int kMaxPagesWaiting = 1; // counting the page being stored; one more is read meanwhile
// sane_start may report a lamp still warming up; it is asked again for this long.
constexpr auto kWarmUpRetry = std::chrono::milliseconds(250);
constexpr int kWarmUpAttempts = 480;  // two minutes
// SANE_STATUS_WARMING_UP: announced for later SANE versions, and sent by some backends.
constexpr int kStatusWarmingUp = 12;
constexpr qint64 kMaxFrameBytes = qint64(4) << 30;
constexpr SANE_Int kReadChunk = 1 << 20;
// Pause before cancelling a page that has only just started. Backends whose reader thread
// is cancelled asynchronously (sanei_thread) can be cut off while it sets itself up, which
// leaves the whole process deadlocked in the allocator; a moment later it has settled.
constexpr auto kCancelGrace = std::chrono::milliseconds(20);
// Value for a device's own blank-page option that counts darkness in percent per block
// (`swskip` of fujitsu, canon_dr, kvs1025): low, so that a page with little on it stays.
constexpr double kDeviceBlankSkipPercent = 2.0;

// Device options known to drop blank pages, or to turn pages upright, in SANE backends.
const char* const kBlankPageOptions[] = {"swskip", "blank-page-skip", "skip-blank-pages", "blank-skip"};
const char* const kAutoRotateOptions[] = {"swderotate", "auto-rotate", "autorotate", "rotate-auto"};
const char* const kDuplexOptions[] = {"duplex", "adf-mode"};

// ---------------------------------------------------------------------------------------------
// Process-wide SANE: initialised once, exited when the process ends.

std::atomic<bool> g_saneAlive{false};

class SaneLibrary {
public:
    // Never destroyed: an exit() from elsewhere (Qt's, when the X server dies) must not pull
    // the library away under a reader thread that is still in the backend.
    static SaneLibrary& instance()
    {
        static SaneLibrary* library = new SaneLibrary;
        return *library;
    }
    bool ok() const { return ok_; }

private:
    SaneLibrary()
    {
        SANE_Int version = 0;
        ok_ = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
        g_saneAlive = ok_;
    }
    ~SaneLibrary()
    {
        if (ok_) {
            g_saneAlive = false;
            sane_exit();
        }
    }
    bool ok_ = false;
};

QByteArray g_currentSource;  // chosen in the source list; GUI thread only

std::vector<ScannerDevice> listDevices()
{
    std::vector<ScannerDevice> out;
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list)
        return out;
    for (const SANE_Device** d = list; *d; ++d) {
        if (!(*d)->name)
            continue;
        out.push_back({QByteArray((*d)->name), QString::fromUtf8((*d)->vendor ? (*d)->vendor : ""),
                       QString::fromUtf8((*d)->model ? (*d)->model : ""),
                       QString::fromUtf8((*d)->type ? (*d)->type : "")});
    }
    return out;
}

int resultFromStatus(SANE_Status status)
{
    switch (status) {
    case SANE_STATUS_GOOD: return ACQUIRE_SUCCESS;
    case SANE_STATUS_NO_DOCS: return ACQUIRE_NO_DOCS;
    case SANE_STATUS_JAMMED: return ACQUIRE_JAMMED;
    case SANE_STATUS_COVER_OPEN: return ACQUIRE_COVER_OPEN;
    case SANE_STATUS_IO_ERROR: return ACQUIRE_IO_ERROR;
    case SANE_STATUS_CANCELLED: return ACQUIRE_CANCELLED;
    case SANE_STATUS_DEVICE_BUSY: return ACQUIRE_DEVICE_BUSY;
    case SANE_STATUS_NO_MEM: return ACQUIRE_NO_MEMORY;
    case SANE_STATUS_ACCESS_DENIED: return ACQUIRE_ACCESS_DENIED;
    default: return ACQUIRE_FAILED;  // INVAL, UNSUPPORTED, EOF before any data, …
    }
}

int openResultFromStatus(SANE_Status status)
{
    switch (status) {
    case SANE_STATUS_DEVICE_BUSY: return ACQUIRE_DEVICE_BUSY;
    case SANE_STATUS_ACCESS_DENIED: return ACQUIRE_ACCESS_DENIED;
    case SANE_STATUS_NO_MEM: return ACQUIRE_NO_MEMORY;
    default: return ACQUIRE_OPEN_FAILED;
    }
}

// ---------------------------------------------------------------------------------------------
// Names in option lists

QStringList tokens(const QString& s)
{
    static const QRegularExpression separators(QStringLiteral("[^\\p{L}\\p{N}]+"));
    return s.toLower().split(separators, Qt::SkipEmptyParts);
}

bool hasToken(const QStringList& t, const char* word)
{
    return t.contains(QLatin1String(word));
}

bool hasTokenPrefix(const QStringList& t, const char* prefix)
{
    return std::any_of(t.begin(), t.end(), [prefix](const QString& w) { return w.startsWith(QLatin1String(prefix)); });
}

bool containsAny(const QString& lower, std::initializer_list<const char*> parts)
{
    return std::any_of(parts.begin(), parts.end(), [&lower](const char* p) { return lower.contains(QLatin1String(p)); });
}

bool namesBackOnly(const QString& source)
{
    return hasToken(tokens(source), "back") && !namesDuplex(source);
}

} // namespace

bool namesTransparency(const QString& source)
{
    const QString l = source.toLower();
    const QStringList t = tokens(source);
    return containsAny(l, {"transparen", "film", "slide", "negative", "positive"}) || hasToken(t, "tma")
        || hasToken(t, "xpa") || hasTokenPrefix(t, "tpu");
}

bool namesFeeder(const QString& source)
{
    if (namesTransparency(source))
        return false;
    const QString l = source.toLower();
    return hasTokenPrefix(tokens(source), "adf") || containsAny(l, {"feeder", "automatic document", "sheetfed", "sheet-fed"});
}

bool namesDuplex(const QString& source)
{
    return containsAny(source.toLower(), {"duplex", "two-sided", "two sided", "2-sided"});
}

bool namesFlatbed(const QString& source)
{
    const QString l = source.toLower();
    return containsAny(l, {"flatbed", "flat bed", "platen", "glass", "reflective", "document table"})
        || hasToken(tokens(source), "normal");
}

int chooseSourceIndex(const QStringList& sources, bool feeder, bool duplex, bool transmissive)
{
    auto first = [&sources](auto&& pred) {
        for (int i = 0; i < sources.size(); ++i) {
            if (pred(sources[i]))
                return i;
        }
        return -1;
    };
    if (transmissive) {
        const int i = first([](const QString& s) { return namesTransparency(s); });
        if (i >= 0)
            return i;
    }
    if (feeder) {
        int i = -1;
        if (duplex)
            i = first([](const QString& s) { return namesFeeder(s) && namesDuplex(s); });
        if (i < 0)
            i = first([](const QString& s) { return namesFeeder(s) && !namesDuplex(s) && !namesBackOnly(s); });
        if (i >= 0)
            return i;
    }
    return first([](const QString& s) { return namesFlatbed(s); });
}

int chooseDuplexIndex(const QStringList& values, bool duplex)
{
    for (int i = 0; i < values.size(); ++i) {
        if (namesDuplex(values[i]) == duplex)
            return i;
    }
    return -1;
}

int chooseSwitchIndex(const QStringList& values, bool on)
{
    static const std::vector<const char*> onWords = {"auto", "automatic", "on", "yes", "enable", "enabled", "true"};
    static const std::vector<const char*> offWords = {"off", "none", "no", "disable", "disabled", "false"};
    const std::vector<const char*>& words = on ? onWords : offWords;
    for (int i = 0; i < values.size(); ++i) {
        const QStringList t = tokens(values[i]);
        for (const char* w : words) {
            if (hasToken(t, w))
                return i;
        }
    }
    return -1;
}

namespace {

enum class ModeKind { Other, Lineart, Halftone, Gray, Color };

// Kind of a `mode` entry, and whether it is a plain one (0) or an unusual depth (1).
ModeKind classifyMode(const QString& mode, int* rank)
{
    const QString l = mode.toLower();
    const QStringList t = tokens(mode);
    *rank = 0;
    if (containsAny(l, {"negative", "positive", "slide", "film", "infrared"}) || hasToken(t, "rgbi"))
        return ModeKind::Other;
    const bool color = containsAny(l, {"color", "colour"}) || hasTokenPrefix(t, "rgb");
    const bool halftone = containsAny(l, {"halftone", "dither", "diffusion"});
    const bool lineart = containsAny(l, {"lineart", "line art", "line-art", "binary", "black & white",
                                         "black and white", "black&white", "blackandwhite", "b&w", "bilevel",
                                         "bi-level", "monochrome"})
        || hasToken(t, "bw") || hasToken(t, "mono");
    const bool gray = containsAny(l, {"gray", "grey"});
    // Depths other than 8 (or 24 for colour) named in the entry: "Gray16", "Color (48 bits)".
    static const QRegularExpression number(QStringLiteral("(\\d+)"));
    for (auto it = number.globalMatch(l); it.hasNext();) {
        const int n = it.next().captured(1).toInt();
        if (n != 8 && n != 24 && n != 256)
            *rank = 1;
    }
    if (halftone)
        return color ? ModeKind::Other : ModeKind::Halftone;
    if (lineart)
        return color ? ModeKind::Other : ModeKind::Lineart;
    if (gray)
        return color ? ModeKind::Other : ModeKind::Gray;
    if (color)
        return ModeKind::Color;
    return ModeKind::Other;
}

int bestMode(const QStringList& modes, ModeKind kind)
{
    int best = -1;
    int bestRank = 2;
    for (int i = 0; i < modes.size(); ++i) {
        int rank = 0;
        if (classifyMode(modes[i], &rank) == kind && rank < bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    return best;
}

} // namespace

ModeChoice chooseMode(const QStringList& modes, const std::vector<int>& depths, int bitsPerPixel)
{
    auto allows = [&depths](int depth) { return std::find(depths.begin(), depths.end(), depth) != depths.end(); };
    ModeChoice c;
    if (bitsPerPixel <= 1) {
        if (const int i = bestMode(modes, ModeKind::Lineart); i >= 0)
            return {modes[i], 0};
        if (const int i = bestMode(modes, ModeKind::Gray); i >= 0 && allows(1))
            return {modes[i], 1};
        if (const int i = bestMode(modes, ModeKind::Halftone); i >= 0)
            return {modes[i], 0};
        if (modes.isEmpty() && allows(1))
            c.depth = 1;
        return c;
    }
    const ModeKind kind = bitsPerPixel <= 16 ? ModeKind::Gray : ModeKind::Color;
    if (const int i = bestMode(modes, kind); i >= 0)
        c.mode = modes[i];
    else if (!modes.isEmpty())
        return c;
    if (allows(8))
        c.depth = 8;
    return c;
}

// ---------------------------------------------------------------------------------------------
// Page data into images

namespace {

bool readBit(const uchar* row, qint64 index)
{
    return (row[index >> 3] >> (7 - (index & 7))) & 1;
}

uchar sampleAt(const uchar* row, int depth, qint64 index)
{
    if (depth == 8)
        return row[index];
    quint16 v = 0;
    std::memcpy(&v, row + 2 * index, 2);  // host byte order
    return static_cast<uchar>(v >> 8);
}

// Row `row` of a frame: its own bytes, or (for a row the data ends in) a copy completed with
// white.
const uchar* frameRow(const SaneFrameData& f, qint64 row, std::vector<uchar>& scratch)
{
    const qint64 offset = row * f.bytesPerLine;
    const qint64 available = f.data.size() - offset;
    if (available >= f.bytesPerLine)
        return reinterpret_cast<const uchar*>(f.data.constData()) + offset;
    const uchar white = (f.format == 0 && f.depth == 1) ? 0x00 : 0xff;
    scratch.assign(static_cast<size_t>(f.bytesPerLine), white);
    if (available > 0)
        std::memcpy(scratch.data(), f.data.constData() + offset, static_cast<size_t>(available));
    return scratch.data();
}

qint64 rowsOf(const SaneFrameData& f)
{
    qint64 rows = (f.data.size() + f.bytesPerLine - 1) / f.bytesPerLine;
    if (f.lines > 0)
        rows = std::min<qint64>(rows, f.lines);
    return rows;
}

bool frameIsWellFormed(const SaneFrameData& f)
{
    if (f.format < 0 || f.format > 4)
        return false;
    if (f.depth != 1 && f.depth != 8 && f.depth != 16)
        return false;
    if (f.pixelsPerLine <= 0 || f.bytesPerLine <= 0 || f.lines == 0 || f.lines < -1)
        return false;
    const qint64 channels = f.format == 1 ? 3 : 1;
    const qint64 needed = (channels * f.pixelsPerLine * f.depth + 7) / 8;
    return f.bytesPerLine >= needed && !f.data.isEmpty();
}

} // namespace

QImage adoptFrame(std::vector<SaneFrameData>& frames)
{
    // An 8-bit gray or RGB frame whose rows already have QImage's 32-bit aligned layout
    // becomes the page without a copy: a page raster is large.
    if (frames.size() != 1)
        return QImage();
    SaneFrameData& f = frames.front();
    const bool gray = f.format == 0;
    const bool rgb = f.format == 1;
    if (!(gray || rgb) || f.depth != 8 || f.lines <= 0 || f.pixelsPerLine <= 0)
        return QImage();
    const qint64 rowBytes = qint64(f.pixelsPerLine) * (rgb ? 3 : 1);
    if (f.bytesPerLine != rowBytes || rowBytes % 4 != 0 || qint64(f.data.size()) < rowBytes * f.lines)
        return QImage();
    auto* holder = new QByteArray(std::move(f.data));
    auto* bits = reinterpret_cast<uchar*>(holder->data());
    if (reinterpret_cast<quintptr>(bits) % 4 != 0) {
        f.data = std::move(*holder);
        delete holder;
        return QImage();
    }
    return QImage(bits, f.pixelsPerLine, f.lines, f.bytesPerLine,
                  rgb ? QImage::Format_RGB888 : QImage::Format_Grayscale8,
                  [](void* p) { delete static_cast<QByteArray*>(p); }, holder);
}

QImage pageFromFrames(const std::vector<SaneFrameData>& frames, int* result)
{
    auto fail = [result](int code) {
        if (result)
            *result = code;
        return QImage();
    };
    if (frames.empty())
        return fail(ACQUIRE_BAD_DATA);
    for (const SaneFrameData& f : frames) {
        if (!frameIsWellFormed(f))
            return fail(ACQUIRE_BAD_DATA);
    }
    std::vector<uchar> scratch;
    const SaneFrameData& first = frames.front();
    const int width = first.pixelsPerLine;

    if (first.format == 0 || first.format == 1) {
        if (frames.size() != 1)
            return fail(ACQUIRE_BAD_DATA);
        const qint64 rows = rowsOf(first);
        if (rows > INT_MAX)
            return fail(ACQUIRE_NO_MEMORY);
        const int height = static_cast<int>(rows);
        QImage img;
        if (first.format == 0 && first.depth == 1) {
            img = QImage(width, height, QImage::Format_Mono);
            if (img.isNull())
                return fail(ACQUIRE_NO_MEMORY);
            // SANE's 1 is black: index 1 of the table.
            img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
            const int fullBytes = width / 8;
            const int restBits = width % 8;
            const uchar restMask = static_cast<uchar>(0xff << (8 - restBits));
            for (int y = 0; y < height; ++y) {
                const uchar* src = frameRow(first, y, scratch);
                uchar* dst = img.scanLine(y);
                std::memcpy(dst, src, static_cast<size_t>(fullBytes));
                if (restBits)
                    dst[fullBytes] = src[fullBytes] & restMask;
            }
        } else if (first.format == 0) {
            img = QImage(width, height, QImage::Format_Grayscale8);
            if (img.isNull())
                return fail(ACQUIRE_NO_MEMORY);
            for (int y = 0; y < height; ++y) {
                const uchar* src = frameRow(first, y, scratch);
                uchar* dst = img.scanLine(y);
                if (first.depth == 8) {
                    std::memcpy(dst, src, static_cast<size_t>(width));
                } else {
                    for (int x = 0; x < width; ++x)
                        dst[x] = sampleAt(src, 16, x);
                }
            }
        } else {
            img = QImage(width, height, QImage::Format_RGB888);
            if (img.isNull())
                return fail(ACQUIRE_NO_MEMORY);
            const qint64 samples = qint64(3) * width;
            for (int y = 0; y < height; ++y) {
                const uchar* src = frameRow(first, y, scratch);
                uchar* dst = img.scanLine(y);
                if (first.depth == 8) {
                    std::memcpy(dst, src, static_cast<size_t>(samples));
                } else if (first.depth == 16) {
                    for (qint64 i = 0; i < samples; ++i)
                        dst[i] = sampleAt(src, 16, i);
                } else {
                    // One bit per sample, R G B in turn, 1 = full intensity.
                    for (qint64 i = 0; i < samples; ++i)
                        dst[i] = readBit(src, i) ? 255 : 0;
                }
            }
        }
        if (result)
            *result = ACQUIRE_SUCCESS;
        return img;
    }

    // Three-pass colour: one frame per colour, all of one size.
    if (frames.size() > 3)
        return fail(ACQUIRE_BAD_DATA);
    qint64 rows = -1;
    const SaneFrameData* channel[3] = {nullptr, nullptr, nullptr};
    for (const SaneFrameData& f : frames) {
        if (f.format < 2 || f.pixelsPerLine != width || f.depth != first.depth)
            return fail(ACQUIRE_BAD_DATA);
        channel[f.format - 2] = &f;
        rows = rows < 0 ? rowsOf(f) : std::min(rows, rowsOf(f));
    }
    if (rows > INT_MAX)
        return fail(ACQUIRE_NO_MEMORY);
    const int height = static_cast<int>(rows);
    QImage img(width, height, QImage::Format_RGB888);
    if (img.isNull())
        return fail(ACQUIRE_NO_MEMORY);
    img.fill(Qt::black);
    for (int c = 0; c < 3; ++c) {
        const SaneFrameData* f = channel[c];
        if (!f)
            continue;
        for (int y = 0; y < height; ++y) {
            const uchar* src = frameRow(*f, y, scratch);
            uchar* dst = img.scanLine(y) + c;
            for (int x = 0; x < width; ++x, dst += 3)
                *dst = f->depth == 1 ? (readBit(src, x) ? 255 : 0) : sampleAt(src, f->depth, x);
        }
    }
    if (result)
        *result = ACQUIRE_SUCCESS;
    return img;
}

// ---------------------------------------------------------------------------------------------
// One acquisition: the reader thread and the caller's side of the queue

namespace {

struct QueueItem {
    int progress = 0;  // > 0: the page with this number is about to be scanned
    QImage page;
};

struct Run {
    SANE_Handle handle = nullptr;
    bool multiPage = false;
    bool dropBlankPages = false;
    double xDpi = 0.0;
    double yDpi = 0.0;
    std::atomic<int>* pagesQueued = nullptr;
    std::atomic<int>* maxWaiting = nullptr;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QueueItem> items;
    int pagesWaiting = 0;
    bool finished = false;
    int result = ACQUIRE_SUCCESS;
    std::atomic<bool> stop{false};
    bool frameOpen = false;      // reader thread only: started, not yet read to its end
    std::function<void()> wake;  // tells the caller's thread something arrived

    void post(QueueItem item, bool isPage)
    {
        {
            std::lock_guard lock(mutex);
            items.push_back(std::move(item));
            if (isPage) {
                ++pagesWaiting;
                pagesQueued->fetch_add(1);
                if (pagesWaiting > maxWaiting->load())
                    maxWaiting->store(pagesWaiting);
            }
        }
        changed.notify_all();
        if (wake)
            wake();
    }

    // Waits while the queue is full; false when the acquisition is being stopped.
    bool postPage(QImage page)
    {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [this] { return stop.load() || pagesWaiting < kMaxPagesWaiting; });
            if (stop)
                return false;
        }
        post({0, std::move(page)}, true);
        return true;
    }

    void finish(int code)
    {
        {
            std::lock_guard lock(mutex);
            finished = true;
            result = code;
        }
        changed.notify_all();
        if (wake)
            wake();
    }

    void requestStop()
    {
        stop = true;
        changed.notify_all();
    }
};

struct PageRead {
    int result = ACQUIRE_SUCCESS;
    bool feederEmpty = false;  // NO_DOCS before any data of the page
};

SANE_Status startFrame(Run& run)
{
    for (int attempt = 0;; ++attempt) {
        const SANE_Status status = sane_start(run.handle);
        if (static_cast<int>(status) != kStatusWarmingUp || attempt >= kWarmUpAttempts || run.stop)
            return status;
        std::this_thread::sleep_for(kWarmUpRetry);
    }
}

// Reads one frame to its end into f.data.
int readFrame(Run& run, SaneFrameData& f, bool* noDocsAtStart)
{
    const qint64 expected = f.lines > 0 ? qint64(f.bytesPerLine) * f.lines : -1;
    if (expected > kMaxFrameBytes)
        return ACQUIRE_NO_MEMORY;
    QByteArray buffer;
    std::vector<SANE_Byte> overflow;  // data beyond the announced size is read and dropped
    qint64 filled = 0;
    try {
        buffer.resize(expected > 0 ? expected : qint64(f.bytesPerLine) * 256);
    } catch (const std::bad_alloc&) {
        return ACQUIRE_NO_MEMORY;
    }
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
        if (length == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // nothing yet: do not spin
        if (keep)
            filled += length;
    }
    buffer.truncate(filled);
    f.data = std::move(buffer);
    return ACQUIRE_SUCCESS;
}

// Reads one page: one frame, or the three frames of a three-pass scanner.
PageRead readPage(Run& run, std::vector<SaneFrameData>& frames)
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

int readPages(Run& run)
{
    int sheets = 0;
    int result = ACQUIRE_SUCCESS;
    for (int pageNumber = 1;; ++pageNumber) {
        if (run.stop) {
            result = ACQUIRE_CANCELLED;
            break;
        }
        run.post({pageNumber, QImage()}, false);
        std::vector<SaneFrameData> frames;
        const PageRead read = readPage(run, frames);
        if (read.result != ACQUIRE_SUCCESS) {
            // The feeder running empty after a page is its normal end.
            if (read.feederEmpty)
                result = sheets > 0 ? ACQUIRE_SUCCESS : ACQUIRE_NO_DOCS;
            else
                result = read.result;
            break;
        }
        int built = ACQUIRE_SUCCESS;
        QImage page = adoptFrame(frames);
        if (page.isNull())
            page = pageFromFrames(frames, &built);
        frames.clear();
        if (page.isNull()) {
            result = built;
            break;
        }
        ++sheets;
        if (run.xDpi > 0.0)
            page.setDotsPerMeterX(qRound(run.xDpi / 0.0254));
        if (run.yDpi > 0.0)
            page.setDotsPerMeterY(qRound(run.yDpi / 0.0254));
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

void readerMain(Run& run)
{
    int result = ACQUIRE_FAILED;
    try {
        result = readPages(run);
    } catch (const std::bad_alloc&) {
        result = ACQUIRE_NO_MEMORY;
    } catch (...) {
        result = ACQUIRE_FAILED;
    }
    // Ends the batch (or the failed page). Between the pages of a feeder batch it is not
    // called: several backends end the batch on it and lose the back of a duplex sheet.
    if (run.frameOpen)
        std::this_thread::sleep_for(kCancelGrace);
    sane_cancel(run.handle);
    run.finish(result);
}

// What the negotiated settings became on the device.
struct Outcome {
    bool multiPage = false;
    bool dropBlankPages = false;
    double xDpi = 0.0;
    double yDpi = 0.0;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// SaneTwain

struct Negotiated {
    bool feeder = false;
    bool duplex = false;
    bool transmissive = false;
    int blankMode = 0;  // 0, TWBP_AUTO or TWBP_DISABLE
    bool autoRotate = false;
    int bitsPerPixel = 0;
    double xDpi = 0.0;
    double yDpi = 0.0;
    int unit = TWUN_INCHES;  // TWAIN's default unit
    bool frameSet = false;
    TW_FRAME frame{};
};

struct SaneTwain::Impl {
    Negotiated settings;
    SANE_Handle handle = nullptr;
    QByteArray deviceName;
    QString deviceTitle;
    bool acquiring = false;
    bool closeAfterAcquire = false;
    Run* run = nullptr;
    std::function<void()> cancel; // stops the running acquisition (requestCancel)
    std::vector<std::pair<QByteArray, QByteArray>> extras;
    std::atomic<int> pagesQueued{0};
    std::atomic<int> maxWaiting{0};

    void close()
    {
        if (handle && g_saneAlive) {
            sane_cancel(handle);
            sane_close(handle);
        }
        handle = nullptr;
        deviceName.clear();
        deviceTitle.clear();
    }

    int ensureOpen();
    void apply(SaneOptions& o, Outcome& out);
    void evaluate(SaneOptions& o, Outcome& out) const;
};

int SaneTwain::Impl::ensureOpen()
{
    QByteArray name = g_currentSource;
    if (name.isEmpty())
        name = qgetenv("SANE_DEFAULT_DEVICE");
    std::vector<ScannerDevice> devices;
    if (name.isEmpty() || !handle || name != deviceName)
        devices = listDevices();
    if (name.isEmpty()) {
        if (devices.empty())
            return ACQUIRE_NO_DEVICE;
        name = devices.front().name;
    }
    if (handle && name == deviceName)
        return ACQUIRE_SUCCESS;
    close();
    SANE_Handle h = nullptr;
    const SANE_Status status = sane_open(name.constData(), &h);
    if (status != SANE_STATUS_GOOD || !h)
        return openResultFromStatus(status);
    handle = h;
    deviceName = name;
    deviceTitle = QString::fromUtf8(name);
    for (const ScannerDevice& dev : devices) {
        if (dev.name == name)
            deviceTitle = QStringLiteral("%1 %2 (%3)").arg(dev.vendor, dev.model, QString::fromUtf8(name));
    }
    return ACQUIRE_SUCCESS;
}

namespace {

void setNearest(SaneOptions& o, const char* name, double wanted)
{
    const int i = o.find(name);
    if (i > 0 && o.isSettable(i) && o.isScalar(i))
        o.setNumber(i, nearestAllowedValue(wanted, o.numberConstraint(i)));
}

// Switches a device feature on or off, whatever the type of its option; true when the
// device accepted it.
bool applySwitch(SaneOptions& o, int i, bool on, double numericOn)
{
    const SANE_Option_Descriptor* d = o.descriptor(i);
    if (!d || !o.isSettable(i))
        return false;
    switch (d->type) {
    case SANE_TYPE_BOOL:
        return o.setBool(i, on);
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED:
        return o.setNumber(i, nearestAllowedValue(on ? numericOn : 0.0, o.numberConstraint(i)));
    case SANE_TYPE_STRING: {
        const QStringList values = o.stringList(i);
        const int v = chooseSwitchIndex(values, on);
        return v >= 0 && o.setString(i, values[v].toUtf8());
    }
    default:
        return false;
    }
}

std::vector<int> allowedDepths(SaneOptions& o, int i)
{
    std::vector<int> out;
    if (i <= 0 || !o.isSettable(i))
        return out;
    const ValueConstraint c = o.numberConstraint(i);
    if (c.kind == ValueConstraint::List) {
        for (double v : c.values)
            out.push_back(static_cast<int>(v));
    } else if (c.kind == ValueConstraint::Range) {
        for (int v : {1, 8, 16}) {
            if (v >= c.min && v <= c.max)
                out.push_back(v);
        }
    } else {
        out = {1, 8, 16};
    }
    return out;
}

double readResolution(const SaneOptions& o, const char* name)
{
    const int i = o.find(name);
    if (i <= 0)
        return 0.0;
    return o.getNumber(i).value_or(0.0);
}

} // namespace

void SaneTwain::Impl::apply(SaneOptions& o, Outcome& out)
{
    const Negotiated& s = settings;

    // Source first: it changes which other options and ranges there are.
    const int source = o.find(SANE_NAME_SCAN_SOURCE);
    if (source > 0 && o.isSettable(source)) {
        const QStringList values = o.stringList(source);
        const int i = chooseSourceIndex(values, s.feeder, s.duplex, s.transmissive);
        if (i >= 0)
            o.setString(source, values[i].toUtf8());
    }
    const QString sourceNow = source > 0 ? QString::fromUtf8(o.getString(source).value_or(QByteArray())) : QString();

    // Duplex by a separate option when the source does not say it.
    if (!namesDuplex(sourceNow)) {
        for (const char* name : kDuplexOptions) {
            const int i = o.find(name);
            if (i <= 0 || !o.isSettable(i))
                continue;
            const SANE_Option_Descriptor* d = o.descriptor(i);
            if (d->type == SANE_TYPE_BOOL) {
                o.setBool(i, s.duplex);
            } else if (d->type == SANE_TYPE_STRING) {
                const QStringList values = o.stringList(i);
                const int v = chooseDuplexIndex(values, s.duplex);
                if (v >= 0)
                    o.setString(i, values[v].toUtf8());
            }
            break;
        }
    }

    // Mode, then depth (the mode decides which depths there are).
    if (s.bitsPerPixel > 0) {
        const int mode = o.find(SANE_NAME_SCAN_MODE);
        const QStringList modes = mode > 0 && o.isSettable(mode) ? o.stringList(mode) : QStringList();
        const ModeChoice choice = chooseMode(modes, allowedDepths(o, o.find(SANE_NAME_BIT_DEPTH)), s.bitsPerPixel);
        if (!choice.mode.isEmpty())
            o.setString(mode, choice.mode.toUtf8());
        if (choice.depth > 0) {
            const int depth = o.find(SANE_NAME_BIT_DEPTH);
            const std::vector<int> now = allowedDepths(o, depth);
            if (std::find(now.begin(), now.end(), choice.depth) != now.end())
                o.setNumber(depth, choice.depth);
        }
    }

    // Resolution before the area: some devices count the area in pixels.
    if (s.xDpi > 0.0 && s.yDpi > 0.0) {
        setNearest(o, SANE_NAME_SCAN_RESOLUTION, s.xDpi);
        setNearest(o, SANE_NAME_SCAN_X_RESOLUTION, s.xDpi);
        setNearest(o, SANE_NAME_SCAN_Y_RESOLUTION, s.yDpi);
    }

    ScanArea mm;
    if (s.frameSet && frameToMillimetres(s.frame, s.unit, s.xDpi, s.yDpi, &mm)) {
        Outcome now;
        evaluate(o, now);
        const ScanArea px = millimetresToPixels(mm, now.xDpi, now.yDpi);
        const std::pair<const char*, double ScanArea::*> edges[] = {
            {SANE_NAME_SCAN_TL_X, &ScanArea::left},
            {SANE_NAME_SCAN_TL_Y, &ScanArea::top},
            {SANE_NAME_SCAN_BR_X, &ScanArea::right},
            {SANE_NAME_SCAN_BR_Y, &ScanArea::bottom},
        };
        for (const auto& [name, edge] : edges) {
            const int i = o.find(name);
            if (i <= 0 || !o.isSettable(i) || !o.isScalar(i))
                continue;
            const bool inPixels = o.descriptor(i)->unit == SANE_UNIT_PIXEL;
            if (inPixels && (now.xDpi <= 0.0 || now.yDpi <= 0.0))
                continue;
            const double wanted = inPixels ? px.*edge : mm.*edge;
            o.setNumber(i, nearestAllowedValue(wanted, o.numberConstraint(i)));
        }
    }

    bool deviceDropsBlank = false;
    if (s.blankMode == TWBP_AUTO || s.blankMode == TWBP_DISABLE) {
        for (const char* name : kBlankPageOptions) {
            const int i = o.find(name);
            if (i > 0 && o.isSettable(i)) {
                const bool ok = applySwitch(o, i, s.blankMode == TWBP_AUTO, kDeviceBlankSkipPercent);
                deviceDropsBlank = ok && s.blankMode == TWBP_AUTO;
                break;
            }
        }
    }
    out.dropBlankPages = s.blankMode == TWBP_AUTO && !deviceDropsBlank;

    if (s.autoRotate) {
        for (const char* name : kAutoRotateOptions) {
            const int i = o.find(name);
            if (i > 0 && o.isSettable(i)) {
                applySwitch(o, i, true, 1.0);
                break;
            }
        }
    }

    for (const auto& [name, value] : extras) {
        const int i = o.find(name.constData());
        if (i <= 0 || !o.setFromText(i, value))
            qWarning("SANE option %s=%s not applied", name.constData(), value.constData());
    }
}

void SaneTwain::Impl::evaluate(SaneOptions& o, Outcome& out) const
{
    const int source = o.find(SANE_NAME_SCAN_SOURCE);
    out.multiPage = source > 0 && namesFeeder(QString::fromUtf8(o.getString(source).value_or(QByteArray())));
    const double r = readResolution(o, SANE_NAME_SCAN_RESOLUTION);
    const double x = readResolution(o, SANE_NAME_SCAN_X_RESOLUTION);
    const double y = readResolution(o, SANE_NAME_SCAN_Y_RESOLUTION);
    out.xDpi = x > 0.0 ? x : r;
    out.yDpi = y > 0.0 ? y : out.xDpi;
}

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
    d->close();
}

bool SaneTwain::isAvailable()
{
    return SaneLibrary::instance().ok();
}

int SaneTwain::openSession()
{
    d->settings = Negotiated();
    return ACQUIRE_SUCCESS;
}

int SaneTwain::selectSource()
{
    if (!SaneLibrary::instance().ok())
        return ACQUIRE_NO_DEVICE;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return ACQUIRE_FAILED;
    const std::vector<ScannerDevice> devices = listDevices();
    const QByteArray current = !g_currentSource.isEmpty() ? g_currentSource : d->deviceName;
    SourceListDialog dialog(devices, current, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted || dialog.chosenName().isEmpty())
        return devices.empty() ? ACQUIRE_NO_DEVICE : ACQUIRE_CANCELLED;
    setCurrentSource(dialog.chosenName());
    return ACQUIRE_SUCCESS;
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

void SaneTwain::requestCancel()
{
    if (d->cancel)
        d->cancel();
}

int SaneTwain::acquire(const PageCallback& onPage, int flags, const ProgressCallback& onProgress)
{
    if (d->acquiring)
        return ACQUIRE_DEVICE_BUSY;
    d->acquiring = true;
    struct Done {
        Impl* d;
        ~Done()
        {
            d->acquiring = false;
            d->run = nullptr;
            if (d->closeAfterAcquire) {
                d->closeAfterAcquire = false;
                d->close();
            }
        }
    } done{d.get()};
    d->pagesQueued = 0;
    d->maxWaiting = 0;

    if (!SaneLibrary::instance().ok())
        return ACQUIRE_NO_DEVICE;
    if (const int opened = d->ensureOpen(); opened != ACQUIRE_SUCCESS)
        return opened;

    SaneOptions options(d->handle);
    Outcome outcome;
    d->apply(options, outcome);

    if (flags & ACQUIRE_SHOW_UI) {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            return ACQUIRE_FAILED;
        SaneOptionsDialog dialog(options, d->deviceTitle, QApplication::activeWindow());
        if (dialog.exec() != QDialog::Accepted)
            return ACQUIRE_CANCELLED;
    }
    d->evaluate(options, outcome);

    Run run;
    run.handle = d->handle;
    run.multiPage = outcome.multiPage;
    run.dropBlankPages = outcome.dropBlankPages;
    run.xDpi = outcome.xDpi;
    run.yDpi = outcome.yDpi;
    run.pagesQueued = &d->pagesQueued;
    run.maxWaiting = &d->maxWaiting;
    d->run = &run;

    // Wait in a local event loop on the caller's thread when there is one to run, so that
    // windows keep painting; otherwise simply block.
    QCoreApplication* app = QCoreApplication::instance();
    std::optional<QEventLoop> loop;
    if (app && QThread::currentThread() == app->thread())
        loop.emplace();
    if (loop) {
        QEventLoop* target = &*loop;
        run.wake = [target] { QMetaObject::invokeMethod(target, [target] { target->quit(); }, Qt::QueuedConnection); };
    }

    std::thread reader([&run] { readerMain(run); });
    // Should a callback throw, the reader is stopped and waited for before unwinding.
    struct Joiner {
        Run& run;
        std::thread& thread;
        ~Joiner()
        {
            if (thread.joinable()) {
                run.requestStop();
                thread.join();
            }
        }
    } joiner{run, reader};

    std::optional<int> stoppedWith;  // the callback's answer when it asked to stop
    d->cancel = [&run, &stoppedWith] {
        if (!stoppedWith)
            stoppedWith = ACQUIRE_CANCELLED;
        run.requestStop();
        if (run.wake)
            run.wake();
    };
    for (;;) {
        std::optional<QueueItem> item;
        bool finished = false;
        {
            std::unique_lock lock(run.mutex);
            if (!loop)
                run.changed.wait(lock, [&run] { return !run.items.empty() || run.finished; });
            if (!run.items.empty()) {
                item = std::move(run.items.front());
                run.items.pop_front();
            } else {
                finished = run.finished;
            }
        }
        if (item) {
            run.changed.notify_all();
            if (stoppedWith)
                continue;  // the caller asked to stop: what still comes is dropped
            if (item->progress > 0) {
                if (onProgress)
                    onProgress(item->progress);
                continue;
            }
            Bitmap page = Bitmap::fromImage(std::move(item->page));
            page.scannedXResolution = run.xDpi;
            page.scannedYResolution = run.yDpi;
            const int answer = onPage ? onPage(page) : ACQUIRE_SUCCESS;
            page.free();
            {
                // The page counts as waiting until it is handed over and released, so the
                // page being stored and the one being read are all that is held.
                std::lock_guard lock(run.mutex);
                --run.pagesWaiting;
            }
            run.changed.notify_all();
            if (answer != ACQUIRE_SUCCESS) {
                stoppedWith = answer;
                run.requestStop();
            }
            continue;
        }
        if (finished)
            break;
        loop->exec();
    }
    reader.join();
    d->cancel = nullptr;

    return stoppedWith ? *stoppedWith : run.result;
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
    d->close();
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
    return d->deviceName;
}

int SaneTwain::pagesQueued() const
{
    return d->pagesQueued.load();
}

int SaneTwain::maxPagesWaiting() const
{
    return d->maxWaiting.load();
}

} // namespace kelvo
