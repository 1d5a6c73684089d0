#include "support/Fakes.h"

namespace kelvo::test {

QImage testPage(int bitsPerPixel, int width, int height)
{
    QImage rgb(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgb.setPixel(x, y, ((x / 8 + y / 8) % 2) ? qRgb(250, 250, 250) : qRgb(x * 4 % 256, 20, y * 5 % 256));
    if (bitsPerPixel == 1) {
        QImage mono = rgb.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::MonoOnly);
        mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        return mono;
    }
    if (bitsPerPixel == 8)
        return rgb.convertToFormat(QImage::Format_Grayscale8);
    return rgb;
}

} // namespace kelvo::test
