// Bitmap files written row by row: every depth and odd widths read back pixel for pixel by
// Qt and by GraphicsMagick.
#include "imaging/BmpWriter.h"
#include "support/Fakes.h"
#include "support/Tools.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kelvo;
using namespace kelvo::test;

TEST(Bmp, EveryDepthRoundTrips)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        QImage::Format format;
        int bits;
    } kinds[] = {
        {"mono", QImage::Format_Mono, 1},       {"monoLsb", QImage::Format_MonoLSB, 1},
        {"gray", QImage::Format_Grayscale8, 8}, {"indexed", QImage::Format_Indexed8, 8},
        {"rgb888", QImage::Format_RGB888, 24},  {"rgb32", QImage::Format_RGB32, 24},
    };
    for (const auto& k : kinds) {
        for (const QSize size : {QSize(1, 1), QSize(7, 3), QSize(33, 17), QSize(64, 9)}) {
            QImage src = testPage(24, size.width(), size.height()).convertToFormat(k.format);
            if (k.format == QImage::Format_Indexed8)
                src = testPage(24, size.width(), size.height()).convertToFormat(k.format, Qt::ThresholdDither);
            if (k.bits == 1)
                src.setColorTable({qRgb(20, 40, 200), qRgb(250, 240, 10)}); // not black and white
            const QString file = dir.path() + QStringLiteral("/%1_%2x%3.bmp").arg(k.name).arg(size.width()).arg(size.height());
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            ASSERT_TRUE(writeBmp(f, src, 300, 200)) << k.name;
            f.close();

            const QImage back(file);
            ASSERT_FALSE(back.isNull()) << file.toStdString();
            ASSERT_EQ(back.size(), size);
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    ASSERT_EQ(back.pixel(x, y), src.pixel(x, y)) << k.name << " " << x << "," << y;
            EXPECT_EQ(back.depth() == 1 ? 1 : back.depth() == 8 ? 8 : 24, k.bits) << k.name;
            if (size.width() == 1)
                continue; // GraphicsMagick reports end-of-file for any 1-pixel BMP
            const Identified id = identify(file);
            EXPECT_EQ(id.format, "BMP") << id.raw.toStdString();
            EXPECT_EQ(id.width, size.width());
            EXPECT_NEAR(id.xDpi, 300, 0.5);
            EXPECT_NEAR(id.yDpi, 200, 0.5);
        }
    }
}

TEST(Bmp, FailedWritesAreReported)
{
    const QImage img = testPage(24, 40, 30);
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    EXPECT_FALSE(writeBmp(readOnly, img, 150, 150));
    QBuffer ok;
    ok.open(QIODevice::WriteOnly);
    EXPECT_FALSE(writeBmp(ok, QImage(), 150, 150));
    EXPECT_TRUE(writeBmp(ok, img, 150, 150));
    EXPECT_EQ(ok.size(), 14 + 40 + 30 * 120);
}
