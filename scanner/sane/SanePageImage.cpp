#include "scanner/sane/SanePageImage.h"

#include "scanner/Twain.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kelvo {

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

QImage adoptFrame(std::vector<SaneFrameData>& frames, FrameRecycler recycle)
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
    if (reinterpret_cast<quintptr>(f.data.constData()) % 4 != 0)
        return QImage();
    struct Holder {
        QByteArray data;
        FrameRecycler recycle;
    };
    auto* holder = new Holder{std::move(f.data), std::move(recycle)};
    auto* bits = reinterpret_cast<uchar*>(holder->data.data());
    return QImage(bits, f.pixelsPerLine, f.lines, f.bytesPerLine,
                  rgb ? QImage::Format_RGB888 : QImage::Format_Grayscale8,
                  [](void* p) {
                      auto* h = static_cast<Holder*>(p);
                      if (h->recycle)
                          h->recycle(std::move(h->data));
                      delete h;
                  },
                  holder);
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


QImage pageInDepth(QImage page, int bitsPerPixel)
{
    if (page.isNull())
        return page;
    const int have = bitsPerPixelOf(page);
    if (bitsPerPixel == 8 && have > 8) {
        QImage gray = page.convertToFormat(QImage::Format_Grayscale8);
        gray.setDotsPerMeterX(page.dotsPerMeterX());
        gray.setDotsPerMeterY(page.dotsPerMeterY());
        return gray;
    }
    if (bitsPerPixel != 1 || have == 1)
        return page;
    // Gray first (luminance, as for an 8-bit page), then a fixed threshold: Qt's own
    // conversion to Format_Mono dithers or rounds in its own way.
    const QImage gray = page.format() == QImage::Format_Grayscale8 ? page : page.convertToFormat(QImage::Format_Grayscale8);
    QImage mono(gray.width(), gray.height(), QImage::Format_Mono);
    if (gray.isNull() || mono.isNull())
        return QImage();
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mono.setDotsPerMeterX(page.dotsPerMeterX());
    mono.setDotsPerMeterY(page.dotsPerMeterY());
    const int width = gray.width();
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* src = gray.constScanLine(y);
        uchar* dst = mono.scanLine(y);
        std::memset(dst, 0, static_cast<size_t>(mono.bytesPerLine()));
        for (int x = 0; x < width; ++x) {
            if (src[x] < kLineartThreshold)
                dst[x >> 3] |= static_cast<uchar>(0x80 >> (x & 7));
        }
    }
    return mono;
}

} // namespace kelvo
