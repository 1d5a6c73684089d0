#include "imaging/Bitmap.h"

namespace kelvo {

int bitsPerPixelOf(const QImage& img)
{
    switch (img.format()) {
    case QImage::Format_Invalid: return 0;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: return 1;
    case QImage::Format_Grayscale8:
    case QImage::Format_Indexed8:
    case QImage::Format_Alpha8: return 8;
    default: return 24;
    }
}

Bitmap Bitmap::fromImage(QImage img, int orientation)
{
    Bitmap b;
    if (img.isNull())
        return b;
    b.width = img.width();
    b.height = img.height();
    b.bitsPerPixel = bitsPerPixelOf(img);
    b.xResolution = qRound(img.dotsPerMeterX() * 0.0254);
    b.yResolution = qRound(img.dotsPerMeterY() * 0.0254);
    b.viewOrientation = (orientation >= 1 && orientation <= 8) ? orientation : 1;
    b.image = std::move(img);
    b.allocated = true;
    return b;
}

void Bitmap::free()
{
    image = QImage();
    *this = Bitmap();
}

} // namespace kelvo
