// Encoding a page for storing: the codec by format code, the page converted to the depth to
// store, the resolution written into the file.
#include "imaging/ImageSave.h"

#include "imaging/BmpWriter.h"
#include "imaging/GifWriter.h"
#include "imaging/ImageFile.h"
#include "imaging/JpegWriter.h"
#include "imaging/Pcx.h"
#include "imaging/TiffWriter.h"

#include <QImageWriter>

namespace kelvo {

QImage imageToStore(const QImage& img, int format, int bitsPerPixel)
{
    if (format == FILE_GIF)
        return img; // the GIF writer reduces everything to 8 bits itself
    const int have = bitsPerPixelOf(img);
    int want = bitsPerPixel;
    if (format == FILE_JPEG && want == 1)
        want = 8; // JPEG holds no 1-bit data: gray
    QImage out = img;
    if (have != want) {
        if (want == 1)
            out = img.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::MonoOnly);
        else if (want == 8)
            out = img.convertToFormat(QImage::Format_Grayscale8);
        else
            out = img.convertToFormat(QImage::Format_RGB888);
    }
    return out;
}

namespace {

bool writeWithQt(QIODevice& device, const QImage& img, const char* qtFormat, int quality)
{
    QImageWriter writer(&device, qtFormat);
    if (quality >= 0)
        writer.setQuality(quality);
    return writer.write(img);
}

} // namespace

QImage imageForStore(const Bitmap& bitmap, int format, int bitsPerPixel, int* error)
{
    *error = SUCCESS;
    if (!bitmap.allocated || bitmap.image.isNull()) {
        *error = ERROR_NO_IMAGE;
        return {};
    }
    if (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24) {
        *error = ERROR_BAD_BITS;
        return {};
    }
    QImage img = imageToStore(bitmap.image, format, bitsPerPixel);
    if (img.isNull()) {
        *error = ERROR_NO_MEMORY;
        return {};
    }
    const int dpmX = dotsPerMeter(bitmap.xResolution);
    const int dpmY = dotsPerMeter(bitmap.yResolution);
    if (bitmap.xResolution > 0 && img.dotsPerMeterX() != dpmX)
        img.setDotsPerMeterX(dpmX);
    if (bitmap.yResolution > 0 && img.dotsPerMeterY() != dpmY)
        img.setDotsPerMeterY(dpmY);
    return img;
}

bool writeImage(QIODevice& device, const QImage& img, int format, int quality, int xDpi, int yDpi)
{
    switch (format) {
    case FILE_PCX: return writePcx(device, img, xDpi, yDpi);
    case FILE_GIF: return writeGif(device, img);
    case FILE_TIF: return writeTiff(device, img, xDpi, yDpi);
    // libjpeg-turbo on every core, straight from the page's rows
    case FILE_JPEG: return writeJpeg(device, img, quality > 0 ? quality : 75);
    // zlib level 1: fast, and far smaller than stored; 90 or more would store uncompressed
    case FILE_PNG: return writeWithQt(device, img, "png", 85);
    default: return writeBmp(device, img, xDpi, yDpi);
    }
}

} // namespace kelvo
