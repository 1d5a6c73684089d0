// Pixel patterns and colour tables the codec tests share: noise with a long run of one byte
// at or above 0xC0 (which PCX must escape), and 1-bit and 8-bit tables of every kind.
#pragma once

#include <QImage>
#include <QList>
#include <QRgb>
#include <QSize>

#include <ostream>

// Parameterised tests print sizes as "33x17", so that test names stay short and the same in
// every build (GoogleTest would dump the object's bytes).
inline void PrintTo(const QSize& size, std::ostream* os)
{
    *os << size.width() << 'x' << size.height();
}

namespace kelvo::test {

// Noise on the right, a long constant run of a byte >= 0xC0 on the left.
inline int sample(int x, int y, int c, int w)
{
    if (x < w / 3)
        return 0xC5;
    return int((quint32(x * 7919 + y * 104729 + c * 15485863) * 2654435761u) >> 24);
}

inline QList<QRgb> blackWhite() { return {qRgb(0, 0, 0), qRgb(255, 255, 255)}; }
inline QList<QRgb> whiteBlack() { return {qRgb(255, 255, 255), qRgb(0, 0, 0)}; }
inline QList<QRgb> twoColours() { return {qRgb(20, 30, 120), qRgb(250, 240, 160)}; }
inline QList<QRgb> palette(QRgb (*entry)(int))
{
    QList<QRgb> ct;
    for (int i = 0; i < 256; ++i)
        ct.append(entry(i));
    return ct;
}
inline QList<QRgb> grayRamp() { return palette([](int i) { return qRgb(i, i, i); }); }
inline QList<QRgb> invertedRamp() { return palette([](int i) { return qRgb(255 - i, 255 - i, 255 - i); }); }
inline QList<QRgb> colourPalette()
{
    return palette([](int i) { return qRgb(sample(i, 1, 0, 0), sample(i, 2, 1, 0), sample(i, 3, 2, 0)); });
}

// An image of the pattern in `format`, with `table` as its colour table when it has one.
inline QImage patternImage(QSize size, QImage::Format format, const QList<QRgb>& table)
{
    QImage img(size, format);
    if (!table.isEmpty())
        img.setColorTable(table);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int v = sample(x, y, 0, size.width());
            if (img.depth() == 1)
                img.setPixel(x, y, uint(v & 1));
            else if (img.depth() == 8)
                img.scanLine(y)[x] = uchar(v);
            else
                img.setPixel(x, y, qRgba(v, sample(x, y, 1, size.width()), sample(x, y, 2, size.width()), (x * 37) & 255));
        }
    return img;
}

} // namespace kelvo::test
