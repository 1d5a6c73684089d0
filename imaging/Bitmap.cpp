#include "imaging/Bitmap.h"

#include <cmath>

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

int dotsPerMeter(double dpi)
{
    return qRound(dpi / 0.0254);
}

int dpiOf(int dotsPerMeter)
{
    return qRound(dotsPerMeter * 0.0254);
}

int stampedResolution(double requested, double used)
{
    const auto whole = [](double v) { return v > 0.0 && v < 1e6 ? static_cast<int>(v) : 0; };
    if (!(used > 0.0) || used >= 1e6)
        return whole(requested);
    // The same value, but for the fixed-point steps (1/65536) it travels in.
    if (requested > 0.0 && std::abs(used - requested) < 1e-3)
        return whole(requested);
    return static_cast<int>(std::lround(used));
}

void stampResolution(QImage& image, int xDpi, int yDpi)
{
    // Only a differing value is set: setting detaches a shared image.
    if (xDpi > 0 && image.dotsPerMeterX() != dotsPerMeter(xDpi))
        image.setDotsPerMeterX(dotsPerMeter(xDpi));
    if (yDpi > 0 && image.dotsPerMeterY() != dotsPerMeter(yDpi))
        image.setDotsPerMeterY(dotsPerMeter(yDpi));
}

Bitmap Bitmap::fromImage(QImage img, int orientation)
{
    Bitmap b;
    if (img.isNull())
        return b;
    b.width = img.width();
    b.height = img.height();
    b.bitsPerPixel = bitsPerPixelOf(img);
    b.xResolution = dpiOf(img.dotsPerMeterX());
    b.yResolution = dpiOf(img.dotsPerMeterY());
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
