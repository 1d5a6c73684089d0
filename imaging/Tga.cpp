#include "imaging/Tga.h"

#include <QIODevice>
#include <QImageIOHandler>

#include <array>
#include <cstring>
#include <vector>

namespace kelvo {
namespace {

constexpr int kHeaderSize = 18;

struct Header {
    int idLength = 0;
    int mapType = 0;
    int imageType = 0;
    int mapFirst = 0;
    int mapLength = 0;
    int mapEntryBits = 0;
    int width = 0;
    int height = 0;
    int depth = 0;
    int alphaBits = 0;
    bool rightToLeft = false;
    bool topDown = false;

    bool rle() const { return imageType >= 9; }
    int kind() const { return imageType & 7; } // 1 colour-mapped, 2 true colour, 3 gray
    int bytesPerPixel() const { return (depth + 7) / 8; }
    int mapBytes() const { return mapType ? mapLength * ((mapEntryBits + 7) / 8) : 0; }
};

int le16(const uchar* p) { return p[0] | (p[1] << 8); }

bool parse(const uchar* h, Header& hd)
{
    hd.idLength = h[0];
    hd.mapType = h[1];
    hd.imageType = h[2];
    hd.mapFirst = le16(h + 3);
    hd.mapLength = le16(h + 5);
    hd.mapEntryBits = h[7];
    hd.width = le16(h + 12);
    hd.height = le16(h + 14);
    hd.depth = h[16];
    hd.alphaBits = h[17] & 0x0F;
    hd.rightToLeft = h[17] & 0x10;
    hd.topDown = h[17] & 0x20;
    if (hd.mapType > 1 || (h[17] & 0xC0) || hd.width == 0 || hd.height == 0)
        return false;
    if (hd.mapType == 1 && hd.mapEntryBits != 15 && hd.mapEntryBits != 16 && hd.mapEntryBits != 24
        && hd.mapEntryBits != 32)
        return false;
    switch (hd.imageType) {
    case 1:
    case 9:
        return hd.mapType == 1 && hd.depth == 8 && hd.mapLength > 0 && hd.mapFirst + hd.mapLength <= 256;
    case 2:
    case 10:
        return hd.depth == 15 || hd.depth == 16 || hd.depth == 24 || hd.depth == 32;
    case 3:
    case 11:
        // 16 bits: gray and alpha, one byte each.
        return hd.depth == 8 || hd.depth == 16;
    default:
        return false;
    }
}

// A colour of 15, 16, 24 or 32 bits, stored blue first. With alpha, a 16-bit colour's top
// bit says opaque (1) or transparent (0).
QRgb colourOf(const uchar* p, int bits, bool alpha)
{
    if (bits == 15 || bits == 16) {
        const int v = le16(p);
        const int r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        return qRgba((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2),
                     bits == 16 && alpha && !(v & 0x8000) ? 0 : 255);
    }
    return qRgba(p[2], p[1], p[0], bits == 32 && alpha ? p[3] : 255);
}

} // namespace

bool tgaCanRead(QIODevice* device)
{
    if (!device || !device->isReadable())
        return false;
    uchar h[kHeaderSize];
    Header hd;
    if (device->peek(reinterpret_cast<char*>(h), kHeaderSize) != kHeaderSize || !parse(h, hd))
        return false;
    // Without a signature, at least the parts before the pixels must be there, and all the
    // pixels of an uncompressed image.
    if (device->isSequential())
        return true;
    const qint64 before = kHeaderSize + hd.idLength + hd.mapBytes();
    const qint64 pixels = hd.rle() ? 1 : qint64(hd.width) * hd.height * hd.bytesPerPixel();
    return device->size() >= before + pixels;
}

bool tgaHasFooter(QIODevice* device)
{
    static const char kSignature[] = "TRUEVISION-XFILE.";
    const qint64 n = sizeof kSignature; // with its closing zero
    if (!device || device->isSequential() || device->size() < kHeaderSize + n)
        return false;
    const qint64 at = device->pos();
    char tail[sizeof kSignature];
    const bool ok = device->seek(device->size() - n) && device->read(tail, n) == n;
    device->seek(at);
    return ok && std::memcmp(tail, kSignature, size_t(n)) == 0;
}

bool readTga(QIODevice* device, QImage* image)
{
    if (!device || !image || !device->isReadable())
        return false;
    uchar h[kHeaderSize];
    Header hd;
    if (device->read(reinterpret_cast<char*>(h), kHeaderSize) != kHeaderSize || !parse(h, hd))
        return false;
    if (hd.idLength > 0 && device->read(hd.idLength).size() != hd.idLength)
        return false;

    QList<QRgb> map;
    if (hd.mapType == 1) {
        const int entryBytes = (hd.mapEntryBits + 7) / 8;
        const QByteArray raw = device->read(qint64(hd.mapLength) * entryBytes);
        if (raw.size() != hd.mapBytes())
            return false;
        map.fill(qRgb(0, 0, 0), 256);
        for (int i = 0; i < hd.mapLength && hd.mapFirst + i < 256; ++i)
            map[hd.mapFirst + i] = colourOf(reinterpret_cast<const uchar*>(raw.constData()) + i * entryBytes,
                                            hd.mapEntryBits, false);
    }

    const bool alpha = hd.alphaBits > 0 && ((hd.kind() == 2 && (hd.depth == 32 || hd.depth == 16)) || hd.kind() == 3);
    const bool grayAlpha = hd.kind() == 3 && hd.depth == 16;
    const QImage::Format format = hd.kind() == 1                 ? QImage::Format_Indexed8
                                  : hd.kind() == 3 && !grayAlpha ? QImage::Format_Grayscale8
                                  : alpha                        ? QImage::Format_ARGB32
                                                                 : QImage::Format_RGB32;
    QImage img;
    if (!QImageIOHandler::allocateImage(QSize(hd.width, hd.height), format, &img))
        return false;

    const int bpp = hd.bytesPerPixel();
    std::vector<uchar> row(size_t(hd.width) * size_t(bpp));
    // A run may continue into the next row.
    int runLeft = 0;
    bool runRepeats = false;
    std::array<uchar, 4> runPixel{};
    for (int y = 0; y < hd.height; ++y) {
        if (!hd.rle()) {
            if (device->read(reinterpret_cast<char*>(row.data()), qint64(row.size())) != qint64(row.size()))
                return false;
        } else {
            for (int x = 0; x < hd.width; ++x) {
                if (runLeft == 0) {
                    char c;
                    if (!device->getChar(&c))
                        return false;
                    runRepeats = uchar(c) & 0x80;
                    runLeft = (uchar(c) & 0x7F) + 1;
                    if (runRepeats && device->read(reinterpret_cast<char*>(runPixel.data()), bpp) != bpp)
                        return false;
                }
                uchar* px = row.data() + size_t(x) * size_t(bpp);
                if (runRepeats)
                    std::memcpy(px, runPixel.data(), size_t(bpp));
                else if (device->read(reinterpret_cast<char*>(px), bpp) != bpp)
                    return false;
                --runLeft;
            }
        }
        const int outY = hd.topDown ? y : hd.height - 1 - y;
        uchar* out = img.scanLine(outY);
        for (int x = 0; x < hd.width; ++x) {
            const uchar* px = row.data() + size_t(x) * size_t(bpp);
            const int outX = hd.rightToLeft ? hd.width - 1 - x : x;
            if (hd.kind() == 2)
                reinterpret_cast<QRgb*>(out)[outX] = colourOf(px, hd.depth, alpha);
            else if (grayAlpha)
                reinterpret_cast<QRgb*>(out)[outX] = qRgba(px[0], px[0], px[0], alpha ? px[1] : 255);
            else
                out[outX] = px[0];
        }
    }
    // Many writers declare an alpha bit and leave it clear everywhere: a picture that would
    // be wholly transparent is shown opaque, as other viewers do.
    if (format == QImage::Format_ARGB32 && hd.depth == 16) {
        bool anyVisible = false;
        for (int y = 0; y < img.height() && !anyVisible; ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
            for (int x = 0; x < img.width() && !anyVisible; ++x)
                anyVisible = qAlpha(line[x]) != 0;
        }
        if (!anyVisible) {
            for (int y = 0; y < img.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int x = 0; x < img.width(); ++x)
                    line[x] |= 0xFF000000u;
            }
            img.reinterpretAsFormat(QImage::Format_RGB32);
        }
    }
    if (hd.kind() == 1)
        img.setColorTable(map);
    *image = std::move(img);
    return true;
}

} // namespace kelvo
