#include "imaging/Pcx.h"

#include "imaging/Bitmap.h"
#include "imaging/CodecSupport.h"

#include <QIODevice>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace kelvo {
namespace {

constexpr int kHeaderSize = 128;
constexpr int kPaletteBlockSize = 1 + 768; // marker byte, then 256 RGB triples
constexpr uchar kPaletteMarker = 0x0C;
constexpr int kMaxRun = 63;

// Colours a 16-colour file means when its header palette is left empty.
constexpr std::array<QRgb, 16> kEgaPalette = {
    0xFF000000, 0xFF0000AA, 0xFF00AA00, 0xFF00AAAA, 0xFFAA0000, 0xFFAA00AA, 0xFFAA5500, 0xFFAAAAAA,
    0xFF555555, 0xFF5555FF, 0xFF55FF55, 0xFF55FFFF, 0xFFFF5555, 0xFFFF55FF, 0xFFFFFF55, 0xFFFFFFFF,
};

int le16(const uchar* p) { return p[0] | (p[1] << 8); }
int signed16(const uchar* p) { return int(qint16(quint16(le16(p)))); }
void putLe16(uchar* p, int v)
{
    p[0] = uchar(v & 0xFF);
    p[1] = uchar((v >> 8) & 0xFF);
}

enum class Layout { Mono, BitPlanes, Packed, Palette256, Rgb, Rgba };

struct Header {
    Layout layout = Layout::Mono;
    int bitsPerPixel = 0;
    int planes = 0;
    int bytesPerLine = 0;
    int width = 0;
    int height = 0;
    int xDpi = 0;
    int yDpi = 0;
    bool rle = true; // else the lines are stored as they are
    QList<QRgb> headerColours; // colour table for the layouts of up to 16 colours
};

bool parseHeader(const uchar* h, Header& hd)
{
    if (h[0] != 0x0A)
        return false;
    // Version 1 is not documented, but writers use it for files like those of version 0.
    const int version = h[1];
    if (version > 5)
        return false;
    if (h[2] > 1) // 1: RLE, 0: stored as it is
        return false;
    hd.rle = h[2] == 1;

    hd.bitsPerPixel = h[3];
    hd.planes = h[65];
    if (hd.bitsPerPixel == 1 && hd.planes == 1)
        hd.layout = Layout::Mono;
    else if (hd.bitsPerPixel == 1 && hd.planes >= 2 && hd.planes <= 4)
        hd.layout = Layout::BitPlanes;
    else if ((hd.bitsPerPixel == 2 || hd.bitsPerPixel == 4) && hd.planes == 1)
        hd.layout = Layout::Packed;
    else if (hd.bitsPerPixel == 8 && hd.planes == 1)
        hd.layout = Layout::Palette256;
    else if (hd.bitsPerPixel == 8 && hd.planes == 3)
        hd.layout = Layout::Rgb;
    else if (hd.bitsPerPixel == 8 && hd.planes == 4)
        hd.layout = Layout::Rgba;
    else
        return false;

    const int xmin = signed16(h + 4), ymin = signed16(h + 6);
    const int xmax = signed16(h + 8), ymax = signed16(h + 10);
    if (xmax < xmin || ymax < ymin)
        return false;
    hd.width = xmax - xmin + 1;
    hd.height = ymax - ymin + 1;
    if (hd.width > kPcxMaxDimension || hd.height > kPcxMaxDimension)
        return false;
    hd.bytesPerLine = le16(h + 66);
    if (hd.bytesPerLine < (hd.width * hd.bitsPerPixel + 7) / 8)
        return false;
    hd.xDpi = le16(h + 12);
    hd.yDpi = le16(h + 14);

    if (hd.layout == Layout::Mono || hd.layout == Layout::BitPlanes || hd.layout == Layout::Packed) {
        const int count = 1 << (hd.bitsPerPixel * hd.planes);
        const uchar* p = h + 16;
        bool allOneColour = true;
        hd.headerColours.resize(count);
        for (int i = 0; i < count; ++i) {
            hd.headerColours[i] = qRgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
            allOneColour = allOneColour && hd.headerColours[i] == hd.headerColours[0];
        }
        // Many writers leave the header palette empty: then the usual colours apply.
        if (allOneColour) {
            if (count == 2)
                hd.headerColours = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
            else
                for (int i = 0; i < count; ++i)
                    hd.headerColours[i] = kEgaPalette[size_t(i)];
        }
    }
    return true;
}

// Pulls the encoded data from the device in chunks, never past `limit` bytes.
class ByteSource {
public:
    ByteSource(QIODevice* dev, qint64 limit) : dev_(dev), remaining_(limit) {}

    int get()
    {
        if (pos_ == filled_ && !refill())
            return -1;
        return buf_[pos_++];
    }
    bool read(uchar* dst, int n)
    {
        for (int i = 0; i < n; ++i) {
            const int c = get();
            if (c < 0)
                return false;
            dst[i] = uchar(c);
        }
        return true;
    }

private:
    bool refill()
    {
        qint64 want = qint64(buf_.size());
        if (remaining_ >= 0)
            want = std::min(want, remaining_);
        if (want <= 0)
            return false;
        const qint64 got = dev_->read(reinterpret_cast<char*>(buf_.data()), want);
        if (got <= 0)
            return false;
        if (remaining_ >= 0)
            remaining_ -= got;
        filled_ = size_t(got);
        pos_ = 0;
        return true;
    }

    QIODevice* dev_;
    qint64 remaining_; // -1: up to the end of the device
    std::array<uchar, 65536> buf_{};
    size_t pos_ = 0;
    size_t filled_ = 0;
};

// Decodes n bytes of one scan line. A run may carry over into the next line, as some
// writers produce; the carry lives in runLeft/runValue.
bool decodeLine(ByteSource& src, uchar* out, int n, int& runLeft, uchar& runValue)
{
    int i = 0;
    while (i < n) {
        if (runLeft > 0) {
            const int k = std::min(runLeft, n - i);
            std::memset(out + i, runValue, size_t(k));
            i += k;
            runLeft -= k;
            continue;
        }
        const int c = src.get();
        if (c < 0)
            return false;
        if ((c & 0xC0) == 0xC0) {
            const int v = src.get();
            if (v < 0)
                return false;
            runLeft = c & 0x3F;
            runValue = uchar(v);
        } else {
            out[i++] = uchar(c);
        }
    }
    return true;
}

QList<QRgb> paletteFromBytes(const uchar* rgb)
{
    QList<QRgb> colours(256);
    for (int i = 0; i < 256; ++i)
        colours[i] = qRgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    return colours;
}

bool isGrayRamp(const QList<QRgb>& colours)
{
    if (colours.size() != 256)
        return false;
    for (int i = 0; i < 256; ++i)
        if (colours[i] != qRgb(i, i, i))
            return false;
    return true;
}

bool peekHeader(QIODevice* device, Header& hd)
{
    if (!device || !device->isReadable())
        return false;
    uchar h[kHeaderSize];
    if (device->peek(reinterpret_cast<char*>(h), kHeaderSize) != kHeaderSize)
        return false;
    return parseHeader(h, hd);
}

// ---- writing ----

// Buffers encoded lines and hands them to the device in large blocks.
class RleSink {
public:
    explicit RleSink(QIODevice& out) : out_(out) { buf_.reserve(kFlushAt + 2 * 65536); }

    void encode(const uchar* data, int n)
    {
        int i = 0;
        while (i < n) {
            const uchar b = data[i];
            int run = 1;
            while (i + run < n && run < kMaxRun && data[i + run] == b)
                ++run;
            if (run > 1 || (b & 0xC0) == 0xC0)
                buf_.push_back(uchar(0xC0 | run));
            buf_.push_back(b);
            i += run;
        }
    }
    void raw(const uchar* data, int n) { buf_.insert(buf_.end(), data, data + n); }
    bool flushIfFull() { return buf_.size() < kFlushAt || flush(); }
    bool flush()
    {
        if (buf_.empty())
            return true;
        const qint64 n = qint64(buf_.size());
        const bool ok = out_.write(reinterpret_cast<const char*>(buf_.data()), n) == n;
        buf_.clear();
        return ok;
    }

private:
    static constexpr size_t kFlushAt = 60000;
    QIODevice& out_;
    std::vector<uchar> buf_;
};


} // namespace

bool PcxHandler::canRead() const
{
    if (!canRead(device()))
        return false;
    setFormat("pcx");
    return true;
}

bool PcxHandler::canRead(QIODevice* device)
{
    Header hd;
    return peekHeader(device, hd);
}

bool PcxHandler::supportsOption(ImageOption option) const
{
    return option == Size;
}

QVariant PcxHandler::option(ImageOption option) const
{
    Header hd;
    if (option != Size || !peekHeader(device(), hd))
        return {};
    return QSize(hd.width, hd.height);
}

bool PcxHandler::read(QImage* image)
{
    QIODevice* dev = device();
    if (!image || !dev || !dev->isReadable())
        return false;
    uchar h[kHeaderSize];
    if (dev->read(reinterpret_cast<char*>(h), kHeaderSize) != kHeaderSize)
        return false;
    Header hd;
    if (!parseHeader(h, hd))
        return false;

    // The 256-colour palette follows the pixel data, after its marker byte. Writers put
    // padding between them or bytes after the palette, so it is looked for, not taken from
    // a fixed place before the end.
    std::array<uchar, kPaletteBlockSize> paletteBlock{};
    const QImage::Format format = hd.layout == Layout::Mono ? QImage::Format_Mono
        : hd.layout == Layout::Rgb                          ? QImage::Format_RGB888
        : hd.layout == Layout::Rgba                         ? QImage::Format_ARGB32
                                                            : QImage::Format_Indexed8;
    QImage img;
    if (!QImageIOHandler::allocateImage(QSize(hd.width, hd.height), format, &img))
        return false;

    const int bpl = hd.bytesPerLine;
    std::vector<uchar> line(size_t(bpl) * size_t(hd.planes));
    ByteSource src(dev, -1);
    int runLeft = 0;
    uchar runValue = 0;
    bool anyAlpha = false;
    for (int y = 0; y < hd.height; ++y) {
        const bool lineRead = hd.rle ? decodeLine(src, line.data(), int(line.size()), runLeft, runValue)
                                     : src.read(line.data(), int(line.size()));
        if (!lineRead)
            return false;
        uchar* out = img.scanLine(y);
        switch (hd.layout) {
        case Layout::Mono:
            std::memcpy(out, line.data(), size_t((hd.width + 7) / 8));
            break;
        case Layout::BitPlanes:
            for (int x = 0; x < hd.width; ++x) {
                int index = 0;
                for (int p = 0; p < hd.planes; ++p)
                    index |= ((line[size_t(p * bpl + x / 8)] >> (7 - x % 8)) & 1) << p;
                out[x] = uchar(index);
            }
            break;
        case Layout::Packed: {
            // 2 or 4 bits a pixel, the leftmost pixel in the high bits.
            const int bits = hd.bitsPerPixel, perByte = 8 / bits, mask = (1 << bits) - 1;
            for (int x = 0; x < hd.width; ++x)
                out[x] = uchar((line[size_t(x / perByte)] >> (8 - bits * (x % perByte + 1))) & mask);
            break;
        }
        case Layout::Palette256:
            std::memcpy(out, line.data(), size_t(hd.width));
            break;
        case Layout::Rgb:
            for (int x = 0; x < hd.width; ++x) {
                out[3 * x] = line[size_t(x)];
                out[3 * x + 1] = line[size_t(bpl + x)];
                out[3 * x + 2] = line[size_t(2 * bpl + x)];
            }
            break;
        case Layout::Rgba: {
            auto* px = reinterpret_cast<QRgb*>(out);
            for (int x = 0; x < hd.width; ++x) {
                const uchar a = line[size_t(3 * bpl + x)];
                anyAlpha = anyAlpha || a != 0;
                px[x] = qRgba(line[size_t(x)], line[size_t(bpl + x)], line[size_t(2 * bpl + x)], a);
            }
            break;
        }
        }
    }

    if (hd.layout == Layout::Palette256) {
        int c;
        while ((c = src.get()) >= 0 && c != kPaletteMarker) {
        }
        if (c != kPaletteMarker || !src.read(paletteBlock.data() + 1, kPaletteBlockSize - 1))
            return false;
        const QList<QRgb> colours = paletteFromBytes(paletteBlock.data() + 1);
        if (isGrayRamp(colours))
            img.reinterpretAsFormat(QImage::Format_Grayscale8);
        else
            img.setColorTable(colours);
    } else if (hd.layout == Layout::Rgba) {
        // A fourth plane of zeros is no alpha channel: such files are meant opaque.
        if (!anyAlpha)
            img.reinterpretAsFormat(QImage::Format_RGB32);
    } else if (hd.layout != Layout::Rgb) {
        img.setColorTable(hd.headerColours);
    }

    stampResolution(img, hd.xDpi, hd.yDpi);
    *image = std::move(img);
    return true;
}

bool writePcx(QIODevice& out, const QImage& input, int xDpi, int yDpi)
{
    if (input.isNull() || !out.isWritable())
        return false;
    const QImage img = writableImage(input);
    if (img.isNull() || img.width() > kPcxMaxDimension || img.height() > kPcxMaxDimension)
        return false;

    const int width = img.width();
    const int height = img.height();
    const QImage::Format fmt = img.format();
    const bool mono = fmt == QImage::Format_Mono || fmt == QImage::Format_MonoLSB;
    const bool eightBit = fmt == QImage::Format_Grayscale8 || fmt == QImage::Format_Indexed8;
    const int bitsPerPixel = mono ? 1 : 8;
    const int planes = (mono || eightBit) ? 1 : 3;
    const int used = (width * bitsPerPixel + 7) / 8;
    const int bpl = used + (used & 1); // lines have an even byte count

    uchar h[kHeaderSize] = {};
    h[0] = 0x0A;
    h[1] = 5;
    h[2] = 1;
    h[3] = uchar(bitsPerPixel);
    putLe16(h + 8, width - 1);
    putLe16(h + 10, height - 1);
    putLe16(h + 12, std::clamp(xDpi, 0, 65535));
    putLe16(h + 14, std::clamp(yDpi, 0, 65535));
    if (mono)
        std::memset(h + 16 + 3, 0xFF, 3); // entry 0 black, entry 1 white
    h[65] = uchar(planes);
    putLe16(h + 66, bpl);
    putLe16(h + 68, fmt == QImage::Format_Grayscale8 ? 2 : 1);
    if (out.write(reinterpret_cast<const char*>(h), kHeaderSize) != kHeaderSize)
        return false;

    std::array<uchar, 256> monoTable{};
    if (mono)
        monoTable = lightBitsTable(img); // PCX bit 1 is white
    // The image's bits past the right edge are undefined; they are masked before use.
    const uchar edgeBits = width % 8 == 0 ? 0 : uchar(0xFF >> (width % 8));
    const uchar lastByteMask = fmt == QImage::Format_MonoLSB && width % 8 ? uchar(0xFF >> (8 - width % 8))
                                                                          : uchar(~edgeBits);
    std::vector<uchar> line(size_t(bpl) * size_t(planes), 0);
    RleSink sink(out);
    for (int y = 0; y < height; ++y) {
        const uchar* src = img.constScanLine(y);
        if (mono) {
            for (int i = 0; i < used; ++i)
                line[size_t(i)] = monoTable[i == used - 1 ? src[i] & lastByteMask : src[i]];
            line[size_t(used - 1)] |= edgeBits; // past the right edge: white
        } else if (eightBit) {
            std::memcpy(line.data(), src, size_t(width));
        } else if (fmt == QImage::Format_RGB888) {
            for (int x = 0; x < width; ++x) {
                line[size_t(x)] = src[3 * x];
                line[size_t(bpl + x)] = src[3 * x + 1];
                line[size_t(2 * bpl + x)] = src[3 * x + 2];
            }
        } else {
            const QRgb* px = reinterpret_cast<const QRgb*>(src);
            for (int x = 0; x < width; ++x) {
                line[size_t(x)] = uchar(qRed(px[x]));
                line[size_t(bpl + x)] = uchar(qGreen(px[x]));
                line[size_t(2 * bpl + x)] = uchar(qBlue(px[x]));
            }
        }
        for (int p = 0; p < planes; ++p)
            sink.encode(line.data() + size_t(p) * size_t(bpl), bpl);
        if (!sink.flushIfFull())
            return false;
    }

    if (eightBit) {
        std::array<uchar, kPaletteBlockSize> block{};
        block[0] = kPaletteMarker;
        const QList<QRgb> ct = img.colorTable();
        for (int i = 0; i < 256; ++i) {
            QRgb c = qRgb(i, i, i);
            if (fmt == QImage::Format_Indexed8)
                c = i < ct.size() ? ct[i] : qRgb(0, 0, 0);
            block[size_t(1 + 3 * i)] = uchar(qRed(c));
            block[size_t(2 + 3 * i)] = uchar(qGreen(c));
            block[size_t(3 + 3 * i)] = uchar(qBlue(c));
        }
        sink.raw(block.data(), kPaletteBlockSize);
    }
    return sink.flush();
}

} // namespace kelvo
