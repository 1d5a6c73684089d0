// PDF documents of PDF-mode scanning, checked with qpdf, poppler's tools and GraphicsMagick.
#include "scan/SaveBitmap.h"
#include "imaging/CcittG4.h"
#include "imaging/ImageFile.h"
#include "imaging/ImageSave.h"
#include "imaging/JpegWriter.h"
#include "platform/Module.h"
#include "platform/Paths.h"
#include "scan/PdfDocument.h"
#include "scan/PdfEngine.h"
#include "scan/PdfSpool.h"
#include "support/PdfPages.h"
#include "support/System.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <vector>

using namespace kelvo;
using kelvo::test::addPdfPage;
using kelvo::test::currentUmask;
using kelvo::test::fileMode;
using kelvo::test::hasPosixFiles;
using kelvo::test::isSymlink;
using kelvo::test::makeSymlink;
using kelvo::test::runningAsRoot;
using kelvo::test::runTool;
using kelvo::test::setFileMode;
using kelvo::test::withFileSizeLimit;
using kelvo::test::ToolResult;

namespace {

const QString kFailureText = QStringLiteral("Datei konnte nicht geschrieben werden: ");
constexpr double kA4W = 595.276, kA4H = 841.89;
constexpr double kMarginPt = 0.2 / 2.54 * 72;

struct Message {
    QString text, caption;
    int flags;
};

class FakeUi : public ScanUi {
public:
    std::vector<Message> messages;
    int messageBox(const QString& text, const QString& caption, int flags) override
    {
        messages.push_back({text, caption, flags});
        return IDOK;
    }
    void pushWaitCursor() override {}
    void popCursor() override {}
    void openChildWindow(const QString&) override { ADD_FAILURE() << "no image window for PDF"; }
    void showAndActivateMainWindow() override {}
    void showStatus(const QString&) override {}
};

class FakeLauncher : public Launcher {
public:
    QStringList opened;
    bool startViewer(const QString&, const QString&) override { return false; }
    bool openWithDefaultApplication(const QString& file) override
    {
        opened << file;
        return true;
    }
};

enum class Kind { Mono, Gray8, GrayPalette, ColourPalette, Rgb };

// A white picture with a dark block (black; red for the colour kinds) over its top-left
// blockW x blockH pixels, in the pixel format the page handler would have written.
QImage picture(Kind kind, int w, int h, int blockW = 5, int blockH = 5)
{
    const bool colour = kind == Kind::ColourPalette || kind == Kind::Rgb;
    QImage rgb(w, h, QImage::Format_RGB32);
    rgb.fill(Qt::white);
    for (int y = 0; y < std::min(blockH, h); ++y)
        for (int x = 0; x < std::min(blockW, w); ++x)
            rgb.setPixel(x, y, colour ? qRgb(220, 0, 0) : qRgb(0, 0, 0));
    QList<QRgb> table;
    switch (kind) {
    case Kind::Mono: return rgb.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    case Kind::Gray8: return rgb.convertToFormat(QImage::Format_Grayscale8);
    case Kind::Rgb: return rgb;
    case Kind::GrayPalette: // reversed ramp: palette index and gray level differ
        for (int i = 0; i < 256; ++i)
            table << qRgb(255 - i, 255 - i, 255 - i);
        break;
    case Kind::ColourPalette: // enough colours for an 8-bit file
        for (int i = 0; i < 40; ++i)
            table << (i == 0 ? qRgb(220, 0, 0) : i == 1 ? qRgb(255, 255, 255) : qRgb(i * 6, 9, i));
        break;
    }
    return rgb.convertToFormat(QImage::Format_Indexed8, table, Qt::ThresholdDither);
}

int bmpBits(const QString& file)
{
    QFile f(file);
    const QByteArray h = f.open(QIODevice::ReadOnly) ? f.read(30) : QByteArray();
    return h.size() == 30 ? uchar(h[28]) | (uchar(h[29]) << 8) : -1;
}

QByteArray saveBmp(const QImage& img, const QString& file)
{
    EXPECT_TRUE(img.save(file, "BMP")) << file.toStdString();
    return QFile::encodeName(file);
}

QString checked(const QString& program, const QStringList& args)
{
    const ToolResult r = runTool(program, args);
    EXPECT_EQ(r.exitCode, 0) << program.toStdString() << ": " << r.out.toStdString();
    return r.out;
}

struct ImageRow {
    int page = 0;
    QString enc, color;
    int width = 0, height = 0, bpc = 0;
    double xppi = 0, yppi = 0;
};

// pdfimages -list: page num type width height color comp bpc enc interp object ID x-ppi y-ppi
std::vector<ImageRow> listImages(const QString& pdf)
{
    std::vector<ImageRow> rows;
    for (const QString& line : checked(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split(QLatin1Char('\n'))) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        bool isRow = false;
        if (f.size() >= 14)
            f[0].toInt(&isRow);
        if (isRow)
            rows.push_back({f[0].toInt(), f[8], f[5], f[3].toInt(), f[4].toInt(), f[7].toInt(),
                            f[12].toDouble(), f[13].toDouble()});
    }
    return rows;
}

std::map<QString, QString> pdfInfo(const QString& pdf, int pages = 1)
{
    std::map<QString, QString> info;
    const QString out = checked(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"),
                                                             QStringLiteral("-l"), QString::number(pages), pdf});
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0)
            info[line.left(colon).simplified()] = line.mid(colon + 1).trimmed();
    }
    return info;
}

// "Page N size" of pdfinfo: "595.276 x 841.89 pts (A4)"
std::pair<double, double> pageSize(std::map<QString, QString>& info, int page)
{
    static const QRegularExpression re(QStringLiteral("^([0-9.]+) x ([0-9.]+) pts"));
    const auto m = re.match(info[QStringLiteral("Page %1 size").arg(page)]);
    return m.hasMatch() ? std::pair{m.captured(1).toDouble(), m.captured(2).toDouble()} : std::pair{-1.0, -1.0};
}

void expectCleanPdf(const QString& pdf)
{
    const QString out = checked(QStringLiteral("qpdf"), {QStringLiteral("--check"), pdf});
    EXPECT_TRUE(out.contains(QStringLiteral("No syntax or stream encoding errors found"))) << out.toStdString();
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class PdfTest : public ::testing::Test {
protected:
    void TearDown() override { removePrivateTempDir(); } // where the pictures waited
    QTemporaryDir dir;
    FakeUi ui;
    FakeLauncher launcher;
    PdfDocuments docs{ui, launcher};

    QString path(const QString& name) const { return dir.filePath(name); }

    // A document of the given pictures, written to `name`; expects success.
    QString writeDocument(const std::vector<QImage>& pages, double resolution,
                          const QString& name = QStringLiteral("out.pdf"))
    {
        const int doc = docs.CreatePdfDocument(resolution);
        EXPECT_GT(doc, 0);
        for (size_t i = 0; i < pages.size(); ++i)
            addPdfPage(docs, doc, saveBmp(pages[i], path(QStringLiteral("Scan%1.BMP").arg(i))), 0.2, 0.2, int(i));
        EXPECT_EQ(docs.WritePdfDocument(doc, QFile::encodeName(path(name)), 0), 1);
        EXPECT_TRUE(ui.messages.empty()) << (ui.messages.empty() ? "" : ui.messages[0].text.toStdString());
        return path(name);
    }
};

// A TIFF around a bare G4 stream, min-is-white: what a PDF reader sees with /BlackIs1 false.
QByteArray g4Tiff(const QByteArray& g4, int w, int h)
{
    QByteArray t("II*\0\x08\0\0\0\x08\0", 10);
    const auto u16 = [&](quint32 v) { t.append(char(v & 255)).append(char((v >> 8) & 255)); };
    const auto tag = [&](quint32 id, quint32 type, quint32 v) {
        u16(id), u16(type), u16(1), u16(0), u16(v & 0xffff), u16(type == 3 ? 0 : v >> 16);
    };
    tag(256, 4, w), tag(257, 4, h), tag(258, 3, 1), tag(259, 3, 4), tag(262, 3, 0);
    tag(273, 4, 10 + 8 * 12 + 4), tag(278, 4, h), tag(279, 4, quint32(g4.size()));
    u16(0), u16(0);
    return t + g4;
}

} // namespace

TEST(CcittG4, DarkIndexIsTheDarkerEntry)
{
    const struct {
        QList<QRgb> table;
        int dark;
    } cases[] = {
        {{qRgb(255, 255, 255), qRgb(0, 0, 0)}, 1},
        {{qRgb(0, 0, 0), qRgb(255, 255, 255)}, 0},
        {{qRgb(120, 0, 0), qRgb(255, 255, 160)}, 0},
        {{qRgb(250, 250, 0), qRgb(0, 0, 90)}, 1},
    };
    for (const auto& c : cases) {
        QImage img(8, 1, QImage::Format_Mono);
        img.setColorTable(c.table);
        EXPECT_EQ(darkIndexOf(img), c.dark);
        EXPECT_EQ(isDarkIndexZero(img), c.dark == 0);
    }
    EXPECT_TRUE(encodeCcittG4(QImage()).isEmpty());
    EXPECT_TRUE(encodeCcittG4(picture(Kind::Gray8, 16, 16)).isEmpty());
}

// Decoded by GraphicsMagick, every pixel shows dark or light as its colour-table entry does.
TEST(CcittG4, DecodesToTheVisibleColours)
{
    QTemporaryDir dir;
    constexpr int kNone = -1, kBoth = 2; // which entry shows black
    const QRgb white = qRgb(255, 255, 255), black = qRgb(0, 0, 0);
    const struct {
        const char* name;
        int w, h;
        QImage::Format format;
        QList<QRgb> table;
        int dark;
        bool paddingGarbage;
    } cases[] = {
        {"white, black", 97, 31, QImage::Format_Mono, {white, black}, 1, false},
        {"black, white", 97, 31, QImage::Format_Mono, {black, white}, 0, false},
        {"LSB first", 64, 20, QImage::Format_MonoLSB, {black, white}, 0, false},
        {"one column", 1, 17, QImage::Format_Mono, {white, black}, 1, false},
        {"garbage in row padding", 13, 9, QImage::Format_Mono, {black, white}, 0, true},
        {"dark blue on yellow", 40, 12, QImage::Format_Mono, {qRgb(250, 240, 0), qRgb(0, 0, 120)}, 1, false},
        {"near-white pair keeps its contrast", 30, 10, QImage::Format_Mono, {white, qRgb(235, 235, 235)}, 1, false},
        {"both entries white", 30, 10, QImage::Format_Mono, {white, white}, kNone, false},
        {"both entries black", 30, 10, QImage::Format_Mono, {black, black}, kBoth, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QImage img(c.w, c.h, c.format);
        img.setColorTable(c.table);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                img.setPixel(x, y, ((x * 7 + y * 3) / 5 + (x * y) % 3) & 1);
        for (int y = 0; c.paddingGarbage && y < c.h; ++y) {
            uchar* row = img.scanLine(y);
            row[c.w / 8] |= uchar(0xFF >> (c.w % 8));
            std::fill(row + c.w / 8 + 1, row + img.bytesPerLine(), uchar(0xFF));
        }
        const QByteArray g4 = encodeCcittG4(img);
        ASSERT_FALSE(g4.isEmpty());
        QFile tif(dir.filePath(QStringLiteral("g4.tif")));
        ASSERT_TRUE(tif.open(QIODevice::WriteOnly));
        tif.write(g4Tiff(g4, c.w, c.h));
        tif.close();
        const QString pgm = dir.filePath(QStringLiteral("g4.pgm"));
        QFile::remove(pgm);
        checked(QStringLiteral("gm"), {QStringLiteral("convert"), tif.fileName(), pgm});
        const QImage decoded(pgm);
        ASSERT_EQ(decoded.size(), img.size());
        int wrong = 0;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                const bool dark = c.dark == kBoth || c.dark == img.pixelIndex(x, y);
                wrong += qGray(decoded.pixel(x, y)) != (dark ? 0 : 255);
            }
        EXPECT_EQ(wrong, 0);
    }
}

// Each kind of page bitmap becomes its own kind of picture at the scan resolution, on an A4 page.
TEST_F(PdfTest, PicturesAreCodedByKind)
{
    const struct {
        const char* name;
        Kind kind;
        int bits, w, h;
        double resolution;
        const char *enc, *color;
        int bpc, ppi;
    } cases[] = {
        {"1 bit", Kind::Mono, 1, 301, 211, 200, "ccitt", "gray", 1, 200},
        {"gray", Kind::Gray8, 8, 240, 160, 150.9, "jpeg", "gray", 8, 150},
        {"gray palette", Kind::GrayPalette, 8, 120, 90, 100, "jpeg", "gray", 8, 100},
        {"colour palette", Kind::ColourPalette, 8, 90, 120, 150, "jpeg", "rgb", 8, 150},
        {"colour", Kind::Rgb, 24, 320, 200, 300, "jpeg", "rgb", 8, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString pdf = writeDocument({picture(c.kind, c.w, c.h)}, c.resolution);
        ASSERT_EQ(bmpBits(path(QStringLiteral("Scan0.BMP"))), c.bits);
        expectCleanPdf(pdf);
        auto info = pdfInfo(pdf);
        EXPECT_EQ(info[QStringLiteral("Pages")], QStringLiteral("1"));
        const auto [pw, ph] = pageSize(info, 1);
        EXPECT_NEAR(pw, kA4W, 0.01);
        EXPECT_NEAR(ph, kA4H, 0.01);
        const auto images = listImages(pdf);
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0].enc, QLatin1String(c.enc));
        EXPECT_EQ(images[0].color, QLatin1String(c.color));
        EXPECT_EQ(images[0].bpc, c.bpc);
        EXPECT_EQ(images[0].width, c.w);
        EXPECT_EQ(images[0].height, c.h);
        EXPECT_NEAR(images[0].xppi, c.ppi, 0.5);
        EXPECT_NEAR(images[0].yppi, c.ppi, 0.5);
    }
}

TEST_F(PdfTest, DocumentInformationAndObjectStreams)
{
    const QString pdf = writeDocument({picture(Kind::Rgb, 50, 40)}, 150);
    auto info = pdfInfo(pdf);
    EXPECT_EQ(info[QStringLiteral("Title")], QStringLiteral("KELVO-Archivdokument"));
    EXPECT_EQ(info[QStringLiteral("Author")], QStringLiteral("Kelvo eG"));
    EXPECT_EQ(info[QStringLiteral("Subject")], QStringLiteral("Archivierung"));
    EXPECT_EQ(info[QStringLiteral("Keywords")], QStringLiteral("KELVO Scanner Archiv"));
    EXPECT_EQ(info[QStringLiteral("Creator")], QStringLiteral("KelvoBild"));
    EXPECT_FALSE(info[QStringLiteral("CreationDate")].isEmpty());
    const QString json = checked(QStringLiteral("qpdf"), {QStringLiteral("--json"), pdf});
    static const QRegularExpression date(QStringLiteral(R"("/CreationDate": "u?:?D:\d{14}[+-]\d\d'\d\d'")"));
    EXPECT_TRUE(date.match(json).hasMatch()) << json.toStdString();
    const QString xref = checked(QStringLiteral("qpdf"), {QStringLiteral("--show-xref"), pdf});
    EXPECT_TRUE(xref.contains(QStringLiteral("compressed; stream ="))) << xref.toStdString();
}

// Where each page's picture sits: its left edge and its distance from the page's top, in
// points, read from the page contents that qpdf writes out uncompressed.
std::vector<std::pair<double, double>> placements(const QString& pdf, const std::vector<std::pair<double, double>>& pageSizes)
{
    const QString qdf = pdf + QStringLiteral(".qdf");
    checked(QStringLiteral("qpdf"), {QStringLiteral("--qdf"), QStringLiteral("--object-streams=disable"), pdf, qdf});
    QFile f(qdf);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(f.readAll());
    static const QRegularExpression cm(QStringLiteral(R"(q ([\d.]+) 0 0 ([\d.]+) ([\d.]+) ([\d.]+) cm /Im0 Do Q)"));
    std::vector<std::pair<double, double>> at;
    for (auto it = cm.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        const double h = m.captured(2).toDouble(), x = m.captured(3).toDouble(), bottom = m.captured(4).toDouble();
        const size_t page = at.size();
        at.emplace_back(x, page < pageSizes.size() ? pageSizes[page].second - bottom - h : -1);
    }
    return at;
}

// Pages come in call order; a picture that fits on A4 gets an A4 page, 2 mm from the top-left
// where that still fits and nearer the corner where it does not; a larger picture gets a page
// of its own size. The page bitmaps stay on disk.
TEST_F(PdfTest, PagesInCallOrderAndPageSizes)
{
    const std::vector<QImage> pages = {
        picture(Kind::Rgb, 100, 50),
        picture(Kind::Mono, 2000, 3000), // 960 x 1440 pt at 150 dpi
        picture(Kind::Gray8, 80, 120),
        picture(Kind::Mono, 1300, 1000), // wider than A4 only
        picture(Kind::Mono, 1000, 1700), // taller than A4 only
        picture(Kind::Mono, 1200, 1720), // fits on A4 with less than 2 mm to spare
        picture(Kind::Mono, 1240, 1754), // 210 x 297 mm: fills the A4 page
    };
    const QString pdf = writeDocument(pages, 150);
    expectCleanPdf(pdf);
    const auto images = listImages(pdf);
    ASSERT_EQ(images.size(), pages.size());
    auto info = pdfInfo(pdf, int(pages.size()));
    EXPECT_EQ(info[QStringLiteral("Pages")], QString::number(pages.size()));
    std::vector<std::pair<double, double>> sizes;
    for (int i = 0; i < int(pages.size()); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(images[i].page, i + 1);
        EXPECT_EQ(images[i].width, pages[i].width());
        EXPECT_EQ(images[i].height, pages[i].height());
        const double w = pages[i].width() * 72.0 / 150, h = pages[i].height() * 72.0 / 150;
        const auto [pw, ph] = pageSize(info, i + 1);
        EXPECT_NEAR(pw, std::max(kA4W, w), 0.01);
        EXPECT_NEAR(ph, std::max(kA4H, h), 0.01);
        sizes.emplace_back(pw, ph);
        EXPECT_TRUE(QFile::exists(path(QStringLiteral("Scan%1.BMP").arg(i))));
    }
    const auto at = placements(pdf, sizes);
    ASSERT_EQ(at.size(), pages.size());
    for (int i = 0; i < int(pages.size()); ++i) {
        SCOPED_TRACE(i);
        const double w = pages[i].width() * 72.0 / 150, h = pages[i].height() * 72.0 / 150;
        EXPECT_NEAR(at[i].first, std::max(0.0, std::min(kMarginPt, kA4W - w)), 0.01);
        EXPECT_NEAR(at[i].second, std::max(0.0, std::min(kMarginPt, kA4H - h)), 0.01);
    }
}

// Rendered, dark stays dark and white stays white, and the picture sits 2 mm from the top-left.
TEST_F(PdfTest, RenderedPicturePositionAndColours)
{
    const struct {
        const char* name;
        Kind kind;
        QRgb dark;
        int tolerance;
    } cases[] = {
        {"1 bit", Kind::Mono, qRgb(0, 0, 0), 0},
        {"gray", Kind::Gray8, qRgb(0, 0, 0), 24},
        {"colour", Kind::Rgb, qRgb(220, 0, 0), 40},
    };
    const int dpi = 150, blockW = 100, blockH = 60;
    const double at = 0.2 / 2.54 * dpi; // 11.8 pixels
    const int in = int(std::ceil(at)) + 1, before = int(std::floor(at)) - 1;
    const QRgb white = qRgb(255, 255, 255);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString pdf = writeDocument({picture(c.kind, 203, 121, blockW, blockH)}, dpi);
        const QString root = path(QStringLiteral("page"));
        checked(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi),
                                             QStringLiteral("-singlefile"), pdf, root});
        const QImage page(root + QStringLiteral(".ppm"));
        ASSERT_FALSE(page.isNull());
        EXPECT_NEAR(page.width(), kA4W / 72 * dpi, 1.0);
        const struct {
            int x, y;
            QRgb want;
        } probes[] = {
            {before, before, white}, {before, in + 10, white}, {in + 10, before, white},
            {in, in, c.dark}, {in + 40, in + 30, c.dark},
            {int(at + blockW) - 2, int(at + blockH) - 2, c.dark},
            {int(at + blockW) + 3, in + 10, white}, {in + 10, int(at + blockH) + 3, white},
            {int(at) + 180, int(at) + 100, white},
        };
        for (const auto& p : probes) {
            const QRgb got = page.pixel(p.x, p.y);
            EXPECT_TRUE(std::abs(qRed(got) - qRed(p.want)) <= c.tolerance
                        && std::abs(qGreen(got) - qGreen(p.want)) <= c.tolerance
                        && std::abs(qBlue(got) - qBlue(p.want)) <= c.tolerance)
                << "pixel " << p.x << "," << p.y << " is " << std::hex << got << " want " << p.want;
        }
    }
}

// The page of a picture coded from the page in memory is the page the bitmap file of that page
// gives, also when the bitmap is written on another thread meanwhile; the bitmap files are the
// same. Compared as qpdf's normalised listing of the whole document, dates and IDs left out.
TEST_F(PdfTest, PagesFromMemoryEqualPagesFromTheirBitmapFiles)
{
    const auto withTable = [](QImage img, QList<QRgb> table) {
        img.setColorTable(table);
        return img;
    };
    QImage translucent = picture(Kind::Rgb, 70, 50).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, qRgba(x * 3, y * 5, 90, (x * 37) & 255));
    QImage tall(250, 900, QImage::Format_RGB888); // several bands of the JPEG encoder
    for (int y = 0; y < tall.height(); ++y)
        for (int x = 0; x < tall.width(); ++x)
            tall.setPixel(x, y, qRgb((x * 7 + y) & 255, (y * 3) & 255, (x * y) & 255));
    const struct {
        const char* name;
        QImage image;
        double documentDpi;
        int pageDpi;
    } cases[] = {
        {"1 bit", picture(Kind::Mono, 301, 211), 200, 200},
        {"1 bit, LSB, two colours", withTable(picture(Kind::Mono, 90, 40).convertToFormat(QImage::Format_MonoLSB),
                                              {qRgb(250, 240, 160), qRgb(20, 30, 120)}), 150, 150},
        {"1 bit, one colour", withTable(picture(Kind::Mono, 40, 30), {qRgb(0, 0, 0)}), 150, 150},
        {"gray", picture(Kind::Gray8, 240, 160), 150.9, 150},
        {"gray palette", picture(Kind::GrayPalette, 120, 90), 100, 100},
        {"colour palette", picture(Kind::ColourPalette, 90, 120), 150, 150},
        {"colour", picture(Kind::Rgb, 320, 200), 300, 300},
        {"colour, 24 bit, tall", tall, 300, 300},
        {"colour with alpha", translucent, 150, 150},
        {"no resolution anywhere", picture(Kind::Rgb, 64, 48), 0, 0},
    };
    const auto normalised = [&](const QString& pdf) {
        const QString qdf = pdf + QStringLiteral(".qdf");
        checked(QStringLiteral("qpdf"), {QStringLiteral("--qdf"), QStringLiteral("--static-id"),
                                         QStringLiteral("--object-streams=disable"),
                                         QStringLiteral("--decode-level=none"), pdf, qdf});
        QFile f(qdf);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QByteArrayList lines = f.readAll().split('\n');
        lines.removeIf([](const QByteArray& l) { return l.contains("/CreationDate") || l.contains("/ModDate")
                                        || l.trimmed().startsWith("/ID ["); // the original's own ID
        });
        return lines.join('\n');
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap page = Bitmap::fromImage(c.image);
        page.xResolution = page.yResolution = c.pageDpi;
        const QString fileBmp = path(QStringLiteral("file.BMP")), scratchBmp = path(QStringLiteral("scratch.BMP"));

        const int fromFile = docs.CreatePdfDocument(c.documentDpi);
        ASSERT_EQ(L_SaveBitmap(fileBmp, page, FILE_BMP, page.bitsPerPixel, 0, 0600), SUCCESS);
        addPdfPage(docs, fromFile, QFile::encodeName(fileBmp), 0.2, 0.2, 0);
        ASSERT_EQ(docs.WritePdfDocument(fromFile, QFile::encodeName(path(QStringLiteral("file.pdf"))), 0), 1);

        const int fromMemory = docs.CreatePdfDocument(c.documentDpi);
        addPdfPage(docs, fromMemory, page, 0.2, 0.2, 0);
        ASSERT_EQ(docs.WritePdfDocument(fromMemory, QFile::encodeName(path(QStringLiteral("memory.pdf"))), 0), 1);

        const int besideBitmap = docs.CreatePdfDocument(c.documentDpi);
        int status = 0;
        std::thread writer([&] { status = saveScratchBitmap(scratchBmp, page, page.bitsPerPixel, 0600); });
        PdfPagePicture picture = PdfDocuments::encodePagePicture(page);
        writer.join();
        ASSERT_EQ(status, SUCCESS);
        ASSERT_FALSE(picture.isNull());
        docs.AddPdfPage(besideBitmap, std::move(picture), 0.2, 0.2, 0);
        ASSERT_EQ(docs.WritePdfDocument(besideBitmap, QFile::encodeName(path(QStringLiteral("beside.pdf"))), 0), 1);
        ASSERT_TRUE(ui.messages.empty());

        expectCleanPdf(path(QStringLiteral("memory.pdf")));
        const auto images = listImages(path(QStringLiteral("memory.pdf")));
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0].enc, page.bitsPerPixel == 1 ? QStringLiteral("ccitt") : QStringLiteral("jpeg"));
        EXPECT_EQ(images[0].width, c.image.width());
        EXPECT_EQ(images[0].height, c.image.height());
        const QByteArray reference = normalised(path(QStringLiteral("file.pdf")));
        ASSERT_TRUE(reference.contains("/Subtype /Image"));
        EXPECT_TRUE(normalised(path(QStringLiteral("memory.pdf"))) == reference);
        EXPECT_TRUE(normalised(path(QStringLiteral("beside.pdf"))) == reference);
        QFile a(fileBmp), b(scratchBmp);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_TRUE(a.readAll() == b.readAll());
        if (hasPosixFiles()) {
            EXPECT_EQ(QFileInfo(b).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
        }
    }
    // A page that holds nothing is left out and named, like an unreadable bitmap file.
    const int doc = docs.CreatePdfDocument(150);
    EXPECT_TRUE(PdfDocuments::encodePagePicture(Bitmap()).isNull());
    EXPECT_TRUE(addPdfPage(docs, doc, Bitmap::fromImage(picture(Kind::Gray8, 40, 30)), 0.2, 0.2, 0));
    EXPECT_FALSE(addPdfPage(docs, doc, Bitmap(), 0.2, 0.2, 1));
    const QString partial = path(QStringLiteral("partial.pdf"));
    EXPECT_EQ(docs.WritePdfDocument(doc, QFile::encodeName(partial), 0), 1);
    EXPECT_EQ(listImages(partial).size(), 1u);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, missingPagesText({2}, partial));
}

// Pictures read back from the spool while the document is written give the very bytes that
// pictures held in memory give: same pages, same dated information; only the random file ID
// differs. A folder that cannot take pictures passes them on to the next.
TEST_F(PdfTest, SpooledPicturesWriteTheSameBytesAsPicturesInMemory)
{
    using NewDocument = KelvoPdfEngineNewDocument;
    const auto newDocument = reinterpret_cast<NewDocument>(moduleSymbol(loadModule(kPdfEngineModule), kPdfEngineFactorySymbol));
    ASSERT_NE(newDocument, nullptr);
    const struct {
        PdfPictureKind kind;
        QImage image;
        int dpi;
    } pages[] = {
        {PdfPictureKind::Ccitt, picture(Kind::Mono, 1240, 1754), 150},
        {PdfPictureKind::GrayJpeg, picture(Kind::Gray8, 240, 160), 100},
        {PdfPictureKind::RgbJpeg, picture(Kind::Rgb, 2600, 400), 300}, // wider than A4
        {PdfPictureKind::RgbJpeg, picture(Kind::Rgb, 30, 20), 72},
    };
    PdfSpool spool({QFile::encodeName(path(QStringLiteral("missing"))), QFile::encodeName(dir.path())});
    std::unique_ptr<PdfEngineDocument> inMemory(newDocument()), spooled(newDocument());
    std::vector<std::string> coded;
    for (const auto& p : pages) {
        const QByteArray bytes = p.kind == PdfPictureKind::Ccitt ? encodeCcittG4(p.image)
                                                                 : encodeJpeg(p.image, 90, 3937, 3937);
        ASSERT_FALSE(bytes.isEmpty());
        coded.push_back(bytes.toStdString());
        PdfEnginePicture pic;
        pic.kind = p.kind;
        pic.width = p.image.width();
        pic.height = p.image.height();
        pic.size = coded.back().size();
        pic.data = coded.back().data();
        ASSERT_TRUE(inMemory->appendPage(pic, p.dpi, 5.67, 5.67));
        const PdfSpool::Place place = spool.append(coded.back());
        ASSERT_NE(place.source, nullptr);
        pic.data = nullptr;
        pic.source = place.source;
        pic.offset = place.offset;
        ASSERT_TRUE(spooled->appendPage(pic, p.dpi, 5.67, 5.67));
    }
    // Where files can have no name at all (Windows names a file it deletes on closing).
    if (hasPosixFiles()) {
        EXPECT_TRUE(entries(dir.path()).isEmpty()) << "the spool has a name: " << entries(dir.path()).join(' ').toStdString();
    }
    const auto written = [&](PdfEngineDocument& pdf) {
        PdfEngineInfo info;
        info.title = "KELVO-Archivdokument";
        info.creationDate = info.modificationDate = "D:20261209120000+01'00'";
        EXPECT_TRUE(pdf.setInfo(info));
        FILE* f = std::tmpfile();
        EXPECT_TRUE(pdf.write(f, "same.pdf"));
        std::fflush(f);
        QFile file;
        EXPECT_TRUE(file.open(f, QIODevice::ReadOnly));
        file.seek(0);
        QByteArray bytes = file.readAll();
        file.close();
        std::fclose(f);
        static const QRegularExpression id(QStringLiteral("/ID \\[<[0-9a-f]+><[0-9a-f]+>\\]"));
        const QRegularExpressionMatch m = id.match(QString::fromLatin1(bytes));
        EXPECT_TRUE(m.hasMatch());
        return bytes.replace(m.capturedStart(), m.capturedLength(), QByteArray(m.capturedLength(), '-'));
    };
    const QByteArray reference = written(*inMemory);
    EXPECT_GT(reference.size(), 1000);
    EXPECT_TRUE(written(*spooled) == reference);

    // No folder at all: no place, and the document says so instead of writing a hole.
    PdfSpool nowhere({QFile::encodeName(path(QStringLiteral("missing"))), QByteArray("/proc/self/no-such-folder")});
    EXPECT_EQ(nowhere.append(coded.front()).source, nullptr);
}

TEST_F(PdfTest, OpensTheWrittenFileOnlyWhenAsked)
{
    const struct {
        int flag, opens;
    } cases[] = {{1, 1}, {0, 0}, {2, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flag);
        launcher.opened.clear();
        const int doc = docs.CreatePdfDocument(150);
        addPdfPage(docs, doc, saveBmp(picture(Kind::Rgb, 40, 40), path(QStringLiteral("Scan0.BMP"))), 0.2, 0.2, 0);
        const QString pdf = path(QStringLiteral("Akte %1 ä.PDF").arg(c.flag));
        EXPECT_EQ(docs.WritePdfDocument(doc, QFile::encodeName(pdf), c.flag), 1);
        EXPECT_TRUE(ui.messages.empty());
        expectCleanPdf(pdf);
        EXPECT_EQ(launcher.opened, c.opens ? QStringList{pdf} : QStringList{});
    }
}

// Two open documents keep their own pages, each picture taken when its page is added; a
// written document's handle is closed.
TEST_F(PdfTest, DocumentsAreKeptApartByHandle)
{
    const QString bmp = path(QStringLiteral("Scan0.BMP"));
    const int a = docs.CreatePdfDocument(150), b = docs.CreatePdfDocument(150);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    ASSERT_NE(a, b);
    addPdfPage(docs, a, saveBmp(picture(Kind::Rgb, 11, 11), bmp), 0.2, 0.2, 0);
    addPdfPage(docs, b, saveBmp(picture(Kind::Gray8, 13, 13), bmp), 0.2, 0.2, 0);
    addPdfPage(docs, a, saveBmp(picture(Kind::Rgb, 12, 12), bmp), 0.2, 0.2, 1);
    ASSERT_TRUE(QFile::remove(bmp));
    const QString pa = path(QStringLiteral("a.pdf")), pb = path(QStringLiteral("b.pdf"));
    docs.WritePdfDocument(b, QFile::encodeName(pb), 0);
    docs.WritePdfDocument(a, QFile::encodeName(pa), 0);
    ASSERT_TRUE(ui.messages.empty());
    const auto ia = listImages(pa), ib = listImages(pb);
    ASSERT_EQ(ia.size(), 2u);
    ASSERT_EQ(ib.size(), 1u);
    EXPECT_EQ(ia[0].width, 11);
    EXPECT_EQ(ia[1].width, 12);
    EXPECT_EQ(ib[0].width, 13);
    EXPECT_EQ(ib[0].color, QStringLiteral("gray"));

    QFile file(pa);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    EXPECT_EQ(docs.WritePdfDocument(a, QFile::encodeName(pa), 1), 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, kFailureText + pa);
    EXPECT_TRUE(launcher.opened.isEmpty());
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}

// An existing file is replaced as a whole, with the permissions a new file gets.
TEST_F(PdfTest, ReplacesAnExistingFile)
{
    const QString pdf = path(QStringLiteral("old.pdf"));
    QFile old(pdf);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(200000, 'x'));
    old.close();
    const bool modes = hasPosixFiles();
    if (modes) {
        ASSERT_TRUE(setFileMode(pdf, 0600));
    }
    writeDocument({picture(Kind::Mono, 100, 100)}, 150, QStringLiteral("old.pdf"));
    expectCleanPdf(pdf);
    if (modes) {
        EXPECT_EQ(fileMode(pdf) & 0777, 0666 & ~currentUmask());
    }
    EXPECT_EQ(entries(dir.path()), QStringList({QStringLiteral("Scan0.BMP"), QStringLiteral("old.pdf")}));
}

// Every failure: the message with the file name, nothing opened, no file (or temporary) left.
TEST_F(PdfTest, FailedWritesLeaveNothing)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QByteArray good = saveBmp(picture(Kind::Rgb, 40, 30), path(QStringLiteral("Scan0.BMP")));
    QFile full(path(QStringLiteral("Scan0.BMP"))), cut(path(QStringLiteral("cut.BMP")));
    ASSERT_TRUE(full.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly));
    cut.write(full.readAll().left(200)); // cut short in its pixel rows
    cut.close();
    QFile text(path(QStringLiteral("notes.txt")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("no picture\n");
    text.close();
    // Where the system shows links as what they are (Wine shows the file they point to).
    const bool linkSeen = makeSymlink(path(QStringLiteral("notes.txt")), path(QStringLiteral("link.pdf")))
                          && isSymlink(path(QStringLiteral("link.pdf")));
    const QStringList before = entries(dir.path());
    const auto name = [&](const char* n) { return QFile::encodeName(path(QLatin1String(n))); };
    const QByteArray unopened = "-"; // write a handle that was never opened

    const struct {
        const char* name;
        QString target;
        QList<QByteArray> bitmaps;
        int handle;
    } cases[] = {
        {"missing directory", path(QStringLiteral("nope/x.pdf")), {good}, 0},
        {"below a regular file", path(QStringLiteral("Scan0.BMP/x.pdf")), {good}, 0},
        {"below /etc/passwd", QStringLiteral("/etc/passwd/x.pdf"), {good}, 0},
        {"target is a directory", path(QStringLiteral("sub")), {good}, 0},
        {"empty name", QString(), {good}, 0},
        {"symbolic link at the name", path(QStringLiteral("link.pdf")), {good}, 0},
        {"missing bitmap", path(QStringLiteral("x.pdf")), {name("Scan9.BMP")}, 0},
        {"truncated bitmap", path(QStringLiteral("x.pdf")), {name("cut.BMP")}, 0},
        {"not a picture", path(QStringLiteral("x.pdf")), {name("notes.txt")}, 0},
        {"a directory as bitmap", path(QStringLiteral("x.pdf")), {name("sub")}, 0},
        {"no pages", path(QStringLiteral("x.pdf")), {}, 0},
        {"handle 0", path(QStringLiteral("x.pdf")), {unopened}, 0},
        {"unknown handle", path(QStringLiteral("x.pdf")), {unopened}, 4711},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.target == path(QStringLiteral("link.pdf")) && !linkSeen)
            continue;
        ui.messages.clear();
        int doc = c.handle;
        if (c.bitmaps != QList<QByteArray>{unopened}) {
            doc = docs.CreatePdfDocument(150);
            ASSERT_GT(doc, 0);
            for (int i = 0; i < c.bitmaps.size(); ++i)
                addPdfPage(docs, doc, c.bitmaps[i], 0.2, 0.2, i);
        } else {
            addPdfPage(docs, doc, good, 0.2, 0.2, 0); // ignored
        }
        EXPECT_EQ(docs.WritePdfDocument(doc, QFile::encodeName(c.target), 1), 0);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, kFailureText + c.target);
        EXPECT_EQ(ui.messages[0].caption, QStringLiteral("Error PDF schreiben"));
        EXPECT_EQ(ui.messages[0].flags, MB_OK);
        EXPECT_TRUE(launcher.opened.isEmpty());
        EXPECT_EQ(entries(dir.path()), before);
        EXPECT_TRUE(entries(path(QStringLiteral("sub"))).isEmpty());
    }

    // Pages that cannot be read are left out and named; the others are written.
    ui.messages.clear();
    const int doc = docs.CreatePdfDocument(150);
    const QList<QByteArray> pages = {good, name("cut.BMP"), good, name("Scan9.BMP"), good};
    for (int i = 0; i < pages.size(); ++i)
        addPdfPage(docs, doc, pages[i], 0.2, 0.2, i);
    const QString target = path(QStringLiteral("partial.pdf"));
    EXPECT_EQ(docs.WritePdfDocument(doc, QFile::encodeName(target), 1), 1);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.toStdString(), ("Seiten 2, 4 fehlen in " + target + ": nicht gespeichert oder nicht lesbar.").toStdString());
    EXPECT_EQ(listImages(target).size(), 3u);
    EXPECT_EQ(launcher.opened, QStringList{target});
    QFile::remove(target);
}

TEST_F(PdfTest, ReadOnlyDirectoryLeavesNothing)
{
    KELVO_POSIX_ONLY();
    if (runningAsRoot())
        GTEST_SKIP() << "root writes into read-only directories; the cases below a regular file cover it";
    const QString ro = path(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkdir(ro));
    const int doc = docs.CreatePdfDocument(150);
    addPdfPage(docs, doc, saveBmp(picture(Kind::Rgb, 40, 30), path(QStringLiteral("Scan0.BMP"))), 0.2, 0.2, 0);
    ASSERT_TRUE(setFileMode(ro, 0555));
    const QString target = ro + QStringLiteral("/x.pdf");
    EXPECT_EQ(docs.WritePdfDocument(doc, QFile::encodeName(target), 1), 0);
    setFileMode(ro, 0755);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, kFailureText + target);
    EXPECT_TRUE(launcher.opened.isEmpty());
    EXPECT_TRUE(entries(ro).isEmpty());
}

// A disk that fills up while the file is written (here the file-size limit, which fails the
// writes the same way) leaves no truncated PDF, though qpdf itself reports success.
TEST_F(PdfTest, FullDiskLeavesNothing)
{
    KELVO_POSIX_ONLY();
    const int doc = docs.CreatePdfDocument(150);
    for (int i = 0; i < 3; ++i) {
        QImage noise(300, 300, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, qRgb((x * 7 + y * 13 + i) & 255, (x * y) & 255, (x ^ y) & 255));
        addPdfPage(docs, doc, saveBmp(noise, path(QStringLiteral("Scan%1.BMP").arg(i))), 0.2, 0.2, i);
    }
    const QStringList before = entries(dir.path());
    const QString target = path(QStringLiteral("full.pdf"));
    int result = -1;
    ASSERT_TRUE(withFileSizeLimit(20000, [&] { result = docs.WritePdfDocument(doc, QFile::encodeName(target), 1); }));
    EXPECT_EQ(result, 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, kFailureText + target);
    EXPECT_TRUE(launcher.opened.isEmpty());
    EXPECT_EQ(entries(dir.path()), before);

    // The same when the pictures no longer fit where they wait: a document that lost pages
    // that way is not written at all, also when room is found again.
    ui.messages.clear();
    const int spooled = docs.CreatePdfDocument(150);
    ASSERT_TRUE(withFileSizeLimit(20000, [&] {
        for (int i = 0; i < 3; ++i)
            addPdfPage(docs, spooled, QFile::encodeName(path(QStringLiteral("Scan%1.BMP").arg(i))), 0.2, 0.2, i);
    }));
    addPdfPage(docs, spooled, QFile::encodeName(path(QStringLiteral("Scan0.BMP"))), 0.2, 0.2, 3);
    EXPECT_EQ(docs.WritePdfDocument(spooled, QFile::encodeName(target), 1), 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, kFailureText + target);
    EXPECT_TRUE(launcher.opened.isEmpty());
    EXPECT_EQ(entries(dir.path()), before);
}

// The PDF engine module runs as the user: a file that is not a plain file, or that someone
// else may change through its own or its directory's permissions, is refused with the reason;
// the build's module, copied where nobody else may change it, loads and is of our version.
TEST(PdfEngineModule, RefusedWhereOthersMayChangeIt)
{
    KELVO_POSIX_ONLY();
    const QString built = QStringLiteral(KELVO_BINARY_DIR "/") + QLatin1String(kPdfEngineModule);
    const struct {
        const char* name;
        mode_t dirMode;
        int fileMode; // -1: no file, 0: a symbolic link to the built module
        const char* reason;  // null: loads
    } cases[] = {
        {"missing", 0755, -1, std::strerror(ENOENT)},
        {"trusted", 0755, 0644, nullptr},
        {"group-writable file", 0755, 0664, "Datei ist für Gruppe oder andere beschreibbar"},
        {"world-writable file", 0755, 0646, "Datei ist für Gruppe oder andere beschreibbar"},
        {"world-writable directory", 01777, 0644, "Verzeichnis ist für Gruppe oder andere beschreibbar"},
        {"symbolic link", 0755, 0, "keine gewöhnliche Datei"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString file = dir.filePath(QLatin1String(kPdfEngineModule));
        if (c.fileMode == 0) {
            ASSERT_TRUE(QFile::link(built, file));
        }
        if (c.fileMode > 0) {
            ASSERT_TRUE(QFile::copy(built, file));
            ASSERT_TRUE(setFileMode(file, static_cast<unsigned>(c.fileMode)));
        }
        ASSERT_TRUE(setFileMode(dir.path(), c.dirMode));
        std::string why;
        void* module = openModuleIn(QFile::encodeName(dir.path()).toStdString(), kPdfEngineModule, why);
        if (!c.reason) {
            ASSERT_NE(module, nullptr) << why;
            const auto* version = static_cast<const int*>(moduleSymbol(module, kPdfEngineVersionSymbol));
            ASSERT_NE(version, nullptr);
            EXPECT_EQ(*version, kPdfEngineVersion);
            EXPECT_NE(moduleSymbol(module, kPdfEngineFactorySymbol), nullptr);
            continue;
        }
        EXPECT_EQ(module, nullptr);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_NE(why.find(QFile::encodeName(file).toStdString()), std::string::npos) << why;
    }
}
