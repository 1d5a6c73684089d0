#include "imaging/BlankPage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace kelvo {

namespace {

constexpr double kMarginFraction = 0.04;
constexpr int kTiles = 16;
constexpr double kMaxDarkFraction = 0.005;     // whole page
constexpr double kMaxTileDarkFraction = 0.01;  // any one tile
constexpr double kMaxSamples = 2.0e6;          // sampling keeps 600 dpi pages fast

// Luminance weights ×1000; a sample is dark below 90 % of white.
constexpr int kDarkLimit8 = 229500;  // 0.9 × 255 × 1000

bool darkRgb(int r, int g, int b)
{
    return 299 * r + 587 * g + 114 * b < kDarkLimit8;
}

} // namespace

bool isBlankPage(const QImage& page)
{
    if (page.isNull() || page.width() <= 0 || page.height() <= 0)
        return false;

    QImage img = page;
    std::array<bool, 256> darkIndex{};
    bool indexed = false;
    switch (img.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8: {
        const QList<QRgb> table = img.colorTable();
        const int needed = img.format() == QImage::Format_Indexed8 ? 256 : 2;
        if (table.size() >= needed || (img.format() == QImage::Format_Indexed8 && !table.isEmpty())) {
            for (int i = 0; i < 256; ++i) {
                const QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
                darkIndex[static_cast<size_t>(i)] = darkRgb(qRed(c), qGreen(c), qBlue(c));
            }
            indexed = true;
        } else {
            img = img.convertToFormat(QImage::Format_Grayscale8);
        }
        break;
    }
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGB888:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        img = img.convertToFormat(QImage::Format_RGB32);
        break;
    }
    if (img.isNull())
        return false;

    const int w = img.width();
    const int h = img.height();
    const int x0 = static_cast<int>(w * kMarginFraction);
    const int y0 = static_cast<int>(h * kMarginFraction);
    const int x1 = std::max(x0 + 1, w - x0);
    const int y1 = std::max(y0 + 1, h - y0);
    const double innerPixels = static_cast<double>(x1 - x0) * (y1 - y0);
    const int step = std::max(1, static_cast<int>(std::floor(std::sqrt(innerPixels / kMaxSamples))));
    const int sw = (x1 - x0 + step - 1) / step;  // samples per row
    const int sh = (y1 - y0 + step - 1) / step;  // sampled rows

    std::array<int64_t, kTiles * kTiles> tileSamples{};
    std::array<int64_t, kTiles * kTiles> tileDark{};
    int64_t samples = 0;
    int64_t dark = 0;

    const QImage::Format format = img.format();
    for (int sy = 0; sy < sh; ++sy) {
        const int y = y0 + sy * step;
        const uchar* line = img.constScanLine(y);
        const int tileRow = std::min(kTiles - 1, sy * kTiles / sh) * kTiles;
        for (int sx = 0; sx < sw; ++sx) {
            const int x = x0 + sx * step;
            bool isDark = false;
            if (indexed) {
                int index = 0;
                if (format == QImage::Format_Mono)
                    index = (line[x >> 3] >> (7 - (x & 7))) & 1;
                else if (format == QImage::Format_MonoLSB)
                    index = (line[x >> 3] >> (x & 7)) & 1;
                else
                    index = line[x];
                isDark = darkIndex[static_cast<size_t>(index)];
            } else if (format == QImage::Format_Grayscale8) {
                isDark = line[x] * 1000 < kDarkLimit8;
            } else if (format == QImage::Format_Grayscale16) {
                isDark = reinterpret_cast<const quint16*>(line)[x] < 0.9 * 65535.0;
            } else if (format == QImage::Format_RGB888) {
                const uchar* p = line + 3 * x;
                isDark = darkRgb(p[0], p[1], p[2]);
            } else {
                const QRgb c = reinterpret_cast<const QRgb*>(line)[x];
                isDark = darkRgb(qRed(c), qGreen(c), qBlue(c));
            }
            const int tile = tileRow + std::min(kTiles - 1, sx * kTiles / sw);
            ++tileSamples[static_cast<size_t>(tile)];
            ++samples;
            if (isDark) {
                ++tileDark[static_cast<size_t>(tile)];
                ++dark;
            }
        }
    }

    if (samples == 0)
        return false;
    if (static_cast<double>(dark) > kMaxDarkFraction * static_cast<double>(samples))
        return false;
    for (size_t t = 0; t < tileSamples.size(); ++t) {
        if (tileSamples[t] > 0
            && static_cast<double>(tileDark[t]) > kMaxTileDarkFraction * static_cast<double>(tileSamples[t]))
            return false;
    }
    return true;
}

} // namespace kelvo
