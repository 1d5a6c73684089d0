// Faults as offices meet them, with the built program run unattended: every status the
// virtual scanner can inject, in image-file and PDF mode; a read-only and a full target
// file system; an existing hand-off file; a symbolic link at a temporary page bitmap.
// Each gives its message and code, hands off exactly what was stored, and leaves no
// half-written file.
#include "support/Fakes.h"
#include "support/Program.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <unistd.h>

using namespace kelvo::test;

namespace {

const QString kError = QStringLiteral("Error!: An error occurred in L_TwainAcquire(...), Error No: %1");

class FaultMatrix : public ::testing::Test {
protected:
    void SetUp() override { QDir(dir.path()).mkdir(QStringLiteral("out")); }
    void TearDown() override
    {
        if (!mounted.isEmpty())
            runTool(QStringLiteral("umount"), {mounted});
    }
    QString out(const QString& name = {}) const { return dir.path() + QStringLiteral("/out/") + name; }
    ProgramRun run(const QStringList& args, const QString& options = QStringLiteral("test-picture=Grid"))
    {
        return runProgram(dir.path(), args, {{QStringLiteral("KELVO_SANE_OPTIONS"), options}});
    }
    // A small file system of our own at out/ (as root; elsewhere the test is skipped).
    bool mountOut(const QString& options)
    {
        if (::geteuid() != 0)
            return false;
        const ToolResult r = runTool(QStringLiteral("mount"), {"-t", "tmpfs", "-o", options, "tmpfs", out()});
        if (r.exitCode != 0)
            return false;
        mounted = out();
        return true;
    }

    QTemporaryDir dir;
    QString mounted;
};

} // namespace

TEST_F(FaultMatrix, EveryInjectedStatusInImageAndPdfMode)
{
    const struct {
        const char* status;
        int code;
    } statuses[] = {
        {"SANE_STATUS_UNSUPPORTED", -112}, {"SANE_STATUS_CANCELLED", -107}, {"SANE_STATUS_DEVICE_BUSY", -108},
        {"SANE_STATUS_INVAL", -112},       {"SANE_STATUS_EOF", -111},       {"SANE_STATUS_JAMMED", -104},
        {"SANE_STATUS_NO_DOCS", -103},     {"SANE_STATUS_COVER_OPEN", -105}, {"SANE_STATUS_IO_ERROR", -106},
        {"SANE_STATUS_NO_MEM", -109},      {"SANE_STATUS_ACCESS_DENIED", -110},
    };
    for (const auto& s : statuses) {
        for (const char* format : {"TIF", "PDF"}) {
            const ProgramRun r = run({"-S", "/X", "/C" + QLatin1String(format), out(QStringLiteral("F01.X"))},
                                     QStringLiteral("read-return-value=") + QLatin1String(s.status));
            SCOPED_TRACE(std::string(s.status) + " " + format + ": " + r.stderrText.toStdString());
            EXPECT_EQ(r.exitCode, 0);
            // No page was stored, so no PDF question either.
            EXPECT_EQ(r.messages, QStringList({kError.arg(s.code)}));
            EXPECT_EQ(r.handOff, "'0'S");
            EXPECT_TRUE(filesIn(out()).isEmpty()) << filesIn(out()).join(' ').toStdString();
        }
    }
}

TEST_F(FaultMatrix, ReadOnlyTargetLosesNothingSilently)
{
    if (!mountOut(QStringLiteral("ro,size=1m")))
        GTEST_SKIP() << "cannot mount a read-only file system here";
    const ProgramRun tif = run({"-S", "/X", out(QStringLiteral("R01.TIF"))});
    EXPECT_EQ(tif.exitCode, 0);
    // Every page is reported as not stored; the hand-off names what was attempted.
    EXPECT_EQ(tif.messages.size(), 10) << tif.stderrText.toStdString();
    for (const QString& m : tif.messages)
        EXPECT_EQ(m, "Error!: L_SaveBitmap fehlgeschlagen, Error No: -14");
    EXPECT_EQ(tif.handOff, QFile::encodeName(out(QStringLiteral("R0A.TIF"))) + "'10'S");

    const ProgramRun pdf = run({"-S", "/X", "/CPDF", out(QStringLiteral("R01.PDF"))});
    EXPECT_EQ(pdf.messages, QStringList({"Scan in PDF: Weitere Seite(n) scannen?",
                                         "Error PDF schreiben: Datei konnte nicht geschrieben werden: " + out(QStringLiteral("R01.PDF"))}))
        << pdf.stderrText.toStdString();
    EXPECT_TRUE(filesIn(out()).isEmpty());
}

TEST_F(FaultMatrix, FullFileSystemKeepsOnlyWholeFiles)
{
    // Room for two colour pages at 150 dpi (1.7 MB each as JPEG), not for ten.
    if (!mountOut(QStringLiteral("size=4m")))
        GTEST_SKIP() << "cannot mount a small file system here";
    const ProgramRun r = run({"-S", "/X", out(QStringLiteral("V01.JPG"))}, QStringLiteral("test-picture=Color pattern"));
    EXPECT_EQ(r.exitCode, 0);
    const QStringList files = filesIn(out());
    ASSERT_LT(files.size(), 10) << "the file system was not full";
    // Every page that did not fit was reported; every file that is there is whole.
    EXPECT_EQ(r.messages.size(), 10 - files.size()) << r.stderrText.toStdString();
    for (const QString& m : r.messages)
        EXPECT_TRUE(m == "Error!: L_SaveBitmap fehlgeschlagen, Error No: -15"
                    || m == "Error!: L_SaveBitmap fehlgeschlagen, Error No: -14")
            << m.toStdString();
    for (const QString& f : files) {
        EXPECT_FALSE(f.startsWith(QLatin1Char('.'))) << "temporary file left: " << f.toStdString();
        const Identified id = identify(out(f));
        EXPECT_EQ(id.format, "JPEG") << f.toStdString() << id.raw.toStdString();
        EXPECT_NEAR(id.height, 1712, 1);
    }

    // A PDF that does not fit: the message, and nothing left behind.
    for (const QString& f : files)
        QFile::remove(out(f));
    const ProgramRun big = run({"-S", "/X", "/CPDF", "/P300", out(QStringLiteral("G01.PDF"))},
                               QStringLiteral("test-picture=Color pattern"));
    EXPECT_TRUE(big.messages.contains("Error PDF schreiben: Datei konnte nicht geschrieben werden: " + out(QStringLiteral("G01.PDF"))))
        << big.stderrText.toStdString();
    EXPECT_TRUE(filesIn(out()).isEmpty());
}

TEST_F(FaultMatrix, ExistingHandOffFileStaysUntouched)
{
    QFile old(dir.path() + QStringLiteral("/SendToKelvo.TXT"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier'3'S");
    old.close();
    const ProgramRun r = runProgram(dir.path(), {"-S", "/X", out(QStringLiteral("H01.JPG"))},
                                    {{QStringLiteral("KELVO_SANE_OPTIONS"), QStringLiteral("test-picture=Grid")}}, true);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.handOff, "earlier'3'S");
    EXPECT_EQ(filesIn(out()).size(), 10);
}

TEST_F(FaultMatrix, SymbolicLinkAtAPageBitmapIsRefused)
{
    const QString victim = dir.path() + QStringLiteral("/victim");
    QFile v(victim);
    ASSERT_TRUE(v.open(QIODevice::WriteOnly));
    v.write("keep");
    v.close();
    ASSERT_TRUE(QFile::link(victim, dir.path() + QStringLiteral("/Scan0.BMP")));
    const ProgramRun r = run({"-S", "/X", "/G", "/CPDF", out(QStringLiteral("L01.PDF"))});
    EXPECT_EQ(r.messages, QStringList({"Error!: L_SaveBitmap fehlgeschlagen, Error No: -18",
                                       "Scan in PDF: Weitere Seite(n) scannen?"}))
        << r.stderrText.toStdString();
    ASSERT_TRUE(v.open(QIODevice::ReadOnly));
    EXPECT_EQ(v.readAll(), "keep");
    // The nine other pages are in the document; the refused one was reported.
    const ToolResult info = runTool(QStringLiteral("pdfinfo"), {out(QStringLiteral("L01.PDF"))});
    EXPECT_TRUE(info.out.contains(QRegularExpression(QStringLiteral("Pages:\\s+9\\b")))) << info.out.toStdString();
    EXPECT_EQ(r.handOff, QFile::encodeName(out(QStringLiteral("L01.PDF"))) + "'1'S");
}
