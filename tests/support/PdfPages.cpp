#include "PdfPages.h"

#include "imaging/ImageFile.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstdlib>

namespace kelvo::test {

namespace {

// Qt's BMP reader accepts a file cut short in its pixel rows and fills in the rest: refuse an
// uncompressed BMP shorter than its header promises. Other files are left to the reader.
bool bitmapFileComplete(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray h = file.read(34);
    if (!h.startsWith("BM"))
        return true;
    if (h.size() < 26)
        return false;
    const auto u16 = [&](int o) { return quint32(uchar(h[o])) | (quint32(uchar(h[o + 1])) << 8); };
    const auto u32 = [&](int o) { return u16(o) | (u16(o + 2) << 16); };
    const quint32 dataOffset = u32(10);
    const quint32 infoSize = u32(14);
    qint64 width = 0, height = 0;
    quint32 bits = 0, compression = 0;
    if (infoSize == 12) {
        width = u16(18);
        height = u16(20);
        bits = u16(24);
    } else {
        if (h.size() < 34)
            return false;
        width = static_cast<qint32>(u32(18));
        height = std::abs(static_cast<qint64>(static_cast<qint32>(u32(22))));
        bits = u16(28);
        compression = u32(30);
    }
    constexpr quint32 kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
    if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields)
        return true;
    if (width <= 0 || bits == 0 || bits > 32)
        return true;
    const qint64 rowBytes = (width * bits + 31) / 32 * 4;
    return file.size() >= static_cast<qint64>(dataOffset) + rowBytes * height;
}

} // namespace

PdfPagePicture pictureOfBitmapFile(const QByteArray& fileName)
{
    ensureImageReadersReady();
    const QString name = QFile::decodeName(fileName);
    if (!bitmapFileComplete(name))
        return {};
    QImageReader reader(name);
    reader.setDecideFormatFromContent(true);
    QImage img;
    if (!reader.read(&img))
        return {};
    // The page as it was before it was written: its resolution is the file's.
    return PdfDocuments::encodePagePicture(Bitmap::fromImage(img));
}

bool addPdfPage(PdfDocuments& docs, int document, const QByteArray& bitmapFileName, double x, double y,
                int pageNumber, int pageDpi)
{
    return docs.AddPdfPage(document, pictureOfBitmapFile(bitmapFileName), x, y, pageNumber, pageDpi);
}

bool addPdfPage(PdfDocuments& docs, int document, const Bitmap& page, double x, double y, int pageNumber,
                int pageDpi)
{
    return docs.AddPdfPage(document, PdfDocuments::encodePagePicture(page), x, y, pageNumber, pageDpi);
}

} // namespace kelvo::test
