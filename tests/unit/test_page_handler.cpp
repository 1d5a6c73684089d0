// Pages handed to the page handler as the scanner would: the files it writes (checked by
// gm, tiffinfo and pcxtoppm), the PDF pages, the names, counters, windows and viewers.
#include "imaging/ImageFile.h"
#include "scan/PageHandler.h"
#include "support/Fakes.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

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
    int feed(int bits, int w = 61, int h = 47)
    {
        Bitmap page = Bitmap::fromImage(testPage(bits, w, h));
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
    settings.Resolution = 200.9; // stamped truncated: 200
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
        settings.TargetFileName = path(QStringLiteral("v01.PNG"));
        ASSERT_EQ(feed(8), 1);
        EXPECT_EQ(ui.openedWindows.size(), c.windows) << c.mode;
        ASSERT_EQ(launcher.viewers.size(), c.viewers) << c.mode;
        if (c.viewers) {
            EXPECT_EQ(launcher.viewers.first(), "eog --new-instance|" + path(QStringLiteral("v01.PNG")));
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
    EXPECT_EQ(filesIn(path(QStringLiteral("tmp"))), QStringList({"Scan0.BMP", "Scan1.BMP", "Scan2.BMP"}));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path(QStringLiteral("tmp/Scan1.BMP"))).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(identify(path(QStringLiteral("tmp/Scan1.BMP"))).bitsPerPixel, 1);
    EXPECT_FALSE(QFileInfo::exists(session.FirstPageFile)); // written only at the end

    pdf.WritePdfDocument(session.PdfDocument, QFile::encodeName(session.FirstPageFile), 0);
    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {session.FirstPageFile});
    EXPECT_TRUE(info.out.contains(QRegularExpression(QStringLiteral("Pages:\\s+3\\b")))) << info.out.toStdString();
}

TEST_F(PageHandlerTest, StoreFailuresAreReportedAndTheScanGoesOn)
{
    // A page that cannot be stored is never dropped silently: the message names the code.
    const QString link = path(QStringLiteral("tmp/Scan0.BMP"));
    const QString victim = path(QStringLiteral("victim.txt"));
    {
        QFile v(victim);
        ASSERT_TRUE(v.open(QIODevice::WriteOnly));
        v.write("keep");
    }
    ASSERT_TRUE(QFile::link(victim, link));

    const struct {
        const char* name;
        QString format;
        QString target;
        int startCounter;
        int code;
    } cases[] = {
        {"MissingDirectory", QStringLiteral("TIF"), path(QStringLiteral("nodir/a01.TIF")), 0, ERROR_FILE_CREATE},
        {"PdfWithoutDocument", QStringLiteral("PDF"), path(QStringLiteral("b01.PDF")), 2, ERROR_NO_PDF_DOCUMENT},
        {"SymbolicLinkAtBitmap", QStringLiteral("PDF"), path(QStringLiteral("c01.PDF")), 0, ERROR_SYMLINK},
    };
    for (const auto& c : cases) {
        ui.messages.clear();
        ui.openedWindows.clear();
        session = SessionState();
        session.PageCounter = c.startCounter;
        settings.OutputFormat = c.format;
        settings.TargetFileName = c.target;
        ASSERT_EQ(feed(24), 1) << c.name;
        ASSERT_EQ(ui.messages.size(), 1) << c.name;
        EXPECT_EQ(ui.messages.first().text, QStringLiteral("L_SaveBitmap fehlgeschlagen, Error No: %1").arg(c.code)) << c.name;
        EXPECT_EQ(ui.messages.first().caption, "Error!");
        EXPECT_EQ(ui.messages.first().flags, MB_OK);
        EXPECT_EQ(session.PageCounter, c.startCounter + 1) << c.name;
        EXPECT_NE(settings.TargetFileName, c.target) << c.name;
        EXPECT_EQ(ui.openedWindows.size(), c.format == QLatin1String("PDF") ? 0 : 1) << c.name;
    }
    QFile v(victim);
    ASSERT_TRUE(v.open(QIODevice::ReadOnly));
    EXPECT_EQ(v.readAll(), "keep");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(QDir(path(QStringLiteral("nodir"))).exists());
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

TEST(TemporaryDirectory, NeverTheRoot)
{
    const QByteArray saved = qgetenv("TMP");
    const struct {
        const char* value;
        bool root;
    } cases[] = {{"", false}, {"/", false}, {"/var/tmp/", false}};
    for (const auto& c : cases) {
        qputenv("TMP", c.value);
        const QString name = PageHandler::temporaryBitmapName(3);
        EXPECT_NE(name, "/Scan3.BMP") << c.value;
        EXPECT_TRUE(name.endsWith(QLatin1String("/Scan3.BMP"))) << c.value;
        EXPECT_FALSE(name.startsWith(QLatin1String("//")));
    }
    qputenv("TMP", "/var/tmp/");
    EXPECT_EQ(PageHandler::temporaryBitmapName(0), "/var/tmp/Scan0.BMP");
    qputenv("TMP", saved);
}
