// Pages handed to the page handler as the scanner would: the files it writes (checked by
// gm, tiffinfo and pcxtoppm), the PDF pages, the names, counters, windows and viewers.
#include "scan/SaveBitmap.h"
#include "imaging/ImageFile.h"
#include "platform/Paths.h"
#include "scan/PageHandler.h"
#include "support/System.h"
#include "support/Fakes.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <deque>
#include <limits>

using namespace kelvo;
using namespace kelvo::test;

namespace {

class PageHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkdir(QStringLiteral("tmp"));
        qputenv("TMP", QFile::encodeName(path(QStringLiteral("tmp"))));
    }
    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    // A page as the scanner layer hands it over, stamped with the resolution it was read at
    // (0: the one asked for).
    int feed(int bits, int w = 61, int h = 47, int dpi = 0)
    {
        QImage img = testPage(bits, w, h);
        const int used = dpi > 0 ? dpi : stampedResolution(settings.Resolution, 0);
        stampResolution(img, used, used);
        Bitmap page = Bitmap::fromImage(std::move(img));
        return handler.PageAcquired(page);
    }
    QStringList filesIn(const QString& d) const
    {
        return QDir(d).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    QTemporaryDir dir;
    ScanSettings settings;
    SessionState session;
    FakeUi ui;
    FakeLauncher launcher;
    PdfDocuments pdf{ui, launcher};
    PageHandler handler{settings, session, ui, launcher, pdf};
};

// Size of the global colour table a GIF file declares, read from its screen descriptor.
int gifColourTableEntries(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray h = f.read(13);
    if (h.size() < 13 || !h.startsWith("GIF"))
        return -1;
    const auto packed = static_cast<unsigned char>(h[10]);
    return (packed & 0x80) ? (2 << (packed & 7)) : 0;
}

} // namespace

TEST_F(PageHandlerTest, EveryFormatAndDepthIsStoredAsOtherProgramsSeeIt)
{
    const struct {
        const char* format;
        const char* gmFormat;
        int pageBits;
        int storedBits;
        bool hasResolution;
    } cases[] = {
        {"JPG", "JPEG", 8, 8, true},   {"JPG", "JPEG", 24, 24, true}, {"JPEG", "JPEG", 1, 8, true},
        {"PNG", "PNG", 1, 1, true},    {"PNG", "PNG", 8, 8, true},    {"PNG", "PNG", 24, 24, true},
        {"XYZ", "BMP", 1, 1, true},    {"XYZ", "BMP", 8, 8, true},    {"XYZ", "BMP", 24, 24, true},
        {"TIF", "TIFF", 1, 1, true},   {"TIF", "TIFF", 8, 8, true},   {"TIF", "TIFF", 24, 24, true},
        {"PCX", "PCX", 1, 1, true},    {"PCX", "PCX", 8, 8, true},    {"PCX", "PCX", 24, 24, true},
        {"GIF", "GIF", 1, 0, false},   {"GIF", "GIF", 8, 0, false},   {"GIF", "GIF", 24, 0, false},
    };
    settings.Resolution = 200.9; // the layer stamps its pages 200
    settings.ExitAfterRun = 1;
    for (const auto& c : cases) {
        const QString format = QString::fromLatin1(c.format);
        settings.OutputFormat = format;
        settings.TargetFileName = path(QStringLiteral("p%1_01.x").arg(c.pageBits));
        ASSERT_EQ(feed(c.pageBits), 1);
        const QString written = path(QStringLiteral("p%1_01.%2").arg(c.pageBits).arg(format));
        ASSERT_TRUE(QFileInfo::exists(written)) << written.toStdString();
        EXPECT_EQ(session.LastPageFile, written);

        const Identified id = identify(written);
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.pageBits) + ": " + id.raw.toStdString());
        EXPECT_EQ(id.format, QLatin1String(c.gmFormat));
        EXPECT_EQ(id.width, 61);
        EXPECT_EQ(id.height, 47);
        if (c.storedBits) {
            EXPECT_EQ(id.bitsPerPixel, c.storedBits);
        } else {
            EXPECT_EQ(gifColourTableEntries(written), 256); // always 8 bits per pixel
        }
        if (c.hasResolution) {
            EXPECT_NEAR(id.xDpi, 200, 0.5);
            EXPECT_NEAR(id.yDpi, 200, 0.5);
        }
        if (format == QLatin1String("TIF")) {
            const ToolResult info = runTool(QStringLiteral("tiffinfo"), {written});
            EXPECT_TRUE(info.out.contains(c.pageBits == 1 ? QLatin1String("CCITT Group 4") : QLatin1String("LZW")))
                << info.out.toStdString();
            EXPECT_TRUE(info.out.contains(QLatin1String("Resolution: 200, 200 pixels/inch"))) << info.out.toStdString();
        }
        if (format == QLatin1String("PCX")) {
            const ToolResult ppm = runTool(QStringLiteral("pcxtoppm"), {written});
            EXPECT_EQ(ppm.exitCode, 0) << ppm.out.left(200).toStdString();
            EXPECT_TRUE(ppm.out.contains(QLatin1String("61 47"))) << ppm.out.left(40).toStdString();
        }
    }
    EXPECT_TRUE(ui.messages.isEmpty());
    // Nothing but the pages themselves: no temporary files left behind.
    for (const QString& f : filesIn(dir.path()))
        EXPECT_FALSE(f.startsWith(QLatin1Char('.'))) << f.toStdString();
}

TEST_F(PageHandlerTest, DefaultNameCountsAndShowsEachPage)
{
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(feed(24), 1);
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Bild01.JPG"))));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Bild09.JPG"))));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("Bild0A.JPG"))));
    EXPECT_EQ(settings.TargetFileName, "Bild0B.JPG");
    EXPECT_EQ(session.PageCounter, 10);
    EXPECT_EQ(session.FirstPageFile, "Bild01.JPG");
    EXPECT_EQ(session.LastPageFile, "Bild0A.JPG");
    ASSERT_EQ(ui.openedWindows.size(), 10);
    EXPECT_EQ(ui.openedWindows.first(), "Bild01.JPG");
    // Without a viewer mode, every page goes to the viewer program (here: none given).
    ASSERT_EQ(launcher.viewers.size(), 10);
    EXPECT_EQ(launcher.viewers.at(9), "|Bild0A.JPG");
    EXPECT_EQ(ui.cursorDepth, 0);
    const Identified id = identify(path(QStringLiteral("Bild01.JPG")));
    EXPECT_EQ(id.format, "JPEG");
    EXPECT_EQ(id.xDpi, 150);
}

TEST_F(PageHandlerTest, ViewerModesAndUnattendedRuns)
{
    const struct {
        char mode;
        uint8_t exitAfterRun;
        int windows;
        int viewers;
    } cases[] = {{0, 0, 1, 1}, {0, 1, 0, 1}, {'1', 0, 1, 0}, {'L', 1, 0, 0}, {'-', 0, 1, 0}};
    for (const auto& c : cases) {
        ui.openedWindows.clear();
        launcher.viewers.clear();
        settings.ViewerMode = c.mode;
        settings.ViewerProgram = QStringLiteral("eog --new-instance");
        settings.ExitAfterRun = c.exitAfterRun;
        settings.TargetFileName = path(QStringLiteral("v%1_01.PNG").arg(int(&c - cases)));
        ASSERT_EQ(feed(8), 1);
        EXPECT_EQ(ui.openedWindows.size(), c.windows) << c.mode;
        ASSERT_EQ(launcher.viewers.size(), c.viewers) << c.mode;
        if (c.viewers) {
            EXPECT_EQ(launcher.viewers.first(), "eog --new-instance|" + path(QStringLiteral("v%1_01.PNG").arg(int(&c - cases))));
        }
    }
}

TEST_F(PageHandlerTest, PdfPagesGoThroughPrivateBitmapsIntoOneDocument)
{
    settings.OutputFormat = QStringLiteral("PDF");
    settings.TargetFileName = path(QStringLiteral("Akte01.PDF"));
    for (int bits : {24, 1, 8})
        ASSERT_EQ(feed(bits), 1);
    EXPECT_NE(session.PdfDocument, 0);
    EXPECT_EQ(session.PageCounter, 3);
    EXPECT_EQ(session.FirstPageFile, path(QStringLiteral("Akte01.PDF")));
    EXPECT_EQ(session.LastPageFile, session.FirstPageFile);
    EXPECT_EQ(settings.TargetFileName, path(QStringLiteral("Akte04.PDF")));
    EXPECT_TRUE(ui.openedWindows.isEmpty());
    EXPECT_TRUE(launcher.viewers.isEmpty());
    EXPECT_TRUE(ui.messages.isEmpty());
    // The bitmaps live in a directory of this process alone, inside TMP.
    const QStringList own = QDir(path(QStringLiteral("tmp"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(own.size(), 1);
    const QString privateDir = path(QStringLiteral("tmp/") + own.first());
    EXPECT_EQ(privateDir, privateTempDir());
    EXPECT_EQ(filesIn(privateDir), QStringList({"Scan0.BMP", "Scan1.BMP", "Scan2.BMP"}));
    EXPECT_TRUE(privateToUser(privateDir));
    EXPECT_TRUE(privateToUser(privateDir + QStringLiteral("/Scan1.BMP")));
    EXPECT_EQ(identify(privateDir + QStringLiteral("/Scan1.BMP")).bitsPerPixel, 1);
    EXPECT_FALSE(QFileInfo::exists(session.FirstPageFile)); // written only at the end

    pdf.WritePdfDocument(session.PdfDocument, QFile::encodeName(session.FirstPageFile), 0);
    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {session.FirstPageFile});
    EXPECT_TRUE(info.out.contains(QRegularExpression(QStringLiteral("Pages:\\s+3\\b")))) << info.out.toStdString();
    removePrivateTempDir();
    EXPECT_FALSE(QFileInfo::exists(privateDir));
}

TEST_F(PageHandlerTest, StoreFailuresAreReportedNotCountedAndTheScanGoesOn)
{
    // A page that cannot be stored is never dropped silently: the message names the code. It
    // is not counted, opens no window, and the next page takes the next name.
    const struct {
        const char* name;
        QString format;
        QString target;
        QByteArray tmp;
        int code;
    } cases[] = {
        {"MissingDirectory", QStringLiteral("TIF"), path(QStringLiteral("nodir/a01.TIF")), {}, ERROR_FILE_CREATE},
        {"NoTemporaryDirectory", QStringLiteral("PDF"), path(QStringLiteral("c01.PDF")),
         QFile::encodeName(path(QStringLiteral("notmp"))), ERROR_FILE_CREATE},
    };
    for (const auto& c : cases) {
        ui.messages.clear();
        ui.openedWindows.clear();
        session = SessionState();
        session.FirstPageFile = QStringLiteral("earlier.JPG");
        session.LastPageFile = QStringLiteral("earlier.JPG");
        if (!c.tmp.isEmpty())
            qputenv("TMP", c.tmp);
        removePrivateTempDir();
        settings.OutputFormat = c.format;
        settings.TargetFileName = c.target;
        ASSERT_EQ(feed(24), 1) << c.name;
        ASSERT_EQ(ui.messages.size(), 1) << c.name;
        EXPECT_EQ(ui.messages.first().text, QStringLiteral("L_SaveBitmap fehlgeschlagen, Error No: %1").arg(c.code)) << c.name;
        EXPECT_EQ(ui.messages.first().caption, "Error!");
        EXPECT_EQ(ui.messages.first().flags, MB_OK);
        EXPECT_EQ(session.PageCounter, 0) << c.name;
        EXPECT_FALSE(session.PageStored) << c.name;
        EXPECT_EQ(session.LastPageFile, "earlier.JPG") << c.name;
        EXPECT_NE(settings.TargetFileName, c.target) << c.name;
        EXPECT_TRUE(ui.openedWindows.isEmpty()) << c.name;
        if (session.PdfDocument != 0) {
            // The PDF holds no page: it is not written, and says so.
            EXPECT_EQ(pdf.WritePdfDocument(session.PdfDocument, QFile::encodeName(path(QStringLiteral("c01.PDF"))), 0), 0);
        }
    }
    EXPECT_FALSE(QDir(path(QStringLiteral("nodir"))).exists());
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("c01.PDF"))));
}

TEST_F(PageHandlerTest, NoPageReplacesAFileOfThisRunOrOneTheUserKeeps)
{
    const auto touch = [&](const QString& name) {
        QFile f(path(name));
        return f.open(QIODevice::WriteOnly) && f.write("old") == 3;
    };
    const struct {
        const char* name;
        uint8_t exitAfterRun;
        std::deque<int> answers;
        QStringList existing;   // files there before the session
        int pages;
        QStringList written;    // names the pages were stored under, in order
        int questions;
    } cases[] = {
        // A one-character stem wraps after 36 names: the 37th page finds no name of its own
        // and is reported, instead of replacing the first.
        {"Wrap", 1, {}, {}, 37, {}, 1},
        // Unattended runs replace files of earlier runs, as callers rely on.
        {"UnattendedReplaces", 1, {}, {"u1.PNG", "u2.PNG"}, 2, {"u1.PNG", "u2.PNG"}, 0},
        {"AskedYes", 0, {IDYES}, {"y1.PNG", "y2.PNG"}, 2, {"y1.PNG", "y2.PNG"}, 1},
        {"AskedNo", 0, {IDNO}, {"n1.PNG", "n3.PNG"}, 3, {"n2.PNG", "n4.PNG", "n5.PNG"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        session = SessionState();
        ui.messages.clear();
        ui.answers = c.answers;
        handler.beginSession();
        settings.ExitAfterRun = c.exitAfterRun;
        settings.OutputFormat = QStringLiteral("PNG");
        for (const QString& e : c.existing)
            ASSERT_TRUE(touch(e));
        const QString stem = c.existing.isEmpty() ? QString() : c.existing.first().left(1);
        settings.TargetFileName = c.existing.isEmpty() ? path(QStringLiteral("Z.PNG")) : path(stem + QStringLiteral("1.PNG"));
        QStringList stored;
        for (int i = 0; i < c.pages; ++i) {
            feed(8, 8, 8);
            stored << QFileInfo(session.LastPageFile).fileName();
        }
        if (c.existing.isEmpty()) {
            EXPECT_EQ(session.PageCounter, 36);
            EXPECT_EQ(QSet<QString>(stored.begin(), stored.end()).size(), 36);
            EXPECT_EQ(stored.first(), "Z.PNG");
            ASSERT_EQ(ui.messages.size(), 1);
            EXPECT_EQ(ui.messages.first().text, "L_SaveBitmap fehlgeschlagen, Error No: -14");
            continue;
        }
        EXPECT_EQ(session.PageCounter, c.pages);
        EXPECT_EQ(stored, c.written);
        EXPECT_EQ(ui.messages.size(), c.questions);
        if (c.questions) {
            EXPECT_EQ(ui.messages.first().text, "Die Datei „" + path(stem + "1.PNG") + "“ existiert bereits. Vorhandene Dateien ersetzen?");
            EXPECT_EQ(ui.messages.first().flags, MB_YESNO);
        }
        for (const QString& e : c.existing) {
            if (!c.written.contains(e)) {
                EXPECT_EQ(QFileInfo(path(e)).size(), 3) << e.toStdString();
            }
        }
    }
}

TEST_F(PageHandlerTest, StartValueCountingAndTheResolutionTheScannerUsed)
{
    // A start value opens the PDF like any other first page; the count never wraps.
    session.PageCounter = std::numeric_limits<int32_t>::max() - 1;
    settings.OutputFormat = QStringLiteral("PDF");
    settings.TargetFileName = path(QStringLiteral("s01.PDF"));
    settings.Resolution = 250;
    feed(24, 300, 300, 300); // the device rounded 250 up
    feed(8);
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.first().text.toStdString();
    EXPECT_EQ(session.PageCounter, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(session.FirstPageFile, path(QStringLiteral("s01.PDF")));
    ASSERT_EQ(pdf.WritePdfDocument(session.PdfDocument, QFile::encodeName(session.FirstPageFile), 0), 1);
    // 300 pixels at 300 dpi: one inch wide, not 1.2.
    const ToolResult images = runTool(QStringLiteral("pdfimages"), {"-list", session.FirstPageFile});
    EXPECT_TRUE(images.out.contains(QRegularExpression(QStringLiteral("\\b300\\s+300\\s+rgb.*\\b300\\s+300\\b"))))
        << images.out.toStdString();
}

TEST_F(PageHandlerTest, InvertsWhenAsked)
{
    settings.InvertImage = 1;
    settings.OutputFormat = QStringLiteral("PNG");
    const struct {
        int bits;
        QImage::Format format;
    } cases[] = {{1, QImage::Format_Mono}, {8, QImage::Format_Grayscale8}, {24, QImage::Format_RGB888}};
    for (const auto& c : cases) {
        QImage white(20, 10, c.format);
        if (c.bits == 1)
            white.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        white.fill(c.bits == 1 ? 1u : 0xffffffffu);
        if (c.bits != 1)
            white.fill(Qt::white);
        settings.TargetFileName = path(QStringLiteral("inv%1_01.PNG").arg(c.bits));
        Bitmap page = Bitmap::fromImage(white);
        handler.PageAcquired(page);
        const QImage back(path(QStringLiteral("inv%1_01.PNG").arg(c.bits)));
        ASSERT_FALSE(back.isNull()) << c.bits;
        EXPECT_EQ(qGray(back.pixel(5, 5)), 0) << c.bits;
    }
}

TEST(TemporaryDirectory, PrivateAndNeverTheRoot)
{
    const QByteArray saved = qgetenv("TMP");
    const struct {
        const char* value;
        const char* parent;
    } cases[] = {{"", nullptr}, {"/", nullptr}, {"/var/tmp/", "/var/tmp"}};
    for (const auto& c : cases) {
        qputenv("TMP", c.value);
        EXPECT_NE(tempDir(), "/") << c.value;
        const QString name = PageHandler::temporaryBitmapName(3);
        const QString dir = QFileInfo(name).path();
        EXPECT_TRUE(name.endsWith(QLatin1String("/Scan3.BMP"))) << c.value;
        EXPECT_NE(QFileInfo(dir).path(), "/") << c.value;
        if (c.parent) {
            EXPECT_EQ(QFileInfo(dir).path(), c.parent);
        }
        EXPECT_TRUE(privateToUser(dir)) << c.value;
        // Two runs never share it: a new one after removal, under another name.
        removePrivateTempDir();
        EXPECT_FALSE(QFileInfo::exists(dir));
        EXPECT_NE(QFileInfo(PageHandler::temporaryBitmapName(3)).path(), dir);
        removePrivateTempDir();
    }
    qputenv("TMP", saved);
}
