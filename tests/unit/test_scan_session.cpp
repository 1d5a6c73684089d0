// Scan sessions against a recording scanner: the settings sent and their order, the
// session's branches, the PDF chain, the hand-off and the viewer at the end.
#include "scan/ScanSession.h"
#include "support/Fakes.h"
#include "support/Tools.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kelvo;
using namespace kelvo::test;

namespace {

class ScanSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QDir(dir.path()).mkdir(QStringLiteral("tmp"));
        qputenv("TMP", QFile::encodeName(dir.path() + QStringLiteral("/tmp")));
        settings.TargetFileName = dir.path() + QStringLiteral("/Bild01.JPG");
        settings.OutputFormat = QStringLiteral("JPG");
        settings.ExitAfterRun = 1;
    }
    QByteArray handOff() const
    {
        QFile f(dir.path() + QStringLiteral("/SendToKelvo.TXT"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }
    void removeHandOff() { QFile::remove(dir.path() + QStringLiteral("/SendToKelvo.TXT")); }
    static FakeTwain::Acquisition pages(int n, int result = 1, int bits = 24)
    {
        FakeTwain::Acquisition a;
        for (int i = 0; i < n; ++i)
            a.pages << testPage(bits, 40 + i, 30);
        a.result = result;
        return a;
    }
    QStringList negotiation() const
    {
        const qsizetype from = twain.calls.indexOf(QStringLiteral("start"));
        const qsizetype to = twain.calls.indexOf(QStringLiteral("end"));
        return twain.calls.mid(from + 1, to - from - 1);
    }

    QTemporaryDir dir;
    ScanSettings settings;
    SessionState state;
    FakeTwain twain;
    FakeUi ui;
    FakeLauncher launcher;
    FakeNotifier notifier;
    ScanSession session{settings, state, twain, ui, launcher, notifier, dir.path()};
};

} // namespace

TEST_F(ScanSessionTest, WithoutAScannerOnlyTheMessageAppears)
{
    twain.available = false;
    state.PageCounter = 4;
    session.FileScan1Execute();
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_EQ(ui.messages[0].text, "Twain driver is not installed!");
    EXPECT_EQ(ui.messages[0].caption, "Twain Driver");
    EXPECT_EQ(ui.messages[0].flags, MB_ICONERROR);
    EXPECT_EQ(twain.calls, QStringList({"available"}));
    EXPECT_EQ(state.PageCounter, 4);
    EXPECT_EQ(handOff(), "<none>");
    EXPECT_FALSE(ui.events.contains(QStringLiteral("cursor+")));
}

TEST_F(ScanSessionTest, SettingsSentInOrder)
{
    const QString cap = QStringLiteral("cap %1 type %2 value %3 flag 1");
    const QString feeder = cap.arg(QStringLiteral("1002")).arg(6).arg(1);
    const QString xfer = cap.arg(QStringLiteral("0103")).arg(4).arg(0);
    const QString frame150 = QStringLiteral("frame 0 0 1240.157470703125 1712.598388671875");
    const struct {
        const char* name;
        std::function<void(ScanSettings&)> set;
        QStringList expected;
        int flags;
    } cases[] = {
        {"Defaults", [](ScanSettings&) {},
         {feeder, xfer, "bpp 24", "resolution 150 150", "unit 5", frame150, "duplex 0"}, 0},
        {"300dpi", [](ScanSettings& s) { s.Resolution = 300; },
         {feeder, xfer, "bpp 24", "resolution 300 300", "unit 5", "frame 0 0 2480.31494140625 3425.19677734375", "duplex 0"}, 0},
        {"FractionalResolution", [](ScanSettings& s) { s.Resolution = 150.5; s.BitsPerPixel = 8; },
         {feeder, xfer, "bpp 8", "resolution 150.5 150.5", "unit 5", "frame 0 0 1244.2913818359375 1718.30712890625", "duplex 0"}, 0},
        {"BlankPagesDiscarded", [](ScanSettings& s) { s.BlankPageMode = -1; },
         {feeder, xfer, cap.arg(QStringLiteral("1134")).arg(2).arg(4294967295u), "bpp 24", "resolution 150 150", "unit 5", frame150, "duplex 0"}, 0},
        {"BlankPagesOff", [](ScanSettings& s) { s.BlankPageMode = -2; },
         {feeder, xfer, cap.arg(QStringLiteral("1134")).arg(2).arg(4294967294u), "bpp 24", "resolution 150 150", "unit 5", frame150, "duplex 0"}, 0},
        {"AutoRotate", [](ScanSettings& s) { s.AutoRotate = 1; s.BitsPerPixel = 1; },
         {feeder, xfer, cap.arg(QStringLiteral("1152")).arg(6).arg(1), "bpp 1", "resolution 150 150", "unit 5", frame150, "duplex 0"}, 0},
        {"TransmissiveAndDuplex", [](ScanSettings& s) { s.TransmissiveLight = 1; s.Duplex = 1; },
         {feeder, xfer, cap.arg(QStringLiteral("111e")).arg(4).arg(1), "bpp 24", "resolution 150 150", "unit 5", frame150, "duplex 1"}, 0},
        {"ScannerDialog", [](ScanSettings& s) { s.ShowSourceUi = 1; s.FrameWidthMm = 100; s.FrameHeightMm = 100; },
         {feeder, xfer, "bpp 24", "resolution 150 150", "unit 5", "frame 0 0 590.55120849609375 590.55120849609375", "duplex 0"}, 3},
    };
    for (const auto& c : cases) {
        twain.calls.clear();
        settings = ScanSettings();
        settings.ExitAfterRun = 1;
        c.set(settings);
        session.FileScan1Execute();
        EXPECT_EQ(negotiation(), c.expected) << c.name;
        EXPECT_EQ(twain.calls.first(), "available") << c.name;
        EXPECT_EQ(twain.calls.at(1), "open") << c.name;
        EXPECT_TRUE(twain.calls.contains(QStringLiteral("acquire %1").arg(c.flags))) << c.name;
        EXPECT_EQ(twain.calls.last(), "close") << c.name;
    }
}

TEST_F(ScanSessionTest, SourceSelectionComesBeforeTheWaitCursor)
{
    settings.SelectSource = 1;
    twain.acquisitions.push_back(pages(1));
    session.FileScan1Execute();
    EXPECT_EQ(twain.calls.mid(0, 4), QStringList({"available", "open", "select", "start"}));
    EXPECT_EQ(ui.events.first(), "cursor+");
    EXPECT_EQ(ui.cursorDepth, 0);
}

TEST_F(ScanSessionTest, AcquisitionErrorsAreShownAndWhatWasStoredIsHandedOff)
{
    // Abbrechen in the scanner list (/S) takes the same way out, before any acquisition.
    const struct {
        int result;
        int pages;
        const char* text;
        QByteArray record;
        bool listCancelled;
        QString summary;
    } cases[] = {
        {5, 0, "An error occurred in L_TwainAcquire(...), Error No: 5", "'0'S", false, "Keine Seite gespeichert"},
        {ACQUIRE_JAMMED, 2, "An error occurred in L_TwainAcquire(...), Error No: -104", "/Bild02.JPG'2'S", false,
         "2 Seiten gespeichert – " + dir.path() + "/Bild02.JPG"},
        {ACQUIRE_CANCELLED, 0, "An error occurred in L_TwainAcquire(...), Error No: -107", "'0'S", true,
         "Keine Seite gespeichert"},
    };
    for (const auto& c : cases) {
        removeHandOff();
        ui.messages.clear();
        twain.calls.clear();
        state = SessionState();
        settings.TargetFileName = dir.path() + QStringLiteral("/Bild01.JPG");
        settings.SelectSource = c.listCancelled ? 1 : 0;
        twain.selectResult = c.listCancelled ? ACQUIRE_CANCELLED : 1;
        if (!c.listCancelled)
            twain.acquisitions.push_back(pages(c.pages, c.result));
        session.FileScan1Execute();
        EXPECT_EQ(twain.calls.filter(QStringLiteral("acquire")).size(), c.listCancelled ? 0 : 1);
        EXPECT_EQ(ui.statusTexts.last(), c.summary);
        ASSERT_EQ(ui.messages.size(), 1);
        EXPECT_EQ(ui.messages[0].text, QString::fromLatin1(c.text));
        EXPECT_EQ(ui.messages[0].caption, "Error!");
        EXPECT_EQ(ui.messages[0].flags, MB_OK);
        const QByteArray expected = (c.pages ? QFile::encodeName(dir.path()) : QByteArray()) + c.record;
        EXPECT_EQ(handOff(), expected);
        EXPECT_EQ(state.PageCounter, 0);
        EXPECT_EQ(ui.cursorDepth, 0);
        EXPECT_EQ(twain.calls.last(), "close");
    }
    EXPECT_EQ(notifier.texts.size(), 1); // two pages: the calling application is told
}

TEST_F(ScanSessionTest, PdfChainYesYesNoMakesOneDocument)
{
    settings.OutputFormat = QStringLiteral("PDF");
    settings.TargetFileName = dir.path() + QStringLiteral("/Akte01.PDF");
    settings.ViewerMode = 'L';
    settings.ViewerProgram = QStringLiteral("viewer");
    twain.acquisitions = {pages(2), pages(1), pages(3)};
    ui.answers = {IDYES, IDYES, IDNO};
    session.FileScan1Execute();

    EXPECT_EQ(twain.calls.filter(QStringLiteral("acquire")).size(), 3);
    EXPECT_EQ(twain.calls.filter(QStringLiteral("open")).size(), twain.calls.filter(QStringLiteral("close")).size());
    const QStringList questions = ui.events.filter(QStringLiteral("msg:"));
    EXPECT_EQ(questions, QStringList({"msg:Scan in PDF", "msg:Scan in PDF", "msg:Scan in PDF"}));
    EXPECT_EQ(ui.messages[0].text, "Weitere Seite(n) scannen?");
    EXPECT_EQ(ui.messages[0].flags, MB_YESNO);
    EXPECT_EQ(ui.events.filter(QStringLiteral("show")).size(), 3);
    EXPECT_EQ(ui.cursorDepth, 0);

    const QString pdf = dir.path() + QStringLiteral("/Akte01.PDF");
    EXPECT_EQ(launcher.opened, QStringList({pdf}));
    EXPECT_TRUE(launcher.viewers.isEmpty()); // no further start with the PDF's name
    EXPECT_EQ(handOff(), QFile::encodeName(pdf) + "'1'S");
    EXPECT_TRUE(notifier.texts.isEmpty());
    EXPECT_EQ(state.PageCounter, 0);
    EXPECT_EQ(state.PdfDocument, 0);
    const ToolResult list = runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
    // Pages in scanning order: widths 40, 41 | 40 | 40, 41, 42.
    QStringList widths;
    for (const QString& line : list.out.split(QLatin1Char('\n')).mid(2))
        if (!line.trimmed().isEmpty())
            widths << line.simplified().section(QLatin1Char(' '), 3, 3);
    EXPECT_EQ(widths, QStringList({"40", "41", "40", "40", "41", "42"})) << list.out.toStdString();
}

TEST_F(ScanSessionTest, PdfPagesSurviveAnAcquisitionError)
{
    settings.OutputFormat = QStringLiteral("PDF");
    settings.TargetFileName = dir.path() + QStringLiteral("/Akte01.PDF");
    const struct {
        const char* name;
        std::deque<FakeTwain::Acquisition> acquisitions;
        std::deque<int> answers;
        int pagesInPdf;
    } cases[] = {
        {"ErrorThenNo", {pages(2, ACQUIRE_JAMMED)}, {IDNO}, 2},
        {"ErrorThenYes", {pages(2, ACQUIRE_IO_ERROR), pages(1)}, {IDYES, IDNO}, 3},
    };
    for (const auto& c : cases) {
        QFile::remove(dir.path() + QStringLiteral("/Akte01.PDF"));
        removeHandOff();
        ui.messages.clear();
        state = SessionState();
        settings.TargetFileName = dir.path() + QStringLiteral("/Akte01.PDF");
        twain.acquisitions = c.acquisitions;
        ui.answers = c.answers;
        session.FileScan1Execute();
        ASSERT_GE(ui.messages.size(), 2) << c.name;
        EXPECT_EQ(ui.messages[0].caption, "Error!") << c.name;
        EXPECT_EQ(ui.messages[1].caption, "Scan in PDF") << c.name;
        const ToolResult info = runTool(QStringLiteral("pdfinfo"), {dir.path() + QStringLiteral("/Akte01.PDF")});
        EXPECT_TRUE(info.out.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\b").arg(c.pagesInPdf))))
            << c.name << info.out.toStdString();
        EXPECT_EQ(handOff(), QFile::encodeName(dir.path()) + "/Akte01.PDF'1'S") << c.name;
        EXPECT_EQ(state.PdfDocument, 0) << c.name;
    }
}

TEST_F(ScanSessionTest, ViewerAtTheEnd)
{
    const struct {
        char mode;
        const char* format;
        QStringList expected;
    } cases[] = {
        {'L', "JPG", {"show|" + QStringLiteral("/Bild03.JPG")}},
        {'1', "JPG", {"show|" + QStringLiteral("/Bild01.JPG")}},
        {'-', "JPG", {}},
        {'L', "pdf", {}},
    };
    for (const auto& c : cases) {
        for (const QString& f : QDir(dir.path()).entryList({QStringLiteral("Bild*")}, QDir::Files))
            QFile::remove(dir.path() + QLatin1Char('/') + f);
        removeHandOff();
        launcher.viewers.clear();
        launcher.opened.clear();
        ui.answers.clear();
        state = SessionState();
        settings.ViewerMode = c.mode;
        settings.ViewerProgram = QStringLiteral("show");
        settings.OutputFormat = QString::fromLatin1(c.format);
        settings.TargetFileName = dir.path() + QStringLiteral("/Bild01.") + settings.OutputFormat;
        twain.acquisitions.push_back(pages(3));
        session.FileScan1Execute();
        QStringList expected;
        for (const QString& e : c.expected)
            expected << QString(e).replace(QStringLiteral("show|"), QStringLiteral("show|") + dir.path());
        EXPECT_EQ(launcher.viewers, expected) << c.mode << c.format;
    }
}

TEST_F(ScanSessionTest, ASecondScanWhileOneRunsDoesNothing)
{
    twain.acquisitions.push_back(pages(1));
    twain.duringAcquire = [this] { session.FileScan1Execute(); };
    session.FileScan1Execute();
    EXPECT_EQ(twain.calls.filter(QStringLiteral("available")).size(), 1);
    EXPECT_FALSE(session.running());
}
