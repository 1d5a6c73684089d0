#include "imaging/ImageFile.h"

#include "imaging/Pcx.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

#include <memory>

namespace kelvo {

namespace {

int formatCodeOf(const QByteArray& qtFormat)
{
    if (qtFormat == "jpeg" || qtFormat == "jpg") return FILE_JPEG;
    if (qtFormat == "png") return FILE_PNG;
    if (qtFormat == "bmp") return FILE_BMP;
    if (qtFormat == "gif") return FILE_GIF;
    if (qtFormat == "tif" || qtFormat == "tiff") return FILE_TIF;
    if (qtFormat == "pcx") return FILE_PCX;
    return 0;
}

// EXIF/TIFF orientation (1..8) of Qt's transformation flags.
int orientationOf(QImageIOHandler::Transformations t)
{
    switch (t) {
    case QImageIOHandler::TransformationNone: return 1;
    case QImageIOHandler::TransformationMirror: return 2;
    case QImageIOHandler::TransformationRotate180: return 3;
    case QImageIOHandler::TransformationFlip: return 4;
    case QImageIOHandler::TransformationFlipAndRotate90: return 5;
    case QImageIOHandler::TransformationRotate90: return 6;
    case QImageIOHandler::TransformationMirrorAndRotate90: return 7;
    case QImageIOHandler::TransformationRotate270: return 8;
    }
    return 1;
}

bool isExistingFile(const QString& fileName)
{
    const QFileInfo fi(fileName);
    return fi.exists() && !fi.isDir();
}

// Qt's readers identify by content first, so a wrong extension does not matter.
std::unique_ptr<QImageReader> readerFor(const QString& fileName)
{
    auto reader = std::make_unique<QImageReader>(fileName);
    reader->setAutoTransform(false);
    reader->setDecideFormatFromContent(true);
    return reader;
}

// PCX, which Qt cannot read, goes through our own handler.
struct PcxFile {
    QFile file;
    PcxHandler handler;
    explicit PcxFile(const QString& name) : file(name) {}
    bool open()
    {
        if (!file.open(QIODevice::ReadOnly) || !PcxHandler::canRead(&file))
            return false;
        handler.setDevice(&file);
        return true;
    }
};

} // namespace

void ensureImageReadersReady()
{
    // 600 dpi A4 colour is 139 MB as RGB32, Qt refuses more than 128 MB by default; 1200 dpi
    // A4 (557 MB) still opens. A larger limit lets a tiny damaged file claim a gigabyte.
    if (QImageReader::allocationLimit() < 600)
        QImageReader::setAllocationLimit(600);
}

int L_FileInfo(const QString& fileName, FileInfo& info, uint32_t structSize)
{
    if (structSize != FILEINFO_SIZE && structSize != FILEINFO_SIZE_OLD)
        return ERROR_INV_STRUCT_SIZE;
    if (!isExistingFile(fileName))
        return ERROR_FILE_NOT_FOUND;
    ensureImageReadersReady();
    PcxFile pcx(fileName);
    if (pcx.open()) {
        const QSize size = pcx.handler.option(QImageIOHandler::Size).toSize();
        if (!size.isValid() || size.isEmpty())
            return ERROR_FILE_READ;
        info.StructSize = structSize;
        info.Format = FILE_PCX;
        info.Width = size.width();
        info.Height = size.height();
        info.BitsPerPixel = 0; // known once decoded
        info.ViewOrientation = 1;
        return SUCCESS;
    }
    auto reader = readerFor(fileName);
    const QSize size = reader->size();
    if (!reader->canRead() || !size.isValid() || size.isEmpty())
        return ERROR_FILE_READ;
    info.StructSize = structSize;
    info.Format = formatCodeOf(reader->format());
    info.Width = size.width();
    info.Height = size.height();
    const QImage::Format fmt = reader->imageFormat();
    info.BitsPerPixel = fmt == QImage::Format_Mono || fmt == QImage::Format_MonoLSB ? 1
                        : (fmt == QImage::Format_Grayscale8 || fmt == QImage::Format_Indexed8) ? 8
                                                                                                : 24;
    info.ViewOrientation = orientationOf(reader->transformation());
    return SUCCESS;
}

int L_LoadFile(const QString& fileName, Bitmap& bitmap, const FileInfo* info)
{
    L_FreeBitmap(bitmap);
    if (!isExistingFile(fileName))
        return ERROR_FILE_NOT_FOUND;
    ensureImageReadersReady();
    PcxFile pcx(fileName);
    if (pcx.open()) {
        QImage img;
        if (!pcx.handler.read(&img) || img.isNull())
            return ERROR_FILE_READ;
        bitmap = Bitmap::fromImage(std::move(img), 1);
        return SUCCESS;
    }
    auto reader = readerFor(fileName);
    const int orientation = info ? info->ViewOrientation : orientationOf(reader->transformation());
    QImage img;
    if (!reader->read(&img) || img.isNull())
        return ERROR_FILE_READ;
    bitmap = Bitmap::fromImage(std::move(img), orientation);
    return SUCCESS;
}

int L_InvertBitmap(Bitmap& bitmap)
{
    if (!bitmap.allocated || bitmap.image.isNull())
        return ERROR_NO_IMAGE;
    if (bitmap.image.format() == QImage::Format_Indexed8) {
        // Invert the colours, not the indices: the palette need not be a ramp.
        QList<QRgb> table = bitmap.image.colorTable();
        for (QRgb& c : table)
            c = qRgba(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c), qAlpha(c));
        bitmap.image.setColorTable(table);
    } else {
        bitmap.image.invertPixels();
    }
    return SUCCESS;
}

void L_FreeBitmap(Bitmap& bitmap)
{
    bitmap.free();
}

QTransform orientationTransform(int orientation, int w, int h)
{
    // Maps image coordinates to displayed coordinates for EXIF orientations 1..8.
    switch (orientation) {
    case 2: return QTransform(-1, 0, 0, 1, w, 0);
    case 3: return QTransform(-1, 0, 0, -1, w, h);
    case 4: return QTransform(1, 0, 0, -1, 0, h);
    case 5: return QTransform(0, 1, 1, 0, 0, 0);
    case 6: return QTransform(0, 1, -1, 0, h, 0);
    case 7: return QTransform(0, -1, -1, 0, h, w);
    case 8: return QTransform(0, -1, 1, 0, 0, w);
    default: return QTransform();
    }
}

int L_PaintDC(QPainter& painter, const Bitmap& bitmap, const QRect& dest, const QRect& clip)
{
    if (!bitmap.allocated || bitmap.image.isNull())
        return ERROR_NO_IMAGE;
    const QRect visible = dest.intersected(clip);
    if (visible.isEmpty())
        return SUCCESS;
    if (bitmap.viewOrientation <= 1 || bitmap.viewOrientation > 8) {
        // One image pixel to one device pixel: draw just the visible part.
        painter.drawImage(visible.topLeft(), bitmap.image, visible.translated(-dest.topLeft()));
        return SUCCESS;
    }
    const QTransform toDisplay = orientationTransform(bitmap.viewOrientation, bitmap.width, bitmap.height);
    const QRect source = toDisplay.inverted()
                             .mapRect(QRectF(visible.translated(-dest.topLeft())))
                             .toAlignedRect()
                             .intersected(bitmap.image.rect());
    painter.save();
    painter.setClipRect(visible);
    painter.translate(dest.topLeft());
    painter.setTransform(toDisplay, true);
    painter.drawImage(source.topLeft(), bitmap.image, source);
    painter.restore();
    return SUCCESS;
}

} // namespace kelvo
