#include "scanner/twain/TwainWire.h"

#include <cmath>
#include <cstring>

namespace kelvo::twainwire {

namespace {

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

Bitmap fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return Bitmap();
}

} // namespace

uint32_t fix32Item(TW_FIX32 value)
{
    return uint32_t(uint16_t(value.Whole)) | uint32_t(value.Frac) << 16;
}

TW_FIX32 fix32FromItem(uint32_t item)
{
    TW_FIX32 v;
    v.Whole = static_cast<int16_t>(item & 0xffff);
    v.Frac = static_cast<uint16_t>(item >> 16);
    return v;
}

std::vector<WireCapability> bitsPerPixelCapabilities(int bitsPerPixel)
{
    const uint16_t type = bitsPerPixel <= 1 ? kPixelBw : bitsPerPixel <= 8 ? kPixelGray : kPixelRgb;
    return {{kIcapPixelType, TWTY_UINT16, type},
            {kIcapBitDepth, TWTY_UINT16, static_cast<uint32_t>(static_cast<uint16_t>(bitsPerPixel))}};
}

std::vector<WireCapability> resolutionCapabilities(TW_FIX32 x, TW_FIX32 y)
{
    return {{kIcapXResolution, kTypeFix32, fix32Item(x)}, {kIcapYResolution, kTypeFix32, fix32Item(y)}};
}

WireCapability unitCapability(int unit)
{
    return {kIcapUnits, TWTY_UINT16, static_cast<uint32_t>(static_cast<uint16_t>(unit))};
}

WireCapability duplexCapability(int enable)
{
    return {kCapDuplexEnabled, TWTY_BOOL, enable ? 1u : 0u};
}

int acquireResultFor(Stage stage, uint16_t returnCode, uint16_t conditionCode)
{
    if (returnCode == kRcSuccess || returnCode == kRcCheckStatus || returnCode == kRcXferDone)
        return ACQUIRE_SUCCESS;
    if (returnCode == kRcCancel)
        return ACQUIRE_CANCELLED;
    switch (conditionCode) {
    case 2: return ACQUIRE_NO_MEMORY;
    case 3: return ACQUIRE_NO_DEVICE;
    case 4: return ACQUIRE_DEVICE_BUSY;
    case 16: return ACQUIRE_ACCESS_DENIED;
    case 20:
    case 21: return ACQUIRE_JAMMED;
    case 23: return ACQUIRE_IO_ERROR;
    case 24: return ACQUIRE_COVER_OPEN;
    case 29: return ACQUIRE_NO_DOCS;
    default: break;
    }
    return stage == Stage::OpenManager || stage == Stage::OpenSource ? ACQUIRE_OPEN_FAILED : ACQUIRE_FAILED;
}

Bitmap bitmapFromDib(const uint8_t* data, std::size_t size, double requestedDpi, double reportedDpi,
                     bool swapRedBlue, QString* error)
{
    if (!data || size < 40)
        return fail(error, QStringLiteral("DIB shorter than its header"));
    const uint32_t headerSize = le32(data);
    if (headerSize < 40 || headerSize > size)
        return fail(error, QStringLiteral("DIB header size %1").arg(headerSize));
    const int32_t width = static_cast<int32_t>(le32(data + 4));
    const int32_t rawHeight = static_cast<int32_t>(le32(data + 8));
    const int bits = le16(data + 14);
    const uint32_t compression = le32(data + 16);
    const int32_t xPpm = static_cast<int32_t>(le32(data + 24));
    const int32_t yPpm = static_cast<int32_t>(le32(data + 28));
    uint32_t colours = le32(data + 32);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > 1'000'000)
        return fail(error, QStringLiteral("DIB of %1 x %2 pixels").arg(width).arg(rawHeight));
    const bool topDown = rawHeight < 0;
    const int64_t height = topDown ? -int64_t(rawHeight) : rawHeight;
    if (height > 1'000'000)
        return fail(error, QStringLiteral("DIB of %1 x %2 pixels").arg(width).arg(height));
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return fail(error, QStringLiteral("DIB with %1 bits per pixel").arg(bits));
    if (compression != 0) // BI_RGB only: sources hand native transfers over uncompressed
        return fail(error, QStringLiteral("compressed DIB (%1)").arg(compression));
    if (bits <= 8 && colours == 0)
        colours = 1u << bits;
    if (colours > 256)
        return fail(error, QStringLiteral("DIB with %1 colours").arg(colours));
    const std::size_t tableBytes = std::size_t(colours) * 4;
    if (size - headerSize < tableBytes)
        return fail(error, QStringLiteral("DIB colour table cut short"));
    const uint8_t* table = data + headerSize;
    if (bits > 8)
        colours = 0; // a colour table before true-colour pixels is only a hint: skipped
    const std::size_t stride = ((std::size_t(width) * bits + 31) / 32) * 4;
    const uint8_t* pixels = table + tableBytes;
    const std::size_t available = size - headerSize - tableBytes;
    if (stride != 0 && available / stride < std::size_t(height))
        return fail(error, QStringLiteral("DIB pixels cut short: %1 of %2 bytes")
                               .arg(available).arg(stride * std::size_t(height)));

    QList<QRgb> palette;
    bool grayRamp = colours == (1u << (bits <= 8 ? bits : 0));
    for (uint32_t i = 0; i < colours; ++i) {
        const uint8_t* e = table + 4 * i;
        const QRgb rgb = qRgb(e[2], e[1], e[0]);
        palette << rgb;
        const int expected = colours > 1 ? int(i * 255 / (colours - 1)) : 0;
        if (qRed(rgb) != expected || qGreen(rgb) != expected || qBlue(rgb) != expected)
            grayRamp = false;
    }

    const int w = width, h = int(height);
    QImage img;
    if (bits == 1) {
        img = QImage(w, h, QImage::Format_Mono);
        if (palette.size() < 2)
            palette << qRgb(255, 255, 255);
        img.setColorTable(palette);
    } else if (bits == 4 || bits == 8) {
        img = QImage(w, h, grayRamp && bits == 8 ? QImage::Format_Grayscale8 : QImage::Format_Indexed8);
        if (img.format() == QImage::Format_Indexed8)
            img.setColorTable(palette);
    } else {
        img = QImage(w, h, QImage::Format_RGB888);
    }
    if (img.isNull())
        return fail(error, QStringLiteral("no memory for a page of %1 x %2 pixels").arg(w).arg(h));

    for (int y = 0; y < h; ++y) {
        const uint8_t* src = pixels + stride * std::size_t(topDown ? y : h - 1 - y);
        uchar* dst = img.scanLine(y);
        switch (bits) {
        case 1: std::memcpy(dst, src, (std::size_t(w) + 7) / 8); break;
        case 4:
            for (int x = 0; x < w; ++x) {
                const uint8_t v = (src[x / 2] >> (x % 2 ? 0 : 4)) & 0x0f;
                dst[x] = v < colours ? v : 0;
            }
            break;
        case 8:
            for (int x = 0; x < w; ++x)
                dst[x] = src[x] < colours ? src[x] : 0;
            break;
        default: {
            const int step = bits / 8;
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = src + std::size_t(x) * step;
                dst[3 * x] = swapRedBlue ? p[0] : p[2];
                dst[3 * x + 1] = p[1];
                dst[3 * x + 2] = swapRedBlue ? p[2] : p[0];
            }
        }
        }
    }

    const double usedX = xPpm > 0 ? xPpm * 0.0254 : reportedDpi;
    const double usedY = yPpm > 0 ? yPpm * 0.0254 : reportedDpi;
    stampResolution(img, stampedResolution(requestedDpi, usedX), stampedResolution(requestedDpi, usedY));
    Bitmap page = Bitmap::fromImage(std::move(img));
    return page;
}

} // namespace kelvo::twainwire
