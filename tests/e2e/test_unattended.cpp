// The built program run as a calling application runs it: unattended, without a display, on
// the virtual scanner. Checks the stored files with gm/pdfinfo, the hand-off file's bytes and
// what was written to standard error.
#include "support/Fakes.h"
#include "support/Program.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace kelvo::test;

namespace {

class Unattended : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(QStringLiteral(KELVO_BINARY_DIR "/KelvoBild")));
        QDir(dir.path()).mkdir(QStringLiteral("out"));
    }
    QString out(const QString& name) const { return dir.path() + QStringLiteral("/out/") + name; }
    ProgramRun run(const QStringList& args, const QString& saneOptions, const QMap<QString, QString>& more = {})
    {
        QMap<QString, QString> env = more;
        env.insert(QStringLiteral("KELVO_SANE_OPTIONS"), saneOptions);
        ProgramRun r = runProgram(dir.path(), args, env);
        files = filesIn(dir.path() + QStringLiteral("/out"));
        return r;
    }
    QStringList files;
    QTemporaryDir dir;
};

} // namespace

TEST_F(Unattended, TenFeederPagesAsJpegFiles)
{
    const ProgramRun r = run({"-S", "/X", "/P150", out(QStringLiteral("Bild01.JPG"))}, "test-picture=Color pattern");
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    EXPECT_TRUE(r.messages.isEmpty()) << r.stderrText.toStdString();
    EXPECT_EQ(files, QStringList({"Bild01.JPG", "Bild02.JPG", "Bild03.JPG", "Bild04.JPG", "Bild05.JPG",
                                    "Bild06.JPG", "Bild07.JPG", "Bild08.JPG", "Bild09.JPG", "Bild0A.JPG"}));
    for (const QString& f : files) {
        const Identified id = identify(out(f));
        EXPECT_EQ(id.format, "JPEG") << f.toStdString();
        EXPECT_NEAR(id.width, 1240, 1);
        EXPECT_NEAR(id.height, 1712, 1);
        EXPECT_EQ(id.bitsPerPixel, 24);
        EXPECT_NEAR(id.xDpi, 150, 0.5);
    }
    EXPECT_EQ(r.handOff, QFile::encodeName(out(QStringLiteral("Bild0A.JPG"))) + "'10'S");
}

TEST_F(Unattended, GrayPagesIntoOnePdf)
{
    const ProgramRun r = run({"-S", "/X", "/G", "/P100", "/CPDF", out(QStringLiteral("Akte01.pdf"))}, "test-picture=Grid");
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    // The question is answered No without a display, so the document is written.
    EXPECT_EQ(r.messages, QStringList({"Scan in PDF: Weitere Seite(n) scannen?"}));
    // The format name given by /C replaces the typed extension.
    EXPECT_EQ(files, QStringList({"Akte01.PDF"}));
    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {out(QStringLiteral("Akte01.PDF"))});
    EXPECT_TRUE(info.out.contains(QRegularExpression(QStringLiteral("Pages:\\s+10\\b")))) << info.out.toStdString();
    const ToolResult images = runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), out(QStringLiteral("Akte01.PDF"))});
    EXPECT_EQ(images.out.count(QRegularExpression(QStringLiteral("\\bjpeg\\s+1\\s+8\\b|gray\\s+1\\s+8\\s+jpeg"))), 10)
        << images.out.toStdString();
    EXPECT_EQ(r.handOff, QFile::encodeName(out(QStringLiteral("Akte01.PDF"))) + "'1'S");
}

TEST_F(Unattended, ScannerFaultsAreReportedAndStoredPagesHandedOff)
{
    const struct {
        const char* name;
        QByteArray options;
        QString config;
        int code;
    } cases[] = {
        {"Jammed", "read-return-value=SANE_STATUS_JAMMED", QStringLiteral(KELVO_SOURCE_DIR "/sane"), -104},
        {"IoError", "read-return-value=SANE_STATUS_IO_ERROR", QStringLiteral(KELVO_SOURCE_DIR "/sane"), -106},
        {"NoScanner", "", dir.path() + QStringLiteral("/out"), -101},
    };
    for (const auto& c : cases) {
        const ProgramRun r = run({"-S", "/X", out(QStringLiteral("F01.TIF"))}, QString::fromLatin1(c.options),
                                 {{QStringLiteral("SANE_CONFIG_DIR"), c.config}});
        ASSERT_EQ(r.exitCode, 0) << c.name << r.stderrText.toStdString();
        EXPECT_EQ(r.messages,
                  QStringList({QStringLiteral("Error!: An error occurred in L_TwainAcquire(...), Error No: %1").arg(c.code)}))
            << c.name;
        EXPECT_TRUE(files.isEmpty()) << c.name;
        EXPECT_EQ(r.handOff, "'0'S") << c.name;
    }
}

TEST_F(Unattended, OddTargetsStoreEveryPageOrAnswerTheCaller)
{
    // A name as long as the file system allows is stored page by page; a command line that
    // is refused scans nothing but still hands off, so a waiting caller is not left waiting.
    const QString longest = QString(246, QLatin1Char('L')) + QStringLiteral("01.JPG");  // 252 bytes
    const struct {
        const char* name;
        QStringList args;
        int pages;
        QByteArray handOff;
    } cases[] = {
        {"LongestName", {"-S", "/X", "/P50", longest}, 10, QFile::encodeName(longest.left(246) + QStringLiteral("0A.JPG")) + "'10'S"},
        {"NameTooLong", {"-S", "/X", "/P50", out(QString(256, QLatin1Char('N')) + QStringLiteral("01.JPG"))}, 0, "'0'S"},
        {"NumberThatDoesNotConvert", {"-S", "/X", "/Pabc", out(QStringLiteral("Z01.JPG"))}, 0, "'0'S"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ProgramRun r = run(c.args, "test-picture=Grid");
        EXPECT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
        EXPECT_EQ(r.handOff, c.handOff) << r.stderrText.toStdString();
        QStringList stored = filesIn(dir.path()).filter(QRegularExpression(QStringLiteral("^L+0.\\.JPG$")));
        EXPECT_EQ(stored.size() + files.size(), c.pages);
        EXPECT_TRUE(filesIn(dir.path()).filter(QRegularExpression(QStringLiteral("^\\."))).isEmpty());
        for (const QString& f : stored)
            QFile::remove(dir.path() + QLatin1Char('/') + f);
    }
}

TEST_F(Unattended, WithoutADisplaySourceListAndOptionsDialogAreSkipped)
{
    const ProgramRun r = run({"-S", "/S", "/J", "/X", "/G", "/P50", out(QStringLiteral("K01.JPG"))}, "test-picture=Grid");
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    EXPECT_EQ(r.messages, QStringList({"Keine Anzeige: Scannerauswahl (/S) übersprungen, der voreingestellte Scanner wird verwendet",
                                       "Keine Anzeige: Scanner-Einstellungen (/J) übersprungen"}))
        << r.stderrText.toStdString();
    EXPECT_EQ(files.size(), 10);
    EXPECT_EQ(r.handOff, QFile::encodeName(out(QStringLiteral("K0A.JPG"))) + "'10'S");
}

// Without a usable display, a mode that waits for a user says in one line why it ends, and
// ends with 0 instead of running until it is killed.
TEST_F(Unattended, InteractiveModesWithoutADisplaySayWhyAndEnd)
{
    const QString page = out(QStringLiteral("seite.png"));
    ASSERT_TRUE(QImage(20, 10, QImage::Format_RGB32).save(page));
    const struct {
        QStringList args;
        QMap<QString, QString> env;
        QString line;
    } cases[] = {
        {{page}, {}, "Keine Anzeige (DISPLAY und WAYLAND_DISPLAY sind nicht gesetzt): „" + page + "“ kann nicht angezeigt werden, das Programm endet."},
        {{page}, {{QStringLiteral("DISPLAY"), QStringLiteral(":199")}},
         "Keine Anzeige (die Anzeige „:199“ antwortet nicht): „" + page + "“ kann nicht angezeigt werden, das Programm endet."},
        {{}, {}, "Keine Anzeige (DISPLAY und WAYLAND_DISPLAY sind nicht gesetzt): ohne Fenster gibt es nichts anzuzeigen, das Programm endet."},
        {{"-S"}, {}, "Keine Anzeige (DISPLAY und WAYLAND_DISPLAY sind nicht gesetzt): -S ohne /X wartet auf einen Klick auf Scannen, das Programm endet; unbeaufsichtigt scannt -S /X."},
        {{"-A"}, {}, "Parameter: -A (Audio) wird noch nicht unterstützt!"},
        {{"-C", page}, {}, "Parameter: -C (Clipboard/Grabber) wird noch nicht unterstützt!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        std::unique_ptr<QProcess> p(startProgram(dir.path(), c.args, c.env));
        const ProgramRun r = finishProgram(*p, dir.path(), {}, 30000);
        EXPECT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
        EXPECT_EQ(r.messages, QStringList{c.line});
        EXPECT_EQ(r.handOff, "<none>");
    }
}
