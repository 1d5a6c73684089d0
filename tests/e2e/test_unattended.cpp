// The built program run as a calling application runs it: unattended, without a display, on
// the virtual scanner. Checks the stored files with gm/pdfinfo, the hand-off file's bytes and
// what was written to standard error.
#include "support/Fakes.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kelvo::test;

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString stderrText;
    QByteArray handOff;
    QStringList files;
};

// Runs a copy of the program from `dir`, so that its hand-off file lands there.
ProgramRun runUnattended(const QTemporaryDir& dir, const QStringList& args, const QByteArray& saneOptions,
                  const QString& saneConfig = QStringLiteral(KELVO_SOURCE_DIR "/sane"))
{
    const QString exe = dir.path() + QStringLiteral("/KelvoBild");
    if (!QFile::exists(exe))
        QFile::copy(QStringLiteral(KELVO_BINARY_DIR "/KelvoBild"), exe);
    QFile::remove(dir.path() + QStringLiteral("/SendToKelvo.TXT"));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("SANE_CONFIG_DIR"), saneConfig);
    env.insert(QStringLiteral("KELVO_SANE_OPTIONS"), QString::fromLatin1(saneOptions));
    env.insert(QStringLiteral("TMP"), dir.path());
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.start(exe, args);
    ProgramRun r;
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
        r.stderrText = QStringLiteral("timed out");
        return r;
    }
    r.exitCode = p.exitCode();
    r.stderrText = QString::fromLocal8Bit(p.readAllStandardError());
    QFile h(dir.path() + QStringLiteral("/SendToKelvo.TXT"));
    if (h.open(QIODevice::ReadOnly))
        r.handOff = h.readAll();
    r.files = QDir(dir.path() + QStringLiteral("/out")).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    return r;
}

QStringList messagesOf(const QString& stderrText)
{
    QStringList lines;
    for (const QString& l : stderrText.split(QLatin1Char('\n')))
        if (!l.isEmpty() && !l.startsWith(QLatin1String("QStandardPaths")))
            lines << l;
    return lines;
}

class Unattended : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(QStringLiteral(KELVO_BINARY_DIR "/KelvoBild")));
        QDir(dir.path()).mkdir(QStringLiteral("out"));
    }
    QString out(const QString& name) const { return dir.path() + QStringLiteral("/out/") + name; }
    QTemporaryDir dir;
};

} // namespace

TEST_F(Unattended, TenFeederPagesAsJpegFiles)
{
    const ProgramRun r = runUnattended(dir, {"-S", "/X", "/P150", out(QStringLiteral("Bild01.JPG"))},
                                "test-picture=Color pattern");
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    EXPECT_TRUE(messagesOf(r.stderrText).isEmpty()) << r.stderrText.toStdString();
    EXPECT_EQ(r.files, QStringList({"Bild01.JPG", "Bild02.JPG", "Bild03.JPG", "Bild04.JPG", "Bild05.JPG",
                                    "Bild06.JPG", "Bild07.JPG", "Bild08.JPG", "Bild09.JPG", "Bild0A.JPG"}));
    for (const QString& f : r.files) {
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
    const ProgramRun r = runUnattended(dir, {"-S", "/X", "/G", "/P100", "/CPDF", out(QStringLiteral("Akte01.pdf"))},
                                "test-picture=Grid");
    ASSERT_EQ(r.exitCode, 0) << r.stderrText.toStdString();
    // The question is answered No without a display, so the document is written.
    EXPECT_EQ(messagesOf(r.stderrText), QStringList({"Scan in PDF: Weitere Seite(n) scannen?"}));
    // The format name given by /C replaces the typed extension.
    EXPECT_EQ(r.files, QStringList({"Akte01.PDF"}));
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
        const ProgramRun r = runUnattended(dir, {"-S", "/X", out(QStringLiteral("F01.TIF"))}, c.options, c.config);
        ASSERT_EQ(r.exitCode, 0) << c.name << r.stderrText.toStdString();
        EXPECT_EQ(messagesOf(r.stderrText),
                  QStringList({QStringLiteral("Error!: An error occurred in L_TwainAcquire(...), Error No: %1").arg(c.code)}))
            << c.name;
        EXPECT_TRUE(r.files.isEmpty()) << c.name;
        EXPECT_EQ(r.handOff, "'0'S") << c.name;
    }
}
