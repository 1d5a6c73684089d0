// Banded baseline JPEG encoding on libjpeg-turbo; see JpegWriter.h for what is written.
//
// Every band is a run of whole MCU rows, a multiple of 8 of them, encoded by its own libjpeg
// compressor as a complete small JPEG with a restart interval of one MCU row. Restarting
// resets the DC predictors, so a band's scan data is exactly what one compressor would have
// written for those rows of the whole picture. The joined file is the first band's headers
// (with the whole height) followed by every band's scan data, separated by the restart marker
// that falls there; as each band starts on a multiple of 8 MCU rows, the markers inside every
// band already carry the right numbers.
#include "imaging/JpegWriter.h"

#include "imaging/Bitmap.h"
#include "imaging/CodecSupport.h"

#include <QIODevice>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <jpeglib.h>

namespace kelvo {

namespace {

constexpr int kBandMcuRows = 8; // keeps restart numbers aligned across bands

// The pixels as libjpeg takes them, without copying when the format allows it.
struct Source {
    QImage img;
    J_COLOR_SPACE space = JCS_UNKNOWN;
    int components = 0;
    int dpmX = 0; // density to stamp, dots per metre
    int dpmY = 0;
    bool gray() const { return space == JCS_GRAYSCALE; }
};

Source sourceOf(const QImage& in)
{
    constexpr bool little = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    switch (in.format()) {
    case QImage::Format_Grayscale8: return {in, JCS_GRAYSCALE, 1};
    case QImage::Format_RGB888: return {in, JCS_RGB, 3};
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32: // alpha is not stored: the colour channels as they are
        return {in, little ? JCS_EXT_BGRX : JCS_EXT_XRGB, 4};
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888: return {in, JCS_EXT_RGBX, 4};
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
        if (in.allGray())
            return {in.convertToFormat(QImage::Format_Grayscale8), JCS_GRAYSCALE, 1};
        return {in.convertToFormat(QImage::Format_RGB888), JCS_RGB, 3};
    case QImage::Format_Grayscale16: return {in.convertToFormat(QImage::Format_Grayscale8), JCS_GRAYSCALE, 1};
    default: return {in.convertToFormat(QImage::Format_RGB888), JCS_RGB, 3};
    }
}

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void failEncoding(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void keepQuiet(j_common_ptr) {}

// Output buffers of bands (malloc'ed, as libjpeg's memory destination wants them), kept for
// the next band and the next page: a fresh large buffer costs a page fault for every 4 KiB
// written into it, which made banding a tenth slower than one uncut encoding. A few are kept.
class BufferPool {
public:
    struct Block {
        unsigned char* data = nullptr;
        unsigned long capacity = 0;
    };
    Block take(unsigned long atLeast)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            const auto fits = std::find_if(blocks_.begin(), blocks_.end(),
                                           [&](const Block& b) { return b.capacity >= atLeast; });
            if (fits != blocks_.end()) {
                const Block b = *fits;
                blocks_.erase(fits);
                return b;
            }
        }
        Block b{static_cast<unsigned char*>(std::malloc(atLeast)), atLeast};
        if (!b.data)
            b.capacity = 0;
        return b;
    }
    void give(Block b)
    {
        if (!b.data)
            return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (blocks_.size() < kKept) {
                blocks_.push_back(b);
                return;
            }
            // Full: keep the larger one.
            const auto smallest = std::min_element(blocks_.begin(), blocks_.end(), [](const Block& x, const Block& y) {
                return x.capacity < y.capacity;
            });
            if (smallest->capacity < b.capacity)
                std::swap(*smallest, b);
        }
        std::free(b.data);
    }

private:
    static constexpr size_t kKept = 8; // bands in flight on every core, and the writer's
    std::mutex mutex_;
    std::vector<Block> blocks_;
};

BufferPool& bufferPool()
{
    static BufferPool* pool = new BufferPool; // lives to the end of the process
    return *pool;
}

// One band's encoded bytes, a complete JPEG of the band's height, in a pool buffer.
struct Band {
    int firstRow = 0;
    int rows = 0;
    unsigned char* data = nullptr;
    unsigned long size = 0;     // bytes encoded
    unsigned long capacity = 0; // of the buffer, as far as known
    bool ok = false;
    Band() = default;
    Band(const Band&) = delete;
    Band& operator=(const Band&) = delete;
    Band(Band&& o) noexcept
        : firstRow(o.firstRow), rows(o.rows), data(std::exchange(o.data, nullptr)), size(o.size),
          capacity(o.capacity), ok(o.ok)
    {
    }
    ~Band() { release(); }
    void release() { bufferPool().give({std::exchange(data, nullptr), capacity}); }
};

quint16 densityOf(int dotsPerMeter)
{
    return quint16(std::clamp(dpiOf(dotsPerMeter), 1, 65535));
}

// Only plain data lives in this frame: a failing libjpeg call jumps back into it.
bool encodeBand(const Source& src, int quality, bool restarts, Band* band)
{
    // Room for a band compressed to half its raw size; libjpeg moves to a larger buffer of its
    // own when needed and then leaves this first one to us.
    const unsigned long guess = std::max(4096ul, static_cast<unsigned long>(src.img.width()) * band->rows
                                                     * static_cast<unsigned long>(src.components) / 2);
    const BufferPool::Block first = bufferPool().take(guess);
    band->data = first.data;
    band->size = first.capacity;
    band->capacity = first.capacity;

    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = failEncoding;
    err.pub.output_message = keepQuiet;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        if (band->data != first.data) {
            bufferPool().give(first);
            band->capacity = band->size;
        }
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &band->data, &band->size);

    cinfo.image_width = JDIMENSION(src.img.width());
    cinfo.image_height = JDIMENSION(band->rows);
    cinfo.input_components = src.components;
    cinfo.in_color_space = src.space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.density_unit = 1; // dots per inch
    cinfo.X_density = densityOf(src.dpmX);
    cinfo.Y_density = densityOf(src.dpmY);
    if (restarts)
        cinfo.restart_in_rows = 1;
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = band->firstRow + int(cinfo.next_scanline);
        const int n = std::min<int>(16, int(cinfo.image_height - cinfo.next_scanline));
        for (int i = 0; i < n; ++i)
            rows[i] = const_cast<JSAMPROW>(src.img.constScanLine(y + i)); // libjpeg only reads them
        jpeg_write_scanlines(&cinfo, rows, JDIMENSION(n));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (band->data != first.data) {
        bufferPool().give(first);
        band->capacity = band->size; // at least
    }
    return true;
}

// Offset just past the start-of-scan segment of a JPEG libjpeg wrote, and of its frame header
// (SOF0), or 0 when they are not where they should be.
struct Layout {
    size_t frame = 0;
    size_t scanData = 0;
};

Layout layoutOf(const unsigned char* d, size_t n)
{
    Layout l;
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return {};
    size_t p = 2;
    while (p + 4 <= n) {
        if (d[p] != 0xFF)
            return {};
        const unsigned char marker = d[p + 1];
        const size_t length = size_t(d[p + 2]) << 8 | d[p + 3];
        if (marker == 0xC0)
            l.frame = p;
        if (marker == 0xDA) {
            l.scanData = p + 2 + length;
            return l.frame && l.scanData + 2 <= n ? l : Layout{};
        }
        p += 2 + length;
    }
    return {};
}

} // namespace

int jpegEncoderThreads()
{
    // Two per core. A thread started for a page often lands on a core that is busy (the
    // scanner's reader runs there) and is moved only after the page is done; with two on
    // every core, each core has work all the time. Measured: a tenth less time per page at
    // 150 dpi, the same at 300 dpi.
    static const int threads = std::clamp(2 * int(std::thread::hardware_concurrency()), 1, 8);
    return threads;
}

namespace {

using Sink = std::function<bool(const char*, qsizetype)>;

// Encodes the bands on every core and hands the joined file to `sink` piece by piece, in
// order, from the calling thread; a band is released as soon as it went out, so only the
// bands encoded ahead of the writing are held. False when encoding or the sink failed.
bool encodeTo(const QImage& img, int quality, int dotsPerMeterX, int dotsPerMeterY, const Sink& sink)
{
    if (img.isNull() || img.width() > 65500 || img.height() > 65500)
        return false;
    Source src = sourceOf(img);
    if (src.img.isNull())
        return false;
    src.dpmX = dotsPerMeterX;
    src.dpmY = dotsPerMeterY;
    quality = std::clamp(quality, 1, 100);

    const int mcuRows = src.gray() ? 8 : 16;
    const int bandRows = kBandMcuRows * mcuRows;
    std::vector<Band> bands;
    for (int y = 0; y < src.img.height(); y += bandRows) {
        Band b;
        b.firstRow = y;
        b.rows = std::min(bandRows, src.img.height() - y);
        bands.push_back(std::move(b));
    }
    const bool restarts = bands.size() > 1;
    std::vector<std::atomic<bool>> done(bands.size());
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    const auto encodeNext = [&]() -> bool {
        const size_t i = next.fetch_add(1);
        if (i >= bands.size() || failed.load())
            return false;
        bands[i].ok = encodeBand(src, quality, restarts, &bands[i]);
        if (!bands[i].ok)
            failed = true;
        done[i].store(true, std::memory_order_release);
        return true;
    };

    // Writing: headers of the first band (with the whole height), then each band's scan data
    // and the restart marker after it, then the end of the image.
    size_t written = 0;
    const auto writeReady = [&]() -> bool {
        for (; written < bands.size() && done[written].load(std::memory_order_acquire); ++written) {
            Band& b = bands[written];
            const Layout l = b.ok && b.data ? layoutOf(b.data, b.size) : Layout{};
            if (!l.scanData || b.data[b.size - 2] != 0xFF || b.data[b.size - 1] != 0xD9)
                return false;
            if (written == 0) {
                const size_t heightAt = l.frame + 5; // FF C0, length, precision, height
                b.data[heightAt] = static_cast<unsigned char>(src.img.height() >> 8);
                b.data[heightAt + 1] = static_cast<unsigned char>(src.img.height() & 0xFF);
                if (!sink(reinterpret_cast<const char*>(b.data), qsizetype(l.scanData)))
                    return false;
            }
            if (!sink(reinterpret_cast<const char*>(b.data + l.scanData), qsizetype(b.size - l.scanData - 2)))
                return false;
            const int rowsOfMcus = (b.rows + mcuRows - 1) / mcuRows;
            const char marker[2] = {char(0xFF), written + 1 < bands.size() ? char(0xD0 + (rowsOfMcus - 1) % 8)
                                                                         : char(0xD9)};
            if (!sink(marker, 2))
                return false;
            b.release();
        }
        return true;
    };

    std::vector<std::thread> helpers;
    const size_t wanted = std::min(bands.size(), size_t(jpegEncoderThreads())) - 1;
    for (size_t i = 0; i < wanted; ++i) {
        try {
            helpers.emplace_back([&] { while (encodeNext()) {} });
        } catch (const std::system_error&) {
            break; // fewer threads: this one does the rest
        }
    }
    bool ok = true;
    while (ok && encodeNext())
        ok = writeReady();
    if (!ok)
        failed = true;
    for (std::thread& t : helpers)
        t.join();
    return ok && !failed && writeReady() && written == bands.size();
}

} // namespace

QByteArray encodeJpeg(const QImage& img, int quality)
{
    return encodeJpeg(img, quality, img.dotsPerMeterX(), img.dotsPerMeterY());
}

QByteArray encodeJpeg(const QImage& img, int quality, int dotsPerMeterX, int dotsPerMeterY)
{
    QByteArray out;
    const bool ok = encodeTo(img, quality, dotsPerMeterX, dotsPerMeterY, [&](const char* data, qsizetype size) {
        out.append(data, size);
        return true;
    });
    return ok ? out : QByteArray();
}

bool writeJpeg(QIODevice& out, const QImage& img, int quality)
{
    return encodeTo(img, quality, img.dotsPerMeterX(), img.dotsPerMeterY(),
                    [&](const char* data, qsizetype size) { return writeFully(out, data, size); });
}

} // namespace kelvo
