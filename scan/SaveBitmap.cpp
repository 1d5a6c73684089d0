#include "scan/SaveBitmap.h"

#include "imaging/ImageSave.h"
#include "platform/AtomicFile.h"

namespace kelvo {

namespace {

int saveBitmap(const QString& fileName, const Bitmap& bitmap, int format, int bitsPerPixel,
               int quality, unsigned mode, AtomicFile::Durability durability)
{
    int error = SUCCESS;
    const QImage img = imageForStore(bitmap, format, bitsPerPixel, &error);
    if (img.isNull())
        return error;

    AtomicFile file(fileName, mode, durability);
    if (!file.open())
        return file.error() == AtomicFile::Error::SymbolicLink ? ERROR_SYMLINK : ERROR_FILE_CREATE;
    QFile& device = file.device();
    if (!writeImage(device, img, format, quality, bitmap.xResolution, bitmap.yResolution)) {
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
