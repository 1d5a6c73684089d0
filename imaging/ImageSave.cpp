// L_SaveBitmap: picks the codec by format code, converts the page to the depth to store, and
// writes through an AtomicFile so that a failed store never leaves a half-written file.
#include "imaging/ImageSave.h"

#include "imaging/AtomicFile.h"
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

int saveBitmap(const QString& fileName, const Bitmap& bitmap, int format, int bitsPerPixel,
               int quality, unsigned mode, AtomicFile::Durability durability)
{
    if (!bitmap.allocated || bitmap.image.isNull())
        return ERROR_NO_IMAGE;
    if (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24)
        return ERROR_BAD_BITS;

    QImage img = imageToStore(bitmap.image, format, bitsPerPixel);
    if (img.isNull())
        return ERROR_NO_MEMORY;
    const int xDpi = bitmap.xResolution;
    const int yDpi = bitmap.yResolution;
    const int dpmX = qRound(xDpi / 0.0254);
    const int dpmY = qRound(yDpi / 0.0254);
    if (xDpi > 0 && img.dotsPerMeterX() != dpmX)
        img.setDotsPerMeterX(dpmX);
    if (yDpi > 0 && img.dotsPerMeterY() != dpmY)
        img.setDotsPerMeterY(dpmY);

    AtomicFile file(fileName, mode, durability);
    if (!file.open())
        return file.error() == AtomicFile::Error::SymbolicLink ? ERROR_SYMLINK : ERROR_FILE_CREATE;

    QFile& device = file.device();
    bool written = false;
    switch (format) {
    case FILE_PCX: written = writePcx(device, img, xDpi, yDpi); break;
    case FILE_GIF: written = writeGif(device, img); break;
    case FILE_TIF: written = writeTiff(device, img, xDpi, yDpi); break;
    // libjpeg-turbo on every core, straight from the page's rows
    case FILE_JPEG: written = writeJpeg(device, img, quality > 0 ? quality : 75); break;
    // zlib level 1: fast, and far smaller than stored; 90 or more would store uncompressed
    case FILE_PNG: written = writeWithQt(device, img, "png", 85); break;
    default: written = writeBmp(device, img, xDpi, yDpi); break;
    }
    if (!written) {
        const bool deviceFailed = device.error() != QFileDevice::NoError;
        file.abandon();
        return deviceFailed ? ERROR_FILE_WRITE : ERROR_ENCODER;
    }
    if (!file.commit())
        return file.error() == AtomicFile::Error::Rename ? ERROR_FILE_RENAME : ERROR_FILE_WRITE;
    return SUCCESS;
}

} // namespace

int L_SaveBitmap(const QString& fileName, const Bitmap& bitmap, int format, int bitsPerPixel,
                 int quality, unsigned mode)
{
    return saveBitmap(fileName, bitmap, format, bitsPerPixel, quality, mode, AtomicFile::Durability::Synced);
}

int saveScratchBitmap(const QString& fileName, const Bitmap& bitmap, int bitsPerPixel, unsigned mode)
{
    return saveBitmap(fileName, bitmap, FILE_BMP, bitsPerPixel, 0, mode, AtomicFile::Durability::Scratch);
}

} // namespace kelvo
