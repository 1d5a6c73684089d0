// The built program against a network (eSCL) scanner through SANE's airscan backend: a
// simulated scanner on 127.0.0.1, reached through a private SANE configuration with discovery
// off. Checks what the program asked the scanner for (source, colour mode, resolution, area,
// duplex), the pages stored (format, depth, size, which sheet and side in which order), the
// hand-off and the messages, also when the feeder is empty, a sheet is blank, the scanner
// falls silent or the connection drops.
#include "support/EsclSimulator.h"
#include "support/Fakes.h"
#include "support/Program.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace kelvo::test;

namespace {

const QString kAcquireError = QStringLiteral("Error!: An error occurred in L_TwainAcquire(...), Error No: %1");
const QString kPdfQuestion = QStringLiteral("Scan in PDF: Weitere Seite(n) scannen?");

bool airscanInstalled()
{
    return QFile::exists(QStringLiteral("/usr/lib/x86_64-linux-gnu/sane/libsane-airscan.so.1"))
        || !QDir(QStringLiteral("/usr/lib")).entryList({QStringLiteral("libsane-airscan*")}).isEmpty()
        || runTool(QStringLiteral("sh"), {"-c", "ls /usr/lib/*/sane/libsane-airscan.so* >/dev/null 2>&1"}).exitCode == 0;
}

// A stored page as an image: Qt reads most formats itself, GraphicsMagick the rest (PCX).
QImage loadPage(const QString& file)
{
    QImage img(file);
    if (!img.isNull())
        return img;
    const ToolOutput png = runToolRaw(QStringLiteral("gm"), {QStringLiteral("convert"), file, QStringLiteral("png:-")});
    img.loadFromData(png.out, "PNG");
    return img;
}

class Airscan : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!airscanInstalled())
            GTEST_SKIP() << "sane-airscan is not installed (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(QFile::exists(QStringLiteral(KELVO_BINARY_DIR "/KelvoBild")));
        ASSERT_TRUE(scanner.start()) << "cannot listen on 127.0.0.1";
        ASSERT_TRUE(scanner.writeSaneConfig(dir.path() + QStringLiteral("/sane")));
        QDir(dir.path()).mkdir(QStringLiteral("out"));
    }
    void TearDown() override { scanner.stop(); }

    QString out(const QString& name = {}) const { return dir.path() + QStringLiteral("/out/") + name; }
    ProgramRun run(const QStringList& args, const QMap<QString, QString>& more = {})
    {
        QMap<QString, QString> env = more;
        env.insert(QStringLiteral("SANE_CONFIG_DIR"), dir.path() + QStringLiteral("/sane"));
        ProgramRun r = runProgram(dir.path(), args, env);
        files = filesIn(out());
        return r;
    }
    QByteArray handOff(const QString& file, int count) const
    {
        return (file.isEmpty() ? QByteArray() : QFile::encodeName(out(file))) + '\'' + QByteArray::number(count) + "'S";
    }

    QTemporaryDir dir;
    EsclSimulator scanner;
    QStringList files;
};

} // namespace

// Every run that stores image files: what was asked for, and what came back.
TEST_F(Airscan, SettingsAndPagesForEachSwitch)
{
    const struct Case {
        const char* name;
        QStringList args;
        QString options;  // KELVO_SANE_OPTIONS
        int sheets;
        // Expected request
        const char* source;
        const char* colorMode;
        int resolution;
        bool duplex;
        int regionWidth;   // 1/300 inch, ±2
        int regionHeight;
        // Expected pages
        const char* extension;
        const char* format;
        int bitsPerPixel;
        std::vector<PageMark> marks;
    } cases[] = {
        {"FeederColour", {"/R", "/P150"}, {}, 3, "Feeder", "RGB24", 150, false, 2480, 3425, "JPG", "JPEG", 24,
         {{true, 1, false}, {true, 2, false}, {true, 3, false}}},
        {"Flatbed", {"/P100"}, QStringLiteral("source=Flatbed"), 3, "Platen", "RGB24", 100, false, 2480, 3425, "JPG", "JPEG", 24,
         {{true, 1, false}}},
        {"Gray", {"/G", "/P75"}, {}, 2, "Feeder", "Grayscale8", 75, false, 2480, 3425, "JPG", "JPEG", 8,
         {{true, 1, false}, {true, 2, false}}},
        // No lineart through airscan: gray from the scanner, 1 bit made here, stored as PCX.
        {"OneBit", {"/B", "/P75"}, {}, 2, "Feeder", "Grayscale8", 75, false, 2480, 3425, "PCX", "PCX", 1,
         {{true, 1, false}, {true, 2, false}}},
        {"At300", {"/G", "/P300"}, {}, 1, "Feeder", "Grayscale8", 300, false, 2480, 3425, "JPG", "JPEG", 8,
         {{true, 1, false}}},
        // 250 dpi is not offered: the nearer (on a tie the finer) of 200 and 300.
        {"NotOffered", {"/G", "/P250"}, {}, 1, "Feeder", "Grayscale8", 300, false, 2480, 3425, "JPG", "JPEG", 8,
         {{true, 1, false}}},
        {"Frame", {"/G", "/P100", "/F10X15"}, {}, 1, "Feeder", "Grayscale8", 100, false, 1181, 1772, "JPG", "JPEG", 8,
         {{true, 1, false}}},
        {"Duplex", {"/G", "/P75", "/Z"}, {}, 2, "Feeder", "Grayscale8", 75, true, 2480, 3425, "JPG", "JPEG", 8,
         {{true, 1, false}, {true, 1, true}, {true, 2, false}, {true, 2, true}}},
        // No transparency unit on this scanner: the scan goes on from the feeder.
        {"NoTransparencyUnit", {"/D", "/G", "/P75"}, {}, 1, "Feeder", "Grayscale8", 75, false, 2480, 3425, "JPG", "JPEG",
         8, {{true, 1, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& f : filesIn(out()))
            QFile::remove(out(f));
        scanner.setSheets(c.sheets);
        const int before = static_cast<int>(scanner.scanSettings().size());
        QStringList args = {"-S", "/X"};
        args += c.args;
        args << out(QStringLiteral("Bild01.JPG"));
        const ProgramRun r = run(args, {{QStringLiteral("KELVO_SANE_OPTIONS"), c.options}});
        ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
        EXPECT_TRUE(r.messages.isEmpty()) << r.stderrText.toStdString() << scanner.requests().join('\n').toStdString();

        const std::vector<EsclScanSettings> asked = scanner.scanSettings();
        ASSERT_GT(static_cast<int>(asked.size()), before);
        const EsclScanSettings& s = asked[static_cast<size_t>(before)];
        EXPECT_EQ(s.inputSource, QLatin1String(c.source));
        EXPECT_EQ(s.colorMode, QLatin1String(c.colorMode));
        EXPECT_EQ(s.xResolution, c.resolution);
        EXPECT_EQ(s.yResolution, c.resolution);
        EXPECT_EQ(s.duplex, c.duplex);
        EXPECT_EQ(s.xOffset, 0);
        EXPECT_EQ(s.yOffset, 0);
        EXPECT_NEAR(s.width, c.regionWidth, 2);
        EXPECT_NEAR(s.height, c.regionHeight, 2);

        ASSERT_EQ(files.size(), static_cast<qsizetype>(c.marks.size())) << files.join(' ').toStdString();
        for (size_t i = 0; i < c.marks.size(); ++i) {
            const QString name = QStringLiteral("Bild0%1.%2").arg(i + 1).arg(QLatin1String(c.extension));
            ASSERT_EQ(files[static_cast<qsizetype>(i)], name);
            const Identified id = identify(out(name));
            EXPECT_EQ(id.format, QLatin1String(c.format)) << id.raw.toStdString();
            EXPECT_EQ(id.bitsPerPixel, c.bitsPerPixel) << id.raw.toStdString();
            EXPECT_NEAR(id.width, c.regionWidth * c.resolution / 300, 2);
            EXPECT_NEAR(id.height, c.regionHeight * c.resolution / 300, 2);
            const PageMark m = readPageMark(loadPage(out(name)));
            EXPECT_EQ(m.sheet, c.marks[i].sheet) << name.toStdString();
            EXPECT_EQ(m.back, c.marks[i].back) << name.toStdString();
            EXPECT_TRUE(m.valid);
        }
        EXPECT_EQ(r.handOff, handOff(files.value(files.size() - 1), static_cast<int>(files.size())));
        scanner.setSheets(0);
    }
}

TEST_F(Airscan, BlankSheetIsDroppedWithSlashL)
{
    scanner.setSheets(3);
    scanner.setBlankSheet(2);
    const ProgramRun r = run({"-S", "/X", "/G", "/P75", "/L", out(QStringLiteral("Bild01.JPG"))});
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    EXPECT_TRUE(r.messages.isEmpty()) << r.stderrText.toStdString();
    ASSERT_EQ(files, QStringList({"Bild01.JPG", "Bild02.JPG"}));
    EXPECT_EQ(readPageMark(loadPage(out(files[0]))).sheet, 1);
    EXPECT_EQ(readPageMark(loadPage(out(files[1]))).sheet, 3);
    EXPECT_EQ(scanner.pagesServed(), 3);
    EXPECT_EQ(r.handOff, handOff(QStringLiteral("Bild02.JPG"), 2));
}

TEST_F(Airscan, FeederBatchIntoOnePdf)
{
    scanner.setSheets(3);
    const ProgramRun r = run({"-S", "/X", "/G", "/P75", "/CPDF", out(QStringLiteral("Akte01.PDF"))});
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    EXPECT_EQ(r.messages, QStringList({kPdfQuestion})) << r.stderrText.toStdString();
    ASSERT_EQ(files, QStringList({"Akte01.PDF"}));
    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {out(QStringLiteral("Akte01.PDF"))});
    EXPECT_TRUE(info.out.contains(QRegularExpression(QStringLiteral("Pages:\\s+3\\b")))) << info.out.toStdString();
    EXPECT_EQ(r.handOff, handOff(QStringLiteral("Akte01.PDF"), 1));
}

// Faults: each ends with its code and hands off exactly the pages stored before it.
TEST_F(Airscan, EmptyFeederSilenceAndDroppedConnection)
{
    const struct {
        const char* name;
        int sheets;
        int stallAfter;
        int dropAfter;
        int code;
        int stored;
    } cases[] = {
        {"EmptyFeeder", 0, -1, -1, -103, 0},
        {"SilentAfterTwoPages", 4, 2, -1, -106, 2},
        {"DroppedAfterTwoPages", 4, -1, 2, -106, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scanner.stop();
        for (const QString& f : filesIn(out()))
            QFile::remove(out(f));
        // A fresh scanner each time: the page counts for silence and cut start at 0.
        EsclSimulator fresh;
        ASSERT_TRUE(fresh.start());
        ASSERT_TRUE(fresh.writeSaneConfig(dir.path() + QStringLiteral("/sane")));
        fresh.setSheets(c.sheets);
        fresh.stallAfterPages(c.stallAfter);
        fresh.dropAfterPages(c.dropAfter);
        const ProgramRun r = run({"-S", "/X", "/G", "/P75", out(QStringLiteral("Bild01.JPG"))},
                                 {{QStringLiteral("KELVO_SANE_STALL_SECONDS"), QStringLiteral("3")}});
        ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
        EXPECT_EQ(r.messages, QStringList({kAcquireError.arg(c.code)})) << r.stderrText.toStdString();
        EXPECT_EQ(files.size(), c.stored) << files.join(' ').toStdString();
        for (int i = 0; i < std::min<int>(c.stored, static_cast<int>(files.size())); ++i)
            EXPECT_EQ(readPageMark(loadPage(out(files[i]))).sheet, i + 1);
        EXPECT_EQ(r.handOff, c.stored ? handOff(files.value(files.size() - 1), c.stored) : QByteArray("'0'S"));
        fresh.stop();
    }
}
