// TIFF, GIF and JPEG writers: tiffinfo, gm and netpbm see the compression, layout and
// resolution we promise, Qt's readers give back the pixels, and failed device writes are reported.
#include "imaging/GifWriter.h"
#include "imaging/JpegWriter.h"
#include "imaging/TiffWriter.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/Patterns.h"
#include "support/Tools.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string_view>
#include <unistd.h>

namespace {

using kelvo::encodeJpeg;
using kelvo::writeGif;
using kelvo::writeJpeg;
using kelvo::writeTiff;

using namespace kelvo::test;

struct KindCase {
    const char* name;
    QImage::Format format;
    QList<QRgb> (*table)(); // colour table of 1-bit and Indexed8 images
    int bits;
    const char* photometric; // as tiffinfo names it
};

void PrintTo(const KindCase& kind, std::ostream* os)
{
    *os << kind.name;
}

const KindCase kKinds[] = {
    {"MonoBlackWhite", QImage::Format_Mono, blackWhite, 1, "min-is-white"},
    {"MonoWhiteBlack", QImage::Format_Mono, whiteBlack, 1, "min-is-white"},
    {"MonoLsbTwoColours", QImage::Format_MonoLSB, twoColours, 1, "min-is-white"},
    {"Gray", QImage::Format_Grayscale8, nullptr, 8, "min-is-black"},
    {"IndexedGrayRamp", QImage::Format_Indexed8, grayRamp, 8, "min-is-black"},
    {"IndexedInvertedRamp", QImage::Format_Indexed8, invertedRamp, 8, "min-is-black"},
    {"IndexedColour", QImage::Format_Indexed8, colourPalette, 8, "palette color (RGB from colormap)"},
    {"Rgb888", QImage::Format_RGB888, nullptr, 24, "RGB color"},
    {"Rgb32", QImage::Format_RGB32, nullptr, 24, "RGB color"},
    {"Argb32", QImage::Format_ARGB32, nullptr, 24, "RGB color"},
};

const KindCase& kind(std::string_view name)
{
    return *std::find_if(std::begin(kKinds), std::end(kKinds), [&](const KindCase& k) { return k.name == name; });
}

const QSize kSizes[] = {{1, 1}, {7, 3}, {9, 5}, {33, 17}, {300, 40}};

QImage makeImage(const KindCase& kind, QSize size)
{
    return patternImage(size, kind.format, kind.table ? kind.table() : QList<QRgb>());
}

// Bilevel TIFF is black and white with the darker table entry black; everything else,
// and every GIF, keeps the exact colours (alpha is not stored).
QRgb expectedLook(const QImage& img, int x, int y, bool bilevelBlackWhite)
{
    if (img.depth() == 1 && bilevelBlackWhite) {
        const QList<QRgb> ct = img.colorTable();
        const int index = img.pixelIndex(x, y);
        return qGray(ct[index]) > qGray(ct[1 - index]) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    }
    return img.pixel(x, y) | 0xFF000000;
}

std::string compareLook(const QImage& original, const QImage& decoded, bool bilevelBlackWhite)
{
    if (decoded.size() != original.size())
        return "size " + std::to_string(decoded.width()) + "x" + std::to_string(decoded.height());
    for (int y = 0; y < original.height(); ++y)
        for (int x = 0; x < original.width(); ++x) {
            const QRgb want = expectedLook(original, x, y, bilevelBlackWhite);
            const QRgb got = decoded.pixel(x, y) | 0xFF000000;
            if (want != got)
                return "pixel " + std::to_string(x) + "," + std::to_string(y) + ": got "
                    + QString::number(got, 16).toStdString() + " want " + QString::number(want, 16).toStdString();
        }
    return {};
}

// Mean absolute difference per channel.
double meanError(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

int colourCount(const QImage& img)
{
    QSet<QRgb> colours;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            colours.insert(img.pixel(x, y) | 0xFF000000);
    return int(colours.size());
}


// tiffinfo's "Name: value" lines; the width line carries two fields.
QMap<QString, QString> tiffFields(const QByteArray& text)
{
    QMap<QString, QString> fields;
    for (QString line : QString::fromUtf8(text).split('\n')) {
        line = line.trimmed();
        if (line.startsWith("Image Width:")) {
            const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
            if (parts.size() >= 6) {
                fields["Image Width"] = parts[2];
                fields["Image Length"] = parts[5];
            }
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            fields[line.left(colon)] = line.mid(colon + 1).trimmed();
    }
    return fields;
}

// A seekable memory device that accepts `budget` bytes in total, then fails every write.
class FailingBuffer : public QBuffer {
public:
    explicit FailingBuffer(qint64 budget) : budget_(budget) { open(ReadWrite); }
    qint64 written() const { return written_; }

protected:
    qint64 writeData(const char* data, qint64 n) override
    {
        if (written_ + n > budget_)
            return -1;
        written_ += n;
        return QBuffer::writeData(data, n);
    }

private:
    qint64 budget_;
    qint64 written_ = 0;
};

class SequentialSink : public QIODevice {
public:
    SequentialSink() { open(WriteOnly); }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 n) override { return n; }
};

// Collects what the process writes to stderr while it lives.
class StderrCapture {
public:
    StderrCapture() : file_(std::tmpfile())
    {
        fflush(stderr);
        saved_ = dup(2);
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() { restore(); }
    std::string text()
    {
        restore();
        std::string s;
        rewind(file_);
        for (int c; (c = fgetc(file_)) != EOF;)
            s += char(c);
        return s;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    FILE* file_;
    int saved_ = -1;
};

QString writeFile(const QTemporaryDir& dir, const QString& name, const QImage& img, bool tiff)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    const bool ok = tiff ? writeTiff(f, img, 300, 150) : writeGif(f, img);
    return ok ? path : QString();
}

class TiffOutput : public testing::TestWithParam<std::tuple<KindCase, QSize>> {};

TEST_P(TiffOutput, ToolsSeeTheLayoutAndQtReadsThePixels)
{
    const auto& [kind, size] = GetParam();
    const QImage img = makeImage(kind, size);
    QTemporaryDir dir;
    const QString path = writeFile(dir, "page.tif", img, true);
    ASSERT_FALSE(path.isEmpty());

    const ToolOutput info = runToolRaw("tiffinfo", {"-D", path});
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    EXPECT_EQ(info.err.toStdString(), "");
    const QMap<QString, QString> f = tiffFields(info.out);
    const std::string all = info.out.toStdString();
    EXPECT_EQ(f.value("Image Width"), QString::number(size.width())) << all;
    EXPECT_EQ(f.value("Image Length"), QString::number(size.height())) << all;
    EXPECT_EQ(f.value("Bits/Sample"), kind.bits == 1 ? "1" : "8") << all;
    EXPECT_EQ(f.value("Samples/Pixel"), kind.bits == 24 ? "3" : "1") << all;
    EXPECT_EQ(f.value("Compression Scheme"), kind.bits == 1 ? "CCITT Group 4" : "LZW") << all;
    EXPECT_EQ(f.value("Photometric Interpretation"), kind.photometric) << all;
    const bool predicted = kind.bits != 1 && std::string_view(kind.name) != "IndexedColour";
    EXPECT_EQ(f.value("Predictor"), predicted ? "horizontal differencing 2 (0x2)" : "") << all;
    EXPECT_EQ(f.value("Resolution"), "300, 150 pixels/inch") << all;

    const ToolOutput gm = runToolRaw("gm", {"identify", "-format", "%w %h %m", path});
    ASSERT_EQ(gm.exitCode, 0) << gm.err.toStdString();
    EXPECT_EQ(gm.out.trimmed().toStdString(), QString("%1 %2 TIFF").arg(size.width()).arg(size.height()).toStdString());

    QImageReader reader(path, "tiff");
    const QImage decoded = reader.read();
    ASSERT_FALSE(decoded.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(compareLook(img, decoded, true), "");
}

class GifOutput : public testing::TestWithParam<std::tuple<KindCase, QSize>> {};

TEST_P(GifOutput, IsAnEightBitGifWithTheSameColours)
{
    const auto& [kind, size] = GetParam();
    const QImage img = makeImage(kind, size);
    QTemporaryDir dir;
    const QString path = writeFile(dir, "page.gif", img, false);
    ASSERT_FALSE(path.isEmpty());

    const ToolOutput gm = runToolRaw("gm", {"identify", "-format", "%w %h %m", path});
    ASSERT_EQ(gm.exitCode, 0) << gm.err.toStdString();
    EXPECT_EQ(gm.out.trimmed().toStdString(), QString("%1 %2 GIF").arg(size.width()).arg(size.height()).toStdString());

    // 8 bits per pixel: a global map of 256 entries at 8-bit colour resolution, and LZW
    // codes starting at 8 bits right after the image descriptor.
    QFile raw(path);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray head = raw.read(13 + 768 + 11);
    ASSERT_EQ(head.size(), 13 + 768 + 11);
    EXPECT_EQ(uchar(head[10]) & 0xF7, 0xF7);
    EXPECT_EQ(head[13 + 768], ',');
    EXPECT_EQ(head[13 + 768 + 10], 8);

    QImageReader reader(path, "gif");
    const QImage decoded = reader.read();
    ASSERT_FALSE(decoded.isNull()) << reader.errorString().toStdString();
    if (kind.bits < 24 || colourCount(img) <= 256)
        EXPECT_EQ(compareLook(img, decoded, false), "");
    else // noise: only the palette is reduced, no channel mixed up or pixel moved
        EXPECT_LT(meanError(img, decoded), 30.0);
}

// JPEG pages are encoded in bands joined by restart markers: the file must decode to exactly
// what one uncut libjpeg encoding (Qt's writer) decodes to, in every reader, and stay close to
// the source. Tall sizes cut colour into bands of 128 rows and gray into bands of 64, with a
// short last band and a last MCU row that is only partly inside the picture.
const QSize kJpegSizes[] = {{1, 1}, {7, 3}, {33, 17}, {300, 40}, {41, 300}, {130, 1100}};

QImage uncutJpegDecode(const QImage& img, int quality)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    QImageWriter writer(&buf, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(img))
        return {};
    return QImage::fromData(bytes, "jpeg");
}

// Largest channel difference between two images of the same size; -1 when the sizes differ.
int maxDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

class JpegOutput : public testing::TestWithParam<std::tuple<KindCase, QSize>> {};

TEST_P(JpegOutput, EveryReaderDecodesTheUncutPicture)
{
    const auto& [kind, size] = GetParam();
    QImage img = makeImage(kind, size);
    img.setDotsPerMeterX(qRound(300 / 0.0254));
    img.setDotsPerMeterY(qRound(150 / 0.0254));
    QTemporaryDir dir;
    const QString path = dir.filePath("page.jpg");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(writeJpeg(f, img, 95));
    }
    const bool gray = kind.bits != 24 && img.allGray();

    const Identified id = identify(path);
    EXPECT_EQ(id.format, "JPEG") << id.raw.toStdString();
    EXPECT_EQ(id.width, size.width());
    EXPECT_EQ(id.height, size.height());
    EXPECT_NEAR(id.xDpi, 300, 0.5) << id.raw.toStdString();
    EXPECT_NEAR(id.yDpi, 150, 0.5) << id.raw.toStdString();
    const ToolOutput quality = runToolRaw("gm", {"identify", "-format", "%Q", path});
    EXPECT_EQ(quality.out.trimmed().toStdString(), "95");

    const QImage reference = uncutJpegDecode(img, 95);
    ASSERT_FALSE(reference.isNull());
    QImageReader reader(path, "jpeg");
    const QImage decoded = reader.read();
    ASSERT_FALSE(decoded.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(decoded.format() == QImage::Format_Grayscale8, gray);
    EXPECT_EQ(maxDifference(decoded, reference), 0) << "Qt";

    // netpbm and GraphicsMagick decode it the same way, without complaint.
    const ToolOutput netpbm = runToolRaw("jpegtopnm", {path});
    ASSERT_EQ(netpbm.exitCode, 0) << netpbm.err.toStdString();
    EXPECT_FALSE(netpbm.err.contains("Corrupt")) << netpbm.err.toStdString();
    EXPECT_TRUE(netpbm.out.startsWith(gray ? "P5" : "P6"));
    EXPECT_EQ(maxDifference(QImage::fromData(netpbm.out), reference), 0) << "jpegtopnm";
    const ToolOutput magick = runToolRaw("gm", {"convert", path, "ppm:-"});
    ASSERT_EQ(magick.exitCode, 0) << magick.err.toStdString();
    EXPECT_EQ(magick.err.toStdString(), "");
    EXPECT_EQ(maxDifference(QImage::fromData(magick.out), reference), 0) << "gm";

    // Close to the source: the constant left third exactly (away from the noise), and no
    // channel mixed up or pixel moved in the noise.
    const int constantUpTo = size.width() / 3 / 16 * 16;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < constantUpTo; ++x)
            ASSERT_LE(std::abs(qGray(decoded.pixel(x, y)) - qGray(expectedLook(img, x, y, false))), 2) << x << "," << y;
    EXPECT_LT(meanError(gray ? img.convertToFormat(QImage::Format_Grayscale8) : img, decoded), gray ? 4.0 : 50.0); // random pairs differ by 85
}

std::string caseName(const testing::TestParamInfo<std::tuple<KindCase, QSize>>& info)
{
    const QSize s = std::get<1>(info.param);
    return std::string(std::get<0>(info.param).name) + "_" + std::to_string(s.width()) + "x" + std::to_string(s.height());
}

INSTANTIATE_TEST_SUITE_P(KindsAndSizes, TiffOutput,
    testing::Combine(testing::ValuesIn(kKinds), testing::ValuesIn(kSizes)), caseName);
INSTANTIATE_TEST_SUITE_P(KindsAndSizes, GifOutput,
    testing::Combine(testing::ValuesIn(kKinds), testing::ValuesIn(kSizes)), caseName);
INSTANTIATE_TEST_SUITE_P(KindsAndSizes, JpegOutput,
    testing::Combine(testing::ValuesIn(kKinds), testing::ValuesIn(kJpegSizes)), caseName);

TEST(GifColour, FewColoursStayExactAndPhotosStayClose)
{
    const QSize size(320, 240);
    QImage few(size, QImage::Format_RGB32), photo(size, QImage::Format_RGB888);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int i = (x / 7 + y / 5 * 3) % 200;
            few.setPixel(x, y, qRgb(i * 37 % 256, 255 - i, i * 101 % 256));
            const int noise = sample(x, y, 0, 0) % 9 - 4;
            photo.setPixel(x, y, qRgb(std::clamp(x * 255 / 319 + noise, 0, 255), std::clamp(y * 255 / 239 - noise, 0, 255),
                std::clamp(128 + (x - y) / 3 + noise, 0, 255)));
        }
    ASSERT_GT(colourCount(few), 100);
    ASSERT_LE(colourCount(few), 256);
    ASSERT_GT(colourCount(photo), 1000);
    QTemporaryDir dir;

    const QString fewPath = writeFile(dir, "few.gif", few, false);
    ASSERT_FALSE(fewPath.isEmpty());
    const QImage fewBack = QImageReader(fewPath, "gif").read();
    EXPECT_EQ(compareLook(few, fewBack, false), "");

    const QString photoPath = writeFile(dir, "photo.gif", photo, false);
    ASSERT_FALSE(photoPath.isEmpty());
    const QImage photoBack = QImageReader(photoPath, "gif").read();
    ASSERT_EQ(photoBack.size(), size);
    EXPECT_LT(meanError(photo, photoBack), 6.0);
}

TEST(TiffOutput, FileStartsAtTheDevicePosition)
{
    const QImage img = makeImage(kind("Rgb32"), {33, 17});
    QBuffer buf;
    buf.open(QIODevice::ReadWrite);
    buf.write("prefix");
    ASSERT_TRUE(writeTiff(buf, img, 300, 150));
    ASSERT_TRUE(buf.data().startsWith("prefix"));
    QBuffer tiff;
    tiff.setData(buf.data().mid(6));
    tiff.open(QIODevice::ReadOnly);
    QImageReader reader(&tiff, "tiff");
    EXPECT_EQ(compareLook(img, reader.read(), true), "");
}

TEST(Writers, FailedDeviceWritesAreReported)
{
    struct Case {
        const char* name;
        std::function<bool(QIODevice&, const QImage&)> write;
    };
    const Case writers[] = {
        {"tiff", [](QIODevice& d, const QImage& i) { return writeTiff(d, i, 300, 300); }},
        {"gif", [](QIODevice& d, const QImage& i) { return writeGif(d, i); }},
        {"jpeg", [](QIODevice& d, const QImage& i) { return writeJpeg(d, i, 95); }},
    };
    for (const Case& w : writers)
        for (const char* name : {"MonoLsbTwoColours", "Gray", "IndexedColour", "Rgb888"}) {
            const QImage img = makeImage(kind(name), {600, 300});
            FailingBuffer unlimited(std::numeric_limits<qint64>::max());
            ASSERT_TRUE(w.write(unlimited, img)) << w.name;
            const qint64 full = unlimited.written();
            StderrCapture capture;
            for (qint64 budget : {qint64(0), qint64(7), qint64(8), qint64(100), full / 2, full - 1}) {
                FailingBuffer dev(budget);
                EXPECT_FALSE(w.write(dev, img)) << w.name << " " << name << " budget " << budget << " of " << full;
            }
            EXPECT_EQ(capture.text(), "") << w.name << " printed on failure";
        }
    const QImage img = makeImage(kind("Gray"), {9, 5});
    for (const Case& w : writers) {
        QBuffer readOnly;
        readOnly.open(QIODevice::ReadOnly);
        EXPECT_FALSE(w.write(readOnly, img)) << w.name;
        QBuffer buf;
        buf.open(QIODevice::ReadWrite);
        EXPECT_FALSE(w.write(buf, QImage())) << w.name;
    }
    SequentialSink pipe;
    EXPECT_FALSE(writeTiff(pipe, img, 300, 300));
}

} // namespace
