#include "imaging/TiffWriter.h"

#include "imaging/CodecSupport.h"

#include <QIODevice>

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace kelvo {
namespace {

// libtiff's view of the QIODevice: offsets are relative to where the file starts.
struct TiffDevice {
    QIODevice* dev = nullptr;
    qint64 base = 0;
    bool writeFailed = false;
    bool libraryError = false;
};

tmsize_t readProc(thandle_t h, void* buf, tmsize_t size)
{
    auto* d = static_cast<TiffDevice*>(h);
    if (!d->dev->isReadable())
        return -1;
    return tmsize_t(d->dev->read(static_cast<char*>(buf), qint64(size)));
}

tmsize_t writeProc(thandle_t h, void* buf, tmsize_t size)
{
    auto* d = static_cast<TiffDevice*>(h);
    const qint64 n = d->dev->write(static_cast<const char*>(buf), qint64(size));
    if (n != qint64(size))
        d->writeFailed = true;
    return tmsize_t(n);
}

toff_t seekProc(thandle_t h, toff_t off, int whence)
{
    auto* d = static_cast<TiffDevice*>(h);
    qint64 target = 0;
    switch (whence) {
    case SEEK_SET: target = d->base + qint64(off); break;
    case SEEK_CUR: target = d->dev->pos() + qint64(off); break;
    case SEEK_END: target = d->dev->size() + qint64(off); break;
    default: return toff_t(-1);
    }
    if (target < d->base || !d->dev->seek(target))
        return toff_t(-1);
    return toff_t(target - d->base);
}

int closeProc(thandle_t)
{
    return 0; // the caller owns and closes the device
}

toff_t sizeProc(thandle_t h)
{
    auto* d = static_cast<TiffDevice*>(h);
    return toff_t(std::max<qint64>(0, d->dev->size() - d->base));
}

int mapProc(thandle_t, void**, toff_t*)
{
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

// Keeps libtiff from printing; a reported error fails the write.
int errorHandler(TIFF*, void* user, const char*, const char*, va_list)
{
    static_cast<TiffDevice*>(user)->libraryError = true;
    return 1;
}

int warningHandler(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};


bool hasOnlyGrays(const QList<QRgb>& ct)
{
    return std::all_of(ct.begin(), ct.end(),
        [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); });
}

enum class Kind { Bilevel, Gray, Palette, Rgb };

} // namespace

bool writeTiff(QIODevice& out, const QImage& input, int xDpi, int yDpi)
{
    if (input.isNull() || !out.isWritable() || out.isSequential())
        return false;
    const QImage img = writableImage(input);
    if (img.isNull())
        return false;
    const int width = img.width();
    const int height = img.height();
    const QImage::Format fmt = img.format();

    Kind kind = Kind::Rgb;
    if (fmt == QImage::Format_Mono || fmt == QImage::Format_MonoLSB)
        kind = Kind::Bilevel;
    else if (fmt == QImage::Format_Grayscale8
        || (fmt == QImage::Format_Indexed8 && hasOnlyGrays(img.colorTable())))
        kind = Kind::Gray;
    else if (fmt == QImage::Format_Indexed8)
        kind = Kind::Palette;

    TiffDevice device;
    device.dev = &out;
    device.base = out.pos();

    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts)
        return false;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, errorHandler, &device);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, warningHandler, &device);
    std::unique_ptr<TIFF, TiffCloser> tif(TIFFClientOpenExt("KelvoBild", "w", &device, readProc,
        writeProc, seekProc, closeProc, sizeProc, mapProc, unmapProc, opts));
    TIFFOpenOptionsFree(opts);
    if (!tif)
        return false;
    TIFF* t = tif.get();

    const int bitsPerSample = kind == Kind::Bilevel ? 1 : 8;
    const int samples = kind == Kind::Rgb ? 3 : 1;
    const tmsize_t rowBytes = (tmsize_t(width) * bitsPerSample * samples + 7) / 8;
    const uint32_t rowsPerStrip = uint32_t(std::clamp<tmsize_t>(65536 / rowBytes, 1, height));

    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width))
        && TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height))
        && TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bitsPerSample)
        && TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples)
        && TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
        && TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT)
        && TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (ok && xDpi > 0 && yDpi > 0)
        ok = TIFFSetField(t, TIFFTAG_XRESOLUTION, double(xDpi))
            && TIFFSetField(t, TIFFTAG_YRESOLUTION, double(yDpi))
            && TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);

    std::vector<uint16_t> colourMap;
    switch (kind) {
    case Kind::Bilevel:
        ok = ok && TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4)
            && TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE)
            && TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
        break;
    case Kind::Gray:
        ok = ok && TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW)
            && TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL)
            && TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        break;
    case Kind::Palette: {
        colourMap.assign(3 * 256, 0);
        const QList<QRgb> ct = img.colorTable();
        for (int i = 0; i < 256 && i < ct.size(); ++i) {
            colourMap[size_t(i)] = uint16_t(qRed(ct[i]) * 257);
            colourMap[size_t(256 + i)] = uint16_t(qGreen(ct[i]) * 257);
            colourMap[size_t(512 + i)] = uint16_t(qBlue(ct[i]) * 257);
        }
        ok = ok && TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW)
            && TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE)
            && TIFFSetField(t, TIFFTAG_COLORMAP, colourMap.data(), colourMap.data() + 256,
                colourMap.data() + 512);
        break;
    }
    case Kind::Rgb:
        ok = ok && TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW)
            && TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL)
            && TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        break;
    }
    if (!ok)
        return false;

    // Gray values of an Indexed8 image with a gray palette; indices past the table are black.
    std::array<uchar, 256> grayOf{};
    if (kind == Kind::Gray && fmt == QImage::Format_Indexed8) {
        const QList<QRgb> ct = img.colorTable();
        for (int i = 0; i < 256 && i < ct.size(); ++i)
            grayOf[size_t(i)] = uchar(qRed(ct[i]));
    }
    std::array<uchar, 256> monoTable{};
    if (kind == Kind::Bilevel) {
        monoTable = lightBitsTable(img);
        for (uchar& b : monoTable)
            b = uchar(~b); // min-is-white: bit 1 is black
    }
    // The image's bits past the right edge are undefined; they are masked before use.
    const uchar edgeMask = width % 8 == 0 ? 0xFF : uchar(0xFF << (8 - width % 8));
    const uchar lastByteMask = fmt == QImage::Format_MonoLSB && width % 8 ? uchar(0xFF >> (8 - width % 8)) : edgeMask;

    // libtiff's predictor works in the buffer it is given: every row goes through a copy.
    std::vector<uchar> row(static_cast<size_t>(rowBytes));
    for (int y = 0; y < height && ok; ++y) {
        const uchar* src = img.constScanLine(y);
        if (kind == Kind::Bilevel) {
            for (tmsize_t i = 0; i < rowBytes; ++i)
                row[size_t(i)] = monoTable[i == rowBytes - 1 ? src[i] & lastByteMask : src[i]];
            row[size_t(rowBytes - 1)] &= edgeMask; // past the right edge: white
        } else if (kind == Kind::Gray && fmt == QImage::Format_Indexed8) {
            for (int x = 0; x < width; ++x)
                row[size_t(x)] = grayOf[src[x]];
        } else if (kind != Kind::Rgb || fmt == QImage::Format_RGB888) {
            std::memcpy(row.data(), src, size_t(rowBytes));
        } else {
            const QRgb* px = reinterpret_cast<const QRgb*>(src);
            for (int x = 0; x < width; ++x) {
                row[size_t(3 * x)] = uchar(qRed(px[x]));
                row[size_t(3 * x + 1)] = uchar(qGreen(px[x]));
                row[size_t(3 * x + 2)] = uchar(qBlue(px[x]));
            }
        }
        ok = TIFFWriteScanline(t, row.data(), uint32_t(y), 0) == 1 && !device.writeFailed;
    }
    ok = ok && TIFFFlush(t) == 1;
    tif.reset();
    return ok && !device.writeFailed && !device.libraryError;
}

} // namespace kelvo
