#include "imaging/CodecSupport.h"

#include <QIODevice>

namespace kelvo {

QImage writableImage(const QImage& img)
{
    switch (img.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Grayscale8:
    case QImage::Format_Indexed8:
    case QImage::Format_RGB888:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return img;
    case QImage::Format_Grayscale16:
        return img.convertToFormat(QImage::Format_Grayscale8);
    default:
        return img.convertToFormat(QImage::Format_RGB888);
    }
}

std::array<uchar, 256> lightBitsTable(const QImage& img)
{
    const QList<QRgb> ct = img.colorTable();
    const int g0 = qGray(ct.size() > 0 ? ct[0] : qRgb(0, 0, 0));
    const int g1 = qGray(ct.size() > 1 ? ct[1] : qRgb(255, 255, 255));
    bool light0 = g0 >= 128, light1 = g1 >= 128;
    if (g0 != g1) {
        light0 = g0 > g1;
        light1 = !light0;
    }
    const bool lsb = img.format() == QImage::Format_MonoLSB;
    std::array<uchar, 256> table{};
    for (int b = 0; b < 256; ++b) {
        int out = 0;
        for (int bit = 0; bit < 8; ++bit) {
            const int index = lsb ? (b >> bit) & 1 : (b >> (7 - bit)) & 1;
            if (index ? light1 : light0)
                out |= 0x80 >> bit;
        }
        table[size_t(b)] = uchar(out);
    }
    return table;
}

bool writeFully(QIODevice& out, const char* data, qint64 size)
{
    while (size > 0) {
        const qint64 n = out.write(data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace kelvo
