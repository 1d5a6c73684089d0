#include "imaging/BmpWriter.h"

#include "imaging/Bitmap.h"
#include "imaging/CodecSupport.h"

#include <QIODevice>
#include <algorithm>

#include <vector>

namespace kelvo {

namespace {

void put16(std::vector<uchar>& b, quint16 v)
{
    b.push_back(uchar(v));
    b.push_back(uchar(v >> 8));
}

void put32(std::vector<uchar>& b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uchar(v >> (8 * i)));
}

bool writeAll(QIODevice& out, const uchar* data, qint64 size)
{
    return writeFully(out, reinterpret_cast<const char*>(data), size);
}

} // namespace

bool writeBmp(QIODevice& out, const QImage& input, int xDpi, int yDpi)
{
    QImage img = writableImage(input);
    if (img.format() == QImage::Format_MonoLSB)
        img = img.convertToFormat(QImage::Format_Mono);
    if (img.isNull())
        return false;
    const int width = img.width();
    const int height = img.height();
    const bool mono = img.format() == QImage::Format_Mono;
    const bool eight = img.format() == QImage::Format_Grayscale8 || img.format() == QImage::Format_Indexed8;
    const int bits = mono ? 1 : eight ? 8 : 24;
    const qint64 rowBytes = ((qint64(width) * bits + 31) / 32) * 4;

    QList<QRgb> palette;
    if (mono) {
        palette = img.colorTable();
        palette.resize(2);
        if (img.colorTable().size() < 2)
            palette = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    } else if (img.format() == QImage::Format_Grayscale8) {
        for (int i = 0; i < 256; ++i)
            palette << qRgb(i, i, i);
    } else if (eight) {
        palette = img.colorTable();
        if (palette.isEmpty() || palette.size() > 256)
            return false;
        palette.resize(256, qRgb(0, 0, 0)); // a full table: some readers expect one
    }
    const qint64 headerBytes = 14 + 40 + 4 * qint64(palette.size());
    const qint64 fileBytes = headerBytes + rowBytes * height;
    if (fileBytes > 0xFFFFFFFFLL)
        return false;

    std::vector<uchar> h;
    h.reserve(size_t(headerBytes));
    h.push_back('B');
    h.push_back('M');
    put32(h, quint32(fileBytes));
    put32(h, 0);
    put32(h, quint32(headerBytes));
    put32(h, 40);
    put32(h, quint32(width));
    put32(h, quint32(height)); // positive: rows bottom-up
    put16(h, 1);
    put16(h, quint16(bits));
    put32(h, 0); // no compression
    put32(h, quint32(rowBytes * height));
    put32(h, quint32(qMax(0, dotsPerMeter(xDpi))));
    put32(h, quint32(qMax(0, dotsPerMeter(yDpi))));
    put32(h, quint32(palette.size()));
    put32(h, 0);
    for (QRgb c : palette) {
        h.push_back(uchar(qBlue(c)));
        h.push_back(uchar(qGreen(c)));
        h.push_back(uchar(qRed(c)));
        h.push_back(0);
    }
    if (!writeAll(out, h.data(), qint64(h.size())))
        return false;

    // Rows go out bottom-up in writes of about 4 MiB, each row padded with zeros.
    const qint64 rowsPerWrite = std::max<qint64>(1, (qint64(4) << 20) / std::max<qint64>(1, rowBytes));
    std::vector<uchar> chunk(size_t(rowBytes * std::min<qint64>(rowsPerWrite, std::max(1, height))), 0);
    const QImage::Format fmt = img.format();
    int y = height - 1;
    while (y >= 0) {
        uchar* row = chunk.data();
        qint64 rows = 0;
        for (; y >= 0 && rows < rowsPerWrite; --y, ++rows, row += rowBytes) {
            const uchar* src = img.constScanLine(y);
            if (bits == 1 || bits == 8) {
                std::copy(src, src + (qint64(width) * bits + 7) / 8, row);
            } else if (fmt == QImage::Format_RGB888) {
                for (int x = 0; x < width; ++x, src += 3) {
                    row[3 * x] = src[2];
                    row[3 * x + 1] = src[1];
                    row[3 * x + 2] = src[0];
                }
            } else {
                const auto* px = reinterpret_cast<const QRgb*>(src);
                for (int x = 0; x < width; ++x) {
                    row[3 * x] = uchar(qBlue(px[x]));
                    row[3 * x + 1] = uchar(qGreen(px[x]));
                    row[3 * x + 2] = uchar(qRed(px[x]));
                }
            }
        }
        if (!writeAll(out, chunk.data(), rows * rowBytes))
            return false;
    }
    return true;
}

} // namespace kelvo
