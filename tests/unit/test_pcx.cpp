// PCX codec: our files decode pixel-exactly with our reader, pcxtoppm and gm; files from
// netpbm and gm decode with our reader; truncated and corrupted files fail cleanly.
#include "imaging/Pcx.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/Patterns.h"
#include "support/Tools.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <random>
#include <string_view>

namespace {

using kelvo::PcxHandler;
using kelvo::writePcx;

using namespace kelvo::test;

struct KindCase {
    const char* name;
    QImage::Format format;
    QList<QRgb> (*table)(); // colour table of 1-bit and Indexed8 images
    int bits;
    QImage::Format readFormat; // what our reader gives back
};

void PrintTo(const KindCase& kind, std::ostream* os)
{
    *os << kind.name;
}

const KindCase kKinds[] = {
    {"MonoBlackWhite", QImage::Format_Mono, blackWhite, 1, QImage::Format_Mono},
    {"MonoWhiteBlack", QImage::Format_Mono, whiteBlack, 1, QImage::Format_Mono},
    {"MonoLsbTwoColours", QImage::Format_MonoLSB, twoColours, 1, QImage::Format_Mono},
    {"Gray", QImage::Format_Grayscale8, nullptr, 8, QImage::Format_Grayscale8},
    {"IndexedGrayRamp", QImage::Format_Indexed8, grayRamp, 8, QImage::Format_Grayscale8},
    {"IndexedInvertedRamp", QImage::Format_Indexed8, invertedRamp, 8, QImage::Format_Indexed8},
    {"IndexedColour", QImage::Format_Indexed8, colourPalette, 8, QImage::Format_Indexed8},
    {"Rgb888", QImage::Format_RGB888, nullptr, 24, QImage::Format_RGB888},
    {"Rgb32", QImage::Format_RGB32, nullptr, 24, QImage::Format_RGB888},
    {"Argb32", QImage::Format_ARGB32, nullptr, 24, QImage::Format_RGB888},
};

const KindCase& kind(std::string_view name)
{
    return *std::find_if(std::begin(kKinds), std::end(kKinds), [&](const KindCase& k) { return k.name == name; });
}

const QSize kSizes[] = {{1, 1}, {7, 3}, {9, 5}, {33, 17}, {200, 4}};

QImage makeImage(const KindCase& kind, QSize size)
{
    return patternImage(size, kind.format, kind.table ? kind.table() : QList<QRgb>());
}

// How the page must look in a PCX file: 1-bit files are black and white, with the darker
// table entry black; everything else keeps its colour (alpha is not stored).
QRgb expectedLook(const QImage& img, int x, int y)
{
    if (img.depth() == 1) {
        const QList<QRgb> ct = img.colorTable();
        const int index = img.pixelIndex(x, y);
        return qGray(ct[index]) > qGray(ct[1 - index]) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    }
    return img.pixel(x, y) | 0xFF000000;
}

// Empty when the decoded image looks as expected, else the first difference.
std::string compareLook(const QImage& original, const QImage& decoded)
{
    if (decoded.size() != original.size())
        return "size " + std::to_string(decoded.width()) + "x" + std::to_string(decoded.height());
    for (int y = 0; y < original.height(); ++y)
        for (int x = 0; x < original.width(); ++x) {
            const QRgb want = expectedLook(original, x, y), got = decoded.pixel(x, y) | 0xFF000000;
            if (want != got)
                return "pixel " + std::to_string(x) + "," + std::to_string(y) + ": got "
                    + QString::number(got, 16).toStdString() + " want " + QString::number(want, 16).toStdString();
        }
    return {};
}


// Binary PPM (P6) as produced by pcxtoppm.
QImage parsePpm(const QByteArray& data)
{
    int pos = 0;
    auto token = [&]() {
        while (pos < data.size() && (isspace(uchar(data[pos])) || data[pos] == '#')) {
            if (data[pos] == '#')
                while (pos < data.size() && data[pos] != '\n')
                    ++pos;
            else
                ++pos;
        }
        const int start = pos;
        while (pos < data.size() && !isspace(uchar(data[pos])))
            ++pos;
        return data.mid(start, pos - start);
    };
    if (token() != "P6")
        return {};
    const int w = token().toInt(), h = token().toInt(), maxval = token().toInt();
    ++pos;
    if (w <= 0 || h <= 0 || maxval != 255 || data.size() - pos < qsizetype(w) * h * 3)
        return {};
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        memcpy(img.scanLine(y), data.constData() + pos + qsizetype(y) * w * 3, size_t(w) * 3);
    return img;
}

QByteArray toPnm(const QImage& img)
{
    QByteArray out;
    const bool gray = img.format() == QImage::Format_Grayscale8;
    const bool mono = img.format() == QImage::Format_Mono;
    out += (mono ? "P4\n" : gray ? "P5\n" : "P6\n") + QByteArray::number(img.width()) + ' '
        + QByteArray::number(img.height()) + (mono ? "\n" : "\n255\n");
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < (mono ? (img.width() + 7) / 8 : img.width()); ++x) {
            if (mono) // PBM: 1 is black; the table is black, white; bits past the edge cleared
                out += char(~img.constScanLine(y)[x] & (8 * x + 8 <= img.width() ? 0xFF : 0xFF << (8 * x + 8 - img.width())));
            else if (gray)
                out += char(img.constScanLine(y)[x]);
            else
                out += QByteArray(reinterpret_cast<const char*>(img.constScanLine(y)) + 3 * x, 3);
        }
    return out;
}

struct ReadResult {
    bool ok = false;
    QImage image;
};

ReadResult readPcx(QIODevice* dev)
{
    PcxHandler handler;
    handler.setDevice(dev);
    ReadResult r;
    r.ok = handler.read(&r.image);
    return r;
}

ReadResult readPcx(const QByteArray& bytes)
{
    QBuffer buf;
    buf.setData(bytes);
    buf.open(QIODevice::ReadOnly);
    return readPcx(&buf);
}

QByteArray encode(const QImage& img, int xDpi = 300, int yDpi = 150)
{
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    EXPECT_TRUE(writePcx(buf, img, xDpi, yDpi));
    return buf.data();
}

// A pipe-like device: no seeking, no size, data handed out in small pieces.
class SequentialDevice : public QIODevice {
public:
    explicit SequentialDevice(QByteArray data) : data_(std::move(data)) { open(ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return data_.size() - pos_ + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        const qint64 n = std::min<qint64>({max, 997, data_.size() - pos_});
        memcpy(out, data_.constData() + pos_, size_t(n));
        pos_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 pos_ = 0;
};

// Accepts `budget` bytes, then every write fails, as on a full disk.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(qint64 budget) : budget_(budget) { open(WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 n) override
    {
        if (n > budget_)
            return -1;
        budget_ -= n;
        return n;
    }

private:
    qint64 budget_;
};

class PcxRoundTrip : public testing::TestWithParam<std::tuple<KindCase, QSize>> {};

TEST_P(PcxRoundTrip, ReadsBackAndMatchesIndependentDecoders)
{
    const auto& [kind, size] = GetParam();
    const QImage img = makeImage(kind, size);
    const QByteArray bytes = encode(img);
    ASSERT_GT(bytes.size(), 128);

    // Layout other readers rely on: version 5, planes and bits, even line length.
    const auto* h = reinterpret_cast<const uchar*>(bytes.constData());
    EXPECT_EQ(h[1], 5);
    EXPECT_EQ(h[3], kind.bits == 1 ? 1 : 8);
    EXPECT_EQ(h[65], kind.bits == 24 ? 3 : 1);
    const int bpl = h[66] | h[67] << 8;
    EXPECT_EQ(bpl % 2, 0);
    EXPECT_GE(bpl, (size.width() * h[3] + 7) / 8);

    QBuffer buf;
    buf.setData(bytes);
    buf.open(QIODevice::ReadOnly);
    PcxHandler handler;
    handler.setDevice(&buf);
    EXPECT_TRUE(handler.canRead());
    EXPECT_EQ(handler.option(QImageIOHandler::Size).toSize(), size);
    EXPECT_EQ(buf.pos(), 0);
    QImage decoded;
    ASSERT_TRUE(handler.read(&decoded));
    EXPECT_EQ(decoded.format(), kind.readFormat);
    EXPECT_EQ(compareLook(img, decoded), "");
    EXPECT_EQ(qRound(decoded.dotsPerMeterX() * 0.0254), 300);
    EXPECT_EQ(qRound(decoded.dotsPerMeterY() * 0.0254), 150);

    QTemporaryDir dir;
    const QString path = dir.filePath("page.pcx");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    f.close();

    const ToolOutput netpbm = runToolRaw("pcxtoppm", {path});
    ASSERT_EQ(netpbm.exitCode, 0) << netpbm.err.toStdString();
    EXPECT_EQ(compareLook(img, parsePpm(netpbm.out)), "") << "pcxtoppm";

    const ToolOutput gm = runToolRaw("gm", {"identify", "-format", "%w %h %x %y %m", path});
    ASSERT_EQ(gm.exitCode, 0) << gm.err.toStdString();
    EXPECT_EQ(gm.out.trimmed().toStdString(),
        QString("%1 %2 300 150 PCX").arg(size.width()).arg(size.height()).toStdString());
}

INSTANTIATE_TEST_SUITE_P(KindsAndSizes, PcxRoundTrip,
    testing::Combine(testing::ValuesIn(kKinds), testing::ValuesIn(kSizes)),
    [](const auto& info) {
        const QSize s = std::get<1>(info.param);
        return std::string(std::get<0>(info.param).name) + "_" + std::to_string(s.width()) + "x"
            + std::to_string(s.height());
    });

TEST(PcxRead, SequentialDeviceGivesTheSameImage)
{
    for (const KindCase& kind : kKinds) {
        const QImage img = makeImage(kind, {33, 17});
        SequentialDevice dev(encode(img));
        const ReadResult r = readPcx(&dev);
        ASSERT_TRUE(r.ok) << kind.name;
        EXPECT_EQ(r.image.format(), kind.readFormat) << kind.name;
        EXPECT_EQ(compareLook(img, r.image), "") << kind.name;
    }
}

// Files written by netpbm and GraphicsMagick decode to the image they were made from.
TEST(PcxRead, DecodesFilesFromOtherEncoders)
{
    struct Case {
        const char* name;
        QString program;
        QStringList args;
        QImage::Format source;
        int colours; // 0: all colours of the pattern
    };
    const Case cases[] = {
        {"ppmtopcx 24 bit", "ppmtopcx", {"-24bit"}, QImage::Format_RGB888, 0},
        {"ppmtopcx 8 bit", "ppmtopcx", {"-8bit"}, QImage::Format_RGB888, 200},
        {"ppmtopcx planes", "ppmtopcx", {}, QImage::Format_RGB888, 6},
        {"ppmtopcx packed", "ppmtopcx", {"-packed"}, QImage::Format_RGB888, 11},
        {"ppmtopcx gray", "ppmtopcx", {"-8bit"}, QImage::Format_Grayscale8, 0},
        {"ppmtopcx bilevel", "ppmtopcx", {}, QImage::Format_Mono, 0},
        {"gm colour", "gm", {"convert"}, QImage::Format_RGB888, 0},
        {"gm gray", "gm", {"convert"}, QImage::Format_Grayscale8, 0},
        {"gm bilevel", "gm", {"convert"}, QImage::Format_Mono, 0},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        for (const QSize size : kSizes) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(size.width()) + "x" + std::to_string(size.height()));
            QImage src = makeImage(kind(c.source == QImage::Format_Mono ? "MonoBlackWhite"
                    : c.source == QImage::Format_Grayscale8               ? "Gray"
                                                                          : "Rgb888"), size);
            if (c.colours > 0) // fold the pattern onto a few colours
                for (int y = 0; y < size.height(); ++y)
                    for (int x = 0; x < size.width(); ++x) {
                        const int i = (qRed(src.pixel(x, y)) + x) % c.colours;
                        src.setPixel(x, y, qRgb(i * 37 % 256, 255 - i, i * 101 % 256));
                    }
            const QString in = dir.filePath("in.pnm"), out = dir.filePath("out.pcx");
            QFile f(in);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(toPnm(src));
            f.close();
            const QStringList args = c.program == "gm" ? QStringList{"convert", in, "PCX:" + out}
                                                       : c.args + QStringList{in};
            const ToolOutput t = runToolRaw(c.program, args);
            ASSERT_EQ(t.exitCode, 0) << t.err.toStdString();
            QByteArray bytes = t.out;
            if (c.program == "gm") {
                QFile o(out);
                ASSERT_TRUE(o.open(QIODevice::ReadOnly));
                bytes = o.readAll();
            }
            const ReadResult r = readPcx(bytes);
            ASSERT_TRUE(r.ok);
            EXPECT_EQ(compareLook(src, r.image), "");
        }
    }
}

void put16(QByteArray& b, int offset, int v)
{
    b[offset] = char(v & 0xFF);
    b[offset + 1] = char((v >> 8) & 0xFF);
}

// A PCX file built byte by byte, for layouts and details our writer never produces.
struct Built {
    int version = 5;
    bool rle = true;
    int bits = 8;
    int planes = 1;
    QByteArray headerPalette; // up to 48 bytes
    QByteArray tail;          // after the pixel data: palette block, padding, junk
};

QByteArray buildPcx(const Built& b, QSize size, const std::function<int(int x, int y, int plane)>& sample)
{
    const int bpl = ((size.width() * b.bits + 7) / 8 + 1) & ~1;
    QByteArray out(128, '\0');
    out[0] = 0x0A;
    out[1] = char(b.version);
    out[2] = char(b.rle ? 1 : 0);
    out[3] = char(b.bits);
    put16(out, 8, size.width() - 1);
    put16(out, 10, size.height() - 1);
    put16(out, 12, 72);
    put16(out, 14, 72);
    out.replace(16, b.headerPalette.size(), b.headerPalette);
    out[65] = char(b.planes);
    put16(out, 66, bpl);
    put16(out, 68, 1);
    for (int y = 0; y < size.height(); ++y) {
        QByteArray line;
        for (int p = 0; p < b.planes; ++p) {
            QByteArray plane(bpl, '\0');
            for (int x = 0; x < size.width(); ++x) {
                const int perByte = 8 / b.bits, shift = 8 - b.bits * (x % perByte + 1);
                plane[x / perByte] = char(uchar(plane[x / perByte]) | (sample(x, y, p) << shift));
            }
            line += plane;
        }
        if (!b.rle) {
            out += line;
            continue;
        }
        for (int i = 0; i < line.size();) { // every byte as a run of one: valid, if long
            out += char(0xC1);
            out += line[i++];
        }
    }
    return out + b.tail;
}

QByteArray palette256(int offset)
{
    QByteArray block(1, 0x0C);
    for (int i = 0; i < 256; ++i)
        block += QByteArray() + char((i * 3 + offset) % 256) + char(255 - i) + char((i * 7) % 256);
    return block;
}

// Files that netpbm, ImageMagick and GraphicsMagick open open here too, with the colours
// gm (and pcxtoppm, where it takes the file) sees.
TEST(PcxRead, OpensWhatOtherDecodersOpen)
{
    const QSize size(13, 5);
    const auto eight = [](int x, int y, int p) { return (x * 37 + y * 71 + p * 101) % 256; };
    const struct Case {
        const char* name;
        Built built;
        std::function<int(int, int, int)> sample;
        bool pcxtoppm; // netpbm refuses some layouts that gm reads
    } cases[] = {
        {"four planes, alpha", {5, true, 8, 4, {}, {}}, [](int x, int y, int p) { return p == 3 ? (x < 6 ? 255 : 90) : (x * 37 + y * 71 + p * 101) % 256; }, false},
        {"four planes, alpha zero", {5, true, 8, 4, {}, {}}, [](int x, int y, int p) { return p == 3 ? 0 : (x * 37 + y * 71 + p * 101) % 256; }, false},
        {"stored, 24 bit", {5, false, 8, 3, {}, {}}, eight, false},
        {"stored, 256 colours", {5, false, 8, 1, {}, palette256(5)}, eight, false},
        {"version 1", {1, true, 8, 3, {}, {}}, eight, true},
        {"2-bit packed", {5, true, 2, 1, QByteArray("\x0a\x14\x1e\xc8\x00\x00\x00\xc8\x00\x00\x00\xc8", 12), {}},
         [](int x, int y, int) { return (x + 2 * y) % 4; }, true},
        {"bytes after the palette", {5, true, 8, 1, {}, palette256(9) + QByteArray("\0\x11junk\x0c after", 13)}, eight, true},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = buildPcx(c.built, size, c.sample);
        const ReadResult ours = readPcx(bytes);
        ASSERT_TRUE(ours.ok);
        SequentialDevice dev(bytes);
        const ReadResult streamed = readPcx(&dev);
        ASSERT_TRUE(streamed.ok);
        EXPECT_EQ(streamed.image, ours.image);
        EXPECT_EQ(ours.image.hasAlphaChannel(), std::string_view(c.name) == "four planes, alpha");

        const QString path = dir.filePath("built.pcx");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        f.close();
        std::vector<std::pair<const char*, ToolOutput>> others;
        others.emplace_back("gm", runToolRaw("gm", {"convert", path, "ppm:-"}));
        if (c.pcxtoppm)
            others.emplace_back("pcxtoppm", runToolRaw("pcxtoppm", {path}));
        for (const auto& [tool, out] : others) {
            ASSERT_EQ(out.exitCode, 0) << tool << ": " << out.err.toStdString();
            const QImage theirs = parsePpm(out.out);
            ASSERT_EQ(theirs.size(), size) << tool;
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    ASSERT_EQ(ours.image.pixel(x, y) | 0xFF000000, theirs.pixel(x, y))
                        << tool << " pixel " << x << "," << y;
        }
    }
}

TEST(PcxRead, CanReadOnlyPeeks)
{
    const QByteArray good = encode(makeImage(kind("Gray"), {9, 5}));
    const QByteArray notPcx[] = {QByteArray(), good.left(127), QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(200, 0),
        QByteArray(1, 0x0A) + QByteArray(300, 0)};
    for (const QByteArray& bytes : notPcx) {
        QBuffer buf;
        buf.setData(bytes);
        buf.open(QIODevice::ReadOnly);
        EXPECT_FALSE(PcxHandler::canRead(&buf)) << bytes.size();
    }
    QBuffer buf;
    buf.setData(good);
    buf.open(QIODevice::ReadOnly);
    EXPECT_TRUE(PcxHandler::canRead(&buf));
    EXPECT_EQ(buf.pos(), 0);
    EXPECT_FALSE(PcxHandler::canRead(nullptr));
}

// Every cut of a file fails, on a random-access and on a sequential device.
TEST(PcxRead, TruncatedFilesFail)
{
    for (const char* name : {"MonoLsbTwoColours", "IndexedColour", "Gray", "Rgb32"}) {
        const QByteArray bytes = encode(makeImage(kind(name), {33, 17}));
        for (qsizetype cut = 0; cut < bytes.size(); ++cut) {
            ASSERT_FALSE(readPcx(bytes.left(cut)).ok) << "cut at " << cut << " of " << bytes.size();
            SequentialDevice dev(bytes.left(cut));
            ASSERT_FALSE(readPcx(&dev).ok) << "sequential cut at " << cut;
        }
    }
}

TEST(PcxRead, InvalidHeadersAndDataFail)
{
    struct Case {
        const char* name;
        const char* kindName;
        std::function<void(QByteArray&)> damage;
    };
    const Case cases[] = {
        {"not a PCX maker byte", "Gray", [](QByteArray& b) { b[0] = 0x0B; }},
        {"version 6", "Gray", [](QByteArray& b) { b[1] = 6; }},
        {"encoding 2", "Gray", [](QByteArray& b) { b[2] = 2; }},
        {"3 bits per pixel", "Gray", [](QByteArray& b) { b[3] = 3; }},
        {"2 planes of 8 bits", "Gray", [](QByteArray& b) { b[65] = 2; }},
        {"5 planes of 1 bit", "MonoBlackWhite", [](QByteArray& b) { b[65] = 5; }},
        {"no planes", "Rgb888", [](QByteArray& b) { b[65] = 0; }},
        {"xmax below xmin", "Gray", [](QByteArray& b) { put16(b, 4, 40); }},
        {"ymax below ymin", "Gray", [](QByteArray& b) { put16(b, 6, 40); }},
        {"width over 32767", "Gray", [](QByteArray& b) { put16(b, 4, -100); put16(b, 8, 32700); }},
        {"height over 32767", "Rgb888", [](QByteArray& b) { put16(b, 6, -1); put16(b, 10, 32767); }},
        {"bytes per line too small", "Rgb888", [](QByteArray& b) { put16(b, 66, 32); }},
        {"bytes per line zero", "MonoBlackWhite", [](QByteArray& b) { put16(b, 66, 0); }},
        {"bytes per line huge", "Rgb888", [](QByteArray& b) { put16(b, 66, 65535); }},
        {"height larger than the data", "MonoBlackWhite", [](QByteArray& b) { put16(b, 10, 30000); }},
        {"palette marker missing", "IndexedColour", [](QByteArray& b) { b[b.size() - 769] = 0; }},
        {"data runs into the palette", "IndexedColour", [](QByteArray& b) { b.remove(130, 40); }},
    };
    for (const Case& c : cases) {
        QByteArray bytes = encode(makeImage(kind(c.kindName), {33, 17}));
        c.damage(bytes);
        EXPECT_FALSE(readPcx(bytes).ok) << c.name;
        SequentialDevice dev(bytes);
        EXPECT_FALSE(readPcx(&dev).ok) << c.name << " (sequential)";
    }
}

// Damage that need not be detected must still give a whole image of the declared size.
TEST(PcxRead, CorruptedFilesNeverMisbehave)
{
    auto check = [](const QByteArray& bytes, const std::string& what) {
        const ReadResult r = readPcx(bytes);
        if (!r.ok)
            return;
        const auto* h = reinterpret_cast<const uchar*>(bytes.constData());
        const int w = qint16(h[8] | h[9] << 8) - qint16(h[4] | h[5] << 8) + 1;
        const int ht = qint16(h[10] | h[11] << 8) - qint16(h[6] | h[7] << 8) + 1;
        EXPECT_EQ(r.image.size(), QSize(w, ht)) << what;
    };
    std::mt19937 rng(12345);
    for (const char* name : {"MonoBlackWhite", "IndexedColour", "Rgb888"}) {
        const QByteArray good = encode(makeImage(kind(name), {33, 17}));
        for (int offset = 0; offset < 128; ++offset)
            for (int mask : {0x01, 0x80, 0xFF}) {
                QByteArray b = good;
                b[offset] = char(b[offset] ^ mask);
                check(b, "header byte " + std::to_string(offset));
            }
        // Runs of the longest kind everywhere: they overrun every line.
        QByteArray runs = good.left(128);
        for (int i = 0; i < 2000; ++i)
            runs += QByteArray("\xFF\x55", 2);
        check(runs, "overlong runs");
        check(runs + QByteArray(1, 0x0C) + QByteArray(768, 0), "overlong runs with palette");
        for (int i = 0; i < 300; ++i) {
            QByteArray b = good;
            const int flips = 1 + int(rng() % 8);
            for (int k = 0; k < flips; ++k)
                b[128 + qsizetype(rng() % quint32(b.size() - 128))] = char(rng());
            check(b, "body damage " + std::to_string(i));
        }
    }
}

TEST(PcxWrite, FailedDeviceWritesAreReported)
{
    for (const char* name : {"MonoWhiteBlack", "IndexedColour", "Rgb32"}) {
        const QImage img = makeImage(kind(name), {600, 200});
        const qsizetype full = encode(img).size();
        for (qint64 budget : {qint64(0), qint64(127), qint64(128), qint64(full / 2), qint64(full - 769), qint64(full - 1)}) {
            FailingDevice dev(budget);
            EXPECT_FALSE(writePcx(dev, img, 300, 300)) << name << " budget " << budget;
        }
        FailingDevice enough(full);
        EXPECT_TRUE(writePcx(enough, img, 300, 300)) << name;
    }
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    EXPECT_FALSE(writePcx(readOnly, makeImage(kind("Gray"), {9, 5}), 300, 300));
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    EXPECT_FALSE(writePcx(buf, QImage(), 300, 300));
    EXPECT_FALSE(writePcx(buf, QImage(32768, 1, QImage::Format_Mono), 300, 300));
}

} // namespace
