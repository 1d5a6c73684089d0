#include "imaging/GifWriter.h"

#include "imaging/CodecSupport.h"

#include <QIODevice>

#include <gif_lib.h>
#include <libimagequant.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace kelvo {
namespace {

constexpr int kMaxGifDimension = 65535;
constexpr int kQuantSpeed = 8; // fastest setting that still refines the palette well
// Half-strength Floyd-Steinberg: breaks up banding in photos without covering the paper
// background and text of a scanned page with dither noise (and keeps the file smaller).
constexpr float kDitherLevel = 0.5f;

// Collects giflib's many small writes and hands them to the device in large blocks.
struct GifSink {
    QIODevice* dev = nullptr;
    std::vector<GifByteType> buf;
    bool failed = false;

    bool flush()
    {
        if (!failed && !buf.empty()) {
            const qint64 n = qint64(buf.size());
            failed = dev->write(reinterpret_cast<const char*>(buf.data()), n) != n;
        }
        buf.clear();
        return !failed;
    }
};

int gifOutput(GifFileType* gif, const GifByteType* data, int len)
{
    auto* sink = static_cast<GifSink*>(gif->UserData);
    sink->buf.insert(sink->buf.end(), data, data + len);
    if (sink->buf.size() >= 65536 && !sink->flush())
        return 0;
    return len;
}

using Palette = std::array<GifColorType, 256>;

GifColorType gifColour(QRgb c)
{
    return GifColorType{GifByteType(qRed(c)), GifByteType(qGreen(c)), GifByteType(qBlue(c))};
}

Palette paletteFromTable(const QList<QRgb>& ct)
{
    Palette p{};
    for (int i = 0; i < 256 && i < ct.size(); ++i)
        p[size_t(i)] = gifColour(ct[i]);
    return p;
}

quint32 rgbAt(const uchar* line, QImage::Format fmt, int x)
{
    if (fmt == QImage::Format_RGB888)
        return quint32(line[3 * x] << 16 | line[3 * x + 1] << 8 | line[3 * x + 2]);
    return reinterpret_cast<const QRgb*>(line)[x] & 0xFFFFFF;
}

// Exact palette of an image with at most 256 colours: a small open-addressing table.
class ExactColours {
public:
    ExactColours() { keys_.fill(kEmpty); }

    // Index of the colour, adding it when new; -1 once a 257th colour shows up.
    int indexOf(quint32 rgb)
    {
        size_t slot = (rgb * 2654435761u) >> 22;
        while (keys_[slot] != kEmpty) {
            if (keys_[slot] == rgb)
                return values_[slot];
            slot = (slot + 1) & (kSlots - 1);
        }
        if (count_ == 256)
            return -1;
        keys_[slot] = rgb;
        values_[slot] = count_;
        palette_[size_t(count_)] = gifColour(QRgb(rgb));
        return count_++;
    }
    const Palette& palette() const { return palette_; }

private:
    static constexpr size_t kSlots = 1024;
    static constexpr quint32 kEmpty = 0xFFFFFFFF;
    std::array<quint32, kSlots> keys_{};
    std::array<int, kSlots> values_{};
    Palette palette_{};
    int count_ = 0;
};

// Maps every pixel of a colour image to the exact palette; false when it has too many colours.
bool mapExactly(const QImage& img, ExactColours& colours, uchar* row, int y)
{
    const uchar* line = img.constScanLine(y);
    quint32 last = 0xFFFFFFFF;
    int lastIndex = 0;
    for (int x = 0; x < img.width(); ++x) {
        const quint32 c = rgbAt(line, img.format(), x);
        if (c != last) {
            lastIndex = colours.indexOf(c);
            if (lastIndex < 0)
                return false;
            last = c;
        }
        if (row)
            row[x] = uchar(lastIndex);
    }
    return true;
}

void liqRow(liq_color rowOut[], int y, int width, void* user)
{
    const auto* img = static_cast<const QImage*>(user);
    const uchar* line = img->constScanLine(y);
    for (int x = 0; x < width; ++x) {
        const quint32 c = rgbAt(line, img->format(), x);
        rowOut[x] = liq_color{uchar(c >> 16), uchar(c >> 8), uchar(c), 255};
    }
}

struct LiqDeleter {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
    void operator()(liq_image* p) const { liq_image_destroy(p); }
    void operator()(liq_result* p) const { liq_result_destroy(p); }
};

// Reduces a colour image to 256 colours; fills the palette and one index per pixel.
bool quantise(const QImage& img, Palette& palette, std::unique_ptr<uchar[]>& indices)
{
    const size_t pixels = size_t(img.width()) * size_t(img.height());
    std::unique_ptr<liq_attr, LiqDeleter> attr(liq_attr_create());
    if (!attr || liq_set_speed(attr.get(), kQuantSpeed) != LIQ_OK
        || liq_set_max_colors(attr.get(), 256) != LIQ_OK)
        return false;
    std::unique_ptr<liq_image, LiqDeleter> image(liq_image_create_custom(attr.get(), liqRow,
        const_cast<QImage*>(&img), img.width(), img.height(), 0.0));
    if (!image)
        return false;
    liq_result* raw = nullptr;
    if (liq_image_quantize(image.get(), attr.get(), &raw) != LIQ_OK || !raw)
        return false;
    std::unique_ptr<liq_result, LiqDeleter> result(raw);
    if (liq_set_dithering_level(result.get(), kDitherLevel) != LIQ_OK)
        return false;
    indices.reset(new (std::nothrow) uchar[pixels]);
    if (!indices || liq_write_remapped_image(result.get(), image.get(), indices.get(), pixels) != LIQ_OK)
        return false;
    // The palette is final only after remapping.
    const liq_palette* pal = liq_get_palette(result.get());
    palette = Palette{};
    for (unsigned i = 0; i < pal->count && i < 256; ++i)
        palette[i] = GifColorType{pal->entries[i].r, pal->entries[i].g, pal->entries[i].b};
    return true;
}


} // namespace

bool writeGif(QIODevice& out, const QImage& input)
{
    if (input.isNull() || !out.isWritable())
        return false;
    const QImage img = writableImage(input);
    if (img.isNull() || img.width() > kMaxGifDimension || img.height() > kMaxGifDimension)
        return false;
    const int width = img.width();
    const int height = img.height();
    const QImage::Format fmt = img.format();
    const bool mono = fmt == QImage::Format_Mono || fmt == QImage::Format_MonoLSB;
    const bool colour = !mono && fmt != QImage::Format_Grayscale8 && fmt != QImage::Format_Indexed8;

    // Palette and, for colour pages, how rows become indices.
    Palette palette{};
    ExactColours exact;
    bool exactColours = false;
    std::unique_ptr<uchar[]> quantised;
    if (mono) {
        QList<QRgb> ct = img.colorTable();
        if (ct.size() < 2) // Qt's default for a 1-bit image without a table
            ct = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
        palette = paletteFromTable(ct.mid(0, 2));
    } else if (fmt == QImage::Format_Grayscale8) {
        for (int i = 0; i < 256; ++i)
            palette[size_t(i)] = GifColorType{GifByteType(i), GifByteType(i), GifByteType(i)};
    } else if (fmt == QImage::Format_Indexed8) {
        palette = paletteFromTable(img.colorTable());
    } else {
        exactColours = true;
        for (int y = 0; y < height && exactColours; ++y)
            exactColours = mapExactly(img, exact, nullptr, y);
        if (exactColours)
            palette = exact.palette();
        else if (!quantise(img, palette, quantised))
            return false;
    }

    GifSink sink;
    sink.dev = &out;
    sink.buf.reserve(65536 + 512);
    int error = 0;
    GifFileType* gif = EGifOpen(&sink, gifOutput, &error);
    if (!gif)
        return false;
    ColorMapObject* map = GifMakeMapObject(256, palette.data());
    bool ok = map && EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK
        && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    GifFreeMapObject(map);

    // giflib masks the line it is given in place: rows always go through a copy.
    std::vector<GifPixelType> row(static_cast<size_t>(width));
    for (int y = 0; y < height && ok; ++y) {
        const uchar* src = img.constScanLine(y);
        if (mono) {
            const bool lsb = fmt == QImage::Format_MonoLSB;
            for (int x = 0; x < width; ++x)
                row[size_t(x)] = lsb ? (src[x >> 3] >> (x & 7)) & 1 : (src[x >> 3] >> (7 - (x & 7))) & 1;
        } else if (!colour) {
            std::memcpy(row.data(), src, size_t(width));
        } else if (exactColours) {
            mapExactly(img, exact, row.data(), y);
        } else {
            std::memcpy(row.data(), quantised.get() + size_t(y) * size_t(width), size_t(width));
        }
        ok = EGifPutLine(gif, row.data(), width) == GIF_OK;
    }
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    return sink.flush() && ok;
}

} // namespace kelvo
