// The page names: counting before the dot, format choice and the whole-call table.
#include "imaging/ImageFile.h"
#include "scan/PageNaming.h"

#include <gtest/gtest.h>

using namespace kelvo;

TEST(PageNaming, AdvancesTheTwoCharactersBeforeTheDot)
{
    const struct {
        const char* written;
        const char* next;
    } cases[] = {
        {"Bild01.JPG", "Bild02.JPG"}, {"Bild09.JPG", "Bild0A.JPG"}, {"Bild0Z.JPG", "Bild10.JPG"},
        {"Bild19.JPG", "Bild1A.JPG"}, {"Bild9Z.JPG", "BildA0.JPG"}, {"BildZZ.JPG", "Bild[0.JPG"},
        {"Brief.GIF", "Brieg.GIF"},   {"scan0z.JPG", "scan0{.JPG"}, {"A.JPG", "B.JPG"},
        {"Z.JPG", "0.JPG"},           {"/data/scans/Bild0Z.TIF", "/data/scans/Bild10.TIF"},
        // The counter stays inside the file name: no carry into the directory.
        {"/data/Z.PNG", "/data/0.PNG"},
        // A dot before the counter does not become a path separator.
        {"a.Z.JPG", "a00.JPG"},
        // Nothing before the dot: a counter is started, the name never repeats.
        {".JPG", "01.JPG"}, {"/data/.PDF", "/data/01.PDF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(advanceName(QString::fromUtf8(c.written)), QString::fromUtf8(c.next)) << c.written;
}

TEST(PageNaming, CountsThroughTheWholeSequence)
{
    QString name = QStringLiteral("Bild01.JPG");
    QStringList seen{name};
    for (int i = 0; i < 34 * 36 + 10; ++i) {
        name = advanceName(name);
        ASSERT_FALSE(seen.contains(name)) << name.toStdString();
        seen << name;
    }
    EXPECT_EQ(seen.at(8), "Bild09.JPG");
    EXPECT_EQ(seen.at(9), "Bild0A.JPG");
    EXPECT_EQ(seen.at(34), "Bild0Z.JPG");
    EXPECT_EQ(seen.at(35), "Bild10.JPG");
}

TEST(PageNaming, WholeCalls)
{
    const struct {
        const char* target;
        const char* format;
        int bits;
        const char* written;
        int code;
        const char* next;
    } cases[] = {
        {"Bild01.JPG", "", 24, "Bild01.JPG", FILE_JPEG, "Bild02.JPG"},
        {"Bild01.JPG", "", 1, "Bild01.PCX", FILE_PCX, "Bild02.PCX"},
        {"Bild02.PCX", "", 24, "Bild02.PCX", FILE_PCX, "Bild03.PCX"},
        {"Brief", "", 8, "Brief.GIF", FILE_GIF, "Brieg.GIF"},
        {"Brief.", "", 8, "Brief.GIF", FILE_GIF, "Brieg.GIF"},
        {"Brief", "", 1, "Brief.PCX", FILE_PCX, "Brieg.PCX"},
        {"Brief", "", 24, "Brief.JPG", FILE_JPEG, "Brieg.JPG"},
        {"scan01.JPG", "JPG", 1, "scan01.PCX", FILE_PCX, "scan02.PCX"},
        {"scan02.PCX", "JPG", 24, "scan02.JPG", FILE_JPEG, "scan03.JPG"},
        {"scan01.TIF", "JPG", 1, "scan01.TIF", FILE_TIF, "scan02.TIF"},
        {"Bild01.JPG", "JPEG", 24, "Bild01.JPEG", FILE_JPEG, "Bild02.JPEG"},
        {"Bild01.JPG", "JPEG", 1, "Bild01.JPEG", FILE_JPEG, "Bild02.JPEG"},
        {"Akte01.PDF", "PDF", 24, "Akte01.PDF", FILE_BMP, "Akte02.PDF"},
        {"x01.abc", "XYZ", 24, "x01.XYZ", FILE_BMP, "x02.XYZ"},
        {"/akten.2019/Brief", "", 24, "/akten.2019/Brief.JPG", FILE_JPEG, "/akten.2019/Brieg.JPG"},
        // Extensions typed in lower case name the same formats.
        {"scan01.tif", "", 24, "scan01.tif", FILE_TIF, "scan02.tif"},
        {"scan01.jpg", "", 1, "scan01.PCX", FILE_PCX, "scan02.PCX"},
        {"scan01.png", "JPG", 1, "scan01.png", FILE_PNG, "scan02.png"},
        {"scan01.pdf", "", 24, "scan01.pdf", FILE_BMP, "scan02.pdf"},
    };
    for (const auto& c : cases) {
        const PageName n = pageNameFor(QString::fromUtf8(c.target), QString::fromUtf8(c.format), c.bits);
        EXPECT_EQ(n.writtenName, QString::fromUtf8(c.written)) << c.target << " " << c.format;
        const StoreFormat how = storeFormatFor(n.formatName, c.bits);
        EXPECT_EQ(how.formatCode, c.code) << c.target;
        EXPECT_EQ(advanceName(n.writtenName), QString::fromUtf8(c.next)) << c.target;
    }
}

TEST(PageNaming, StoreFormats)
{
    const struct {
        const char* name;
        int pageBits;
        bool pdf;
        int code;
        int bits;
        int quality;
    } cases[] = {
        {"PDF", 24, true, FILE_BMP, 24, 0},  {"pdf", 1, true, FILE_BMP, 1, 0},
        {"JPG", 24, false, FILE_JPEG, 24, 95}, {"JPEG", 8, false, FILE_JPEG, 8, 95},
        {"GIF", 1, false, FILE_GIF, 8, 0},   {"GIF", 24, false, FILE_GIF, 8, 0},
        {"PCX", 1, false, FILE_PCX, 1, 0},   {"TIF", 8, false, FILE_TIF, 8, 0},
        {"PNG", 24, false, FILE_PNG, 24, 0}, {"XYZ", 8, false, FILE_BMP, 8, 0},
        {"TIFF", 24, false, FILE_BMP, 24, 0},
    };
    for (const auto& c : cases) {
        const StoreFormat f = storeFormatFor(QString::fromLatin1(c.name), c.pageBits);
        EXPECT_EQ(f.pdf, c.pdf) << c.name;
        EXPECT_EQ(f.formatCode, c.code) << c.name;
        EXPECT_EQ(f.bitsPerPixel, c.bits) << c.name;
        EXPECT_EQ(f.quality, c.quality) << c.name;
    }
}
