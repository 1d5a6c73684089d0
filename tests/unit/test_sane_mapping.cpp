// The scanner layer's pure mappings: frame to scan area, nearest allowed values, the choice
// of source and mode from real backends' option lists, blank pages, and SANE data to images.
#include "imaging/BlankPage.h"
#include "scanner/sane/SaneFrame.h"
#include "scanner/sane/SaneTwain.h"
#include "scanner/Twain.h"

#include <QPainter>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cstring>

using namespace kelvo;

namespace {

// The frame the scan session sends: the page size in mm as pixels at the resolution,
// narrowed to float on the way.
TW_FRAME sessionFrame(double widthMm, double heightMm, double dpi)
{
    TW_FRAME f;
    f.Left = floatToFix32(0.0f);
    f.Top = floatToFix32(0.0f);
    f.Right = floatToFix32(static_cast<float>(widthMm * dpi / 25.4));
    f.Bottom = floatToFix32(static_cast<float>(heightMm * dpi / 25.4));
    return f;
}

} // namespace

// --- Frame to millimetres ----------------------------------------------------------------

TEST(SaneFrame, SessionFrameInPixelsGivesThePageSizeInMillimetres)
{
    struct Case {
        double widthMm, heightMm, dpi;
    } cases[] = {{210, 290, 150}, {210, 290, 300}, {210, 297, 200}, {148, 210, 72}, {216, 356, 600}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.widthMm << "x" << c.heightMm << " @" << c.dpi);
        ScanArea mm;
        ASSERT_TRUE(frameToMillimetres(sessionFrame(c.widthMm, c.heightMm, c.dpi), TWUN_PIXELS, c.dpi, c.dpi, &mm));
        EXPECT_NEAR(mm.left, 0.0, 1e-9);
        EXPECT_NEAR(mm.top, 0.0, 1e-9);
        EXPECT_NEAR(mm.right, c.widthMm, 1e-3);
        EXPECT_NEAR(mm.bottom, c.heightMm, 1e-3);
    }
}

TEST(SaneFrame, DefaultFrameAt150DpiIsTheA4LikePage)
{
    // The numbers the session sends with its defaults.
    TW_FRAME f;
    f.Right = floatToFix32(1240.157470703125f);
    f.Bottom = floatToFix32(1712.598388671875f);
    ScanArea mm;
    ASSERT_TRUE(frameToMillimetres(f, TWUN_PIXELS, 150.0, 150.0, &mm));
    EXPECT_NEAR(mm.right, 210.0, 1e-4);
    EXPECT_NEAR(mm.bottom, 290.0, 1e-4);
}

TEST(SaneFrame, OtherUnitsAndDifferentAxes)
{
    struct Case {
        int unit;
        double right, bottom, xDpi, yDpi, mmRight, mmBottom;
    } cases[] = {
        {TWUN_INCHES, 8.5, 11.0, 0, 0, 215.9, 279.4},
        {TWUN_CENTIMETERS, 21.0, 29.0, 0, 0, 210.0, 290.0},
        {TWUN_POINTS, 72.0, 144.0, 0, 0, 25.4, 50.8},
        {TWUN_PICAS, 6.0, 12.0, 0, 0, 25.4, 50.8},
        {TWUN_TWIPS, 1440.0, 2880.0, 0, 0, 25.4, 50.8},
        {TWUN_PIXELS, 300.0, 300.0, 300, 150, 25.4, 50.8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        TW_FRAME f;
        f.Right = floatToFix32(static_cast<float>(c.right));
        f.Bottom = floatToFix32(static_cast<float>(c.bottom));
        ScanArea mm;
        ASSERT_TRUE(frameToMillimetres(f, c.unit, c.xDpi, c.yDpi, &mm));
        EXPECT_NEAR(mm.right, c.mmRight, 1e-3);
        EXPECT_NEAR(mm.bottom, c.mmBottom, 1e-3);
    }
}

TEST(SaneFrame, FramesThatMakeNoSenseAreRefused)
{
    ScanArea mm{1, 2, 3, 4};
    const ScanArea untouched = mm;
    EXPECT_FALSE(frameToMillimetres(sessionFrame(210, 290, 150), TWUN_PIXELS, 0.0, 150.0, &mm));
    EXPECT_FALSE(frameToMillimetres(sessionFrame(210, 290, 150), 9, 150.0, 150.0, &mm));
    TW_FRAME inverted = sessionFrame(210, 290, 150);
    std::swap(inverted.Left, inverted.Right);
    EXPECT_FALSE(frameToMillimetres(inverted, TWUN_PIXELS, 150.0, 150.0, &mm));
    EXPECT_EQ(mm, untouched);
}

TEST(SaneFrame, PixelUnitOptionsCountPixelsAtTheDeviceResolution)
{
    ScanArea mm;
    ASSERT_TRUE(frameToMillimetres(sessionFrame(210, 290, 150), TWUN_PIXELS, 150, 150, &mm));
    const ScanArea same = millimetresToPixels(mm, 150, 150);
    EXPECT_NEAR(same.right, 1240.1575, 1e-3);
    EXPECT_NEAR(same.bottom, 1712.5984, 1e-3);
    const ScanArea finer = millimetresToPixels(mm, 300, 600);
    EXPECT_NEAR(finer.right, 2480.315, 1e-2);
    EXPECT_NEAR(finer.bottom, 6850.394, 1e-2);
}

// --- Nearest allowed value ---------------------------------------------------------------

TEST(SaneFrame, NearestAllowedValue)
{
    auto range = [](double lo, double hi, double q) {
        ValueConstraint c;
        c.kind = ValueConstraint::Range;
        c.min = lo;
        c.max = hi;
        c.quant = q;
        return c;
    };
    auto list = [](std::vector<double> v) {
        ValueConstraint c;
        c.kind = ValueConstraint::List;
        c.values = std::move(v);
        return c;
    };
    struct Case {
        const char* what;
        ValueConstraint allowed;
        double wanted, expected;
    } cases[] = {
        {"range step 1, down", range(1, 1200, 1), 150.4, 150},
        {"range step 1, up", range(1, 1200, 1), 150.6, 151},
        {"range from 50 in 25s", range(50, 1200, 25), 160, 150},
        {"range from 50 in 25s, up", range(50, 1200, 25), 163, 175},
        {"above the range", range(50, 1200, 25), 2400, 1200},
        {"below the range", range(50, 1200, 25), 10, 50},
        {"top not a whole step", range(0, 10, 3), 10, 9},
        {"no step", range(0, 215.9, 0), 290, 215.9},
        {"geometry in mm steps", range(0, 300, 1), 289.99998, 290},
        {"list between", list({75, 150, 300, 600}), 200, 150},
        {"list tie goes up", list({75, 150, 300, 600}), 225, 300},
        {"list above", list({75, 150, 300, 600}), 1000, 600},
        {"list below", list({75, 150, 300, 600}), 10, 75},
        {"unsorted list", list({600, 100, 300}), 180, 100},
        {"empty list", list({}), 123.4, 123.4},
        {"anything", ValueConstraint{}, 123.4, 123.4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(nearestAllowedValue(c.wanted, c.allowed), c.expected, 1e-6);
    }
}

// --- Source choice from real backends' lists ---------------------------------------------

TEST(SaneChoice, SourceForFeederDuplexAndTransparency)
{
    const QStringList test = {"Flatbed", "Automatic Document Feeder"};
    const QStringList fujitsu = {"Flatbed", "ADF Front", "ADF Back", "ADF Duplex"};
    const QStringList sheetfed = {"ADF Front", "ADF Back", "ADF Duplex", "Card Front", "Card Back", "Card Duplex"};
    const QStringList escl = {"Flatbed", "ADF", "ADF Duplex"};
    const QStringList pixma = {"Flatbed", "Automatic Document Feeder", "ADF Duplex", "Transparency Unit"};
    const QStringList epson = {"Flatbed", "Automatic Document Feeder", "Transparency Unit", "TPU8x10"};
    const QStringList brother = {"FlatBed", "Automatic Document Feeder(left aligned)",
                                 "Automatic Document Feeder(left aligned,Duplex)",
                                 "Automatic Document Feeder(centrally aligned)"};
    const QStringList hpOld = {"Normal", "ADF", "XPA"};
    const QStringList genesys = {"Flatbed", "Transparency Adapter", "Transparency Adapter Infrared"};
    const QStringList hp5590 = {"Flatbed", "ADF", "ADF Duplex", "TMA Slides", "TMA Negatives"};
    const QStringList slides = {"Slide", "Automatic Slide Feeder"};
    const QStringList duplexOnly = {"Flatbed", "ADF Duplex"};
    const QStringList lookalike = {"Shadfow", "Flatbed"};  // "adf" inside a word names no feeder

    struct Case {
        const char* what;
        const QStringList& list;
        bool feeder, duplex, transmissive;
        int expected;
    } cases[] = {
        {"test feeder", test, true, false, false, 1},
        {"test duplex falls back to the simplex feeder", test, true, true, false, 1},
        {"test flatbed", test, false, false, false, 0},
        {"test without transparency keeps the feeder", test, true, false, true, 1},
        {"fujitsu feeder is the front side", fujitsu, true, false, false, 1},
        {"fujitsu duplex", fujitsu, true, true, false, 3},
        {"fujitsu flatbed", fujitsu, false, false, false, 0},
        {"sheet-fed feeder", sheetfed, true, false, false, 0},
        {"sheet-fed duplex", sheetfed, true, true, false, 2},
        {"sheet-fed without feeder keeps its setting", sheetfed, false, false, false, -1},
        {"escl feeder", escl, true, false, false, 1},
        {"escl duplex", escl, true, true, false, 2},
        {"pixma duplex", pixma, true, true, false, 2},
        {"pixma transparency wins", pixma, true, false, true, 3},
        {"epson transparency", epson, false, false, true, 2},
        {"brother feeder", brother, true, false, false, 1},
        {"brother duplex", brother, true, true, false, 2},
        {"brother flatbed", brother, false, false, false, 0},
        {"old hp feeder", hpOld, true, false, false, 1},
        {"old hp transparency", hpOld, true, false, true, 2},
        {"old hp normal is the flatbed", hpOld, false, false, false, 0},
        {"genesys has no feeder", genesys, true, false, false, 0},
        {"genesys transparency", genesys, false, false, true, 1},
        {"hp5590 slides", hp5590, true, false, true, 3},
        {"a slide feeder is no document feeder", slides, true, false, false, -1},
        {"slide scanner transparency", slides, false, false, true, 0},
        {"only a duplex feeder, duplex off: flatbed", duplexOnly, true, false, false, 0},
        {"only a duplex feeder, duplex on", duplexOnly, true, true, false, 1},
        {"no feeder hidden in a word", lookalike, true, false, false, 1},
        {"no list", QStringList(), true, true, true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(chooseSourceIndex(c.list, c.feeder, c.duplex, c.transmissive), c.expected);
    }
}

TEST(SaneChoice, DuplexAndSwitchOptionValues)
{
    const QStringList adfMode = {"Simplex", "Duplex"};
    EXPECT_EQ(chooseDuplexIndex(adfMode, true), 1);
    EXPECT_EQ(chooseDuplexIndex(adfMode, false), 0);
    EXPECT_EQ(chooseDuplexIndex({"Simplex"}, true), -1);

    struct Case {
        QStringList values;
        int on, off;
    } cases[] = {
        {{"Off", "Auto"}, 1, 0},
        {{"Manual", "Automatic", "None"}, 1, 2},
        {{"Disable", "Enable"}, 1, 0},
        {{"Low", "High"}, -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values.join('|').toStdString());
        EXPECT_EQ(chooseSwitchIndex(c.values, true), c.on);
        EXPECT_EQ(chooseSwitchIndex(c.values, false), c.off);
    }
}

// --- Mode choice ---------------------------------------------------------------------------

TEST(SaneChoice, ModeAndDepthForBitsPerPixel)
{
    const std::vector<int> testDepths = {1, 8, 16};
    const std::vector<int> noOne = {8, 16};
    const std::vector<int> none;
    struct Case {
        const char* what;
        QStringList modes;
        std::vector<int> depths;
        int bpp;
        ModeChoice expected;
    } cases[] = {
        {"test backend, 1 bit: gray of depth 1", {"Gray", "Color"}, testDepths, 1, {"Gray", 1}},
        {"test backend, 8 bit", {"Gray", "Color"}, testDepths, 8, {"Gray", 8}},
        {"test backend, 24 bit", {"Gray", "Color"}, testDepths, 24, {"Color", 8}},
        {"no lineart and no depth 1: gray, thresholded here", {"Gray", "Color"}, noOne, 1, {"Gray", 8}},
        {"lineart", {"Lineart", "Gray", "Color"}, none, 1, {"Lineart", 0}},
        {"lineart over gray of depth 1", {"Color", "Gray", "Lineart"}, testDepths, 1, {"Lineart", 0}},
        {"epson binary", {"Binary", "Gray", "Color"}, none, 1, {"Binary", 0}},
        {"fujitsu lineart, not halftone", {"Halftone", "Lineart", "Gray", "Color"}, none, 1, {"Lineart", 0}},
        {"only halftone for 1 bit", {"Halftone", "Gray", "Color"}, noOne, 1, {"Halftone", 0}},
        {"gray of depth 1 before halftone", {"Halftone", "Gray", "Color"}, testDepths, 1, {"Gray", 1}},
        {"brother 1 bit", {"Black & White", "Gray[Error Diffusion]", "True Gray", "24bit Color"}, none, 1,
         {"Black & White", 0}},
        {"brother gray is not the dithered one",
         {"Black & White", "Gray[Error Diffusion]", "True Gray", "24bit Color"}, none, 8, {"True Gray", 0}},
        {"brother colour", {"Black & White", "True Gray", "24bit Color", "24bit Color[Fast]"}, none, 24,
         {"24bit Color", 0}},
        {"samsung lineart",
         {"Black and White - Line Art", "Grayscale - 256 Levels", "Color - 16 Million Colors"}, none, 1,
         {"Black and White - Line Art", 0}},
        {"samsung gray", {"Black and White - Line Art", "Grayscale - 256 Levels", "Color - 16 Million Colors"},
         none, 8, {"Grayscale - 256 Levels", 0}},
        {"umax colour, not colour lineart", {"Lineart", "Color Lineart", "Color Halftone", "Color"}, none, 24,
         {"Color", 0}},
        {"agfa 8-bit gray", {"Lineart", "Gray (6 bit)", "Gray (8 bit)", "Color (18 bit)", "Color (24 bit)"},
         none, 8, {"Gray (8 bit)", 0}},
        {"agfa 24-bit colour", {"Lineart", "Gray (6 bit)", "Gray (8 bit)", "Color (18 bit)", "Color (24 bit)"},
         none, 24, {"Color (24 bit)", 0}},
        {"plain colour over 48 bits", {"Color (48 bits)", "Color", "Gray", "Lineart"}, none, 24, {"Color", 0}},
        {"mustek usb2 gray", {"Color48", "Color24", "Gray16", "Gray8", "Lineart"}, none, 8, {"Gray8", 0}},
        {"mustek usb2 colour", {"Color48", "Color24", "Gray16", "Gray8", "Lineart"}, none, 24, {"Color24", 0}},
        {"british spelling", {"Lineart", "Greyscale", "Colour"}, testDepths, 24, {"Colour", 8}},
        {"no gray at all: colour, made gray here", {"Lineart", "Color"}, testDepths, 8, {"Color", 8}},
        {"no mode option, depth only", {}, testDepths, 8, {"", 8}},
        // airscan (eSCL): Color and Gray, no depth option; 1 bit is thresholded here.
        {"airscan 1 bit: gray", {"Color", "Gray"}, none, 1, {"Gray", 0}},
        {"airscan 8 bit", {"Color", "Gray"}, none, 8, {"Gray", 0}},
        {"airscan 24 bit", {"Color", "Gray"}, none, 24, {"Color", 0}},
        {"colour only, 1 bit: colour", {"Color"}, none, 1, {"Color", 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ModeChoice got = chooseMode(c.modes, c.depths, c.bpp);
        EXPECT_EQ(got.mode, c.expected.mode);
        EXPECT_EQ(got.depth, c.expected.depth);
    }
}

// --- Blank pages ---------------------------------------------------------------------------

namespace {

constexpr int kPageW = 620;  // A4 at 75 dpi
constexpr int kPageH = 877;

QImage whitePage(QImage::Format format)
{
    QImage img(kPageW, kPageH, format);
    if (format == QImage::Format_Mono)
        img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    img.fill(Qt::white);
    return img;
}

void paint(QImage& img, const std::function<void(QPainter&)>& draw)
{
    // QPainter cannot paint on 1-bit images: paint in colour and convert back.
    const QImage::Format format = img.format();
    QImage canvas = img.convertToFormat(QImage::Format_RGB32);
    {
        QPainter p(&canvas);
        draw(p);
    }
    if (format == QImage::Format_Mono) {
        img = canvas.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
        // Keep index 0 white, as scanned pages have it.
        if (qGray(img.color(0)) < 128) {
            img.invertPixels();
            img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        }
    } else {
        img = canvas.convertToFormat(format);
    }
}

void dustSpots(QPainter& p, int count)
{
    QRandomGenerator rng(42);
    for (int i = 0; i < count; ++i)
        p.fillRect(rng.bounded(kPageW - 3), rng.bounded(kPageH - 3), 2, 2, Qt::black);
}

// Lines of glyph-sized blocks with gaps, like printed text.
void text(QPainter& p, int firstLine, int lines, int glyphsPerLine)
{
    for (int l = 0; l < lines; ++l) {
        const int y = 80 + (firstLine + l) * 18;
        for (int g = 0; g < glyphsPerLine; ++g) {
            const int x = 60 + g * 9;
            if (g % 7 == 6)
                continue;  // word gap
            p.fillRect(x, y, 6, 10, Qt::black);
        }
    }
}

} // namespace

TEST(BlankPage, WhiteDustyAndContentPagesInEveryFormat)
{
    struct Drawing {
        const char* what;
        std::function<void(QPainter&)> draw;
        bool blank;
    } drawings[] = {
        {"white", [](QPainter&) {}, true},
        {"a few dust spots", [](QPainter& p) { dustSpots(p, 25); }, true},
        {"light gray paper", [](QPainter& p) { p.fillRect(0, 0, kPageW, kPageH, QColor(240, 240, 240)); }, true},
        {"dark scanner edges only",
         [](QPainter& p) {
             p.fillRect(0, 0, 12, kPageH, Qt::black);
             p.fillRect(0, kPageH - 14, kPageW, 14, Qt::black);
         },
         true},
        {"a page of text", [](QPainter& p) { text(p, 0, 35, 55); }, false},
        {"one short word", [](QPainter& p) { text(p, 10, 1, 5); }, false},
        {"one line of text", [](QPainter& p) { text(p, 20, 1, 50); }, false},
        {"a signature stroke",
         [](QPainter& p) {
             p.setPen(QPen(Qt::black, 2));
             p.drawLine(300, 700, 420, 690);
             p.drawLine(420, 690, 380, 720);
         },
         false},
        {"mid gray paper", [](QPainter& p) { p.fillRect(0, 0, kPageW, kPageH, QColor(190, 190, 190)); }, false},
        {"black", [](QPainter& p) { p.fillRect(0, 0, kPageW, kPageH, Qt::black); }, false},
    };
    const QImage::Format formats[] = {QImage::Format_Mono, QImage::Format_Grayscale8, QImage::Format_RGB888,
                                      QImage::Format_RGB32};
    for (QImage::Format format : formats) {
        for (const Drawing& d : drawings) {
            if (format == QImage::Format_Mono && std::string(d.what).find("gray paper") != std::string::npos)
                continue;  // 1-bit has no gray
            SCOPED_TRACE(testing::Message() << d.what << ", format " << format);
            QImage page = whitePage(format);
            paint(page, d.draw);
            ASSERT_EQ(page.format(), format);
            EXPECT_EQ(isBlankPage(page), d.blank);
        }
    }
}

TEST(BlankPage, OneBitPagesFollowTheirColourTable)
{
    // All bits set: white with the table {black, white}, black with {white, black}.
    QImage page(400, 500, QImage::Format_Mono);
    page.fill(1);
    page.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    EXPECT_TRUE(isBlankPage(page));
    page.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    EXPECT_FALSE(isBlankPage(page));
    EXPECT_FALSE(isBlankPage(QImage()));
}

// --- SANE data into images -------------------------------------------------------------------

namespace {

SaneFrameData frame(int format, int depth, int ppl, int bpl, int lines, QByteArray data)
{
    SaneFrameData f;
    f.format = format;
    f.depth = depth;
    f.pixelsPerLine = ppl;
    f.bytesPerLine = bpl;
    f.lines = lines;
    f.data = std::move(data);
    return f;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

QImage build(const std::vector<SaneFrameData>& frames, int expectedResult = ACQUIRE_SUCCESS)
{
    int result = 12345;
    QImage img = pageFromFrames(frames, &result);
    EXPECT_EQ(result, expectedResult);
    EXPECT_EQ(img.isNull(), expectedResult != ACQUIRE_SUCCESS);
    return img;
}

} // namespace

TEST(SanePage, OneBitIsBlackOnWhiteWithPaddingMasked)
{
    // 10 pixels: 1000 0000 | 01 + six garbage bits; second row all black + garbage.
    const QImage img = build({frame(0, 1, 10, 2, 2, bytes({0x80, 0x7f, 0xff, 0xff}))});
    ASSERT_EQ(img.format(), QImage::Format_Mono);
    ASSERT_EQ(img.size(), QSize(10, 2));
    EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 0));
    for (int x = 1; x < 9; ++x)
        EXPECT_EQ(img.pixel(x, 0), qRgb(255, 255, 255)) << x;
    EXPECT_EQ(img.pixel(9, 0), qRgb(0, 0, 0));
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(img.pixel(x, 1), qRgb(0, 0, 0)) << x;
    // Padding bits cleared, so codecs that read whole bytes see white there.
    EXPECT_EQ(img.constScanLine(0)[1] & 0x3f, 0);
    EXPECT_EQ(img.constScanLine(1)[1] & 0x3f, 0);
}

TEST(SanePage, GrayAndColourDepths)
{
    const quint16 wide[] = {0x1234, 0xff00, 0x00ff};
    QByteArray gray16(reinterpret_cast<const char*>(wide), sizeof wide);
    const QImage g16 = build({frame(0, 16, 3, 6, 1, gray16)});
    ASSERT_EQ(g16.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(g16.constScanLine(0)[0], 0x12);
    EXPECT_EQ(g16.constScanLine(0)[1], 0xff);
    EXPECT_EQ(g16.constScanLine(0)[2], 0x00);

    // Two pixels per row in a 8-byte line: two bytes of padding per row are not pixels.
    const QImage rgb = build({frame(1, 8, 2, 8, 2, bytes({1, 2, 3, 4, 5, 6, 99, 99, 7, 8, 9, 10, 11, 12, 99, 99}))});
    ASSERT_EQ(rgb.format(), QImage::Format_RGB888);
    EXPECT_EQ(rgb.pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(rgb.pixel(1, 0), qRgb(4, 5, 6));
    EXPECT_EQ(rgb.pixel(0, 1), qRgb(7, 8, 9));
    EXPECT_EQ(rgb.pixel(1, 1), qRgb(10, 11, 12));

    const quint16 wideRgb[] = {0xff00, 0x8000, 0x0100};
    const QImage rgb16 = build({frame(1, 16, 1, 6, 1, QByteArray(reinterpret_cast<const char*>(wideRgb), 6))});
    EXPECT_EQ(rgb16.pixel(0, 0), qRgb(0xff, 0x80, 0x01));

    // 1-bit colour: one bit per sample, 1 = full intensity: 101 011 -> magenta, cyan.
    const QImage rgb1 = build({frame(1, 1, 2, 1, 1, bytes({0xac}))});
    EXPECT_EQ(rgb1.pixel(0, 0), qRgb(255, 0, 255));
    EXPECT_EQ(rgb1.pixel(1, 0), qRgb(0, 255, 255));
}

TEST(SanePage, ThreePassFramesMergeInAnyOrder)
{
    const QByteArray r = bytes({10, 20}), g = bytes({30, 40}), b = bytes({50, 60});
    for (const auto& order : {std::vector<int>{2, 3, 4}, std::vector<int>{3, 4, 2}, std::vector<int>{4, 2, 3}}) {
        std::vector<SaneFrameData> frames;
        for (int format : order)
            frames.push_back(frame(format, 8, 2, 2, 1, format == 2 ? r : format == 3 ? g : b));
        const QImage img = build(frames);
        EXPECT_EQ(img.pixel(0, 0), qRgb(10, 30, 50));
        EXPECT_EQ(img.pixel(1, 0), qRgb(20, 40, 60));
    }
}

TEST(SanePage, UnknownAndShortLengths)
{
    // Height unknown in advance: the data decides; the rest of a started row is white.
    const QImage grown = build({frame(0, 8, 3, 3, -1, bytes({1, 2, 3, 4, 5, 6, 7}))});
    ASSERT_EQ(grown.size(), QSize(3, 3));
    EXPECT_EQ(grown.constScanLine(2)[0], 7);
    EXPECT_EQ(grown.constScanLine(2)[1], 255);
    EXPECT_EQ(grown.constScanLine(2)[2], 255);

    // Fewer rows than announced: a shorter page, not a failure.
    const QImage shorter = build({frame(0, 8, 3, 3, 100, bytes({1, 2, 3, 4, 5, 6}))});
    EXPECT_EQ(shorter.size(), QSize(3, 2));

    // More data than announced is not more page.
    const QImage capped = build({frame(0, 8, 2, 2, 1, bytes({1, 2, 3, 4, 5, 6}))});
    EXPECT_EQ(capped.size(), QSize(2, 1));

    // A started 1-bit row ends in white, too.
    const QImage mono = build({frame(0, 1, 16, 2, -1, bytes({0xff, 0xff, 0xf0}))});
    ASSERT_EQ(mono.size(), QSize(16, 2));
    for (int x = 0; x < 16; ++x)
        EXPECT_EQ(mono.pixel(x, 1), x < 4 ? qRgb(0, 0, 0) : qRgb(255, 255, 255)) << x;
}

TEST(SanePage, MalformedFramesAreBadData)
{
    struct Case {
        const char* what;
        std::vector<SaneFrameData> frames;
    } cases[] = {
        {"nothing", {}},
        {"no data", {frame(0, 8, 4, 4, 1, QByteArray())}},
        {"depth 4", {frame(0, 4, 4, 2, 1, bytes({0, 0}))}},
        {"line shorter than its pixels", {frame(1, 8, 4, 6, 1, bytes({0, 0, 0, 0, 0, 0}))}},
        {"JPEG frame", {frame(11, 8, 2, 2, 1, bytes({0, 0}))}},
        {"zero lines", {frame(0, 8, 2, 2, 0, bytes({0, 0}))}},
        {"negative width", {frame(0, 8, -2, 2, 1, bytes({0, 0}))}},
        {"three-pass of different widths", {frame(2, 8, 2, 2, 1, bytes({0, 0})), frame(3, 8, 3, 3, 1, bytes({0, 0, 0}))}},
        {"gray with a colour pass", {frame(0, 8, 2, 2, 1, bytes({0, 0})), frame(2, 8, 2, 2, 1, bytes({0, 0}))}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(c.frames, ACQUIRE_BAD_DATA);
    }
}

// --- Pages in the depth asked for, and their resolution stamp ------------------------------

TEST(SanePage, RicherPagesAreBroughtToTheDepthAskedFor)
{
    // One row of gray steps around mid-gray, and the same as colour.
    const int values[] = {0, 100, 127, 128, 129, 200, 255};
    const int n = static_cast<int>(std::size(values));
    QImage gray(n, 1, QImage::Format_Grayscale8);
    QImage colour(n, 1, QImage::Format_RGB888);
    for (int x = 0; x < n; ++x) {
        gray.scanLine(0)[x] = static_cast<uchar>(values[x]);
        colour.setPixel(x, 0, qRgb(values[x], values[x], values[x]));
    }
    gray.setDotsPerMeterX(11811);  // 300 dpi
    gray.setDotsPerMeterY(11811);
    colour.setDotsPerMeterX(11811);
    colour.setDotsPerMeterY(11811);
    const struct {
        const char* what;
        QImage page;
        int bpp;
        QImage::Format format;
    } cases[] = {
        {"gray to 1 bit", gray, 1, QImage::Format_Mono},
        {"colour to 1 bit", colour, 1, QImage::Format_Mono},
        {"colour to gray", colour, 8, QImage::Format_Grayscale8},
        {"gray stays for 8 bits", gray, 8, QImage::Format_Grayscale8},
        {"colour stays for 24 bits", colour, 24, QImage::Format_RGB888},
        {"gray stays for 24 bits (never made richer)", gray, 24, QImage::Format_Grayscale8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QImage out = pageInDepth(c.page, c.bpp);
        ASSERT_EQ(out.format(), c.format);
        EXPECT_EQ(out.size(), c.page.size());
        EXPECT_EQ(out.dotsPerMeterX(), 11811);
        EXPECT_EQ(out.dotsPerMeterY(), 11811);
        for (int x = 0; x < n; ++x) {
            if (c.format == QImage::Format_Mono) {
                // Below mid-gray is black (SANE's 1), as lineart thresholds; index 0 white.
                EXPECT_EQ(qGray(out.pixel(x, 0)), values[x] < kLineartThreshold ? 0 : 255) << values[x];
                EXPECT_EQ(out.color(0), qRgb(255, 255, 255));
            } else {
                EXPECT_NEAR(qGray(out.pixel(x, 0)), values[x], 1) << values[x];
            }
        }
    }
    // A 1-bit page asked for as 1 bit is handed on untouched.
    QImage mono(9, 3, QImage::Format_Mono);
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mono.fill(1);
    EXPECT_EQ(pageInDepth(mono, 1).constBits(), mono.constBits());
}

TEST(SaneFrame, PagesAreStampedWithTheResolutionTheDeviceUsed)
{
    const struct {
        double requested, used;
        int stamp;
    } cases[] = {
        {150.0, 150.0, 150},   // as asked
        {150.7, 150.7, 150},   // as asked: the request truncated, as the page handler does
        {150.7, 150.70001, 150},  // fixed-point steps
        {250.0, 300.0, 300},   // a list without 250
        {1200.0, 600.0, 600},  // the device's maximum
        {99.6, 100.0, 100},    // whole numbers only
        {150.4, 150.0, 150},
        {150.0, 0.0, 150},     // the device has no resolution option
        {0.0, 0.0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.requested << " → " << c.used);
        EXPECT_EQ(stampedResolution(c.requested, c.used), c.stamp);
    }
}

// --- Which devices are covered --------------------------------------------------------------

// The `source` and `mode` lists of real backends, as their documentation (man pages, option
// lists) gives them, and what the layer makes of each request: the feeder (simplex and
// duplex), the flatbed, and the mode for 1, 8 and 24 bits. A backend that cannot deliver a
// depth gets the nearest richer mode; the page is converted after reading.
TEST(SaneBackends, SourceAndModeOfEveryKnownBackend)
{
    const std::vector<int> none;
    const std::vector<int> testDepths = {1, 8, 16};
    const struct Backend {
        const char* name;
        QStringList sources;
        QStringList modes;
        std::vector<int> depths;
        const char* feeder;  // "" when the device keeps its own source
        const char* duplex;
        const char* flatbed;
        const char* mode1;
        const char* mode8;
        const char* mode24;
    } backends[] = {
        {"test", {"Flatbed", "Automatic Document Feeder"}, {"Gray", "Color"}, testDepths,
         "Automatic Document Feeder", "Automatic Document Feeder", "Flatbed", "Gray", "Gray", "Color"},
        {"airscan (eSCL)", {"Flatbed", "ADF", "ADF Duplex"}, {"Color", "Gray"}, none, "ADF", "ADF Duplex", "Flatbed",
         "Gray", "Gray", "Color"},
        {"fujitsu", {"Flatbed", "ADF Front", "ADF Back", "ADF Duplex"}, {"Lineart", "Halftone", "Gray", "Color"}, none,
         "ADF Front", "ADF Duplex", "Flatbed", "Lineart", "Gray", "Color"},
        {"epson2", {"Flatbed", "Automatic Document Feeder", "Transparency Unit"}, {"Binary", "Gray", "Color"}, none,
         "Automatic Document Feeder", "Automatic Document Feeder", "Flatbed", "Binary", "Gray", "Color"},
        {"epsonds", {"Flatbed", "ADF Front", "ADF Duplex"}, {"Lineart", "Gray", "Color"}, none, "ADF Front",
         "ADF Duplex", "Flatbed", "Lineart", "Gray", "Color"},
        {"canon_dr", {"Flatbed", "ADF Front", "ADF Back", "ADF Duplex"}, {"Lineart", "Halftone", "Gray", "Color"},
         none, "ADF Front", "ADF Duplex", "Flatbed", "Lineart", "Gray", "Color"},
        {"hpaio (HPLIP)", {"Flatbed", "ADF", "Duplex"}, {"Lineart", "Gray", "Color"}, none, "ADF", "Duplex", "Flatbed",
         "Lineart", "Gray", "Color"},
        {"hp (old SCSI)", {"Normal", "ADF", "XPA"}, {"Lineart", "Halftone", "Gray", "Color"}, none, "ADF", "ADF",
         "Normal", "Lineart", "Gray", "Color"},
        {"brother (brscan)", {"FlatBed", "Automatic Document Feeder(left aligned)",
                              "Automatic Document Feeder(left aligned,Duplex)"},
         {"Black & White", "Gray[Error Diffusion]", "True Gray", "24bit Color"}, none,
         "Automatic Document Feeder(left aligned)", "Automatic Document Feeder(left aligned,Duplex)", "FlatBed",
         "Black & White", "True Gray", "24bit Color"},
        {"pixma", {"Flatbed", "Automatic Document Feeder", "ADF Duplex"}, {"Color", "Gray", "Lineart"}, none,
         "Automatic Document Feeder", "ADF Duplex", "Flatbed", "Lineart", "Gray", "Color"},
        {"genesys", {"Flatbed", "Transparency Adapter"}, {"Color", "Gray", "Halftone", "Lineart"}, none, "Flatbed",
         "Flatbed", "Flatbed", "Lineart", "Gray", "Color"},
        {"avision", {"Flatbed", "ADF Front", "ADF Back", "ADF Duplex"},
         {"Lineart", "Dithered", "Gray", "12bit Gray", "Color", "16bit Color"}, none, "ADF Front", "ADF Duplex",
         "Flatbed", "Lineart", "Gray", "Color"},
    };
    for (const Backend& b : backends) {
        SCOPED_TRACE(b.name);
        auto chosen = [&b](bool feeder, bool duplex) {
            const int i = chooseSourceIndex(b.sources, feeder, duplex, false);
            return i < 0 ? QString() : b.sources[i];
        };
        EXPECT_EQ(chosen(true, false), QString::fromUtf8(b.feeder));
        EXPECT_EQ(chosen(true, true), QString::fromUtf8(b.duplex));
        EXPECT_EQ(chosen(false, false), QString::fromUtf8(b.flatbed));
        // Whatever was chosen for the feeder is read as a feeder (scan until it is empty).
        if (QString::fromUtf8(b.feeder) != QString::fromUtf8(b.flatbed)) {
            EXPECT_TRUE(namesFeeder(QString::fromUtf8(b.feeder)));
        }
        EXPECT_FALSE(namesFeeder(QString::fromUtf8(b.flatbed)));
        EXPECT_EQ(chooseMode(b.modes, b.depths, 1).mode, QString::fromUtf8(b.mode1));
        EXPECT_EQ(chooseMode(b.modes, b.depths, 8).mode, QString::fromUtf8(b.mode8));
        EXPECT_EQ(chooseMode(b.modes, b.depths, 24).mode, QString::fromUtf8(b.mode24));
    }
}
